#include "ZMaximizer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

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
{
    setName ("ZMaximizer");
    mLookAhead.setBlockSize (blockSize);
}

ZMaximizer::~ZMaximizer() = default;

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
    mLookAhead.clear();
    mLookAhead.resetGains();
    mMeter = 1.0f;
}

void ZMaximizer::flush (ZBuffer& out)
{
    mLookAhead.flush (out);
}

void ZMaximizer::process (const ZBuffer& in, ZBuffer& out)
{
    const unsigned n = std::min ({ mLookAhead.getBlockSize(), in.getLength(), out.getLength() });
    const float peak = mLookAhead.hold (in, n);

    float required = 1.0f;
    if (enabled)
        required = peak > mThreshold ? mCeiling / peak : mMakeup;
    required *= mTrim;

    mLookAhead.playOut (out, n, required);
    mMeter = 0.05f * required + 0.95f * mMeter;
}

} // namespace quarn
