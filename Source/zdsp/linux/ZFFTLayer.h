#pragma once

#include <cstddef>

struct fftwf_plan_s;

namespace quarn
{

// Our FFT layer on FFTW (single precision): the plans for one size and one
// direction, made once, with the aligned work arrays they were made on.
// Transform calls neither allocate nor plan, and may run on several threads at
// once as long as each setup serves one thread at a time.
//
// Real transforms use FFTW's interleaved r2c/c2r plans plus one conversion
// loop to and from our split form. Complex transforms copy into and out of
// the setup's own split arrays: FFTW may run a split plan only on arrays with
// the re/im distance and alignment it was planned with, which the caller's
// buffers do not share.
class ZFFTSetup
{
public:
    // forward: e^(-i...) transforms (r2c); otherwise the inverse (c2r).
    // Returns nullptr when the work arrays cannot be allocated.
    static ZFFTSetup* create (unsigned log2n, bool forward);
    ~ZFFTSetup();

    ZFFTSetup (const ZFFTSetup&) = delete;
    ZFFTSetup& operator= (const ZFFTSetup&) = delete;

    std::size_t getSize() const noexcept { return mSize; }
    bool isForward() const noexcept { return mForward; }

    // Forward setups only. signal (N samples) to the half spectrum, bins 0 to
    // N/2, each multiplied by scale; im[0] and im[N/2] are 0. The signal is
    // left unchanged.
    void realForward (const float* signal, float* re, float* im, float scale) noexcept;

    // Inverse setups only, unscaled. The half spectrum in packed form: re[0]
    // the DC bin, im[0] the (real) Nyquist bin, re[k], im[k] for 0 < k < N/2.
    void realInverse (const float* re, const float* im, float* signal) noexcept;

    // Complex transform of N points in the setup's direction, the result
    // multiplied by scale. The output may be the input arrays.
    void complex (const float* inRe, const float* inIm, float* outRe, float* outIm, float scale) noexcept;

private:
    ZFFTSetup() = default;

    std::size_t mSize = 0;
    bool mForward = true;

    float* mReal = nullptr;     // N samples
    float* mSpectrum = nullptr; // N/2 + 1 interleaved bins
    float* mInRe = nullptr;     // four arrays of N for the complex plan
    float* mInIm = nullptr;
    float* mOutRe = nullptr;
    float* mOutIm = nullptr;
    int mRealAlignment = 0;

    fftwf_plan_s* mRealPlan = nullptr;    // r2c or c2r between mReal and mSpectrum
    fftwf_plan_s* mComplexPlan = nullptr; // split, from mIn* into mOut*
};

} // namespace quarn
