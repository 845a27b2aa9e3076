#include "ZLookAheadBlock.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <utility>

namespace quarn
{

ZLookAheadBlock::ZLookAheadBlock()
{
    mGain = ZGain::create (false);
}

ZLookAheadBlock::~ZLookAheadBlock()
{
    delete mGain;
    delete mInternalBuffer;
    delete mInternalLookAheadBuffer;
}

void ZLookAheadBlock::setBlockSize (unsigned blockSize)
{
    mBlockSize = std::max (blockSize, 1u);

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

void ZLookAheadBlock::clear() noexcept
{
    mInternalBuffer->clear();
    mInternalLookAheadBuffer->clear();
}

void ZLookAheadBlock::resetGains() noexcept
{
    mPreviousRequired = mLastApplied = 1.0f;
}

float ZLookAheadBlock::hold (const ZBuffer& in, unsigned n)
{
    // Non-finite samples would turn the limiters' gains into 0 * inf.
    return guardCopy (in.getData(), mInternalLookAheadBuffer->getData(), n);
}

void ZLookAheadBlock::playOut (ZBuffer& out, unsigned n, float required)
{
    const float applied = std::min (required, mPreviousRequired);

    if (n == mBlockSize)
    {
        mGain->rampCopy (*mInternalBuffer, out, mLastApplied, applied);
    }
    else
    {
        // A short buffer: the ramp still ends on `applied` at its last sample.
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

void ZLookAheadBlock::flush (ZBuffer& out)
{
    const unsigned n = std::min (mBlockSize, out.getLength());
    mGain->scaleCopyRange (*mInternalBuffer, out, 0, n, mPreviousRequired);
}

} // namespace quarn
