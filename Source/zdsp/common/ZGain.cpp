#include "ZGain.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

namespace
{
// A gain that moves linearly from its start value to its end value over n
// samples, stepping in single precision as the loops always have.
struct Ramp
{
    Ramp (unsigned n, float startGain, float endGain) noexcept
        : gain (startGain), step (ZGain::rampStep (n, startGain, endGain)) {}

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

} // namespace

//==============================================================================
ZGain::ZGain()
{
    setName ("ZGain");
}

ZGain::~ZGain() = default;


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

} // namespace quarn
