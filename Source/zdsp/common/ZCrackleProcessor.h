#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZWhittakerSmoother.h"

#include <cstdint>

namespace quarn
{

// Removes crackle: short impulses that an adaptive linear predictor (5 taps,
// normalised LMS) fails to predict. Each impulse of up to 256 samples is
// redrawn by a Whittaker smoother, with ramped weights on 15 samples either
// side, in a delayed copy of the signal.
class ZCrackleProcessor : protected ZDSPObject
{
public:
    ZCrackleProcessor (unsigned blockSize, float sampleRate);
    ~ZCrackleProcessor() override;

    static ZCrackleProcessor* create (unsigned blockSize, float sampleRate);

    // Threshold in dB over the prediction-error envelope.
    void setThreshold (float dB);
    float getThresholdFactor() const noexcept { return mThresholdFactor; }
    // Rates that are not finite or not positive are refused.
    void setSampleRate (float sampleRate);
    float getSampleRate() const noexcept { return mSampleRate; }
    int getLatency() const { return (int) kLatency; }
    // Clears the history and the predictor; the error envelope keeps its value.
    void reset();

    // Returns true when an impulse was repaired in this call. Works on at most
    // one block of the block size.
    bool process (const ZBuffer& in, ZBuffer& out, unsigned numSamples) noexcept;

    // The predictor's adaptation step at the current rate.
    float getStepSize() const noexcept;
    float getEnvelope() const noexcept { return mEnvelope; }

private:
    static constexpr std::int64_t kLatency = 291;
    static constexpr std::int64_t kInputOffset = 291;
    static constexpr std::int64_t kScanStart = 15;
    static constexpr std::int64_t kMaxImpulse = 256;
    static constexpr int kTaps = 5;
    static constexpr int kRamp = 15;

    bool repair (std::int64_t n);

    float mThresholdFactor = 1.0f;
    ZBuffer* mSignal = nullptr;
    ZBuffer* mDetection = nullptr;
    ZBuffer* mError = nullptr;
    ZBuffer* mPrediction = nullptr;
    ZBuffer* mCoefficients = nullptr;
    float mEnvelope = 0.0f;
    std::int64_t mBlockSize = 512;
    float mSampleRate = 44100.0f;
    ZWhittakerSmoother mSmoother;
    float mWeights[2 * kRamp + kMaxImpulse + 2] = {};
};

} // namespace quarn
