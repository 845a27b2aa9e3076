#include "ZSpectralCompressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace quarn
{

//==============================================================================
ZSpectralSmoother::ZSpectralSmoother()
{
    setName ("ZSpectralSmoother");
}

ZSpectralSmoother::~ZSpectralSmoother()
{
    delete[] mKernel;
    delete[] mSortScratch;
}

ZSpectralSmoother* ZSpectralSmoother::create (unsigned halfWidth)
{
    std::unique_ptr<ZSpectralSmoother> smoother (new ZSpectralSmoother());
    smoother->init (halfWidth);
    return smoother.release();
}

void ZSpectralSmoother::init (unsigned halfWidth)
{
    delete[] mKernel;
    mKernel = nullptr;
    delete[] mSortScratch;
    mSortScratch = nullptr;

    mHalfWidth = halfWidth;
    mKernel = new float[halfWidth + 1]();
    mSortScratch = new float[halfWidth + 1]();

    if (halfWidth == 0)
        return;

    // The centre half of a Hamming window: from its peak down to its foot.
    const float step = 6.2831855f / (float) (2u * halfWidth);
    for (unsigned k = 0; k < halfWidth; ++k)
        mKernel[k] = 0.54f - 0.46f * std::cos ((float) (halfWidth + k) * step);

    float sum = mKernel[0];
    for (unsigned k = 1; k < halfWidth; ++k)
        sum += 2.0f * mKernel[k];

    for (unsigned k = 0; k < halfWidth; ++k)
        mKernel[k] /= sum;
}

void ZSpectralSmoother::smoothFrom (unsigned start, const ZBuffer& in, ZBuffer& out)
{
    const unsigned w = mHalfWidth;
    const unsigned m = std::min (in.getLength(), out.getLength());
    const float* x = in.getData();
    float* y = out.getData();

    if (w == 0 || m < 2 * w)
    {
        std::memmove (y, x, sizeof (float) * m);
        return;
    }

    const unsigned end = m - w;
    start = std::min (start, end);

    std::memmove (y, x, sizeof (float) * start);

    // Tap by tap across all bins, so each pass vectorises; every bin still
    // adds its taps in the same order.
    const float* kernel = mKernel;
    const size_t count = end - start;
    float* __restrict smoothed = y + start;
    const float* __restrict centre = x + start;
    for (size_t j = 0; j < count; ++j)
        smoothed[j] = kernel[0] * centre[j];
    for (unsigned k = 1; k < w; ++k)
    {
        const float tap = kernel[k];
        const float* __restrict below = centre - k;
        const float* __restrict above = centre + k;
        for (size_t j = 0; j < count; ++j)
            smoothed[j] += tap * (below[j] + above[j]);
    }

    std::memmove (y + end, x + end, sizeof (float) * w);
}

void ZSpectralSmoother::smooth (const ZBuffer& in, ZBuffer& out)
{
    const unsigned m = std::min (in.getLength(), out.getLength());
    const unsigned lowest = mHalfWidth > 0 ? mHalfWidth - 1 : 0;
    smoothFrom (std::max (lowest, m / 16), in, out);
}

void ZSpectralSmoother::smoothFull (const ZBuffer& in, ZBuffer& out)
{
    smoothFrom (mHalfWidth, in, out);
}

void ZSpectralSmoother::spread (const ZBuffer& in, ZBuffer& out)
{
    const unsigned m = std::min (in.getLength(), out.getLength());
    const float* x = in.getData();
    float* y = out.getData();

    if (m < 2)
    {
        std::memmove (y, x, sizeof (float) * m);
        return;
    }

    const float scale = 1.0f / (float) (m - 1);

    float carry = x[0];
    for (unsigned i = 0; i < m; ++i)
    {
        const float p = (float) i * scale;
        y[i] = std::max (carry, x[i]);
        carry = ((1.0f - p) * 0.4f + p * 0.8f) * y[i];
    }

    carry = y[m - 2];
    for (unsigned j = m; j-- > 0;)
    {
        const float p = ((float) j - 1.0f) * scale;
        y[j] = std::max (carry, y[j]);
        carry = ((1.0f - p) * 0.2f + p * 0.6f) * y[j];
    }
}

void ZSpectralSmoother::median (const ZBuffer& in, ZBuffer& out)
{
    const unsigned w = mHalfWidth;
    const unsigned m = std::min (in.getLength(), out.getLength());
    const float* x = in.getData();
    float* y = out.getData();

    if (w == 0 || m < w)
    {
        std::memmove (y, x, sizeof (float) * m);
        return;
    }

    const unsigned half = w / 2;
    std::memmove (y, x, sizeof (float) * half);

    for (unsigned j = half; j + half < m; ++j)
    {
        float* v = mSortScratch;
        std::memcpy (v, x + (j - half), sizeof (float) * w);

        for (bool swapped = true; swapped;)
        {
            swapped = false;
            for (unsigned k = 0; k + 1 < w; ++k)
            {
                if (v[k + 1] < v[k])
                {
                    std::swap (v[k], v[k + 1]);
                    swapped = true;
                }
            }
        }

        y[j] = v[half];
    }

    std::memmove (y + (m - half), x + (m - half), sizeof (float) * half);
}

//==============================================================================
ZSpectralCompressor::ZSpectralCompressor()
{
    setName ("ZSpectralCompressor");
}

ZSpectralCompressor::~ZSpectralCompressor()
{
    release();
}

void ZSpectralCompressor::release()
{
    delete mGain;
    mGain = nullptr;
    delete mSmoother;
    mSmoother = nullptr;
    for (auto** buffer : { &mOutDelay, &mAttack, &mRelease, &mSpectralPower, &mSpectralGain, &mGainTable, &mThresholds })
    {
        delete *buffer;
        *buffer = nullptr;
    }
}

ZSpectralCompressor* ZSpectralCompressor::create (unsigned bins, float sampleRate)
{
    std::unique_ptr<ZSpectralCompressor> compressor (new ZSpectralCompressor());
    compressor->init (bins, sampleRate);
    return compressor.release();
}

void ZSpectralCompressor::init (unsigned bins, float sampleRate)
{
    release();

    mNumBins = bins;
    mLevelAttackTime = 0.001f;
    mLevelReleaseTime = 0.005f;
    mSampleRate = sampleRate;
    updateLevelCoefficients();
    mTrackFloor = 0.0f;
    mTrackRange = 6.0f;
    mTrack = true;
    mLevel = 0.0f;
    mThresholdOffset = 0.0f;

    mGain = ZGain::create (false);
    mSmoother = ZSpectralSmoother::create (6);

    mAttack = new ZBuffer (bins, "Attack");
    mRelease = new ZBuffer (bins, "Release");
    std::fill_n (mAttack->getData(), bins, 1.0f);
    std::fill_n (mRelease->getData(), bins, 0.9f);
    mOutDelay = new ZBuffer (bins, "mOutDelay");
    mSpectralPower = new ZBuffer (bins, "mSpectralPower");
    mSpectralGain = new ZBuffer (bins, "mSpectralGain");
    mThresholds = new ZBuffer (bins, "mThresholds");
    mGainTable = new ZBuffer (kGainTableSize, "ZBuffer");
    mCurveSet = false;

    mLowerLimit = 0.0f;
    mUpperLimit = 48000.0f;
}

void ZSpectralCompressor::setAttack (float low, float high)
{
    std::fill_n (mAttack->getData(), mNumBins, 1.0f);
    mGain->ramp (*mAttack, low, high);
}

void ZSpectralCompressor::setRelease (float low, float high)
{
    std::fill_n (mRelease->getData(), mNumBins, 1.0f);
    mGain->ramp (*mRelease, 1.0f - low, 1.0f - high);
}

void ZSpectralCompressor::setGainCurve (float reductionDb, float slope)
{
    if (! std::isfinite (reductionDb) || ! std::isfinite (slope))
        return;

    float* table = mGainTable->getData();
    const float full = std::pow (10.0f, -reductionDb / 20.0f);

    for (unsigned k = 0; k < 128; ++k)
        table[k] = full;

    unsigned next = 128;
    if (reductionDb > 0.0f)
    {
        for (unsigned k = 0;; ++k)
        {
            table[128 + k] = std::pow (10.0f, (-reductionDb + (float) k * slope) / 20.0f);
            next = 128 + k + 1;
            if (-reductionDb + (float) (k + 1) * slope >= 0.0f || 128 + k == kGainTableSize - 1)
                break;
        }
    }

    for (unsigned k = next; k < kGainTableSize; ++k)
        table[k] = 1.0f;

    mCurveSet = true;
}

void ZSpectralCompressor::setThresholds (const ZBuffer& thresholds)
{
    mThresholds->copy (thresholds);
}

void ZSpectralCompressor::setThresholds (const float* thresholds, unsigned count) noexcept
{
    if (thresholds != nullptr)
        std::memcpy (mThresholds->getData(), thresholds, sizeof (float) * std::min (count, mNumBins));
}

void ZSpectralCompressor::setThreshold (float db)
{
    std::fill_n (mThresholds->getData(), mNumBins, db);
}

void ZSpectralCompressor::setThresholdOffset (float db)
{
    if (std::isfinite (db))
        mThresholdOffset = db;
}

const ZBuffer& ZSpectralCompressor::getThresholds() const
{
    return *mThresholds;
}

float ZSpectralCompressor::getThresholdOffset() const
{
    return mThresholdOffset;
}

void ZSpectralCompressor::setSampleRate (float rate)
{
    mSampleRate = rate;
    updateLevelCoefficients();
}

void ZSpectralCompressor::setTrack (bool track)
{
    mTrack = track;
}

bool ZSpectralCompressor::getTrack() const
{
    return mTrack;
}

void ZSpectralCompressor::setTrackFloor (float db)
{
    mTrackFloor = db;
}

void ZSpectralCompressor::setTrackRange (float db)
{
    mTrackRange = db;
}

void ZSpectralCompressor::setLevelAttack (float seconds)
{
    mLevelAttackTime = seconds;
    updateLevelCoefficients();
}

void ZSpectralCompressor::setLevelRelease (float seconds)
{
    mLevelReleaseTime = seconds;
    updateLevelCoefficients();
}

void ZSpectralCompressor::setFrequencyRange (float upperHz, float lowerHz)
{
    mUpperLimit = upperHz;
    mLowerLimit = lowerHz;
}

void ZSpectralCompressor::updateLevelCoefficients()
{
    // Called once per hop of (n - 1) / 2 samples, the level covers 67 % of a
    // step in the given time. A time or rate that is not positive follows at
    // once (coefficient 0) rather than letting the level grow without bound.
    const double hop = (double) ((mNumBins > 0 ? mNumBins - 1 : 0) / 2);
    auto coefficient = [hop, this] (float seconds) {
        const double span = (double) seconds * (double) mSampleRate.load();
        if (! (span > 0.0) || ! std::isfinite (span))
            return 0.0f;
        return (float) std::pow (0.33, hop / span);
    };

    mLevelAttackCoefficient = coefficient (mLevelAttackTime);
    mLevelReleaseCoefficient = coefficient (mLevelReleaseTime);
}

bool ZSpectralCompressor::buffersFit (const ZBuffer& re, const ZBuffer& im, const ZBuffer& outRe, const ZBuffer& outIm) const noexcept
{
    const unsigned n = mNumBins;
    return n > 0 && re.getLength() >= n && im.getLength() >= n && outRe.getLength() >= n && outIm.getLength() >= n;
}

float ZSpectralCompressor::followPower (const ZBuffer& re, const ZBuffer& im)
{
    const unsigned n = mNumBins;
    const float* r = re.getData();
    const float* q = im.getData();
    float* power = mSpectralPower->getData();
    float* held = mOutDelay->getData();
    const float* attack = mAttack->getData();
    const float* release = mRelease->getData();

    float total = 0.0f;
    for (unsigned i = 0; i < n; ++i)
    {
        power[i] = r[i] * r[i] + q[i] * q[i];
        total += power[i];
    }

    for (unsigned i = 0; i < n; ++i)
        held[i] = release[i] * held[i] + attack[i] * power[i];

    // A non-finite or overflowing frame would otherwise stay in the smoothed
    // power for good; those bins start again from silence.
    if (! std::isfinite (total))
        for (unsigned i = 0; i < n; ++i)
            if (! std::isfinite (held[i]))
                held[i] = 0.0f;

    mSpectralPower->copy (*mOutDelay);
    mGain->powerToDecibels (*mSpectralPower);
    return total;
}

int ZSpectralCompressor::tableIndex (float powerDb, float thresholdDb, float offset) const noexcept
{
    const float d = powerDb - (offset + thresholdDb);

    // Far below (or not a number): full reduction. Far above: bounded at the
    // table's last entry.
    if (! (d > -129.0f))
        return 0;
    if (d >= 128.0f)
        return (int) kGainTableSize - 1;
    return std::max (0, (int) d + 128);
}

void ZSpectralCompressor::tableGains (bool removedPart)
{
    // The gains overwrite the dB values bin by bin, each after its own read.
    const unsigned n = mNumBins;
    const float* db = mSpectralPower->getData();
    const float* thresholds = mThresholds->getData();
    const float* table = mGainTable->getData();
    float* gains = mSpectralPower->getData();
    const float offset = mThresholdOffset;
    const float lower = mLowerLimit;
    const float upper = mUpperLimit;
    const float binWidth = mSampleRate.load() * 0.5f / (float) n;

    for (unsigned i = 0; i < n; ++i)
    {
        const float f = (float) i * binWidth;
        const bool outside = f < lower || f > upper;
        const float kept = outside ? 1.0f : table[tableIndex (db[i], thresholds[i], offset)];
        gains[i] = removedPart ? (outside ? 0.0f : 1.0f - kept) : kept;
    }

    mSmoother->smooth (*mSpectralPower, *mSpectralGain);
}

void ZSpectralCompressor::applyGains (const ZBuffer& re, const ZBuffer& im, ZBuffer& outRe, ZBuffer& outIm)
{
    // Exactly the bin count: the spectra may be longer than the gain buffer.
    const unsigned n = mNumBins;
    const float* g = mSpectralGain->getData();
    const float* r = re.getData();
    const float* q = im.getData();
    float* outR = outRe.getData();
    float* outQ = outIm.getData();
    for (unsigned i = 0; i < n; ++i)
    {
        outR[i] = r[i] * g[i];
        outQ[i] = q[i] * g[i];
    }
}

void ZSpectralCompressor::process (const ZBuffer& re, const ZBuffer& im, ZBuffer& outRe, ZBuffer& outIm) noexcept
{
    if (! buffersFit (re, im, outRe, outIm))
        return;

    const unsigned n = mNumBins;

    if (! mCurveSet)
    {
        if (&outRe != &re)
            std::memcpy (outRe.getData(), re.getData(), sizeof (float) * n);
        if (&outIm != &im)
            std::memcpy (outIm.getData(), im.getData(), sizeof (float) * n);
        return;
    }

    const float total = followPower (re, im);

    const float coefficient = total > mLevel ? mLevelAttackCoefficient.load() : mLevelReleaseCoefficient.load();
    mLevel = total * (1.0f - coefficient) + mLevel * coefficient;
    if (! std::isfinite (mLevel))
        mLevel = 0.0f;

    const float levelDb = mLevel > 0.0f ? 10.0f * std::log10 (mLevel) : -1000.0f;
    const float floorDb = mTrackFloor;
    const float range = mTrackRange;
    float x;
    if (range > 0.0f)
        x = std::clamp ((levelDb - floorDb) / range, 0.0f, 1.0f);
    else
        x = levelDb >= floorDb ? 1.0f : 0.0f;

    tableGains (false);

    if (mTrack)
    {
        const float s = x * x;
        mGain->scale (*mSpectralGain, 1.0f - s);
        float* g = mSpectralGain->getData();
        for (unsigned i = 0; i < n; ++i)
            g[i] += s;
    }

    applyGains (re, im, outRe, outIm);
}

void ZSpectralCompressor::processNoiseOnly (const ZBuffer& re, const ZBuffer& im, ZBuffer& outRe, ZBuffer& outIm) noexcept
{
    if (! buffersFit (re, im, outRe, outIm))
        return;

    const unsigned n = mNumBins;

    if (! mCurveSet)
    {
        std::fill_n (outRe.getData(), n, 0.0f);
        std::fill_n (outIm.getData(), n, 0.0f);
        return;
    }

    followPower (re, im);

    tableGains (true);
    applyGains (re, im, outRe, outIm);
}

void ZSpectralCompressor::reset() noexcept
{
    mOutDelay->clear();
    mLevel = 0.0f;
}

} // namespace quarn
