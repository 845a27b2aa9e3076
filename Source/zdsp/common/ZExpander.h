#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

namespace quarn
{

// Downward expander: a per-sample power envelope, a gain law in dB with one
// ratio below and one above the threshold, and a ceiling on the gain.
class ZExpander : protected ZDSPObject
{
public:
    ZExpander();
    ~ZExpander() override;

    using ZDSPObject::getName;

    virtual void setSampleRate (float sampleRate);
    virtual void setThresholdDb (float dB);
    virtual void setThresholdLinear (float value);
    virtual float getThresholdDb() const { return mThresholdDb; }
    virtual float getThresholdLinear() const { return mThresholdLinear; }
    virtual void setRatioBelow (float ratio) { mRatioBelow = ratio; }
    virtual float getRatioBelow() const { return mRatioBelow; }
    virtual void setRatioAbove (float ratio) { mRatioAbove = ratio; }
    virtual float getRatioAbove() const { return mRatioAbove; }
    virtual void setAttack (float ms);
    virtual float getAttack() const { return mAttackMs; }
    virtual void setRelease (float ms);
    virtual float getRelease() const { return mReleaseMs; }
    virtual int getLatency() const { return 0; }
    // Mean gain of the last processed block, in dB.
    virtual float getMeanGain() const { return mMeanGain; }
    virtual void setMaxGain (float dB);
    virtual float getMaxGain() const { return mMaxGain; }
    virtual void process (const ZBuffer& in, ZBuffer& out);
    virtual void reset();

    float getAttackCoefficient() const noexcept { return mAttackCoefficient; }
    float getReleaseCoefficient() const noexcept { return mReleaseCoefficient; }
    float getEnvelope() const noexcept { return mPower; }

    // When false the input is copied to the output. The processor reads and
    // writes this directly.
    bool enabled = false;

private:
    float coefficientFor (float ms) const;

    float mThresholdDb = -96.0f;
    float mThresholdLinear = 1.5848926e-5f;
    float mRatioBelow = 1.0f;
    float mRatioAbove = 1.0f;
    float mAttackMs = 5.0f;
    float mReleaseMs = 50.0f;
    float mAttackCoefficient = 0.0f;
    float mReleaseCoefficient = 0.0f;
    float mPower = 0.0f;
    float mSampleRate = 44100.0f;
    float mMeanGain = 0.0f;
    float mMaxGain = 3.0f;
};

} // namespace quarn
