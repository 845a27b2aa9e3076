#include "ZMaximizer.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

namespace quarn
{

namespace
{
// A level in dB as a linear factor that the make-up division can use: a very
// low threshold would underflow to 0 and make the make-up infinite (and
// silence times infinity is NaN); NaN keeps the old value.
inline float linearFromDb (float dB, float previous) noexcept
{
    if (std::isnan (dB))
        return previous;
    return std::clamp (std::pow (10.0f, dB / 20.0f), FLT_MIN, FLT_MAX);
}
} // namespace

ZMaximizer::ZMaximizer (unsigned blockSize)
    : mBlockSize (std::max (blockSize, 1u))
{
    setName ("ZMaximizer");
    mGain = ZGain::create (false);
    mInternalBuffer = new ZBuffer (mBlockSize, "mInternalBuffer");
    mInternalLookAheadBuffer = new ZBuffer (mBlockSize, "mInternalLookAheadBuffer");

    // The vectorised gain keeps a ramp table per block length; building it
    // here keeps the first process call free of allocation.
    mGain->rampCopy (*mInternalBuffer, *mInternalLookAheadBuffer, 1.0f, 1.0f);
}

ZMaximizer::~ZMaximizer()
{
    delete mGain;
    delete mInternalBuffer;
    delete mInternalLookAheadBuffer;
}

void ZMaximizer::init()
{
    mCeiling = mThreshold = mMakeup = 1.0f;
    enabled = false;
    mTrim = 0.9998849f;
    reset();
}

void ZMaximizer::setCeiling (float dB)
{
    mCeiling = linearFromDb (dB, mCeiling);
    mMakeup = mCeiling / mThreshold;
    if (! std::isnan (dB))
        mCeilingDb = dB;
}

void ZMaximizer::setThreshold (float dB)
{
    mThreshold = linearFromDb (dB, mThreshold);
    mMakeup = mCeiling / mThreshold;
    if (! std::isnan (dB))
        mThresholdDb = dB;
}

float ZMaximizer::getMeter() const
{
    return 20.0f * std::log10 (mMeter);
}

void ZMaximizer::reset()
{
    mInternalBuffer->clear();
    mInternalLookAheadBuffer->clear();
    mPreviousRequired = mLastApplied = mMeter = 1.0f;
}

void ZMaximizer::flush (ZBuffer& out)
{
    const unsigned n = std::min (mBlockSize, out.getLength());
    mGain->scaleCopyRange (*mInternalBuffer, out, 0, n, mPreviousRequired);
}

void ZMaximizer::process (const ZBuffer& in, ZBuffer& out)
{
    const unsigned n = std::min ({ mBlockSize, in.getLength(), out.getLength() });

    // Non-finite samples would turn the gain below into 0 * inf.
    const float peak = guardCopy (in.getData(), mInternalLookAheadBuffer->getData(), n);

    float required = 1.0f;
    if (enabled)
        required = peak > mThreshold ? mCeiling / peak : mMakeup;
    required *= mTrim;

    const float applied = std::min (required, mPreviousRequired);

    if (n == mBlockSize)
    {
        mGain->rampCopy (*mInternalBuffer, out, mLastApplied, applied);
    }
    else
    {
        const float* s = mInternalBuffer->getData();
        float* d = out.getData();
        const float step = n > 1 ? (applied - mLastApplied) / (float) (n - 1) : 0.0f;
        for (unsigned i = 0; i < n; ++i)
            d[i] = s[i] * (mLastApplied + step * (float) i);
    }

    mLastApplied = applied;
    mPreviousRequired = required;
    mMeter = 0.05f * required + 0.95f * mMeter;
    std::swap (mInternalBuffer, mInternalLookAheadBuffer);
}

} // namespace quarn
