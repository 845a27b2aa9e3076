#include "ZNoiseReductionBay.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace quarn
{

namespace
{
constexpr const char* kSourceFile = "signalbays/common/ZNoiseReductionBay";
constexpr float kProfileFloorDb = -48.0f;
constexpr float kDisplayFloorDb = -120.0f;
constexpr float kGainCurveSlope = 2.0f;
constexpr float kRumbleQ = 0.9f;
constexpr float kLowPassQ = 0.707f;
constexpr float kHumQ = 60.0f;
constexpr int kRumbleType = 5;
constexpr int kLowPassType = 4;
constexpr int kPeakingType = 1;
// The converters' priming for a 512-sample host block; with the framer's 768
// it makes the bay's delay 1536.
constexpr int kStandardPriming = 768;

int checkedChannelCount (int channelCount)
{
    if (channelCount > ZNoiseReductionBay::kMaxChannels)
        QJ_THROW ("Noise Reduction does not support that many channels.", kSourceFile);
    if (channelCount < 1)
        QJ_THROW ("Noise Reduction needs at least one channel.", kSourceFile);
    return channelCount;
}

// True when every sample is finite and inside the guard's range (a NaN fails
// the comparison). No early exit: the common, clean block costs one pass.
bool allGuarded (const float* x, int n) noexcept
{
    bool inside = true;
    for (int i = 0; i < n; ++i)
        inside &= std::fabs (x[i]) <= kMaxSampleMagnitude;
    return inside;
}
} // namespace

//==============================================================================
void ZNoiseReductionBay::MessageRelay::post (Message message)
{
    pending[message].store (true);
    triggerAsyncUpdate();
}

void ZNoiseReductionBay::MessageRelay::handleAsyncUpdate()
{
    if (pending[noiseProfileMessage].exchange (false))
        bay.sendActionMessage (bay.mNoiseProfileText);
    if (pending[modeMessage].exchange (false))
        bay.sendActionMessage (bay.mModeText);
}

//==============================================================================
ZNoiseReductionBay::ZNoiseReductionBay (const char* name, int channelCount)
    : mName (name != nullptr ? name : ""),
      mNumChannels (checkedChannelCount (channelCount))
{
}

ZNoiseReductionBay::~ZNoiseReductionBay()
{
    mRelay.cancelPendingUpdate();
}

void ZNoiseReductionBay::broadcast (Message message)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
        sendActionMessage (message == modeMessage ? mModeText : mNoiseProfileText);
    else
        mRelay.post (message);
}

//==============================================================================
int ZNoiseReductionBay::primingFor (int blockSize) const noexcept
{
    // The output converter must never run dry, or the delay would shift.
    // After k blocks the input converter holds priming + k B samples; a frame
    // is missing just when k B mod 1024 is not 0 but below 1024 - priming.
    // The smallest such remainder is gcd(B, 1024), so 768 covers blocks of
    // 256, 512, 1024 and more, and odd sizes need more.
    const int step = std::gcd (blockSize, (int) kFrameSize);
    return std::max (kStandardPriming, (int) kFrameSize - step);
}

void ZNoiseReductionBay::createConverters (Channel& channel)
{
    channel.input.reset (ZBufferSizeConverter::create ((unsigned) mBlockSize, kFrameSize));
    channel.output.reset (ZBufferSizeConverter::create (kFrameSize, (unsigned) mBlockSize));
}

void ZNoiseReductionBay::primeConverters (Channel& channel)
{
    const int priming = primingFor (mBlockSize);
    mScratch->clear ({ 0, priming });
    channel.input->clear();
    channel.input->push (*mScratch, (unsigned) priming);
    channel.output->clear();
}

bool ZNoiseReductionBay::prepare()
{
    if (mGain == nullptr)
        mGain.reset (ZGain::create (false));
    if (mForward == nullptr)
        mForward.reset (ZFourierTransform::create (10, 0, 1));
    if (mInverse == nullptr)
        mInverse.reset (ZFourierTransform::create (10, 1, 1));
    if (mWindow == nullptr)
        mWindow.reset (ZSignalWindow::create (kFrameSize, 0, 0.0f));

    const float windowSum = mWindow->getSum();
    mWindowGain = windowSum != 0.0f ? 2048.0f / windowSum : 1.0f;

    const unsigned scratchLength = std::max ((unsigned) mBlockSize, kFrameSize);
    if (mScratch == nullptr || mScratch->getLength() < scratchLength)
        mScratch = std::make_unique<ZBuffer> (scratchLength, "ZBuffer");

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];

        if (channel.profile == nullptr)
        {
            char name[32];
            std::snprintf (name, sizeof (name), "NoiseProfile%d", c);
            channel.profile = std::make_unique<ZBuffer> (kNumBins, name);
            std::fill_n (channel.profile->getData(), kNumBins, kProfileFloorDb);
        }

        if (channel.framer == nullptr)
            channel.framer.reset (ZWindowedOverlapAdd::create (kFrameSize, kOverlap));

        if (channel.compressor == nullptr)
        {
            channel.compressor.reset (ZSpectralCompressor::create (kNumBins, mSampleRate));
            auto& compressor = *channel.compressor;
            compressor.setGainCurve (mReduction, kGainCurveSlope);
            compressor.setThreshold (kProfileFloorDb);
            compressor.setThresholdOffset (mThreshold);
            compressor.setAttack (mAttackFactor, 1.5f * mAttackFactor);
            compressor.setRelease (mReleaseFactor, 2.0f * mReleaseFactor);
            // The band limits are the bay's settings from the start, not the
            // compressor's own 0..48000 Hz.
            compressor.setFrequencyRange (mLimitLow, mLimitHigh);
        }

        if (channel.rumble == nullptr)
        {
            channel.rumble.reset (ZParametricFilter::create (mSampleRate));
            channel.rumble->setParameters (kRumbleType, 100.0f, kRumbleQ, 0.0f);
            channel.rumble->setParameters (kRumbleType, mRumbleFrequency, kRumbleQ, 0.0f);
        }

        if (channel.lowPass == nullptr)
        {
            channel.lowPass.reset (ZParametricFilter::create (mSampleRate));
            channel.lowPass->setParameters (kLowPassType, 8000.0f, kLowPassQ, 0.0f);
            channel.lowPass->setParameters (kLowPassType, mLowPassFrequency, kLowPassQ, 0.0f);
        }

        if (channel.learnAccumulator == nullptr)
            channel.learnAccumulator = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");

        if (channel.input == nullptr || channel.output == nullptr)
            createConverters (channel);

        for (int k = 0; k < kNumHumFilters; ++k)
        {
            auto& filter = channel.hum[(size_t) k];
            if (filter == nullptr)
                filter.reset (ZParametricFilter::create (mSampleRate));
            channel.humChain[(size_t) k] = filter.get();
        }
    }

    const int humMode = mHumMode;
    if (humMode == 0 || humMode == 1)
        setHumFilters (humMode == 1 ? 60.0f : 50.0f);

    if (mSpectrum == nullptr)
        mSpectrum = std::make_unique<ZBuffer> (kNumBins, "mSpectrum");
    if (mNoiseProfile == nullptr)
        mNoiseProfile = std::make_unique<ZBuffer> (kNumBins, "mNoiseProfile");
    if (mFrame == nullptr)
        mFrame = std::make_unique<ZBuffer> (kFrameSize, "ZBuffer");
    if (mReal == nullptr)
        mReal = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");
    if (mImag == nullptr)
        mImag = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");
    if (mDisplayPower == nullptr)
        mDisplayPower = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");
    if (mProfileWork == nullptr)
        mProfileWork = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");

    std::fill_n (mDisplayPower->getData(), kNumBins, kDisplayFloorDb);
    mSpectrum->copy (*mDisplayPower);

    mLatency = mChannels[0].framer->getLatency() + primingFor (mBlockSize);
    mPrepared = true;

    updateProfileDisplay();
    reset();
    return true;
}

void ZNoiseReductionBay::reset()
{
    if (! mPrepared)
        return;

    mFrame->clear();
    mReal->clear();
    mImag->clear();
    std::fill_n (mDisplayPower->getData(), kNumBins, kDisplayFloorDb);
    std::fill_n (mProfileWork->getData(), kNumBins, kProfileFloorDb);
    // The accumulators start again, so the frames counted so far go too.
    mLearnedFrames = 0;

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        channel.framer->reset();
        channel.compressor->reset();
        channel.lowPass->reset();
        channel.rumble->reset();
        channel.learnAccumulator->clear();
        primeConverters (channel);
        for (auto& filter : channel.hum)
            filter->reset();
    }
}

void ZNoiseReductionBay::setSampleRate (float rate)
{
    if (! (rate > 0.0f) || ! std::isfinite (rate))
        return;

    mSampleRate = rate;

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        if (channel.compressor == nullptr)
            continue;

        channel.rumble->setSampleRate (rate);
        channel.rumble->setParameters (kRumbleType, mRumbleFrequency, kRumbleQ, 0.0f);
        channel.lowPass->setSampleRate (rate);
        channel.lowPass->setParameters (kLowPassType, mLowPassFrequency, kLowPassQ, 0.0f);
        channel.compressor->setSampleRate (rate);
        for (auto& filter : channel.hum)
            filter->setSampleRate (rate);
    }

    const int humMode = mHumMode;
    if (humMode == 1)
        setHumFilters (60.0f);
    else if (humMode == 0)
        setHumFilters (50.0f);
}

void ZNoiseReductionBay::setBlockSize (int blockSize)
{
    if (blockSize <= 0)
        return;

    // Replacing the converters with empty ones would shorten the delay by the
    // priming until the next reset, while latency() kept the old figure. The
    // same size keeps them; a new size gets new converters, primed at once.
    if (blockSize == mBlockSize && mPrepared)
        return;

    mBlockSize = blockSize;

    if (! mPrepared)
        return;

    const unsigned scratchLength = std::max ((unsigned) mBlockSize, kFrameSize);
    if (mScratch->getLength() < scratchLength)
        mScratch = std::make_unique<ZBuffer> (scratchLength, "ZBuffer");

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        createConverters (channel);
        primeConverters (channel);
    }

    mLatency = mChannels[0].framer->getLatency() + primingFor (mBlockSize);
}

void ZNoiseReductionBay::setDefaults()
{
    mThreshold = 3.0f;
    mReduction = 15.0f;
    mAttackFactor = 0.15f;
    mReleaseFactor = 0.1f;
    mPreserveVoice = 0;
    mRemoveRumble = 0;
    mHumMode = 2;
    mRequestedMode = 0;
    mLearning = 0;
    mStopLearning = false;
    mActiveMode = 1;

    for (int c = 0; c < mNumChannels; ++c)
    {
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
        {
            compressor->setThresholdOffset (mThreshold);
            compressor->setGainCurve (mReduction, kGainCurveSlope);
        }
    }
    updateProfileDisplay();

    fillProfiles (kProfileFloorDb);
    pushProfiles();
}

//==============================================================================
void ZNoiseReductionBay::process (ZBuffer** in, ZBuffer** out, int numSamples)
{
    if (in == nullptr || out == nullptr)
        return;

    int n = std::max (numSamples, 0);
    for (int c = 0; c < mNumChannels; ++c)
        n = std::min ({ n, (int) in[c]->getLength(), (int) out[c]->getLength() });

    if (! mPrepared)
    {
        // Nothing to delay with yet, and latency() says 0.
        for (int c = 0; c < mNumChannels; ++c)
            if (in[c] != out[c])
                out[c]->copyFrom (*in[c], { 0, n }, 0);
        return;
    }

    // The mode changes only here, at a block boundary. setMode admits 0..2
    // only; anything else is left where it was rather than thrown here.
    const int requested = mRequestedMode;
    if (requested >= 0 && requested <= 2 && requested != mActiveMode)
        mActiveMode = requested;
    const int mode = mActiveMode;

    mDisplayPower->clear();
    bool framesSeen = false;
    bool learnedFrames = false;

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        const bool lastChannel = c == mNumChannels - 1;

        if (allGuarded (in[c]->getData(), n))
        {
            channel.input->push (*in[c], (unsigned) n);
        }
        else
        {
            // A NaN or infinity would stay in the filters and the framer for
            // good, and a huge value would overflow the power spectra.
            const int chunk = (int) mScratch->getLength();
            for (int start = 0; start < n; start += chunk)
            {
                const int count = std::min (chunk, n - start);
                guardCopy (in[c]->getData() + start, mScratch->getData(), (size_t) count);
                channel.input->push (*mScratch, (unsigned) count);
            }
        }

        while (channel.input->pull (*mFrame))
        {
            const int humMode = mHumMode;
            const int harmonics = mHumHarmonics;

            if (mLearning.load() == 1)
            {
                learnFrame (channel, lastChannel, humMode, harmonics);
                learnedFrames = true;
                framesSeen = true;
            }
            else
            {
                runFrame (c, mode, framesSeen);
            }
        }

        // The primed converters never run dry at the block size; should a call
        // still find too little, silence goes out rather than whatever the
        // buffer held from an earlier stage, which would be out of time.
        if (! channel.output->pull (*out[c], (unsigned) n))
            out[c]->clear ({ 0, n });
    }

    if (framesSeen)
    {
        mGain->scale (*mDisplayPower, mWindowGain * mWindowGain);
        mGain->powerToDecibels (*mDisplayPower, kDisplayFloorDb);
        mSpectrum->copy (*mDisplayPower);
    }

    // A stop request ends the pass only after every channel has had this
    // call's frames: ending it in the middle would restart the channels'
    // streams at different points and leave them out of step.
    if (learnedFrames && mStopLearning.load() && mLearning.load() == 1 && mLearnedFrames > 0)
        finishLearning();

    mSpectrum->sendActionMessage (mSpectrumUpdateText);
}

void ZNoiseReductionBay::runHumFilters (Channel& channel, int harmonics)
{
    ZParametricFilter::processChain (channel.humChain.data(), std::clamp (harmonics, 0, kNumHumFilters), *mFrame);
}

void ZNoiseReductionBay::runVoiceAndRumbleFilters (Channel& channel)
{
    ZParametricFilter* chain[2];
    int count = 0;
    if (mPreserveVoice.load() == 1)
        chain[count++] = channel.lowPass.get();
    if (mRemoveRumble.load() == 1)
        chain[count++] = channel.rumble.get();
    ZParametricFilter::processChain (chain, count, *mFrame);
}

void ZNoiseReductionBay::addDisplayPower()
{
    mGain->multiplyAdd (*mReal, *mReal, *mDisplayPower);
    mGain->multiplyAdd (*mImag, *mImag, *mDisplayPower);
}

void ZNoiseReductionBay::learnFrame (Channel& channel, bool lastChannel, int humMode, int harmonics)
{
    channel.output->push (*mFrame);

    if (humMode != 2)
        runHumFilters (channel, harmonics);

    mWindow->apply (*mFrame);
    mForward->transformReal (*mFrame, *mReal, *mImag);
    mGain->multiply (*mReal, *mReal);
    mGain->multiplyAdd (*mImag, *mImag, *mReal);
    mGain->scaleAdd (*mReal, *channel.learnAccumulator, 1.0f);

    if (lastChannel)
        ++mLearnedFrames;
}

void ZNoiseReductionBay::runFrame (int c, int mode, bool& framesSeen)
{
    auto& channel = mChannels[(size_t) c];
    ZBuffer** segments = nullptr;

    if (mode == 1 || mode == 2)
    {
        const bool reduce = mode == 1;

        if (reduce && mHumMode.load() != 2)
            runHumFilters (channel, mHumHarmonics);

        channel.framer->analyze (*mFrame, segments);

        for (int k = 0; k < kOverlap; ++k)
        {
            mForward->transformReal (*segments[k], *mReal, *mImag);

            // Every channel's first segment, as in the other modes, so the
            // display does not jump when the mode changes.
            if (k == 0)
            {
                addDisplayPower();
                framesSeen = true;
            }

            if (reduce)
                channel.compressor->process (*mReal, *mImag, *mReal, *mImag);
            else
                channel.compressor->processNoiseOnly (*mReal, *mImag, *mReal, *mImag);

            mInverse->transformReal (*segments[k], *mReal, *mImag);
        }

        channel.framer->synthesize (segments, *mFrame);

        if (reduce)
            runVoiceAndRumbleFilters (channel);
    }
    else
    {
        if (mHumMode.load() != 2)
            runHumFilters (channel, mHumHarmonics);

        channel.framer->analyze (*mFrame, segments);
        mForward->transformReal (*segments[0], *mReal, *mImag);
        channel.framer->synthesize (segments, *mFrame);
        runVoiceAndRumbleFilters (channel);

        addDisplayPower();
        framesSeen = true;
    }

    channel.output->push (*mFrame);
}

void ZNoiseReductionBay::finishLearning()
{
    mStopLearning = false;
    mLearning = 0;
    finalizeLearning();
    mLearnedFrames = 0;
    reset();
    mRequestedMode = 1;
    broadcast (modeMessage);
}

void ZNoiseReductionBay::finalizeLearning()
{
    const float scale = mLearnedFrames > 0 ? 1.0f / (float) mLearnedFrames : 1.0f;

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        auto& accumulator = *channel.learnAccumulator;
        mGain->scale (accumulator, scale);
        mGain->powerToDecibels (accumulator, kDisplayFloorDb);
        channel.compressor->setThresholds (accumulator);
        channel.profile->copy (accumulator);
    }

    pushProfiles();
}

//==============================================================================
void ZNoiseReductionBay::fillProfiles (float db)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* profile = mChannels[(size_t) c].profile.get())
            std::fill_n (profile->getData(), profile->getLength(), db);
}

void ZNoiseReductionBay::clearNoiseProfile()
{
    fillProfiles (kProfileFloorDb);
    pushProfiles();
}

void ZNoiseReductionBay::pushProfiles()
{
    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        if (channel.compressor != nullptr && channel.profile != nullptr)
            channel.compressor->setThresholds (*channel.profile);
    }

    updateProfileDisplay();
    broadcast (noiseProfileMessage);
}

void ZNoiseReductionBay::updateProfileDisplay()
{
    if (mProfileWork == nullptr || mNoiseProfile == nullptr || mChannels[0].compressor == nullptr)
        return;

    const float perChannel = 20.0f * std::log10 (mWindowGain) + mChannels[0].compressor->getThresholdOffset();
    std::fill_n (mProfileWork->getData(), kNumBins, (float) mNumChannels * perChannel);

    for (int c = 0; c < mNumChannels; ++c)
        mGain->scaleAdd (mChannels[(size_t) c].compressor->getThresholds(), *mProfileWork, 1.0f);

    mGain->scale (*mProfileWork, 1.0f / (float) mNumChannels);
    mNoiseProfile->copy (*mProfileWork);
    mSpectrum->sendActionMessage (mProfileUpdateText);
}

ZBuffer* ZNoiseReductionBay::getChannelProfile (int c) const noexcept
{
    return juce::isPositiveAndBelow (c, mNumChannels) ? mChannels[(size_t) c].profile.get() : nullptr;
}

const ZSpectralCompressor* ZNoiseReductionBay::getCompressor (int c) const noexcept
{
    return juce::isPositiveAndBelow (c, mNumChannels) ? mChannels[(size_t) c].compressor.get() : nullptr;
}

//==============================================================================
void ZNoiseReductionBay::setHumFilters (float baseFrequency)
{
    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        for (int k = 0; k < kNumHumFilters; ++k)
            if (auto* filter = channel.hum[(size_t) k].get())
                filter->setParameters (kPeakingType, (float) (k + 1) * baseFrequency, kHumQ, -48.0f + 2.0f * (float) k);
    }
}

void ZNoiseReductionBay::setThreshold (float db)
{
    mThreshold = db;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setThresholdOffset (db);
    updateProfileDisplay();
}

float ZNoiseReductionBay::getThreshold() const { return mThreshold; }

void ZNoiseReductionBay::setReduction (float db)
{
    mReduction = db;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setGainCurve (db, kGainCurveSlope);
}

float ZNoiseReductionBay::getReduction() const { return mReduction; }

void ZNoiseReductionBay::setPreserveVoice (bool on) { mPreserveVoice = on ? 1 : 0; }
bool ZNoiseReductionBay::getPreserveVoice() const { return mPreserveVoice.load() != 0; }
void ZNoiseReductionBay::setRemoveRumble (bool on) { mRemoveRumble = on ? 1 : 0; }
bool ZNoiseReductionBay::getRemoveRumble() const { return mRemoveRumble.load() != 0; }

void ZNoiseReductionBay::setRumbleFrequency (float hz)
{
    mRumbleFrequency = hz;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* filter = mChannels[(size_t) c].rumble.get())
            filter->setParameters (kRumbleType, hz, kRumbleQ, 0.0f);
}

float ZNoiseReductionBay::getRumbleFrequency() const { return mRumbleFrequency; }

void ZNoiseReductionBay::setLowPassFrequency (float hz)
{
    mLowPassFrequency = hz;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* filter = mChannels[(size_t) c].lowPass.get())
            filter->setParameters (kLowPassType, hz, kLowPassQ, 0.0f);
}

float ZNoiseReductionBay::getLowPassFrequency() const { return mLowPassFrequency; }

void ZNoiseReductionBay::setBroadbandLimitLow (float hz)
{
    mLimitLow = hz;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setFrequencyRange (mLimitLow, mLimitHigh);
}

void ZNoiseReductionBay::setBroadbandLimitHigh (float hz)
{
    mLimitHigh = hz;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setFrequencyRange (mLimitLow, mLimitHigh);
}

float ZNoiseReductionBay::getBroadbandLimitLow() const { return mLimitLow; }
float ZNoiseReductionBay::getBroadbandLimitHigh() const { return mLimitHigh; }

void ZNoiseReductionBay::setHumMode (int mode)
{
    mHumMode = mode;
    if (mode == 0)
        setHumFilters (50.0f);
    else if (mode == 1)
        setHumFilters (60.0f);
}

int ZNoiseReductionBay::getHumMode() const { return mHumMode; }

void ZNoiseReductionBay::setNumHumHarmonics (int count)
{
    // There are 14 filters per channel; a larger count would run past them.
    mHumHarmonics = std::clamp (count, 0, kNumHumFilters);
    setHumMode (mHumMode);
}

int ZNoiseReductionBay::getNumHumHarmonics() const { return mHumHarmonics; }

void ZNoiseReductionBay::setTrack (bool on)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setTrack (on);
}

bool ZNoiseReductionBay::getTrack() const
{
    return mChannels[0].compressor != nullptr && mChannels[0].compressor->getTrack();
}

void ZNoiseReductionBay::setTrackFloor (float db)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setTrackFloor (db);
}

void ZNoiseReductionBay::setTrackRange (float db)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setTrackRange (db);
}

void ZNoiseReductionBay::setLevelAttack (float seconds)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setLevelAttack (seconds);
}

void ZNoiseReductionBay::setLevelRelease (float seconds)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* compressor = mChannels[(size_t) c].compressor.get())
            compressor->setLevelRelease (seconds);
}

void ZNoiseReductionBay::setMode (int mode)
{
    if (mode < 0 || mode > 2)
        QJ_THROW ("Unsupported Noise Reduction Mode", kSourceFile);
    mRequestedMode = mode;
}

int ZNoiseReductionBay::getMode() const { return mRequestedMode; }

int ZNoiseReductionBay::isLearning() const { return mLearning; }

void ZNoiseReductionBay::startLearning()
{
    // The processing thread touches the accumulators only while learning, so
    // they are emptied before the flag is raised. A stop request left over
    // from before this pass would otherwise end it at its first frame.
    mLearnedFrames = 0;
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* accumulator = mChannels[(size_t) c].learnAccumulator.get())
            accumulator->clear();
    mStopLearning = false;
    mLearning = 1;
    mRequestedMode = 0;
}

void ZNoiseReductionBay::stopLearning()
{
    mStopLearning = true;
}

} // namespace quarn
