#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

#include <atomic>

namespace quarn
{

// A second-order recursive filter (transposed direct form II) with eight
// characteristics chosen by number:
//   0 unity, 1 peaking, 2 low shelf, 3 high shelf, 4 low-pass, 5 high-pass,
//   6 band-pass (0 dB peak), 7 notch; any other type is unity.
// New coefficients wait until the start of the next processed block, so the
// parameters can change between blocks without a glitch inside one; the filter
// state carries over. setParameters may run on another thread than process
// (one such thread at a time); no lock is taken, and a block never starts with
// half of one set and half of another.
class ZParametricFilter : protected ZDSPObject
{
public:
    struct Coefficients
    {
        float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f, a0 = 1.0f, a1 = 0.0f, a2 = 0.0f;
    };

    enum class Type : int { unity = 0, peaking, lowShelf, highShelf, lowPass, highPass, bandPass, notch };

    ZParametricFilter();
    ~ZParametricFilter() override = default;

    using ZDSPObject::getName;

    // A filter at the rate that passes the signal unchanged.
    static ZParametricFilter* create (float sampleRate);

    // Ignored entirely unless frequency > 0 and Q > 0 (and the coefficients
    // come out finite). A frequency at or above half the rate is taken as
    // 0.475 of the rate.
    virtual void setParameters (int type, float frequency, float q, float gainDb);
    void setParameters (Type type, float frequency, float q, float gainDb) { setParameters ((int) type, frequency, q, gainDb); }
    virtual void setSampleRate (float sampleRate);
    // in and out may be the same buffer. An output shorter than the input, or
    // a rate that is not positive, leaves the output untouched.
    virtual void process (const ZBuffer& in, ZBuffer& out) noexcept;
    virtual void reset() noexcept;

    // Runs filters[0] .. filters[count - 1] over the buffer in place, each on
    // the previous one's output, exactly as calling process on each in turn
    // would, but sample by sample through the whole chain so that the
    // filters' recursions overlap instead of waiting on one another.
    static void processChain (ZParametricFilter* const* filters, int count, ZBuffer& buffer) noexcept;

    int getType() const noexcept { return mType; }
    float getSampleRate() const noexcept { return mSampleRate.load (std::memory_order_relaxed); }
    float getFrequency() const noexcept { return mFrequency; }
    float getQ() const noexcept { return mQ; }
    float getGain() const noexcept { return mGainDb; }
    // The set the last processed block used.
    const Coefficients& getActiveCoefficients() const noexcept { return mActive; }

private:
    bool takePending() noexcept;
    template <int N>
    static void runChain (ZParametricFilter* const* filters, float* x, unsigned n) noexcept;

    int mType = 0;
    std::atomic<float> mSampleRate { 0.0f };
    float mFrequency = 0.0f;
    float mQ = 0.0f;
    float mGainDb = 0.0f;
    Coefficients mActive;
    // b0, b1, b2, a1, a2 waiting to be taken over at the next block; the
    // serial is odd while a set is being written.
    std::atomic<float> mPending[5] = { 1.0f, 0.0f, 0.0f, 0.0f, 0.0f };
    std::atomic<unsigned> mPendingSerial { 0 };
    float mS1 = 0.0f;
    float mS2 = 0.0f;
    std::atomic<bool> mPendingFlag { false };
};

} // namespace quarn
