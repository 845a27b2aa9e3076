#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZLookAheadBlock.h"

namespace quarn
{

// The boost and limiter at the end of the chain: a make-up gain that lifts
// the threshold level to the ceiling, and for blocks whose peak exceeds the
// threshold the gain that puts the peak at the ceiling. Works one block ahead,
// ramping the gain across each block so that no sample exceeds ceiling * trim.
class ZMaximizer : protected ZDSPObject
{
public:
    explicit ZMaximizer (unsigned blockSize = 512);
    ~ZMaximizer() override;

    using ZDSPObject::getName;

    virtual void init();
    virtual void setCeiling (float dB);
    virtual void setThreshold (float dB);
    virtual float getThresholdDb() const { return mThresholdDb; }
    virtual float getMakeup() const { return mMakeup; }
    virtual float getCeilingDb() const { return mCeilingDb; }
    virtual int getLatency() const { return (int) mLookAhead.getBlockSize(); }
    virtual float getMeter() const;
    // in and out may be the same buffer; both hold at least one block.
    virtual void process (const ZBuffer& in, ZBuffer& out);
    virtual void reset();
    virtual void flush (ZBuffer& out);

    float getTrim() const noexcept { return mTrim; }
    float getCeiling() const noexcept { return mCeiling; }
    float getThreshold() const noexcept { return mThreshold; }

    // The processor reads and writes this directly.
    bool enabled = false;

private:
    ZLookAheadBlock mLookAhead;
    float mCeiling = 1.0f;
    float mThreshold = 1.0f;
    float mCeilingDb = 0.0f;
    float mThresholdDb = 0.0f;
    float mMakeup = 1.0f;
    float mMeter = 1.0f;
    float mTrim = 0.9998849f;
};

} // namespace quarn
