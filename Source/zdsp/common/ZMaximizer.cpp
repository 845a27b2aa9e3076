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
// silence times infinity is NaN).
inline float linearFromDb (float dB) noexcept
{
    return std::clamp (std::pow (10.0f, dB / 20.0f), FLT_MIN, FLT_MAX);
}
} // namespace

ZMaximizer::ZMaximizer (unsigned blockSize)
{
    setName ("ZMaximizer");
    mLookAhead.setBlockSize (blockSize);
}

ZMaximizer::~ZMaximizer() = default;

void ZMaximizer::prepare (double, int maxBlock)
{
    const auto blockSize = (unsigned) std::max (maxBlock, 1);
    if (blockSize != mLookAhead.getBlockSize())
        mLookAhead.setBlockSize (blockSize);
    reset();
}

void ZMaximizer::init()
{
    mCeilingDb.store (0.0f, std::memory_order_relaxed);
    mThresholdDb.store (0.0f, std::memory_order_relaxed);
    enabled = false;
    mTrim = 0.9998849f;
    reset();
}

void ZMaximizer::setCeiling (float dB)
{
    // NaN keeps the old value.
    if (! std::isnan (dB))
        mCeilingDb.store (dB, std::memory_order_relaxed);
}

void ZMaximizer::setThreshold (float dB)
{
    if (! std::isnan (dB))
        mThresholdDb.store (dB, std::memory_order_relaxed);
}

float ZMaximizer::getCeiling() const noexcept
{
    return linearFromDb (getCeilingDb());
}

float ZMaximizer::getThreshold() const noexcept
{
    return linearFromDb (getThresholdDb());
}

float ZMaximizer::getMakeup() const
{
    return getCeiling() / getThreshold();
}

float ZMaximizer::getMeter() const
{
    return 20.0f * std::log10 (mMeter.load (std::memory_order_relaxed));
}

void ZMaximizer::updateLevels (float ceilingDb, float thresholdDb) noexcept
{
    mCeiling = linearFromDb (ceilingDb);
    mThreshold = linearFromDb (thresholdDb);
    mMakeup = mCeiling / mThreshold;
    mLevelsCeilingDb = ceilingDb;
    mLevelsThresholdDb = thresholdDb;
}

void ZMaximizer::reset()
{
    mLookAhead.clear();
    mLookAhead.resetGains();
    mMeter.store (1.0f, std::memory_order_relaxed);
    updateLevels (getCeilingDb(), getThresholdDb());
}

void ZMaximizer::flush (ZBuffer& out)
{
    mLookAhead.flush (out);
}

void ZMaximizer::process (const ZBuffer& in, ZBuffer& out) noexcept
{
    const float ceilingDb = getCeilingDb();
    const float thresholdDb = getThresholdDb();
    if (ceilingDb != mLevelsCeilingDb || thresholdDb != mLevelsThresholdDb)
        updateLevels (ceilingDb, thresholdDb);

    const unsigned n = std::min ({ mLookAhead.getBlockSize(), in.getLength(), out.getLength() });
    const float peak = mLookAhead.hold (in, n);

    float required = 1.0f;
    if (enabled.load (std::memory_order_relaxed))
        required = peak > mThreshold ? mCeiling / peak : mMakeup;
    required *= mTrim;

    mLookAhead.playOut (out, n, required);
    mMeter.store (0.05f * required + 0.95f * mMeter.load (std::memory_order_relaxed), std::memory_order_relaxed);
}

} // namespace quarn
