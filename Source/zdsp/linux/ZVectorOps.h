#pragma once

#include <cstddef>

// Our vector layer: the handful of element-wise routines the DSP library needs,
// written as plain loops that the compiler vectorises. Every routine that
// writes a destination may be called with the destination equal to one of its
// inputs (exactly the same pointer); partially overlapping arrays are not
// supported.
namespace quarn::vec
{

// d[i] = a[i] * b
void vsmul (const float* a, float b, float* d, std::size_t n) noexcept;

// d[i] = a[i] * b[i]
void vmul (const float* a, const float* b, float* d, std::size_t n) noexcept;

// d[i] = start + i * step
void vramp (float start, float step, float* d, std::size_t n) noexcept;

// sum of a[i] * b[i]; 0 when n is 0
float dotpr (const float* a, const float* b, std::size_t n) noexcept;

// d[i] = a[i] * b + c[i]
void vsma (const float* a, float b, const float* c, float* d, std::size_t n) noexcept;

// d[i] = a[i] * b[i] + c[i]
void vma (const float* a, const float* b, const float* c, float* d, std::size_t n) noexcept;

// d[i] = a[i] * b[i] - c[i]
void vmsb (const float* a, const float* b, const float* c, float* d, std::size_t n) noexcept;

// The largest element, sign included; -infinity when n is 0.
float maxv (const float* a, std::size_t n) noexcept;

// d[i] = a[i] + b
void vsadd (const float* a, float b, float* d, std::size_t n) noexcept;

// Power to decibels: d[i] = 10 * log10 (a[i] / reference), within about two units
// in the last place; 0 gives -infinity, negative values and NaN give NaN.
void vdbconPower (const float* a, float reference, float* d, std::size_t n) noexcept;

// Split complex from interleaved pairs, scaled: re[k] = c[2k] * s, im[k] = c[2k + 1] * s.
// The three arrays must not overlap.
void deinterleaveScaled (const float* c, float s, float* re, float* im, std::size_t n) noexcept;

// Interleaved pairs from split complex: c[2k] = re[k], c[2k + 1] = im[k].
// The three arrays must not overlap.
void interleave (const float* re, const float* im, float* c, std::size_t n) noexcept;

} // namespace quarn::vec
