#include "ZSoftClip.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quarn
{

ZSoftClip::ZSoftClip()
{
    setName ("ZSoftClip");
}

ZSoftClip::~ZSoftClip()
{
    delete mGain;
    delete mInternalBuffer;
    delete mInternalLookAheadBuffer;
}

ZSoftClip* ZSoftClip::create (unsigned blockSize)
{
    auto* clip = new ZSoftClip();
    try
    {
        clip->init (blockSize);
    }
    catch (...)
    {
        delete clip;
        throw;
    }
    return clip;
}

void ZSoftClip::init (unsigned blockSize)
{
    mBlockSize = std::max (blockSize, 1u);
    mCeiling = mPreviousRequired = mLastApplied = 1.0f;

    delete mGain;
    mGain = nullptr;
    mGain = ZGain::create (false);
    createBuffers();
}

void ZSoftClip::setBlockSize (unsigned blockSize)
{
    mBlockSize = std::max (blockSize, 1u);
    createBuffers();
}

void ZSoftClip::createBuffers()
{
    delete mInternalBuffer;
    mInternalBuffer = nullptr;
    delete mInternalLookAheadBuffer;
    mInternalLookAheadBuffer = nullptr;

    mInternalBuffer = new ZBuffer (mBlockSize, "mInternalBuffer");
    mInternalLookAheadBuffer = new ZBuffer (mBlockSize, "mInternalLookAheadBuffer");

    // The vectorised gain keeps a ramp table per block length; building it
    // here keeps the first process call free of allocation.
    mGain->rampCopy (*mInternalBuffer, *mInternalLookAheadBuffer, 1.0f, 1.0f);
}

void ZSoftClip::setCeiling (float dB)
{
    if (std::isnan (dB))
        return;
    mCeiling = std::pow (10.0f, dB / 20.0f);
}

void ZSoftClip::clear()
{
    mInternalBuffer->clear();
    mInternalLookAheadBuffer->clear();
}

void ZSoftClip::flush (ZBuffer& out)
{
    const unsigned n = std::min (mBlockSize, out.getLength());
    mGain->scaleCopyRange (*mInternalBuffer, out, 0, n, mPreviousRequired);
}

void ZSoftClip::process (const ZBuffer& in, ZBuffer& out)
{
    const unsigned n = std::min ({ mBlockSize, in.getLength(), out.getLength() });

    // Non-finite samples would turn the gain below into 0 * inf.
    const float peak = guardCopy (in.getData(), mInternalLookAheadBuffer->getData(), n);

    float required = 1.0f;
    if (peak > mCeiling && enabled)
        required = mCeiling * 0.9999f / peak;

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
    std::swap (mInternalBuffer, mInternalLookAheadBuffer);
}

} // namespace quarn
