#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZLookAheadBlock.h"

namespace quarn
{

// One-block look-ahead limiter: each output block is the previous input block
// under a gain ramp that never exceeds what its own peak and the next block's
// peak require, so no output sample exceeds ceiling * 0.9999.
class ZSoftClip : protected ZDSPObject
{
public:
    ZSoftClip();
    ~ZSoftClip() override;

    using ZDSPObject::getName;

    static ZSoftClip* create (unsigned blockSize);

    virtual void init (unsigned blockSize);
    virtual void setCeiling (float dB);
    virtual unsigned getLatency() const { return mLookAhead.getBlockSize(); }
    // in and out may be the same buffer. Works on one block of the block size
    // (fewer samples only when a buffer is shorter).
    virtual void process (const ZBuffer& in, ZBuffer& out) noexcept;
    virtual void clear();
    virtual void flush (ZBuffer& out);

    // Re-creates both buffers for a new block size, zeroed.
    void setBlockSize (unsigned blockSize);

    float getCeiling() const noexcept { return mCeiling; }

    bool enabled = true;

private:
    ZLookAheadBlock mLookAhead;
    float mCeiling = 1.0f;
};

} // namespace quarn
