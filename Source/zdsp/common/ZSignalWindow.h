#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZGain.h"

namespace quarn
{

// A window and its element-wise inverse, applied through a ZGain: what the
// general window and the Hamming-only one have in common. The derived classes
// fill the two buffers in their init.
class ZWindowPair : protected ZDSPObject
{
public:
    ~ZWindowPair() override;

    using ZDSPObject::getName;

    virtual void normalizeForPower (unsigned overlap);
    virtual void normalizeForAmplitude (unsigned overlap);
    virtual void apply (ZBuffer& buffer);
    virtual void applyTo (const ZBuffer& source, ZBuffer& destination);
    virtual void remove (const ZBuffer& source, ZBuffer& destination);

    const ZBuffer* getWindow() const noexcept { return mWindow; }
    const ZBuffer* getInverseWindow() const noexcept { return mInverseWindow; }

protected:
    ZWindowPair() = default;

    // Releases what an earlier init built, then creates the gain and both
    // buffers of `size` samples, zeroed. `file` names the class in the
    // exception thrown when the window cannot be allocated.
    void allocate (unsigned size, const char* file);

    ZGain* mGain = nullptr;
    ZBuffer* mWindow = nullptr;
    ZBuffer* mInverseWindow = nullptr;
};

// Types: 0 Hamming, 1 Hann, 2 Kaiser (parameter = stop-band attenuation in dB),
// 3 Blackman, 4 triangular.
class ZSignalWindow : public ZWindowPair
{
public:
    ZSignalWindow();

    static ZSignalWindow* create (unsigned size, unsigned type, float parameter);

    virtual void init (unsigned size, unsigned type, float parameter);
    virtual float getSum() const { return mSum; }
    virtual float getSumOfSquares() const { return mSumOfSquares; }
    virtual float* getWindowData();

private:
    float mSum = 0.0f;
    float mSumOfSquares = 0.0f;
};

// Hamming-only window used by the overlap-add framer.
class ZHammingWindow : public ZWindowPair
{
public:
    ZHammingWindow();

    static ZHammingWindow* create (unsigned size);

    virtual void init (unsigned size);
};

} // namespace quarn
