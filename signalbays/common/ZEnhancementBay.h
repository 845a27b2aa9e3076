#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
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
//
// Threads: setAmount and setMode may run on any one thread while process runs
// on the processing thread. The amount is an atomic read once per block; a
// mode is a request that process carries out at the start of its next block
// (reset and prepare carry out a waiting one at once), so the compressor and
// the delay lines are only ever touched by the thread that runs process.
// prepare and reset must not run during process.
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

    // Builds the compressor and delay lines for the rate and block size (the
    // first time, or again when either changes), then applies the current
    // mode, which also resets.
    void prepare (double sampleRate, int maxBlock);
    // prepare with the other figure unchanged; before the first prepare the
    // rate is only stored.
    virtual void setSampleRate (float rate);
    virtual void setBlockSize (int blockSize);
    // prepare with the current rate and block size.
    virtual bool prepare();
    // Carries out a waiting mode request; otherwise silences the compressor
    // and the delay lines.
    virtual void reset();
    // numSamples (at most the block size) from in[c] to out[c] for every
    // channel; in and out are arrays of the per-channel buffers.
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples) noexcept;
    // Modes 0..6 apply their band table; any other mode only resets. Taken
    // over at the next block; getMode reports it at once.
    virtual void setMode (int mode);
    virtual int getMode() const { return mMode.load (std::memory_order_acquire); }
    // Writes the compressor at once, so it belongs to the thread that runs
    // process (or to any thread while process does not run). A crossover of
    // 0.0 leaves that crossover unchanged.
    virtual void setBand (int band, bool bypass, float crossoverBelow, float crossoverAbove,
                          float ratio, float range, float makeup, float attack, float release);

    // 0 switches the bay off; any other amount switches it on.
    void setAmount (float amount);
    float getAmount() const;

    int getLatency() const noexcept { return mLatency; }
    int latency() const noexcept { return getLatency(); }
    const char* getName() const noexcept { return mName.toRawUTF8(); }
    int getNumChannels() const noexcept { return mNumChannels; }

    // The processing thread's state, the band settings and read-outs, for
    // inspection while process does not run.
    bool isRunning() const noexcept { return mRunning != 0; }
    const ZLinPhMultibandCompressor* getCompressor() const noexcept { return mCompressor.get(); }

private:
    void applyMode (int mode) noexcept;
    void silence() noexcept;
    void writeDelays (ZBuffer** in, int n) noexcept;
    void readDelays (ZBuffer** out, int n) noexcept;

    juce::String mName;
    int mNumChannels = 2;
    int mNumBands = kNumBands;
    float mSampleRate = 44100.0f;
    int mBlockSize = 512;
    int mLatency = 0;
    std::atomic<float> mAmount { 0.0f };
    std::atomic<int> mMode { 0 };
    std::atomic<bool> mModeRequested { false };

    // The processing thread's own.
    int mRunning = 0;
    int mSwitchCounter = 0;
    std::unique_ptr<ZLinPhMultibandCompressor> mCompressor;
    std::vector<std::unique_ptr<ZDelayBuffer>> mDelays;
};

} // namespace quarn
