#include "ZDeclipping.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

namespace
{
// Histogram bins are 0.005 wide and span [-1, 1); everything beyond lands in
// the outermost bins. The value is clamped before it becomes an integer.
inline std::int64_t binOf (float x) noexcept
{
    const float v = (x + 1.0f) / 0.005f;
    if (! (v > 0.0f))
        return 0;
    if (v >= 399.0f)
        return 399;
    return (std::int64_t) v;
}

// The start bin of a level search: halfway in from a new extreme x.
inline std::int64_t startBinOf (float x) noexcept
{
    const float v = (0.5f * x + 1.0f) / 0.005f;
    if (v <= -1.0f)
        return -1;
    if (v >= 400.0f)
        return 400;
    return (std::int64_t) v;
}

// The clipped samples carry no weight, so the run is filled by the smoothest
// curve that joins the margins. (A token weight such as 1e-7 is not "almost
// nothing" over long runs: the smoother's stiffness across a thousand samples
// is far smaller, and the fill then clings to the clipped plateau.)
constexpr float kRunWeight = 0.0f;

// Hard clipping leaves a run of samples at the level, and a chunk that holds
// clipping holds several runs. A stray peak, a click or the tip of a noise
// burst puts one to a few samples into an extreme bin with nothing 0.025
// further in; read as a clip level, it would stay for good and every later
// peak beyond it would be redrawn.
constexpr float kMinSpikeSamples = 6.0f;

// Weight of the smoothest curve against the predictor's fill. Neither is
// right alone: the curve overshoots where steep edges lead into a low hump,
// the predictor stays low where the hump is driven by the voice's pulses
// rather than its resonances. Their mean errs less than either on speech and
// music clipped deeply, and keeps what the curve does for tones.
constexpr float kCurveShare = 0.5f;

// The predictor spans about half a millisecond, as many samples as the
// unclipped stretches of deeply clipped speech and music reliably hold; it
// never reaches past the margin, so it reads inside the history.
int predictorOrder (float sampleRate, std::int64_t margin) noexcept
{
    const auto order = std::clamp ((int) (24.0f * sampleRate / 44100.0f), 8, 32);
    return (int) std::min<std::int64_t> (order, margin);
}
} // namespace

ZDeclipping::ZDeclipping (unsigned blockSize, float sampleRate)
{
    mHistogram = new float[kHistogramBins]();
    mGain = ZGain::create (false);
    mSoftClip = ZSoftClip::create (blockSize);

    mBlockSize = std::max<std::int64_t> (blockSize, 1);
    if (std::isfinite (sampleRate) && sampleRate >= 1.0f && sampleRate <= 1.0e7f)
        mSampleRate = sampleRate;

    recompute();
    reset();
}

ZDeclipping::~ZDeclipping()
{
    delete mSoftClip;
    delete mHistory;
    delete[] mHistogram;
    delete mGain;
}

void ZDeclipping::setDefaults()
{
    enabled = false;
    mOutputGain = std::pow (10.0f, 0.0f / 20.0f);
    mLambda = 1.0f;
    mSpikeRatio = 9.92f;
    mZeroBinRatio = 9.902f;
    mBudgetFraction = 0.0104f;
    mSoftClip->setCeiling (-0.1f);
}

void ZDeclipping::prepare (double sampleRate, int maxBlock)
{
    // A rate of 0 (or NaN) would leave no room for a run and no chunk to
    // count, and the integer conversions below need a finite value.
    const auto rate = (float) sampleRate;
    const bool usableRate = std::isfinite (rate) && rate >= 1.0f && rate <= 1.0e7f;
    const float newRate = usableRate ? rate : mSampleRate;
    const auto newBlock = std::max<std::int64_t> (maxBlock, 1);

    if (newRate != mSampleRate || newBlock != mBlockSize)
    {
        const bool blockChanged = newBlock != mBlockSize;
        mSampleRate = newRate;
        mBlockSize = newBlock;
        recompute();
        if (blockChanged)
            mSoftClip->setBlockSize ((unsigned) mBlockSize);
    }

    reset();
}

void ZDeclipping::setSampleRate (float sampleRate)
{
    prepare (sampleRate, (int) mBlockSize);
}

void ZDeclipping::setBlockSize (unsigned blockSize)
{
    prepare (mSampleRate, (int) std::min<unsigned> (blockSize, (unsigned) INT32_MAX));
}

void ZDeclipping::recompute()
{
    // At least one sample each: a run of 0 would be found again forever, a
    // chunk of 0 divides by zero, and a margin of 0 (below 1 kHz) leaves the
    // smoother nothing to join.
    mMaxRun = std::max<std::int64_t> ((std::int64_t) (0.025f * mSampleRate), 1);
    mMargin = std::max<std::int64_t> ((std::int64_t) (0.001f * mSampleRate), 1);
    mChunkLength = std::max<std::int64_t> ((std::int64_t) (mSampleRate * 0.011609977f + 0.5f), 1);
    mDelay = mMaxRun + 2 * mMargin;
    mInputOffset = mDelay;
    mScanStart = mMargin;

    delete mHistory;
    mHistory = nullptr;
    mHistory = new ZBuffer ((unsigned) (mDelay + mMargin + mBlockSize), "ZBuffer");

    // Above 192 kHz the longest region outgrows the usual solver size; size
    // it for the rate instead of writing past it.
    const auto capacity = std::max<unsigned> (kMinRegionCapacity, (unsigned) (mMaxRun + 2 * mMargin));
    if (capacity != mSmoother.getCapacity())
    {
        mSmoother.setCapacity (capacity);
        mWeights.assign (capacity, 1.0f);
        mCurve.assign (capacity, 0.0f);
    }
    mPredictiveFill.setCapacity (predictorOrder (mSampleRate, mMargin), mMaxRun, mDelay + mBlockSize);
}

int ZDeclipping::getLatency() const
{
    return (int) mDelay + (int) mSoftClip->getLatency();
}

void ZDeclipping::reset()
{
    mHistory->clear();
    mNegativeClipLevel = -1.0f;
    mPositiveClipLevel = 1.0f;
    mScanStart = mMargin;
    mRunningMaximum = 0.0f;
    mRunningMinimum = 0.0f;
    mNegativeStartBin = 180;
    mPositiveStartBin = 220;
    mSoftClip->clear();
}

bool ZDeclipping::process (const ZBuffer& in, ZBuffer& out, unsigned numSamples) noexcept
{
    const auto n = (std::int64_t) std::min ({ numSamples, (unsigned) mBlockSize, in.getLength(), out.getLength() });
    if (n <= 0)
        return false;

    float* h = mHistory->getData();
    guardCopy (in.getData(), h + mInputOffset, (std::size_t) n);

    trackLevels (h + mInputOffset, n);

    bool repaired = false;
    std::int64_t lastEnd = -1;
    if (enabled)
        repaired = repairRuns (std::max (mScanStart, mMargin), mMargin + n - 1, lastEnd);

    mGain->scaleCopyRange (*mHistory, out, 0, (unsigned) n, mOutputGain);

    // Only the delay line [0, D) carries over; new samples land behind it.
    std::memmove (h, h + n, sizeof (float) * (std::size_t) mDelay);

    mScanStart = repaired ? std::max (mMargin, lastEnd + 1 - n) : mMargin;

    mSoftClip->process (out, out);
    return repaired;
}

void ZDeclipping::trackLevels (const float* x, std::int64_t n)
{
    for (std::int64_t start = 0; start < n; start += mChunkLength)
    {
        const std::int64_t count = std::min (mChunkLength, n - start);
        float* hist = mHistogram;
        std::fill (hist, hist + kHistogramBins, 0.0f);

        for (std::int64_t i = start; i < start + count; ++i)
        {
            const float v = x[i];
            hist[binOf (v)] += 1.0f;

            if (v > mRunningMaximum)
            {
                mRunningMaximum = v;
                if (v > 0.2f)
                    mPositiveStartBin = startBinOf (v);
            }
            else if (v < mRunningMinimum)
            {
                mRunningMinimum = v;
                if (v < -0.2f)
                    mNegativeStartBin = startBinOf (v);
            }
        }

        const float budget = (float) count * mBudgetFraction;
        const float zeroBin = mZeroBinRatio * hist[kZeroBin];

        // Clipping shows as a spike at an extreme of the histogram, far taller
        // than the bins 0.025 further in and than the zero bin.
        if (mNegativeStartBin >= 1)
        {
            const std::int64_t end = std::min<std::int64_t> (mNegativeStartBin, kHistogramBins - 5);
            float sum = 0.0f;
            for (std::int64_t i = 0; i < end && budget > sum; ++i)
            {
                if (hist[i] > mSpikeRatio * hist[i + 5] && hist[i] > zeroBin && hist[i] >= kMinSpikeSamples)
                {
                    const float candidate = (float) (i + 5) * 0.005f - 1.0f;
                    if (candidate > -1.0f)
                        mNegativeClipLevel = candidate;
                    break;
                }
                sum += hist[i];
            }
        }

        if (mPositiveStartBin < 399)
        {
            const std::int64_t end = std::max<std::int64_t> (mPositiveStartBin, 4);
            float sum = 0.0f;
            for (std::int64_t i = 399; i > end && budget > sum; --i)
            {
                if (hist[i] > mSpikeRatio * hist[i - 5] && hist[i] > zeroBin && hist[i] >= kMinSpikeSamples)
                {
                    const float candidate = (float) (i - 4) * 0.005f - 1.0f;
                    if (candidate < 1.0f)
                        mPositiveClipLevel = candidate;
                    break;
                }
                sum += hist[i];
            }
        }
    }
}

bool ZDeclipping::repairRuns (std::int64_t first, std::int64_t last, std::int64_t& lastEnd)
{
    float* h = mHistory->getData();
    const float positive = mPositiveClipLevel;
    const float negative = mNegativeClipLevel;
    const std::int64_t m = mMargin;
    bool repaired = false;
    bool learned = false;

    for (std::int64_t i = first; i <= last;)
    {
        while (i <= last && ! (h[i] >= positive || h[i] <= negative))
            ++i;
        if (i > last)
            break;

        const std::int64_t s = i;
        std::int64_t e = s;
        if (h[s] >= positive)
            while (e + 1 < s + mMaxRun && h[e + 1] >= positive)
                ++e;
        else
            while (e + 1 < s + mMaxRun && h[e + 1] <= negative)
                ++e;

        const std::int64_t runLength = e - s + 1;
        const std::int64_t count = runLength + 2 * m;
        float* w = mWeights.data();
        std::fill (w, w + m, 1.0f);
        std::fill (w + m, w + m + runLength, kRunWeight);
        std::fill (w + m + runLength, w + count, 1.0f);

        float* curve = mCurve.data();
        std::copy (h + s - m, h + s - m + count, curve);
        mSmoother.smooth (curve, w, (unsigned) count, mLambda);

        // Levels still at full scale were never seen clipping: a sample there
        // is redrawn from its neighbours alone, as a click would be.
        const bool positiveRun = h[s] >= positive;
        const float level = positiveRun ? positive : negative;
        const bool learnedLevel = positiveRun ? positive < 1.0f : negative > -1.0f;

        // One predictor per call, from everything the history holds now.
        if (learnedLevel && ! learned)
        {
            mPredictiveFill.learn (h, mDelay + last + 1 - m, negative, positive);
            learned = true;
        }

        if (learnedLevel && mPredictiveFill.fill (h, s, e, level))
        {
            // The true samples lay at or beyond the level.
            for (std::int64_t i = 0; i < runLength; ++i)
            {
                const float v = kCurveShare * curve[m + i] + (1.0f - kCurveShare) * h[s + i];
                h[s + i] = positiveRun ? std::max (v, level) : std::min (v, level);
            }
        }
        else
        {
            std::copy (curve, curve + count, h + s - m);
        }

        repaired = true;
        lastEnd = e;
        i = e + 1;
    }

    return repaired;
}

} // namespace quarn
