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
// the normal range the product is written as +0.0, so recursive state never
// drifts into denormals (which are slow and carry no audible information).
inline float guardedProduct (float a, float b) noexcept
{
    std::uint32_t ua, ub;
    std::memcpy (&ua, &a, sizeof ua);
    std::memcpy (&ub, &b, sizeof ub);
    const auto ea = (int) ((ua >> 23) & 0xffu);
    const auto eb = (int) ((ub >> 23) & 0xffu);
    return ea + eb < 128 ? 0.0f : a * b;
}

} // namespace quarn
