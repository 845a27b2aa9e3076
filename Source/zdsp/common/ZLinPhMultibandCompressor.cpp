#include "ZLinPhMultibandCompressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

namespace
{
constexpr float kDefaultSampleRate = 44100.0f;
constexpr unsigned kMinBlockSize = 32;
// 4B points must stay well inside the transform layer's int counts.
constexpr unsigned kMaxBlockSize = 1u << 20;

// Crossovers (Hz) by band count; row k holds the k - 1 crossovers of k bands.
constexpr float kCrossoverTable[9][7] = {
    {},
    {},
    { 6000.0f },
    { 1000.0f, 11000.0f },
    { 500.0f, 4000.0f, 11000.0f },
    { 250.0f, 1000.0f, 4000.0f, 11000.0f },
    { 150.0f, 400.0f, 1500.0f, 4000.0f, 11000.0f },
    { 100.0f, 300.0f, 600.0f, 1500.0f, 4000.0f, 11000.0f },
    { 100.0f, 200.0f, 400.0f, 900.0f, 2000.0f, 5000.0f, 12000.0f },
};

bool isUsableRate (float rate) noexcept
{
    return std::isfinite (rate) && rate > 0.0f;
}

unsigned blockSizeFor (int requested) noexcept
{
    const unsigned wanted = (unsigned) std::clamp (requested, (int) kMinBlockSize, (int) kMaxBlockSize);
    unsigned b = kMinBlockSize;
    while (b < wanted)
        b <<= 1;
    return b;
}

unsigned log2Of (unsigned powerOfTwo) noexcept
{
    unsigned order = 0;
    while ((1u << order) < powerOfTwo)
        ++order;
    return order;
}

float envelopeCoefficient (unsigned blockSize, float sampleRate, float seconds) noexcept
{
    // A time of zero (or a nonsensical one) means an envelope that follows the
    // level at once; 0.33 to a negative power would make it grow without bound.
    if (! (seconds > 0.0f) || ! std::isfinite (seconds))
        return 0.0f;

    return std::pow (0.33f, (float) blockSize / (sampleRate * seconds));
}
} // namespace

ZLinPhMultibandCompressor::ZLinPhMultibandCompressor (int numChannels, int numBands, int blockSize, float sampleRate)
{
    mNumChannels = (unsigned) std::clamp (numChannels, 1, kMaxChannels);
    mNumBands = std::clamp (numBands, 1, kMaxBands);
    mNumCrossovers = mNumBands - 1;

    for (int m = 0; m < kTableSize; ++m)
        raisedCosine[m] = (float) (0.5 + 0.5 * std::cos ((double) (m - 511) * M_PI / 512.0));

    for (int k = 0; k < kMaxBands; ++k)
    {
        threshold[k] = -20.0f;
        ratio[k] = 3.0f;
        range[k] = 18.0f;
        makeup[k] = 0.0f;
        attack[k] = 0.05f;
        release[k] = 0.2f;
        attackCoefficient[k] = 0.0f;
        releaseCoefficient[k] = 0.0f;
        knee[k] = 2.0f;
        solo[k] = false;
        bypass[k] = false;
        for (int c = 0; c < kMaxChannels; ++c)
            envelopeDb[c][k] = -90.0f;
    }

    for (int k = 0; k < kMaxCrossovers; ++k)
        crossover[k] = k < mNumCrossovers ? kCrossoverTable[mNumBands][k] : 0.0f;

    const unsigned b = blockSizeFor (blockSize);
    adoptResources (buildResources (mNumChannels, b), b, isUsableRate (sampleRate) ? sampleRate : kDefaultSampleRate);
}

ZLinPhMultibandCompressor::~ZLinPhMultibandCompressor() = default;

std::unique_ptr<ZLinPhMultibandCompressor::Resources>
ZLinPhMultibandCompressor::buildResources (unsigned numChannels, unsigned blockSize)
{
    const unsigned n = 2 * blockSize;
    const unsigned longSize = 4 * blockSize;
    const unsigned order = log2Of (n);

    using Direction = ZFourierTransform::Direction;
    using Kind = ZFourierTransform::Kind;

    auto r = std::make_unique<Resources>();
    r->gain.reset (ZGain::create (false));
    r->forwardLong.reset (ZFourierTransform::create (order + 1, Direction::forward, Kind::real));
    r->inverseLong.reset (ZFourierTransform::create (order + 1, Direction::inverse, Kind::real));
    r->inverseShort.reset (ZFourierTransform::create (order, Direction::inverse, Kind::real));
    r->forwardShort.reset (ZFourierTransform::create (order, Direction::forward, Kind::real));
    r->window.reset (ZSignalWindow::create (blockSize, 3, 0.0f));

    r->work = std::make_unique<ZBuffer> (longSize, "ZBuffer");
    r->filterRe = std::make_unique<ZBuffer> (n + 1, "ZBuffer");
    r->filterIm = std::make_unique<ZBuffer> (n + 1, "ZBuffer");
    r->responseRe = std::make_unique<ZBuffer> (blockSize + 1, "ZBuffer");
    r->responseIm = std::make_unique<ZBuffer> (blockSize + 1, "ZBuffer");

    for (auto& mask : r->transitionMask)
        mask = std::make_unique<ZBuffer> (n + 1, "ZBuffer");

    for (unsigned c = 0; c < numChannels; ++c)
    {
        auto& ch = r->channel[c];
        ch.inputRe = std::make_unique<ZBuffer> (n + 1, "ZBuffer");
        ch.inputIm = std::make_unique<ZBuffer> (n + 1, "ZBuffer");
        ch.analysisRe = std::make_unique<ZBuffer> (blockSize + 1, "ZBuffer");
        ch.analysisIm = std::make_unique<ZBuffer> (blockSize + 1, "ZBuffer");
        ch.power = std::make_unique<ZBuffer> (blockSize + 1, "ZBuffer");
        ch.accumulator = std::make_unique<ZBuffer> (longSize, "ZBuffer");
    }

    // The vectorised complex product sizes its scratch arrays on first use;
    // doing that here keeps the audio path free of allocation.
    auto& ch = r->channel[0];
    r->gain->complexMultiply (*ch.inputRe, *ch.inputIm, *r->filterRe, *r->filterIm, *ch.inputRe, *ch.inputIm);

    return r;
}

void ZLinPhMultibandCompressor::adoptResources (std::unique_ptr<Resources> resources, unsigned blockSize, float sampleRate)
{
    mResources = std::move (resources);

    mBlockSize = blockSize;
    mFftSize = 2 * blockSize;
    mLongSize = 4 * blockSize;
    mLatency = mFftSize / 2;
    mOrder = log2Of (mFftSize);
    mSampleRate = sampleRate;
    binsPerHz = (float) mFftSize / mSampleRate;
    hzPerBin = mSampleRate / (float) mFftSize;
    levelNormalisation = (float) mLongSize / mResources->window->getSumOfSquares();

    for (int k = 0; k < kMaxBands; ++k)
        updateCoefficients (k);

    reset();
    updateBands();
}

bool ZLinPhMultibandCompressor::setBlockSizeAndRate (int blockSize, float sampleRate)
{
    const unsigned b = blockSizeFor (blockSize);
    adoptResources (buildResources (mNumChannels, b), b, isUsableRate (sampleRate) ? sampleRate : mSampleRate);
    return mResources != nullptr;
}

void ZLinPhMultibandCompressor::updateCoefficients (int band) noexcept
{
    attackCoefficient[band] = envelopeCoefficient (mBlockSize, mSampleRate, attack[band]);
    releaseCoefficient[band] = envelopeCoefficient (mBlockSize, mSampleRate, release[band]);
}

void ZLinPhMultibandCompressor::setAttack (int band, float seconds) noexcept
{
    if (band < 0 || band >= kMaxBands)
        return;
    attack[band] = seconds;
    updateCoefficients (band);
}

void ZLinPhMultibandCompressor::setRelease (int band, float seconds) noexcept
{
    if (band < 0 || band >= kMaxBands)
        return;
    release[band] = seconds;
    updateCoefficients (band);
}

void ZLinPhMultibandCompressor::reset() noexcept
{
    clearAccumulators();

    for (auto& channel : envelopeDb)
        std::fill (std::begin (channel), std::end (channel), 0.0f);
}

void ZLinPhMultibandCompressor::clearAccumulators() noexcept
{
    for (unsigned c = 0; c < mNumChannels; ++c)
        mResources->channel[c].accumulator->clear();
}

unsigned ZLinPhMultibandCompressor::binFor (float frequency) const noexcept
{
    // Held to the 0 .. N/2 bins of the analysis spectrum whatever the edge.
    const float bin = frequency * (float) mFftSize / mSampleRate + 0.5f;
    if (! (bin > 0.0f))
        return 0;
    if (bin >= (float) (mFftSize / 2))
        return mFftSize / 2;
    return (unsigned) bin;
}

void ZLinPhMultibandCompressor::updateBands() noexcept
{
    const float nyquist = 0.5f * mSampleRate;

    // A crossover at or above half the rate would put the last band's bins past
    // the spectrum and, at exactly half, make the mask's index map divide by
    // zero; held one bin below it, the band above simply becomes empty.
    const float highest = nyquist - hzPerBin;
    for (int k = 0; k < mNumCrossovers; ++k)
    {
        float f = crossover[k];
        if (! (f > 0.0f))
            f = 0.0f;
        effectiveCrossover[k] = std::min (f, highest);
    }

    firstBin[0] = 0;
    float lower = 0.0f;

    for (int k = 0; k < mNumCrossovers; ++k)
    {
        const float f = effectiveCrossover[k];
        const float upper = k + 1 < mNumCrossovers ? (f + effectiveCrossover[k + 1]) / 2.0f
                                                   : (f + nyquist) / 2.0f;

        lastBin[k] = binFor (lower);
        firstBin[k + 1] = binFor (upper);

        auto& mask = *mResources->transitionMask[k];
        mask.clear();

        if (firstBin[k + 1] > lastBin[k] + 1)
        {
            // The quadratic index map through (0, 0), (a, 256) and (c, 512)
            // puts one half of the mask at the crossover. Crossovers out of
            // order leave no such map; a straight line across the transition
            // keeps the mask defined.
            const float a = f - lower;
            const float c = upper - lower;
            float p = 0.0f, q = 0.0f;
            bool quadratic = a > 0.0f && c > a;
            if (quadratic)
            {
                p = (512.0f - 256.0f * c * c / (a * a)) / (c - c * c / a);
                q = (256.0f - a * p) / (a * a);
                quadratic = std::isfinite (p) && std::isfinite (q);
            }

            float* m = mask.getData();
            unsigned index = 0;
            for (unsigned j = lastBin[k] + 1; j < firstBin[k + 1]; ++j, ++index)
            {
                const float x = (float) j * mSampleRate / (float) mFftSize - lower;
                const float position = quadratic ? p * x + q * x * x
                                                 : (c > 0.0f ? 512.0f * x / c : 512.0f);
                int t = 0;
                if (position >= (float) (kTableSize - 1))
                    t = kTableSize - 1;
                else if (position > 0.0f)
                    t = (int) position;
                m[index] = raisedCosine[t];
            }
        }

        lower = upper;
    }

    lastBin[mNumBands - 1] = mFftSize / 2;
}

bool ZLinPhMultibandCompressor::process (ZBuffer* const* inputs, ZBuffer* const* outputs, int numSamples) noexcept
{
    if (numSamples <= 0 || mResources == nullptr)
        return true;

    // The filter has 2B taps: a block of at most B samples keeps its
    // convolution inside the 4B transform, so longer calls go block by block.
    for (unsigned offset = 0; offset < (unsigned) numSamples;)
    {
        const unsigned n = std::min (mBlockSize, (unsigned) numSamples - offset);
        processBlock (inputs, outputs, offset, n);
        offset += n;
    }

    return true;
}

void ZLinPhMultibandCompressor::processBlock (ZBuffer* const* inputs, ZBuffer* const* outputs, unsigned offset, unsigned n) noexcept
{
    auto& r = *mResources;
    auto& work = *r.work;
    const unsigned half = mFftSize / 2;

    for (unsigned c = 0; c < mNumChannels; ++c)
    {
        auto& ch = r.channel[c];

        work.copyFrom (*inputs[c], { (int) offset, (int) (offset + n) }, 0);
        work.clear ({ (int) n, (int) mLongSize });
        r.forwardLong->transformReal (work, *ch.inputRe, *ch.inputIm);

        r.window->applyTo (work, work);
        r.forwardShort->transformReal (work, *ch.analysisRe, *ch.analysisIm);

        const float* re = ch.analysisRe->getData();
        const float* im = ch.analysisIm->getData();
        float* power = ch.power->getData();
        for (unsigned j = 0; j <= half; ++j)
            power[j] = re[j] * re[j] + im[j] * im[j];
    }

    computeBandGains();
    designFilter();

    for (unsigned c = 0; c < mNumChannels; ++c)
    {
        auto& ch = r.channel[c];
        auto& accumulator = *ch.accumulator;

        r.gain->complexMultiply (*ch.inputRe, *ch.inputIm, *r.filterRe, *r.filterIm, *ch.inputRe, *ch.inputIm);
        r.inverseLong->transformReal (work, *ch.inputRe, *ch.inputIm);
        r.gain->scaleAdd (work, accumulator, outputGain);

        outputs[c]->copyFrom (accumulator, { 0, (int) n }, offset);

        float* acc = accumulator.getData();
        std::memmove (acc, acc + n, sizeof (float) * (mLongSize - n));
        accumulator.clear ({ (int) (mLongSize - n), (int) mLongSize });
    }
}

void ZLinPhMultibandCompressor::computeBandGains() noexcept
{
    auto& r = *mResources;
    float carry[kMaxChannels] = {};

    for (int k = 0; k < mNumBands; ++k)
    {
        float louder = -1.0e30f;

        for (unsigned c = 0; c < mNumChannels; ++c)
        {
            const float* power = r.channel[c].power->getData();

            float energy = carry[c];
            for (unsigned j = firstBin[k]; j <= lastBin[k]; ++j)
                energy += power[j];

            if (k < mNumBands - 1)
            {
                const float* mask = r.transitionMask[k]->getData();
                float above = 0.0f;
                unsigned index = 0;
                for (unsigned j = lastBin[k] + 1; j < firstBin[k + 1]; ++j, ++index)
                {
                    const float m = mask[index];
                    energy += power[j] * (1.0f - m) * (1.0f - m);
                    above += power[j] * m * m;
                }
                carry[c] = above;
            }

            // An infinite sample would otherwise leave the envelope at +inf
            // for good; it is measured like silence, as NaN already is.
            const float product = energy * levelNormalisation;
            const float level = (product > 1.0e-10f && std::isfinite (product)) ? 10.0f * std::log10 (product) : -100.0f;

            float& envelope = envelopeDb[c][k];
            const float coefficient = level > envelope ? attackCoefficient[k] : releaseCoefficient[k];
            envelope = level * (1.0f - coefficient) + envelope * coefficient;
            louder = std::max (louder, envelope);
        }

        bandLevelDb[k] = louder;
    }

    bool anySolo = false;
    for (int k = 0; k < mNumBands; ++k)
        anySolo = anySolo || solo[k];

    for (int k = 0; k < mNumBands; ++k)
    {
        if (anySolo && ! solo[k])
        {
            bandGainDb[k] = -200.0f;
            continue;
        }
        if (bypass[k])
        {
            bandGainDb[k] = 0.0f;
            continue;
        }

        float w = knee[k];
        if (w != 0.0f && w < 0.01f)
            w = 0.01f;

        const float level = bandLevelDb[k];
        const float t = threshold[k];
        const float slope = 1.0f / ratio[k] - 1.0f;

        float delta = 0.0f;
        if (level > t + w)
            delta = (level - t) * slope;
        else if (level > t - w)
        {
            const float x = level - t + w;
            delta = slope * x * x / (4.0f * w);
        }

        if (std::abs (delta) > range[k])
            delta = delta > 0.0f ? range[k] : -range[k];

        const float gain = delta + makeup[k];
        // Settings written from outside could be anything; a non-finite gain
        // would turn the whole filter, and every later block, into NaN.
        bandGainDb[k] = std::isfinite (gain) ? gain : 0.0f;
    }
}

void ZLinPhMultibandCompressor::designFilter() noexcept
{
    auto& r = *mResources;
    auto& work = *r.work;
    auto& responseRe = *r.responseRe;
    auto& responseIm = *r.responseIm;
    const unsigned half = mFftSize / 2;

    responseRe.clear();
    responseIm.clear();

    float linear[kMaxBands];
    for (int k = 0; k < mNumBands; ++k)
        linear[k] = std::pow (10.0f, bandGainDb[k] / 20.0f);

    float* h = responseRe.getData();
    for (int k = 0; k < mNumBands; ++k)
    {
        for (unsigned j = firstBin[k]; j <= lastBin[k]; ++j)
            h[j] = linear[k];

        if (k < mNumBands - 1)
        {
            const float* mask = r.transitionMask[k]->getData();
            unsigned index = 0;
            for (unsigned j = lastBin[k] + 1; j < firstBin[k + 1]; ++j, ++index)
                h[j] = mask[index] * linear[k + 1] + (1.0f - mask[index]) * linear[k];
        }
    }

    // Alternating signs delay the zero-phase response by N/2 samples: a
    // symmetric impulse response centred on B, hence linear phase.
    for (unsigned j = 1; j <= half; j += 2)
        h[j] = -h[j];

    r.inverseShort->transformReal (work, responseRe, responseIm);
    work.clear ({ (int) mFftSize, (int) mLongSize });
    r.gain->scaleRange (work, 0, mFftSize, 2.0f);
    r.forwardLong->transformReal (work, *r.filterRe, *r.filterIm);
}

} // namespace quarn
