#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

#include <atomic>
#include <cstdint>

namespace quarn
{

// Downward expander: a per-sample power envelope, a gain law in dB with one
// ratio below and one above the threshold, and a ceiling on the gain.
//
// The setters may run on another thread than process: every setting is an
// atomic that process reads once per block, and the two forms of the
// threshold are published as one value so that a block never pairs the dB
// form of one setting with the linear form of another. prepare and reset
// must not run during process.
class ZExpander : protected ZDSPObject
{
public:
    ZExpander();
    ~ZExpander() override;

    using ZDSPObject::getName;

    // Takes the rate (the expander holds no block-sized state), then reset.
    void prepare (double sampleRate, int maxBlock);
    // The rate alone, the envelope carries on. Rates that are not positive
    // numbers are refused.
    virtual void setSampleRate (float sampleRate);
    virtual void setThresholdDb (float dB);
    virtual void setThresholdLinear (float value);
    virtual float getThresholdDb() const { return loadThreshold().db; }
    virtual float getThresholdLinear() const { return loadThreshold().linear; }
    virtual void setRatioBelow (float ratio) { mRatioBelow.store (ratio, std::memory_order_relaxed); }
    virtual float getRatioBelow() const { return mRatioBelow.load (std::memory_order_relaxed); }
    virtual void setRatioAbove (float ratio) { mRatioAbove.store (ratio, std::memory_order_relaxed); }
    virtual float getRatioAbove() const { return mRatioAbove.load (std::memory_order_relaxed); }
    virtual void setAttack (float ms);
    virtual float getAttack() const { return mAttackMs.load (std::memory_order_relaxed); }
    virtual void setRelease (float ms);
    virtual float getRelease() const { return mReleaseMs.load (std::memory_order_relaxed); }
    virtual int getLatency() const { return 0; }
    // Mean gain of the last processed block, in dB.
    virtual float getMeanGain() const { return mMeanGain.load (std::memory_order_relaxed); }
    virtual void setMaxGain (float dB);
    virtual float getMaxGain() const { return mMaxGain.load (std::memory_order_relaxed); }
    virtual void process (const ZBuffer& in, ZBuffer& out) noexcept;
    virtual void reset();

    float getAttackCoefficient() const noexcept { return coefficientFor (getAttack()); }
    float getReleaseCoefficient() const noexcept { return coefficientFor (getRelease()); }
    float getEnvelope() const noexcept { return mPower; }

    // When false the input is copied to the output. The processor reads and
    // writes this directly, from any thread.
    std::atomic<bool> enabled { false };

private:
    struct Threshold
    {
        float db, linear;
    };

    float coefficientFor (float ms) const noexcept;
    Threshold loadThreshold() const noexcept;
    void storeThreshold (Threshold threshold) noexcept;

    // Both forms of the threshold in one word.
    std::atomic<std::uint64_t> mThreshold { 0 };
    std::atomic<float> mRatioBelow { 1.0f };
    std::atomic<float> mRatioAbove { 1.0f };
    std::atomic<float> mAttackMs { 5.0f };
    std::atomic<float> mReleaseMs { 50.0f };
    std::atomic<float> mMaxGain { 3.0f };
    std::atomic<float> mSampleRate { 44100.0f };
    std::atomic<float> mMeanGain { 0.0f };

    // The processing thread's own: the envelope, and the coefficients with
    // the times and rate they were computed for.
    float mPower = 0.0f;
    float mAttackCoefficient = 0.0f;
    float mReleaseCoefficient = 0.0f;
    float mCoefficientAttackMs = -1.0f;
    float mCoefficientReleaseMs = -1.0f;
    float mCoefficientRate = -1.0f;
};

} // namespace quarn
