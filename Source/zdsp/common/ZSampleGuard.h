#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quarn
{

// Samples this far beyond full scale (+120 dB) are not audio; keeping every
// stage's input inside it keeps squares, sums and solver products finite.
constexpr float kMaxSampleMagnitude = 1.0e6f;

// A non-finite sample becomes 0, a finite one is held inside +-kMaxSampleMagnitude.
// One NaN would otherwise poison a predictor, an envelope or a whole repair
// region for good, and the processor's final clamp lets NaN through.
inline float guardSample (float x) noexcept
{
    if (! std::isfinite (x))
        return 0.0f;
    if (x > kMaxSampleMagnitude)
        return kMaxSampleMagnitude;
    if (x < -kMaxSampleMagnitude)
        return -kMaxSampleMagnitude;
    return x;
}

// Copies n samples through guardSample; returns the largest magnitude copied.
inline float guardCopy (const float* source, float* destination, std::size_t n) noexcept
{
    float peak = 0.0f;
    for (std::size_t i = 0; i < n; ++i)
    {
        const float x = guardSample (source[i]);
        destination[i] = x;
        const float a = x < 0.0f ? -x : x;
        peak = a > peak ? a : peak;
    }
    return peak;
}

// The library's guarded product: when the two stored exponents add up below
// the normal range (ea + eb - 254 < -126) the product is written as +0.0, so
// recursive state and accumulating buffers never drift into denormals (which
// are slow and carry no audible information).
inline std::uint32_t exponentSum (float a, float b) noexcept
{
    std::uint32_t ua, ub;
    std::memcpy (&ua, &a, sizeof ua);
    std::memcpy (&ub, &b, sizeof ub);
    return ((ua >> 23) & 0xffu) + ((ub >> 23) & 0xffu);
}

// For scalar code such as a predictor's recursion, where a predictable branch
// is the cheapest form.
inline float guardedProduct (float a, float b) noexcept
{
    return exponentSum (a, b) < 128u ? 0.0f : a * b;
}

// The same product for element-wise loops: it selects by mask rather than by
// branch so that the loops using it vectorise.
inline float guardedProductMasked (float a, float b) noexcept
{
    std::uint32_t up;
    const float p = a * b;
    std::memcpy (&up, &p, sizeof up);
    up &= exponentSum (a, b) < 128u ? 0u : ~0u;
    float r;
    std::memcpy (&r, &up, sizeof r);
    return r;
}

} // namespace quarn
