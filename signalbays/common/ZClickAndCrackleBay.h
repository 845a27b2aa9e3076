#pragma once

#include "ZBuffer.h"
#include "ZClickProcessor.h"
#include "ZCrackleProcessor.h"

#include <juce_core/juce_core.h>
#include <atomic>
#include <memory>
#include <vector>

namespace quarn
{

// The "Declick" bay: per channel a click detector-repairer followed by a
// crackle detector-repairer. One amount sets both detection thresholds.
//
// Threads: setAmount may run on any one thread while process runs on the
// processing thread; the thresholds are atomics that process reads once per
// block. prepare and reset must not run during process.
class ZClickAndCrackleBay
{
public:
    ZClickAndCrackleBay (const char* name, int channelCount);
    virtual ~ZClickAndCrackleBay();

    // Builds the processors for the rate and block size (again only when the
    // block size changes; a new rate is handed to the running ones), then reset.
    void prepare (double sampleRate, int maxBlock);
    // prepare with the other figure unchanged; before the first prepare the
    // rate is only stored.
    virtual void setSampleRate (float sampleRate);
    virtual void setBlockSize (int blockSize);
    // prepare with the current rate and block size.
    virtual bool prepare();
    virtual void reset();
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples) noexcept;

    // Amount 0 gives thresholds of 30 dB (click) and 30 dB (crackle), amount 1
    // gives 3 dB and 10 dB, linearly in between.
    void setAmount (float amount);
    float getAmount() const noexcept { return mAmount.load (std::memory_order_relaxed); }
    int getLatency() const noexcept { return mLatency; }
    int latency() const noexcept { return getLatency(); }

    double getClickThreshold() const noexcept { return mClickThreshold.load (std::memory_order_relaxed); }
    double getCrackleThreshold() const noexcept { return mCrackleThreshold.load (std::memory_order_relaxed); }
    // True while any channel's click stage reports a click in the last 0.1 s.
    bool isClickActive() const noexcept { return mClickActive.load(); }

    const juce::String& getName() const noexcept { return mName; }
    unsigned getNumChannels() const noexcept { return mChannelCount; }
    int getBlockSize() const noexcept { return mBlockSize; }
    float getSampleRate() const noexcept { return mSampleRate; }

private:
    bool isBuilt() const noexcept { return mChannelCount == 0 || mClick[0] != nullptr; }

    juce::String mName;
    unsigned mChannelCount = 0;
    float mSampleRate = 44100.0f;
    int mBlockSize = 512;
    int mLatency = 0;
    std::atomic<float> mAmount { 0.0f };
    std::atomic<double> mClickThreshold { 30.0 };
    std::atomic<double> mCrackleThreshold { 30.0 };
    std::vector<std::unique_ptr<ZClickProcessor>> mClick;
    std::vector<std::unique_ptr<ZCrackleProcessor>> mCrackle;
    std::atomic<bool> mClickActive { false };
};

} // namespace quarn
