#pragma once

#include "ZGain.h"

namespace quarn
{

// The vectorised variant, on our vector layer (ZVectorOps). Keeps a ramp table
// and complex scratch arrays between calls: one object serves one thread.
class ZGainAccelerate : public ZGain
{
public:
    ZGainAccelerate();
    ~ZGainAccelerate() override;

    void scale (ZBuffer& buffer, float gain) override;
    void scaleRange (ZBuffer& buffer, unsigned start, unsigned count, float gain) override;
    void multiply (ZBuffer& buffer, const ZBuffer& by) override;
    void ramp (ZBuffer& buffer, float startGain, float endGain) override;
    float multiplyAndSum (ZBuffer& a, const ZBuffer& b, unsigned count) override;
    void scaleCopy (const ZBuffer& source, ZBuffer& destination, float gain) override;
    void scaleCopyRange (const ZBuffer& source, ZBuffer& destination, unsigned start, unsigned count, float gain) override;
    void multiplyCopy (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination) override;
    void rampCopy (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain) override;
    void scaleAdd (const ZBuffer& source, ZBuffer& destination, float gain) override;
    void scaleAddCount (const ZBuffer& source, ZBuffer& destination, unsigned count, float gain) override;
    void multiplyAdd (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination) override;
    void multiplyAddCount (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination, unsigned count) override;
    void rampAdd (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain) override;
    float scaleAndPeak (ZBuffer& buffer, float gain) override;
    float multiplyAndPeak (ZBuffer& buffer, const ZBuffer& by) override;
    float rampAndPeak (ZBuffer& buffer, float startGain, float endGain) override;
    float scaleCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float gain) override;
    float multiplyCopyAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination) override;
    float rampCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain) override;
    float scaleAddAndPeak (const ZBuffer& source, ZBuffer& destination, float gain) override;
    float multiplyAddAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination) override;
    float rampAddAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain) override;
    void powerToDecibels (ZBuffer& buffer) override;
    void powerToDecibels (ZBuffer& buffer, float floorDb) override;
    void complexMultiply (const ZBuffer& aRe, const ZBuffer& aIm, const ZBuffer& bRe, const ZBuffer& bIm,
                          ZBuffer& outRe, ZBuffer& outIm) override;

private:
    const float* rampTable (unsigned n, float startGain, float endGain);

    unsigned mRampLength = 0;
    float mRampStart = 0.0f;
    float mRampEnd = 0.0f;
    float* mRampTable = nullptr;

    unsigned mScratchCapacity = 0;
    float* mScratchA = nullptr;
    float* mScratchB = nullptr;
};

} // namespace quarn
