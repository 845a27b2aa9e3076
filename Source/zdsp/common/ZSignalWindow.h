#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZGain.h"

namespace quarn
{

// A window and its element-wise inverse. Types: 0 Hamming, 1 Hann,
// 2 Kaiser (parameter = stop-band attenuation in dB), 3 Blackman, 4 triangular.
class ZSignalWindow : protected ZDSPObject
{
public:
    ZSignalWindow();
    ~ZSignalWindow() override;

    using ZDSPObject::getName;

    static ZSignalWindow* create (unsigned size, unsigned type, float parameter);

    virtual void init (unsigned size, unsigned type, float parameter);
    virtual void normalizeForPower (unsigned overlap);
    virtual void normalizeForAmplitude (unsigned overlap);
    virtual void apply (ZBuffer& buffer);
    virtual void applyTo (const ZBuffer& source, ZBuffer& destination);
    virtual void remove (const ZBuffer& source, ZBuffer& destination);
    virtual float getSum() const { return mSum; }
    virtual float getSumOfSquares() const { return mSumOfSquares; }
    virtual float* getWindowData();

    const ZBuffer* getWindow() const noexcept { return mWindow; }
    const ZBuffer* getInverseWindow() const noexcept { return mInverseWindow; }

private:
    ZGain* mGain = nullptr;
    ZBuffer* mWindow = nullptr;
    ZBuffer* mInverseWindow = nullptr;
    float mSum = 0.0f;
    float mSumOfSquares = 0.0f;
};

// Hamming-only window used by the overlap-add framer.
class ZHammingWindow : protected ZDSPObject
{
public:
    ZHammingWindow();
    ~ZHammingWindow() override;

    using ZDSPObject::getName;

    static ZHammingWindow* create (unsigned size);

    virtual void init (unsigned size);
    virtual void normalizeForPower (unsigned overlap);
    virtual void normalizeForAmplitude (unsigned overlap);
    virtual void apply (ZBuffer& buffer);
    virtual void applyTo (const ZBuffer& source, ZBuffer& destination);
    virtual void remove (const ZBuffer& source, ZBuffer& destination);

    const ZBuffer* getWindow() const noexcept { return mWindow; }
    const ZBuffer* getInverseWindow() const noexcept { return mInverseWindow; }

private:
    ZGain* mGain = nullptr;
    ZBuffer* mWindow = nullptr;
    ZBuffer* mInverseWindow = nullptr;
};

} // namespace quarn
