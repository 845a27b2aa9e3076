#include "ZGainAccelerate.h"
#include "ZVectorOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

namespace
{
const char* const kFile = "Source/zdsp/linux/ZGainAccelerate";

// The vectorised variant's peak: the largest value written, sign included.
inline float signedPeak (const ZBuffer& written, unsigned n) noexcept
{
    return vec::maxv (written.getData(), n);
}
} // namespace

ZGain* ZGain::create (bool generic)
{
    if (generic)
        return new ZGain();

    switch (getProcessorType())
    {
        case 3:
        case 4:
            return new ZGainAccelerate();
        case 1:
        case 2:
            return new ZGain();
        default:
            QJ_THROW ("Could not create a ZGain object", kFile);
    }
}

//==============================================================================
ZGainAccelerate::ZGainAccelerate()
{
    setName ("ZGainAccelerate");
}

ZGainAccelerate::~ZGainAccelerate()
{
    delete[] mRampTable;
    delete[] mScratchA;
    delete[] mScratchB;
}

const float* ZGainAccelerate::rampTable (unsigned n, float startGain, float endGain)
{
    if (mRampTable != nullptr && n == mRampLength && startGain == mRampStart && endGain == mRampEnd)
        return mRampTable;

    if (mRampTable == nullptr || n != mRampLength)
    {
        delete[] mRampTable;
        mRampTable = nullptr;
        mRampLength = 0;
        mRampTable = new float[n > 0 ? n : 1];
        mRampLength = n;
    }

    mRampStart = startGain;
    mRampEnd = endGain;
    vec::vramp (startGain, rampStep (n, startGain, endGain), mRampTable, n);
    return mRampTable;
}

void ZGainAccelerate::scale (ZBuffer& buffer, float gain)
{
    vec::vsmul (buffer.getData(), gain, buffer.getData(), buffer.getLength());
}

void ZGainAccelerate::scaleRange (ZBuffer& buffer, unsigned start, unsigned count, float gain)
{
    auto* d = buffer.getData() + start;
    vec::vsmul (d, gain, d, count);
}

void ZGainAccelerate::multiply (ZBuffer& buffer, const ZBuffer& by)
{
    vec::vmul (buffer.getData(), by.getData(), buffer.getData(), buffer.getLength());
}

void ZGainAccelerate::ramp (ZBuffer& buffer, float startGain, float endGain)
{
    const auto n = buffer.getLength();
    vec::vmul (buffer.getData(), rampTable (n, startGain, endGain), buffer.getData(), n);
}

float ZGainAccelerate::multiplyAndSum (ZBuffer& a, const ZBuffer& b, unsigned count)
{
    return vec::dotpr (a.getData(), b.getData(), count);
}

void ZGainAccelerate::scaleCopy (const ZBuffer& source, ZBuffer& destination, float gain)
{
    vec::vsmul (source.getData(), gain, destination.getData(), source.getLength());
}

void ZGainAccelerate::scaleCopyRange (const ZBuffer& source, ZBuffer& destination, unsigned start, unsigned count,
                                      float gain)
{
    vec::vsmul (source.getData() + start, gain, destination.getData() + start, count);
}

void ZGainAccelerate::multiplyCopy (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    vec::vmul (a.getData(), b.getData(), destination.getData(), a.getLength());
}

void ZGainAccelerate::rampCopy (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    const auto n = source.getLength();
    vec::vmul (source.getData(), rampTable (n, startGain, endGain), destination.getData(), n);
}

void ZGainAccelerate::scaleAdd (const ZBuffer& source, ZBuffer& destination, float gain)
{
    vec::vsma (source.getData(), gain, destination.getData(), destination.getData(), source.getLength());
}

void ZGainAccelerate::scaleAddCount (const ZBuffer& source, ZBuffer& destination, unsigned count, float gain)
{
    vec::vsma (source.getData(), gain, destination.getData(), destination.getData(), count);
}

void ZGainAccelerate::multiplyAdd (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    vec::vma (a.getData(), b.getData(), destination.getData(), destination.getData(), a.getLength());
}

void ZGainAccelerate::multiplyAddCount (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination, unsigned count)
{
    vec::vma (a.getData(), b.getData(), destination.getData(), destination.getData(), count);
}

void ZGainAccelerate::rampAdd (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    const auto n = source.getLength();
    vec::vma (source.getData(), rampTable (n, startGain, endGain), destination.getData(), destination.getData(), n);
}

float ZGainAccelerate::scaleAndPeak (ZBuffer& buffer, float gain)
{
    ZGainAccelerate::scale (buffer, gain);
    return signedPeak (buffer, buffer.getLength());
}

float ZGainAccelerate::multiplyAndPeak (ZBuffer& buffer, const ZBuffer& by)
{
    ZGainAccelerate::multiply (buffer, by);
    return signedPeak (buffer, buffer.getLength());
}

float ZGainAccelerate::rampAndPeak (ZBuffer& buffer, float startGain, float endGain)
{
    ZGainAccelerate::ramp (buffer, startGain, endGain);
    return signedPeak (buffer, buffer.getLength());
}

float ZGainAccelerate::scaleCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float gain)
{
    ZGainAccelerate::scaleCopy (source, destination, gain);
    return signedPeak (destination, source.getLength());
}

float ZGainAccelerate::multiplyCopyAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    ZGainAccelerate::multiplyCopy (a, b, destination);
    return signedPeak (destination, a.getLength());
}

float ZGainAccelerate::rampCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    ZGainAccelerate::rampCopy (source, destination, startGain, endGain);
    return signedPeak (destination, source.getLength());
}

float ZGainAccelerate::scaleAddAndPeak (const ZBuffer& source, ZBuffer& destination, float gain)
{
    ZGainAccelerate::scaleAdd (source, destination, gain);
    return signedPeak (destination, source.getLength());
}

float ZGainAccelerate::multiplyAddAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    ZGainAccelerate::multiplyAdd (a, b, destination);
    return signedPeak (destination, a.getLength());
}

float ZGainAccelerate::rampAddAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    ZGainAccelerate::rampAdd (source, destination, startGain, endGain);
    return signedPeak (destination, source.getLength());
}

void ZGainAccelerate::powerToDecibels (ZBuffer& buffer)
{
    auto* d = buffer.getData();
    const auto n = buffer.getLength();
    vec::vsadd (d, 1e-20f, d, n);
    vec::vdbconPower (d, 1.0f, d, n);
}

void ZGainAccelerate::powerToDecibels (ZBuffer& buffer, float floorDb)
{
    auto* d = buffer.getData();
    const auto n = buffer.getLength();
    vec::vsadd (d, std::pow (10.0f, floorDb / 10.0f), d, n);
    vec::vdbconPower (d, 1.0f, d, n);
}

void ZGainAccelerate::complexMultiply (const ZBuffer& aRe, const ZBuffer& aIm, const ZBuffer& bRe, const ZBuffer& bIm,
                                       ZBuffer& outRe, ZBuffer& outIm)
{
    const auto n = outRe.getLength();
    if (n < 1)
        return;

    if (n > mScratchCapacity)
    {
        delete[] mScratchA;
        delete[] mScratchB;
        mScratchA = mScratchB = nullptr;
        mScratchCapacity = 0;
        mScratchA = new float[n];
        mScratchB = new float[n];
        mScratchCapacity = n;
    }

    // The real part waits in scratch B until the imaginary part has been
    // computed, so outputs that are also inputs are read before being written.
    vec::vmul (aIm.getData(), bIm.getData(), mScratchA, n);
    vec::vmsb (aRe.getData(), bRe.getData(), mScratchA, mScratchB, n);
    vec::vmul (aIm.getData(), bRe.getData(), mScratchA, n);
    vec::vma (aRe.getData(), bIm.getData(), mScratchA, outIm.getData(), n);
    std::memcpy (outRe.getData(), mScratchB, sizeof (float) * n);
}

} // namespace quarn
