#include "ZEnhancementBay.h"

#include <algorithm>
#include <cmath>

namespace quarn
{

namespace
{
struct BandRow
{
    bool bypass;
    float crossoverBelow, crossoverAbove; // 0: leave that crossover where it is
    float ratio, range, makeup, attack, release;
};

// Per mode, bands 0, 1 and 2. Mode 6 moves only the mid/high crossover, so
// the low/mid one stays where the previous mode left it.
constexpr BandRow kModeTable[ZEnhancementBay::kNumModes][ZEnhancementBay::kNumBands] = {
    { { false, 200.0f, 6000.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { true, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f },
      { false, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f } },
    { { false, 250.0f, 6000.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f },
      { false, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { true, 0.0f, 0.0f, 3.0f, 0.0f, 0.0f, 0.0f, 0.0f } },
    { { true, 500.0f, 6000.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f },
      { false, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { false, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f } },
    { { false, 250.0f, 6000.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { true, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f },
      { true, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f } },
    { { true, 500.0f, 6000.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { false, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { true, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f } },
    { { true, 500.0f, 6000.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f },
      { true, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f },
      { false, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f } },
    { { false, 0.0f, 18000.0f, 0.1f, 18.0f, 0.0f, 5.0f, 5.0f },
      { true, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f },
      { true, 0.0f, 0.0f, 3.0f, 9.0f, 9.0f, 5.0f, 5.0f } },
};

// amount 1 gives -16.5 dB, amount near 0 nearly -100 dB.
float thresholdForAmount (float amount) noexcept
{
    return (1.0f - amount) * -83.5f - 16.5f;
}
} // namespace

ZEnhancementBay::ZEnhancementBay (const char* name, int channelCount)
    : mName (name != nullptr ? name : ""),
      mNumChannels (std::clamp (channelCount, 1, ZLinPhMultibandCompressor::kMaxChannels))
{
}

ZEnhancementBay::~ZEnhancementBay() = default;

void ZEnhancementBay::prepare (double sampleRate, int maxBlock)
{
    const auto rate = (float) sampleRate;
    const float newRate = std::isfinite (rate) && rate > 0.0f ? rate : mSampleRate;
    const int newBlock = std::max (maxBlock, 1);

    if (mCompressor == nullptr)
        mCompressor = std::make_unique<ZLinPhMultibandCompressor> (mNumChannels, mNumBands, newBlock, newRate);
    else if (newBlock != mBlockSize || newRate != mSampleRate)
        mCompressor->setBlockSizeAndRate (newBlock, newRate);

    // The delay lines hold latency + two blocks.
    const int latency = mCompressor->getLatency();
    if (mDelays.empty() || newBlock != mBlockSize || latency != mLatency)
    {
        std::vector<std::unique_ptr<ZDelayBuffer>> delays;
        for (int c = 0; c < mNumChannels; ++c)
            delays.emplace_back (ZDelayBuffer::create ((unsigned) ((latency + newBlock) * 2)));
        mDelays = std::move (delays);
    }

    mSampleRate = newRate;
    mBlockSize = newBlock;
    mLatency = latency;

    mModeRequested.store (false, std::memory_order_relaxed);
    applyMode (getMode());
}

void ZEnhancementBay::setSampleRate (float rate)
{
    if (mCompressor == nullptr)
    {
        if (std::isfinite (rate) && rate > 0.0f)
            mSampleRate = rate;
        return;
    }
    prepare (rate, mBlockSize);
}

void ZEnhancementBay::setBlockSize (int blockSize)
{
    prepare (mSampleRate, blockSize);
}

bool ZEnhancementBay::prepare()
{
    prepare (mSampleRate, mBlockSize);
    return true;
}

void ZEnhancementBay::reset()
{
    if (mModeRequested.exchange (false, std::memory_order_acq_rel))
        applyMode (getMode());
    else
        silence();
}

void ZEnhancementBay::silence() noexcept
{
    if (mCompressor != nullptr)
        mCompressor->reset();

    for (auto& delay : mDelays)
        delay->clear();
}

void ZEnhancementBay::setMode (int newMode)
{
    mMode.store (newMode, std::memory_order_release);
    mModeRequested.store (true, std::memory_order_release);
}

void ZEnhancementBay::applyMode (int mode) noexcept
{
    silence();

    if (mode >= 0 && mode < kNumModes)
        for (int band = 0; band < kNumBands; ++band)
        {
            const auto& row = kModeTable[mode][band];
            setBand (band, row.bypass, row.crossoverBelow, row.crossoverAbove,
                     row.ratio, row.range, row.makeup, row.attack, row.release);
        }

    mRunning = mAmount.load (std::memory_order_relaxed) != 0.0f ? 1 : 0;
    mSwitchCounter = mLatency;
}

void ZEnhancementBay::setBand (int band, bool bypass, float crossoverBelow, float crossoverAbove,
                               float ratio, float range, float makeup, float attack, float release)
{
    if (mCompressor == nullptr || band < 0 || band >= mCompressor->getNumBands())
        return;

    auto& comp = *mCompressor;
    const int crossovers = comp.getNumBands() - 1;

    // Crossover b sits above band b; a band has no crossover beyond the last.
    if (crossoverBelow != 0.0f && band < crossovers)
    {
        comp.crossover[band] = crossoverBelow;
        comp.updateBands();
    }
    if (crossoverAbove != 0.0f && band + 1 < crossovers)
    {
        comp.crossover[band + 1] = crossoverAbove;
        comp.updateBands();
    }

    comp.ratio[band] = ratio;
    comp.range[band] = range;
    comp.makeup[band] = makeup;
    comp.setAttack (band, attack);
    comp.setRelease (band, release);
    comp.bypass[band] = bypass;
}

void ZEnhancementBay::setAmount (float amount)
{
    mAmount.store (amount, std::memory_order_relaxed);
}

float ZEnhancementBay::getAmount() const
{
    return mAmount.load (std::memory_order_relaxed);
}

void ZEnhancementBay::process (ZBuffer** in, ZBuffer** out, int numSamples) noexcept
{
    if (mCompressor == nullptr)
    {
        for (int c = 0; c < mNumChannels; ++c)
            out[c]->copyFrom (*in[c], { 0, numSamples }, 0);
        return;
    }

    // A new mode is taken over here, at a block boundary, and nowhere else
    // while the bay plays.
    if (mModeRequested.load (std::memory_order_relaxed) && mModeRequested.exchange (false, std::memory_order_acq_rel))
        applyMode (getMode());

    // The delay lines hold latency + two blocks: a longer call would read
    // samples it has already overwritten.
    const int n = std::min (numSamples, mBlockSize);
    if (n <= 0)
        return;

    // The amount is read once: the threshold and the on/off state of one
    // block come from the same setting.
    const float amount = mAmount.load (std::memory_order_relaxed);

    if (amount != 0.0f)
    {
        const float t = thresholdForAmount (amount);
        for (int band = 0; band < mNumBands; ++band)
            mCompressor->threshold[band] = t;

        if (mRunning == 0)
        {
            mRunning = 1;
            mSwitchCounter = 0;
            // What the convolution left in the accumulator when the bay was
            // switched off, possibly long ago, must not play now.
            mCompressor->clearAccumulators();
        }

        if (mSwitchCounter < mLatency)
        {
            // The compressor is still filling up: the delayed dry signal
            // stands in for it. The dry input goes into the delay lines
            // before anything is written, so in and out may be the same.
            writeDelays (in, n);
            mCompressor->process (in, out, n);
            readDelays (out, n);
            mSwitchCounter += n;
        }
        else
        {
            mCompressor->process (in, out, n);
        }
    }
    else
    {
        if (mRunning == 1)
        {
            mRunning = 0;
            mSwitchCounter = 0;
        }

        writeDelays (in, n);

        if (mSwitchCounter < mLatency)
        {
            // The delay lines do not yet hold what the compressor was given:
            // its remaining output plays out instead.
            mCompressor->process (in, out, n);
            mSwitchCounter += n;
        }
        else
        {
            readDelays (out, n);
        }
    }
}

void ZEnhancementBay::writeDelays (ZBuffer** in, int n) noexcept
{
    for (int c = 0; c < mNumChannels; ++c)
        mDelays[(size_t) c]->write (*in[c], (unsigned) n);
}

void ZEnhancementBay::readDelays (ZBuffer** out, int n) noexcept
{
    for (int c = 0; c < mNumChannels; ++c)
        mDelays[(size_t) c]->read (*out[c], (unsigned) mLatency, (unsigned) n);
}

} // namespace quarn
