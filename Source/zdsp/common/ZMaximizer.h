#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZLookAheadBlock.h"

#include <atomic>

namespace quarn
{

// The boost and limiter at the end of the chain: a make-up gain that lifts
// the threshold level to the ceiling, and for blocks whose peak exceeds the
// threshold the gain that puts the peak at the ceiling. Works one block ahead,
// ramping the gain across each block so that no sample exceeds ceiling * trim.
//
// The setters may run on another thread than process: ceiling and threshold
// are atomics that process reads once per block, and it derives the linear
// levels and the make-up from them itself, so a block never sees a make-up
// that belongs to another pair of settings. prepare, init and reset must not
// run during process.
class ZMaximizer : protected ZDSPObject
{
public:
    explicit ZMaximizer (unsigned blockSize = 512);
    ~ZMaximizer() override;

    using ZDSPObject::getName;

    // One block of look-ahead of maxBlock samples (rebuilt only when the size
    // changes), then reset. The maximizer does not depend on the rate.
    void prepare (double sampleRate, int maxBlock);
    virtual void init();
    virtual void setCeiling (float dB);
    virtual void setThreshold (float dB);
    virtual float getThresholdDb() const { return mThresholdDb.load (std::memory_order_relaxed); }
    virtual float getMakeup() const;
    virtual float getCeilingDb() const { return mCeilingDb.load (std::memory_order_relaxed); }
    virtual int getLatency() const { return (int) mLookAhead.getBlockSize(); }
    virtual float getMeter() const;
    // in and out may be the same buffer; both hold at least one block.
    virtual void process (const ZBuffer& in, ZBuffer& out) noexcept;
    virtual void reset();
    virtual void flush (ZBuffer& out);

    float getTrim() const noexcept { return mTrim; }
    float getCeiling() const noexcept;
    float getThreshold() const noexcept;

    // The processor reads and writes this directly, from any thread.
    std::atomic<bool> enabled { false };

private:
    void updateLevels (float ceilingDb, float thresholdDb) noexcept;

    ZLookAheadBlock mLookAhead;
    std::atomic<float> mCeilingDb { 0.0f };
    std::atomic<float> mThresholdDb { 0.0f };
    std::atomic<float> mMeter { 1.0f };
    float mTrim = 0.9998849f;

    // The processing thread's linear levels, and the settings they are for.
    float mCeiling = 1.0f;
    float mThreshold = 1.0f;
    float mMakeup = 1.0f;
    float mLevelsCeilingDb = 0.0f;
    float mLevelsThresholdDb = 0.0f;
};

} // namespace quarn
