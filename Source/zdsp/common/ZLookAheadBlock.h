#pragma once

#include "ZBuffer.h"
#include "ZGain.h"

namespace quarn
{

// The one-block look-ahead of the two limiters (ZMaximizer, ZSoftClip). Each
// call holds back the block it is given and plays out the block held from the
// call before, under a gain ramp from the gain the last block ended on to the
// smaller of the two blocks' required gains: a block is turned down before its
// peak arrives, and no sample gets more than its own block or the next allows.
class ZLookAheadBlock
{
public:
    ZLookAheadBlock();
    ~ZLookAheadBlock();

    ZLookAheadBlock (const ZLookAheadBlock&) = delete;
    ZLookAheadBlock& operator= (const ZLookAheadBlock&) = delete;

    // Re-creates both blocks for a new block size (at least 1), zeroed; the
    // gains are kept.
    void setBlockSize (unsigned blockSize);
    unsigned getBlockSize() const noexcept { return mBlockSize; }

    // Zeroes both blocks; the gains are kept.
    void clear() noexcept;
    // The ramp starts again from unity.
    void resetGains() noexcept;

    // Holds back the first n samples of `in` (n at most the block size),
    // through the sample guard; returns their largest magnitude. Call before
    // playOut: `in` may be the buffer that playOut writes.
    float hold (const ZBuffer& in, unsigned n);

    // Writes the block held by the previous call into `out`, ramped to
    // min (required, the previous call's required gain); the block just held
    // becomes the next one to play.
    void playOut (ZBuffer& out, unsigned n, float required);

    // The block still held, at the last required gain.
    void flush (ZBuffer& out);

private:
    unsigned mBlockSize = 0;
    ZGain* mGain = nullptr;
    ZBuffer* mInternalBuffer = nullptr;
    ZBuffer* mInternalLookAheadBuffer = nullptr;
    float mPreviousRequired = 1.0f;
    float mLastApplied = 1.0f;
};

} // namespace quarn
