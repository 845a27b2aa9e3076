#include "ZVectorOps.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

// The element-wise loops carry "ivdep": an output may be the very same array
// as an input (in-place calls), which creates no dependence between
// iterations, so the compiler may vectorise without run-time overlap checks
// (those checks would send every in-place call down the scalar path).
// The dot product keeps eight independent partial sums, which the compiler
// maps onto vector registers without needing relaxed float math.

namespace quarn::vec
{

void vsmul (const float* a, float b, float* d, std::size_t n) noexcept
{
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b;
}

void vmul (const float* a, const float* b, float* d, std::size_t n) noexcept
{
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b[i];
}

void vramp (float start, float step, float* d, std::size_t n) noexcept
{
    // A 32-bit index converts to float in vector registers; a 64-bit one does not.
    for (std::int32_t i = 0; i < (std::int32_t) n; ++i)
        d[i] = start + (float) i * step;
}

float dotpr (const float* a, const float* b, std::size_t n) noexcept
{
    constexpr std::size_t lanes = 8;
    float partial[lanes] = {};
    std::size_t i = 0;

    for (; i + lanes <= n; i += lanes)
        for (std::size_t j = 0; j < lanes; ++j)
            partial[j] += a[i + j] * b[i + j];

    float sum = ((partial[0] + partial[4]) + (partial[1] + partial[5]))
              + ((partial[2] + partial[6]) + (partial[3] + partial[7]));

    for (; i < n; ++i)
        sum += a[i] * b[i];

    return sum;
}

void vsma (const float* a, float b, const float* c, float* d, std::size_t n) noexcept
{
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b + c[i];
}

void vma (const float* a, const float* b, const float* c, float* d, std::size_t n) noexcept
{
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b[i] + c[i];
}

void vmsb (const float* a, const float* b, const float* c, float* d, std::size_t n) noexcept
{
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] * b[i] - c[i];
}

float maxv (const float* a, std::size_t n) noexcept
{
    constexpr float lowest = -std::numeric_limits<float>::infinity();
    std::size_t i = 0;
    float m = lowest;

#if defined(__SSE__)
    // The compiler will not turn a float maximum into vector code without
    // relaxed math, so this one reduction is written with SSE directly.
    // "x > m ? x : m" is exactly maxps (x, m), NaN handling included.
    if (n >= 8)
    {
        __m128 m0 = _mm_set1_ps (lowest), m1 = m0;
        for (; i + 8 <= n; i += 8)
        {
            m0 = _mm_max_ps (_mm_loadu_ps (a + i), m0);
            m1 = _mm_max_ps (_mm_loadu_ps (a + i + 4), m1);
        }
        alignas (16) float lanes[4];
        _mm_store_ps (lanes, _mm_max_ps (m0, m1));
        for (float x : lanes)
            m = x > m ? x : m;
    }
#endif

    for (; i < n; ++i)
        m = a[i] > m ? a[i] : m;

    return m;
}

void vsadd (const float* a, float b, float* d, std::size_t n) noexcept
{
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = a[i] + b;
}

namespace
{
inline std::uint32_t bitsOf (float x) noexcept
{
    std::uint32_t u;
    std::memcpy (&u, &x, sizeof u);
    return u;
}

inline float floatOf (std::uint32_t u) noexcept
{
    float x;
    std::memcpy (&x, &u, sizeof x);
    return x;
}

// Bitwise choice: the compiler turns float conditionals into branches, which
// stop vectorisation; masks it keeps in vector registers.
inline float select (bool condition, float ifTrue, float ifFalse) noexcept
{
    const std::uint32_t mask = condition ? ~0u : 0u;
    return floatOf ((bitsOf (ifTrue) & mask) | (bitsOf (ifFalse) & ~mask));
}

// Natural logarithm in single precision (within about one unit in the last
// place) from arithmetic and bit operations only, so that loops calling it
// vectorise: the C library's logarithm would keep them scalar. Mantissa in
// [sqrt(0.5), sqrt(2)), then the classic minimax polynomial for log(1 + f).
inline float naturalLog (float x) noexcept
{
    constexpr float smallestNormal = 1.17549435e-38f;
    constexpr float denormalScale = 33554432.0f; // 2^25

    const bool denormal = x < smallestNormal;
    const float v = select (denormal, x * denormalScale, x);
    const std::uint32_t u = bitsOf (v);

    float e = (float) ((int) ((u >> 23) & 0xffu) - 126) - select (denormal, 25.0f, 0.0f);
    float m = floatOf ((u & 0x007fffffu) | 0x3f000000u); // [0.5, 1)

    const bool low = m < 0.707106781186547524f;
    e = select (low, e - 1.0f, e);
    const float f = select (low, m, 0.0f) + m - 1.0f;

    const float z = f * f;
    float y = 7.0376836292e-2f;
    y = y * f - 1.1514610310e-1f;
    y = y * f + 1.1676998740e-1f;
    y = y * f - 1.2420140846e-1f;
    y = y * f + 1.4249322787e-1f;
    y = y * f - 1.6668057665e-1f;
    y = y * f + 2.0000714765e-1f;
    y = y * f - 2.4999993993e-1f;
    y = y * f + 3.3333331174e-1f;
    y = y * f * z;
    y += -2.12194440e-4f * e;
    y += -0.5f * z;
    float r = f + y;
    r += 0.693359375f * e;

    // Zero gives -infinity; negative values and NaN give NaN; infinity stays.
    constexpr float infinity = std::numeric_limits<float>::infinity();
    r = select (x > 0.0f, r, select (x == 0.0f, -infinity, std::numeric_limits<float>::quiet_NaN()));
    return select (x == infinity, infinity, r);
}
} // namespace

void vdbconPower (const float* a, float reference, float* d, std::size_t n) noexcept
{
    // 10 * log10 (x) = (10 / ln 10) * ln (x)
    constexpr float decibelsPerNeper = 4.34294481903251828f;
    if (reference == 1.0f)
    {
#pragma GCC ivdep
        for (std::size_t i = 0; i < n; ++i)
            d[i] = decibelsPerNeper * naturalLog (a[i]);
        return;
    }
#pragma GCC ivdep
    for (std::size_t i = 0; i < n; ++i)
        d[i] = decibelsPerNeper * naturalLog (a[i] / reference);
}

void deinterleaveScaled (const float* __restrict c, float s, float* __restrict re, float* __restrict im,
                         std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
    {
        re[k] = c[2 * k] * s;
        im[k] = c[2 * k + 1] * s;
    }
}

void interleave (const float* __restrict re, const float* __restrict im, float* __restrict c, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
    {
        c[2 * k] = re[k];
        c[2 * k + 1] = im[k];
    }
}

} // namespace quarn::vec
