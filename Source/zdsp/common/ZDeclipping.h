#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZGain.h"
#include "ZSoftClip.h"
#include "ZPredictiveFill.h"
#include "ZWhittakerSmoother.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace quarn
{

// Repairs clipped passages of one channel. The clip levels are learned from
// spikes at the extremes of the amplitude histogram of the incoming audio;
// runs at or beyond them are found in a delayed copy of the signal and redrawn,
// with a short margin either side, by a Whittaker smoother in which the clipped
// samples carry almost no weight. A soft clip at -0.1 dBFS follows, so that the
// restored peaks cannot exceed full scale. Switched off, the audio still passes
// the delay and the soft clip.
class ZDeclipping : protected ZDSPObject
{
public:
    ZDeclipping (unsigned blockSize = 512, float sampleRate = 44100.0f);
    ~ZDeclipping() override;

    void setDefaults();
    // Sizes everything for the rate and block size (rebuilt only when one of
    // them changes), then reset. Rates that are not finite or below 1 Hz are
    // refused (the old rate stays).
    void prepare (double sampleRate, int maxBlock);
    // prepare with the other figure unchanged.
    void setSampleRate (float sampleRate);
    void setBlockSize (unsigned blockSize);
    int getLatency() const;
    void reset();

    // Returns true when at least one run was repaired in this call. Works on
    // at most one block of the block size; out must hold a whole block.
    bool process (const ZBuffer& in, ZBuffer& out, unsigned numSamples) noexcept;

    float getNegativeClipLevel() const noexcept { return mNegativeClipLevel; }
    float getPositiveClipLevel() const noexcept { return mPositiveClipLevel; }
    std::int64_t getMaxRun() const noexcept { return mMaxRun; }
    std::int64_t getMargin() const noexcept { return mMargin; }
    std::int64_t getDelay() const noexcept { return mDelay; }
    std::int64_t getChunkLength() const noexcept { return mChunkLength; }
    float getSampleRate() const noexcept { return mSampleRate; }
    ZSoftClip& getSoftClip() noexcept { return *mSoftClip; }

    // The processor and the controls panel read and write this directly, from
    // any thread; process reads it once per block.
    std::atomic<bool> enabled { false };

private:
    static constexpr int kHistogramBins = 400;
    static constexpr int kZeroBin = 200;
    // The solver is sized for the longest region at 192 kHz at least.
    static constexpr unsigned kMinRegionCapacity = 5184;

    void recompute();
    void trackLevels (const float* x, std::int64_t n);
    bool repairRuns (std::int64_t first, std::int64_t last, std::int64_t& lastEnd);

    float mOutputGain = 1.0f;
    float mLambda = 1.0f;
    std::int64_t mBlockSize = 512;
    std::int64_t mInputOffset = 0;
    std::int64_t mDelay = 0;
    std::int64_t mScanStart = 0;
    std::int64_t mNegativeStartBin = 180;
    std::int64_t mPositiveStartBin = 220;
    std::int64_t mMaxRun = 1;
    std::int64_t mMargin = 1;
    std::int64_t mChunkLength = 1;
    float mSampleRate = 44100.0f;
    float mNegativeClipLevel = -1.0f;
    float mPositiveClipLevel = 1.0f;
    float mRunningMaximum = 0.0f;
    float mRunningMinimum = 0.0f;
    float mSpikeRatio = 9.92f;
    float mZeroBinRatio = 9.902f;
    float mBudgetFraction = 0.0104f;
    ZSoftClip* mSoftClip = nullptr;
    ZBuffer* mHistory = nullptr;
    float* mHistogram = nullptr;
    ZGain* mGain = nullptr;
    ZWhittakerSmoother mSmoother;
    std::vector<float> mWeights;
    // Where a clip level was learned, a run is drawn from both the smoother
    // and a predictor learned on the unclipped audio of the history; the
    // smoother alone serves where no predictor can be learned.
    ZPredictiveFill mPredictiveFill;
    std::vector<float> mCurve;
};

} // namespace quarn
