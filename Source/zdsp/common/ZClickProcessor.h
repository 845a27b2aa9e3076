#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

#include <cstdint>

namespace quarn
{

// Removes clicks: samples whose magnitude exceeds a threshold times the
// median of the surrounding blocks' peaks. Each click of up to 512 samples is
// replaced by the time-reversed signal that precedes it, cross-faded in and
// out over 132 samples. Works on a delayed copy of the signal so that it can
// see the end of a click and the blocks after it.
class ZClickProcessor : protected ZDSPObject
{
public:
    ZClickProcessor (unsigned blockSize, float sampleRate);
    ~ZClickProcessor() override;

    static ZClickProcessor* create (unsigned blockSize, float sampleRate);

    // Threshold in dB over the median block peak.
    void setThreshold (float dB);
    float getThresholdFactor() const noexcept { return mThresholdFactor; }
    // Rates that are not finite or not positive are refused.
    void setSampleRate (float sampleRate);
    float getSampleRate() const noexcept { return mSampleRate; }
    int getLatency() const { return (int) mLatency; }
    void reset();

    // Returns the click-held flag: true from a repaired click on for 0.1 s.
    // Works on at most one block of the block size.
    bool process (const ZBuffer& in, ZBuffer& out, unsigned numSamples) noexcept;

    // Blocks of peak history on each side of the block being judged.
    int getMedianHalfWidth() const noexcept;

private:
    static constexpr int kPeakHistory = 13;
    static constexpr std::int64_t kOutputOffset = 644;
    static constexpr std::int64_t kMaskOffset = 1420;
    static constexpr std::int64_t kScanStart = 776;
    static constexpr std::int64_t kMaxClick = 512;
    static constexpr int kFade = 132;

    bool repair (std::int64_t n);

    float mThresholdFactor = 1.0f;
    ZBuffer* mSignal = nullptr;
    ZBuffer* mMask = nullptr;
    float mPeaks[kPeakHistory] = {};
    float mSortArea[kPeakHistory] = {};
    std::int64_t mBlockSize = 512;
    std::int64_t mLatency = 0;
    std::int64_t mInputOffset = 0;
    bool mClickHeld = false;
    std::uint32_t mHeldSamples = 0;
    float mSampleRate = 44100.0f;
};

} // namespace quarn
