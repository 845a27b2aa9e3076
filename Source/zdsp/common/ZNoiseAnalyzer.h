#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZFourierTransform.h"
#include "ZGain.h"
#include "ZSignalWindow.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarn
{

// Finds, in a whole recording, the stretch most likely to be pure background
// noise. Fed the first channel in 256-sample blocks, it measures per block the
// energy in three bands and, for every window of 50 consecutive blocks, how
// steady each band is. The steadiest window, widened over its steady
// neighbours, is the noise region; the score says how much steadier it is
// than the recording on average. A window that holds any digital silence is
// never chosen: the fade into a gap looks steadier than any real noise.
//
// Use: prepare(total samples), analyzeBlock for every block in order,
// finishAnalysis, then the getters. An analysis too short to compare two
// windows leaves every result at 0.
class ZNoiseAnalyzer : protected ZDSPObject
{
public:
    static constexpr int kBlockSize = 256;
    static constexpr int kWindowBlocks = 50;
    static constexpr int kNumBands = 3;
    static constexpr int kWarmUpBlocks = 3;

    ZNoiseAnalyzer();
    ~ZNoiseAnalyzer() override;

    using ZDSPObject::getName;

    virtual void setSampleRate (float rate) { mSampleRate = rate; }
    virtual int getBlockSize() const { return kBlockSize; }
    virtual std::int64_t getNoiseStart() const { return mNoiseStart; }
    virtual std::int64_t getNoiseLength() const { return mNoiseLength; }
    virtual float getConfidence() const { return mConfidence; }
    // v in [0, 1]; the tolerance ratio follows as 1.1 + 0.9 v.
    virtual void setSensitivity (float v);
    // r in [1.1, 2.0]; the sensitivity follows.
    virtual void setRatio (float r);
    virtual float getRatio() const { return mRatio; }
    float getSensitivity() const { return mSensitivity; }
    virtual void prepare (std::int64_t totalSamples);
    // One block of the first channel: up to 256 samples; a shorter block (the
    // end of a file) is padded with silence; non-finite samples count as 0.
    virtual void analyzeBlock (const float* samples, int numSamples);
    virtual void finishAnalysis();

    std::int64_t getBlocksAnalysed() const noexcept { return mBlocksAnalysed; }
    std::int64_t getCapacity() const noexcept { return mCapacity; }

private:
    float mRatio = 1.4f;
    float mSensitivity = 1.0f / 3.0f;
    float mSampleRate = 44100.0f;

    std::int64_t mNoiseStart = 0;
    std::int64_t mNoiseLength = 0;
    float mConfidence = 0.0f;

    std::int64_t mMinimumWindow = 0;
    std::int64_t mRegionStart = 0;
    std::int64_t mRegionEnd = 0;

    std::int64_t mCapacity = 0;
    std::int64_t mBlocksAnalysed = 0;
    std::int64_t mWarmUp = 0;
    std::int64_t mLastWindow = 0;

    std::unique_ptr<ZGain> mGain;
    std::unique_ptr<ZFourierTransform> mTransform;
    std::unique_ptr<ZSignalWindow> mWindow;
    std::unique_ptr<ZBuffer> mFFTBuffer;
    std::unique_ptr<ZBuffer> mWindowedBuffer;
    std::unique_ptr<ZBuffer> mRealFFTBuffer;
    std::unique_ptr<ZBuffer> mImagFFTBuffer;

    struct Band
    {
        int firstBin = 0;
        int lastBin = 0;
        std::array<double, kWindowBlocks> ring {};
        std::vector<float> steadiness;
        // Over the whole file, for the band's mean energy.
        double total = 0.0;
    };
    std::array<Band, kNumBands> mBands;
    std::vector<float> mScores;
    // Per block in the ring and per window: whether the block's frame was
    // digital silence, and whether the window holds any such block.
    std::array<bool, kWindowBlocks> mSilentRing {};
    std::vector<bool> mTouchesSilence;
};

} // namespace quarn
