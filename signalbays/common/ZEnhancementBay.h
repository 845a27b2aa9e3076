#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <memory>
#include <vector>

#include "ZBuffer.h"
#include "ZDelayBuffer.h"
#include "ZLinPhMultibandCompressor.h"

namespace quarn
{

// The "Enhance" bay: tone shaping by a 3-band linear-phase multiband
// compressor. Seven modes set the band edges and dynamics; the amount sets the
// bands' common threshold, and 0 switches the bay off. Whether active or not,
// the output is the input delayed by the compressor's latency, and a switch
// keeps feeding the output from the path being left until the path being
// entered has filled up.
class ZEnhancementBay
{
public:
    static constexpr int kNumBands = 3;
    static constexpr int kNumModes = 7;

    // The compressor handles at most two channels; the count is held to 1..2.
    ZEnhancementBay (const char* name, int channelCount);
    virtual ~ZEnhancementBay();

    ZEnhancementBay (const ZEnhancementBay&) = delete;
    ZEnhancementBay& operator= (const ZEnhancementBay&) = delete;

    // Rebuilds the compressor's transforms for the rate, then reset.
    virtual void setSampleRate (float rate);
    // Stores the size, then prepare.
    virtual void setBlockSize (int blockSize);
    // A new compressor and delay lines for the current size and rate, then the
    // current mode again.
    virtual bool prepare();
    virtual void reset();
    // numSamples (at most the block size) from in[c] to out[c] for every
    // channel; in and out are arrays of the per-channel buffers.
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples);
    // Modes 0..6 apply their band table; any other mode only resets.
    virtual void setMode (int mode);
    virtual int getMode() const { return mMode; }
    // A crossover of 0.0 leaves that crossover unchanged.
    virtual void setBand (int band, bool bypass, float crossoverBelow, float crossoverAbove,
                          float ratio, float range, float makeup, float attack, float release);

    // 0 switches the bay off; any other amount switches it on.
    void setAmount (float amount);
    float getAmount() const;

    int latency() const noexcept { return mLatency; }
    const char* getName() const noexcept { return mName.toRawUTF8(); }
    int getNumChannels() const noexcept { return mNumChannels; }
    bool isRunning() const noexcept { return mRunning != 0; }

    // The band settings and read-outs, for the controls and for inspection.
    const ZLinPhMultibandCompressor* getCompressor() const noexcept { return mCompressor.get(); }

private:
    void writeDelays (ZBuffer** in, int n);
    void readDelays (ZBuffer** out, int n);

    juce::String mName;
    int mNumChannels = 2;
    int mNumBands = kNumBands;
    float mSampleRate = 44100.0f;
    int mBlockSize = 512;
    int mMode = 0;
    int mRunning = 0;
    int mSwitchCounter = 0;
    int mLatency = 0;
    juce::Value mAmount { juce::var (0.0) };
    juce::Value mEnabled { juce::var (1) };

    std::unique_ptr<ZLinPhMultibandCompressor> mCompressor;
    std::vector<std::unique_ptr<ZDelayBuffer>> mDelays;
};

} // namespace quarn
