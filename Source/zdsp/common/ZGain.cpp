#include "ZGain.h"
#include "ZSampleGuard.h"
#include "ZVectorOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

namespace
{
const char* const kFile = "Source/zdsp/common/ZGain";

// A gain that moves linearly from its start value to its end value over n
// samples, stepping in single precision as the loops always have.
struct Ramp
{
    Ramp (unsigned n, float startGain, float endGain) noexcept
        : gain (startGain), step (n > 1 ? (float) ((endGain - startGain) / (n - 1.0)) : 0.0f) {}

    float next() noexcept
    {
        const float g = gain;
        gain += step;
        return g;
    }

    float gain, step;
};

// d[i] = value (i) for every i in order; returns the largest |d[i]| written.
template <typename Value>
inline float writeAndPeak (float* d, unsigned n, Value&& value) noexcept
{
    float peak = 0.0f;
    for (unsigned i = 0; i < n; ++i)
    {
        d[i] = value (i);
        peak = std::max (peak, std::abs (d[i]));
    }
    return peak;
}

// The vectorised variant's peak: the largest value written, sign included.
inline float signedPeak (const ZBuffer& written, unsigned n) noexcept
{
    return vec::maxv (written.getData(), n);
}
} // namespace

//==============================================================================
ZGain::ZGain()
{
    setName ("ZGain");
}

ZGain::~ZGain() = default;

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

void ZGain::scale (ZBuffer& buffer, float gain)
{
    auto* d = buffer.getData();
    const auto n = buffer.getLength();
    for (unsigned i = 0; i < n; ++i)
        d[i] = d[i] * gain;
}

void ZGain::scaleRange (ZBuffer& buffer, unsigned start, unsigned count, float gain)
{
    auto* d = buffer.getData() + start;
    for (unsigned i = 0; i < count; ++i)
        d[i] = d[i] * gain;
}

void ZGain::multiply (ZBuffer& buffer, const ZBuffer& by)
{
    auto* d = buffer.getData();
    const auto* b = by.getData();
    const auto n = buffer.getLength();
    for (unsigned i = 0; i < n; ++i)
        d[i] = d[i] * b[i];
}

void ZGain::ramp (ZBuffer& buffer, float startGain, float endGain)
{
    ZGain::rampAndPeak (buffer, startGain, endGain);
}

float ZGain::multiplyAndSum (ZBuffer& a, const ZBuffer& b, unsigned count)
{
    auto* d = a.getData();
    const auto* s = b.getData();
    float sum = 0.0f;
    for (unsigned i = 0; i < count; ++i)
    {
        d[i] = d[i] * s[i];
        sum += d[i];
    }
    return sum;
}

void ZGain::scaleCopy (const ZBuffer& source, ZBuffer& destination, float gain)
{
    ZGain::scaleCopyAndPeak (source, destination, gain);
}

void ZGain::scaleCopyRange (const ZBuffer& source, ZBuffer& destination, unsigned start, unsigned count, float gain)
{
    const auto* s = source.getData() + start;
    auto* d = destination.getData() + start;
    for (unsigned i = 0; i < count; ++i)
        d[i] = guardedProductMasked (s[i], gain);
}

void ZGain::multiplyCopy (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    ZGain::multiplyCopyAndPeak (a, b, destination);
}

void ZGain::rampCopy (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    ZGain::rampCopyAndPeak (source, destination, startGain, endGain);
}

void ZGain::multiplyCopyRange (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination,
                               unsigned aStart, unsigned destinationStart, unsigned bStart, unsigned count)
{
    const auto* x = a.getData() + aStart;
    const auto* y = b.getData() + bStart;
    auto* d = destination.getData() + destinationStart;
    for (unsigned i = 0; i < count; ++i)
        d[i] = guardedProductMasked (x[i], y[i]);
}

void ZGain::scaleAdd (const ZBuffer& source, ZBuffer& destination, float gain)
{
    ZGain::scaleAddAndPeak (source, destination, gain);
}

void ZGain::scaleAddCount (const ZBuffer& source, ZBuffer& destination, unsigned count, float gain)
{
    const auto* s = source.getData();
    auto* d = destination.getData();
    for (unsigned i = 0; i < count; ++i)
        d[i] += guardedProductMasked (s[i], gain);
}

void ZGain::multiplyAdd (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    ZGain::multiplyAddAndPeak (a, b, destination);
}

void ZGain::multiplyAddCount (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination, unsigned count)
{
    const auto* x = a.getData();
    const auto* y = b.getData();
    auto* d = destination.getData();
    for (unsigned i = 0; i < count; ++i)
        d[i] += guardedProductMasked (x[i], y[i]);
}

void ZGain::rampAdd (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    ZGain::rampAddAndPeak (source, destination, startGain, endGain);
}

void ZGain::scaleWithRange (ZBuffer& buffer, float& minimum, float& maximum, float gain)
{
    minimum = 100.0f;
    maximum = -100.0f;

    auto* d = buffer.getData();
    const auto n = buffer.getLength();

    // The range starts from the first value so that values beyond +-100 are
    // reported as they are; the +-100 pair only describes "no values".
    if (n > 0)
        minimum = maximum = d[0] * gain;

    for (unsigned i = 0; i < n; ++i)
    {
        const float p = d[i] * gain;
        d[i] = p;
        if (p > maximum) maximum = p;
        if (p < minimum) minimum = p;
    }
}

float ZGain::scaleAndPeak (ZBuffer& buffer, float gain)
{
    auto* d = buffer.getData();
    return writeAndPeak (d, buffer.getLength(), [=] (unsigned i) { return d[i] * gain; });
}

float ZGain::multiplyAndPeak (ZBuffer& buffer, const ZBuffer& by)
{
    auto* d = buffer.getData();
    const auto* b = by.getData();
    return writeAndPeak (d, buffer.getLength(), [=] (unsigned i) { return d[i] * b[i]; });
}

float ZGain::rampAndPeak (ZBuffer& buffer, float startGain, float endGain)
{
    auto* d = buffer.getData();
    Ramp ramp (buffer.getLength(), startGain, endGain);
    return writeAndPeak (d, buffer.getLength(), [&] (unsigned i) { return d[i] * ramp.next(); });
}

float ZGain::scaleCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float gain)
{
    const auto* s = source.getData();
    return writeAndPeak (destination.getData(), source.getLength(), [=] (unsigned i) { return guardedProductMasked (s[i], gain); });
}

float ZGain::multiplyCopyAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    const auto* x = a.getData();
    const auto* y = b.getData();
    return writeAndPeak (destination.getData(), a.getLength(), [=] (unsigned i) { return guardedProductMasked (x[i], y[i]); });
}

float ZGain::rampCopyAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    const auto* s = source.getData();
    Ramp ramp (source.getLength(), startGain, endGain);
    return writeAndPeak (destination.getData(), source.getLength(), [&] (unsigned i) { return guardedProductMasked (s[i], ramp.next()); });
}

float ZGain::scaleAddAndPeak (const ZBuffer& source, ZBuffer& destination, float gain)
{
    const auto* s = source.getData();
    auto* d = destination.getData();
    return writeAndPeak (d, source.getLength(), [=] (unsigned i) { return d[i] + guardedProductMasked (s[i], gain); });
}

float ZGain::multiplyAddAndPeak (const ZBuffer& a, const ZBuffer& b, ZBuffer& destination)
{
    const auto* x = a.getData();
    const auto* y = b.getData();
    auto* d = destination.getData();
    return writeAndPeak (d, a.getLength(), [=] (unsigned i) { return d[i] + guardedProductMasked (x[i], y[i]); });
}

float ZGain::rampAddAndPeak (const ZBuffer& source, ZBuffer& destination, float startGain, float endGain)
{
    const auto* s = source.getData();
    auto* d = destination.getData();
    Ramp ramp (source.getLength(), startGain, endGain);
    return writeAndPeak (d, source.getLength(), [&] (unsigned i) { return d[i] + guardedProductMasked (s[i], ramp.next()); });
}

void ZGain::scaleAddAt (const ZBuffer& source, ZBuffer& destination, unsigned destinationOffset, float gain)
{
    const auto* s = source.getData();
    auto* d = destination.getData() + destinationOffset;
    const auto n = source.getLength();
    for (unsigned i = 0; i < n; ++i)
        d[i] += guardedProductMasked (s[i], gain);
}

void ZGain::powerToDecibels (ZBuffer& buffer)
{
    auto* d = buffer.getData();
    const auto n = buffer.getLength();
    for (unsigned i = 0; i < n; ++i)
        d[i] = d[i] > 2.5118843e-10f ? 10.0f * std::log10 (d[i]) : -96.0f;
}

void ZGain::powerToDecibels (ZBuffer& buffer, float floorDb)
{
    const float threshold = std::pow (10.0f, floorDb / 10.0f);
    auto* d = buffer.getData();
    const auto n = buffer.getLength();
    for (unsigned i = 0; i < n; ++i)
        d[i] = d[i] > threshold ? 10.0f * std::log10 (d[i]) : floorDb;
}

void ZGain::amplitudeToDecibels (ZBuffer& buffer)
{
    auto* d = buffer.getData();
    const auto n = buffer.getLength();
    for (unsigned i = 0; i < n; ++i)
        d[i] = d[i] > 1.5848926e-5f ? 20.0f * std::log10 (d[i]) : -96.0f;
}

void ZGain::complexMultiply (const ZBuffer& aRe, const ZBuffer& aIm, const ZBuffer& bRe, const ZBuffer& bIm,
                             ZBuffer& outRe, ZBuffer& outIm)
{
    const auto* ar = aRe.getData();
    const auto* ai = aIm.getData();
    const auto* br = bRe.getData();
    const auto* bi = bIm.getData();
    auto* orr = outRe.getData();
    auto* oi = outIm.getData();
    const auto n = outRe.getLength();

    // Both inputs are read before either output is written: the outputs may be
    // the input buffers.
    for (unsigned i = 0; i < n; ++i)
    {
        const float xr = ar[i], xi = ai[i], yr = br[i], yi = bi[i];
        orr[i] = xr * yr - xi * yi;
        oi[i] = xr * yi + xi * yr;
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
    vec::vramp (startGain, Ramp (n, startGain, endGain).step, mRampTable, n);
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
