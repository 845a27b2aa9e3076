#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZGain.h"

#include <atomic>

namespace quarn
{

// Smooths a per-bin curve across frequency with the centre half of a Hamming
// window (2w - 1 taps that sum to 1), and a few related shapers. Input and
// output must be different buffers of at least 2w values.
class ZSpectralSmoother : protected ZDSPObject
{
public:
    ZSpectralSmoother();
    ~ZSpectralSmoother() override;

    using ZDSPObject::getName;

    static ZSpectralSmoother* create (unsigned halfWidth);

    virtual void init (unsigned halfWidth);
    // Leaves the lowest bins (max(w - 1, m / 16)) and the top w bins unsmoothed.
    virtual void smooth (const ZBuffer& in, ZBuffer& out);
    // As smooth, leaving only the lowest w bins unsmoothed.
    virtual void smoothFull (const ZBuffer& in, ZBuffer& out);
    // Each bin becomes the largest of its own value and its neighbours' values
    // decayed per bin (0.4 .. 0.8 upward, 0.2 .. 0.6 downward, growing with frequency).
    virtual void spread (const ZBuffer& in, ZBuffer& out);
    // Running median over w values.
    virtual void median (const ZBuffer& in, ZBuffer& out);

    unsigned getHalfWidth() const noexcept { return mHalfWidth; }
    const float* getKernel() const noexcept { return mKernel; }

private:
    void smoothFrom (unsigned start, const ZBuffer& in, ZBuffer& out);

    unsigned mHalfWidth = 0;
    float* mKernel = nullptr;
    float* mSortScratch = nullptr;
};

// The per-bin gain stage of broadband noise reduction. Follows each bin's power
// over time, compares it in dB with a per-bin threshold plus a common offset,
// and attenuates the bins below it through a tabulated gain curve, smoothed
// across frequency. Level tracking relaxes the attenuation when the whole frame
// is loud. processNoiseOnly returns exactly what process removes.
//
// The per-bin tables (thresholds, gain curve, attack and release) are
// rewritten in place: their setters belong to the thread that runs process,
// between frames, or to any thread while process does not run. The scalar
// settings are atomic and may be set from anywhere.
class ZSpectralCompressor : protected ZDSPObject
{
public:
    static constexpr unsigned kGainTableSize = 256;

    ZSpectralCompressor();
    ~ZSpectralCompressor() override;

    using ZDSPObject::getName;

    static ZSpectralCompressor* create (unsigned bins, float sampleRate);

    virtual void init (unsigned bins, float sampleRate);
    // Attack[i] runs linearly from low (bin 0) to high (last bin).
    virtual void setAttack (float low, float high);
    // Release[i] runs linearly from 1 - low (bin 0) to 1 - high (last bin).
    virtual void setRelease (float low, float high);
    // Table entry k is the gain for a bin whose dB distance from its threshold
    // truncates to k - 128: full reduction up to 1 dB above the threshold,
    // easing by `slope` dB per dB above it. Non-finite arguments are ignored.
    virtual void setGainCurve (float reductionDb, float slope);
    virtual void setThresholds (const ZBuffer& thresholds);
    // As many values as the shorter of count and the bin count.
    void setThresholds (const float* thresholds, unsigned count) noexcept;
    virtual void setThreshold (float db);
    virtual void setThresholdOffset (float db);
    virtual const ZBuffer& getThresholds() const;
    virtual float getThresholdOffset() const;
    virtual void setSampleRate (float rate);
    virtual void setTrack (bool track);
    virtual bool getTrack() const;
    virtual void setTrackFloor (float db);
    virtual void setTrackRange (float db);
    virtual void setLevelAttack (float seconds);
    virtual void setLevelRelease (float seconds);
    // Bins between lower and upper are reduced, bins outside pass unchanged.
    virtual void setFrequencyRange (float upperHz, float lowerHz);
    // out may be the same buffers as in. Buffers shorter than the bin count
    // leave the outputs untouched.
    virtual void process (const ZBuffer& re, const ZBuffer& im, ZBuffer& outRe, ZBuffer& outIm) noexcept;
    virtual void processNoiseOnly (const ZBuffer& re, const ZBuffer& im, ZBuffer& outRe, ZBuffer& outIm) noexcept;
    virtual void reset() noexcept;

    unsigned getNumBins() const noexcept { return mNumBins; }
    float getUpperLimit() const noexcept { return mUpperLimit.load (std::memory_order_relaxed); }
    float getLowerLimit() const noexcept { return mLowerLimit.load (std::memory_order_relaxed); }
    float getLevel() const noexcept { return mLevel; }
    float getTrackFloor() const noexcept { return mTrackFloor.load (std::memory_order_relaxed); }
    const ZBuffer* getGainTable() const noexcept { return mCurveSet ? mGainTable : nullptr; }
    const ZBuffer& getAttack() const noexcept { return *mAttack; }
    const ZBuffer& getRelease() const noexcept { return *mRelease; }
    // The gains the last frame applied.
    const ZBuffer& getAppliedGains() const noexcept { return *mSpectralGain; }

private:
    void release();
    void updateLevelCoefficients();
    // Steps 1, 2 and 4 of a frame: smoothed power per bin, in dB, in mSpectralPower.
    // Returns the frame's total power.
    float followPower (const ZBuffer& re, const ZBuffer& im);
    void applyGains (const ZBuffer& re, const ZBuffer& im, ZBuffer& outRe, ZBuffer& outIm);
    bool buffersFit (const ZBuffer& re, const ZBuffer& im, const ZBuffer& outRe, const ZBuffer& outIm) const noexcept;
    int tableIndex (float powerDb, float thresholdDb, float offset) const noexcept;
    // Steps 3 and 5: each bin's gain from the table, smoothed across frequency,
    // in mSpectralGain; with removedPart, 1 minus that gain (what process removes).
    void tableGains (bool removedPart);

    unsigned mNumBins = 0;
    ZGain* mGain = nullptr;
    ZSpectralSmoother* mSmoother = nullptr;
    ZBuffer* mOutDelay = nullptr;
    ZBuffer* mAttack = nullptr;
    ZBuffer* mRelease = nullptr;
    ZBuffer* mSpectralPower = nullptr;
    ZBuffer* mSpectralGain = nullptr;
    ZBuffer* mGainTable = nullptr;
    ZBuffer* mThresholds = nullptr;
    // The table is allocated with the object so that a later setGainCurve
    // never frees it under a running frame; until the first curve is set the
    // frames pass unchanged.
    std::atomic<bool> mCurveSet { false };
    std::atomic<float> mThresholdOffset { 0.0f };
    std::atomic<float> mLowerLimit { 0.0f };
    std::atomic<float> mUpperLimit { 48000.0f };
    std::atomic<float> mSampleRate { 44100.0f };
    float mLevel = 0.0f;
    std::atomic<float> mLevelAttackTime { 0.001f };
    std::atomic<float> mLevelReleaseTime { 0.005f };
    std::atomic<float> mLevelAttackCoefficient { 0.0f };
    std::atomic<float> mLevelReleaseCoefficient { 0.0f };
    std::atomic<float> mTrackFloor { 0.0f };
    std::atomic<float> mTrackRange { 6.0f };
    std::atomic<bool> mTrack { true };
};

} // namespace quarn
