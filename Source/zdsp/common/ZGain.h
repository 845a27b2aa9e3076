#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

namespace quarn
{

// Element-wise operations on ZBuffers. Every DSP object owns one, made by
// ZGain::create(false), which gives the vectorised ZGainAccelerate on SSE-class
// processors. Callers keep every index inside the buffers (no checks here).
class ZGain : protected ZDSPObject
{
public:
    ZGain();
    ~ZGain() override;

    using ZDSPObject::getName;
    using ZDSPObject::setName;

    // generic: skip the probe and make a plain ZGain. Defined beside the
    // vector layer, which decides what the probe's answer gives.
    static ZGain* create (bool generic);

    // The per-sample step of a ramp from startGain to endGain over n samples,
    // in single precision as the loops have always stepped.
    static float rampStep (unsigned n, float startGain, float endGain) noexcept
    {
        return n > 1 ? (float) ((endGain - startGain) / (n - 1.0)) : 0.0f;
    }

    virtual void scale (ZBuffer& buffer, float gain);
    virtual void scaleRange (ZBuffer& buffer, unsigned start, unsigned count, float gain);
    virtual void multiply (ZBuffer& buffer, const ZBuffer& by);
    virtual void ramp (ZBuffer& buffer, float startGain, float endGain);
    virtual float multiplyAndSum (ZBuffer& a, const ZBuffer& b, unsigned count);
    virtual void scaleCopy (const ZBuffer& source, ZBuffer& destination, float gain);
    virtual void scaleCopyRange (const ZBuffer& source, ZBuffer& destination, unsigned start, unsigned count, float gain);
    virtual void multiplyCopy (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination);
    virtual void rampCopy (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain);
    virtual void multiplyCopyRange (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination,
                                    unsigned aStart, unsigned destinationStart, unsigned bStart, unsigned count);
    virtual void scaleAdd (const ZBuffer& source, ZBuffer& destination, float gain);
    virtual void scaleAddCount (const ZBuffer& source, ZBuffer& destination, unsigned count, float gain);
    virtual void multiplyAdd (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination);
    virtual void multiplyAddCount (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination, unsigned count);
    virtual void rampAdd (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain);
    virtual void scaleWithRange (ZBuffer& buffer, float& minimum, float& maximum, float gain);
    virtual float scaleAndPeak (ZBuffer& buffer, float gain);
    virtual float multiplyAndPeak (ZBuffer& buffer, const ZBuffer& by);
    virtual float rampAndPeak (ZBuffer& buffer, float startGain, float endGain);
    virtual float scaleCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float gain);
    virtual float multiplyCopyAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination);
    virtual float rampCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain);
    virtual float scaleAddAndPeak (const ZBuffer& source, ZBuffer& destination, float gain);
    virtual float multiplyAddAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination);
    virtual float rampAddAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain);
    virtual void scaleAddAt (const ZBuffer& source, ZBuffer& destination, unsigned destinationOffset, float gain);
    virtual void powerToDecibels (ZBuffer& buffer);
    virtual void powerToDecibels (ZBuffer& buffer, float floorDb);
    virtual void amplitudeToDecibels (ZBuffer& buffer);
    virtual void complexMultiply (const ZBuffer& aRe, const ZBuffer& aIm, const ZBuffer& bRe, const ZBuffer& bIm,
                                  ZBuffer& outRe, ZBuffer& outIm);
};

} // namespace quarn
