#pragma once

#include "ZBuffer.h"
#include "ZClickProcessor.h"
#include "ZCrackleProcessor.h"

#include <juce_data_structures/juce_data_structures.h>
#include <atomic>
#include <memory>
#include <vector>

namespace quarn
{

// The "Declick" bay: per channel a click detector-repairer followed by a
// crackle detector-repairer. One amount sets both detection thresholds.
class ZClickAndCrackleBay
{
public:
    ZClickAndCrackleBay (const char* name, int channelCount);
    virtual ~ZClickAndCrackleBay();

    virtual void setSampleRate (float sampleRate);
    // Stores the block size and rebuilds the processors (clearing their state).
    virtual void setBlockSize (int blockSize);
    // Builds fresh processors for the current block size and sample rate.
    virtual bool prepare();
    virtual void reset();
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples);

    // Amount 0 gives thresholds of 30 dB (click) and 30 dB (crackle), amount 1
    // gives 3 dB and 10 dB, linearly in between.
    void setAmount (float amount);
    float getAmount() const noexcept { return mAmount; }
    int latency() const noexcept { return mLatency; }

    double getClickThreshold() const;
    double getCrackleThreshold() const;
    // True while any channel's click stage reports a click in the last 0.1 s.
    bool isClickActive() const noexcept { return mClickActive.load(); }

    const juce::String& getName() const noexcept { return mName; }
    unsigned getNumChannels() const noexcept { return mChannelCount; }
    int getBlockSize() const noexcept { return mBlockSize; }
    float getSampleRate() const noexcept { return mSampleRate; }

private:
    juce::String mName;
    unsigned mChannelCount = 0;
    float mSampleRate = 44100.0f;
    int mBlockSize = 512;
    int mLatency = 0;
    float mAmount = 0.0f;
    juce::Value mClickThreshold;
    juce::Value mCrackleThreshold;
    std::vector<std::unique_ptr<ZClickProcessor>> mClick;
    std::vector<std::unique_ptr<ZCrackleProcessor>> mCrackle;
    std::atomic<bool> mClickActive { false };
};

} // namespace quarn
