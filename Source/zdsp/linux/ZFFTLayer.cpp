#include "ZFFTLayer.h"
#include "ZVectorOps.h"

#include <fftw3.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace quarn
{

namespace
{
// FFTW's planner keeps process-wide state: plans may only be made and
// destroyed by one thread at a time. Executing plans needs no lock.
std::mutex& plannerMutex()
{
    static std::mutex m;
    return m;
}

float* allocate (std::size_t floats)
{
    return static_cast<float*> (fftwf_malloc (sizeof (float) * floats));
}

// ESTIMATE plans in a millisecond or two and runs within noise of MEASURE
// for these sizes, without timing runs at start-up.
constexpr unsigned kPlanFlags = FFTW_ESTIMATE;
} // namespace

ZFFTSetup* ZFFTSetup::create (unsigned log2n, bool forward)
{
    // FFTW counts points in an int.
    if (log2n > 30)
        return nullptr;

    std::unique_ptr<ZFFTSetup> setup (new ZFFTSetup());
    const std::size_t n = std::size_t (1) << log2n;
    const std::size_t half = n / 2;
    setup->mSize = n;
    setup->mForward = forward;

    setup->mReal = allocate (n);
    setup->mSpectrum = allocate (2 * (half + 1));
    setup->mInRe = allocate (n);
    setup->mInIm = allocate (n);
    setup->mOutRe = allocate (n);
    setup->mOutIm = allocate (n);

    if (setup->mReal == nullptr || setup->mSpectrum == nullptr || setup->mInRe == nullptr
        || setup->mInIm == nullptr || setup->mOutRe == nullptr || setup->mOutIm == nullptr)
        return nullptr;

    setup->mRealAlignment = fftwf_alignment_of (setup->mReal);

    auto* spectrum = reinterpret_cast<fftwf_complex*> (setup->mSpectrum);

    fftwf_iodim dim;
    dim.n = (int) n;
    dim.is = 1;
    dim.os = 1;

    {
        std::lock_guard<std::mutex> lock (plannerMutex());

        if (forward)
        {
            setup->mRealPlan = fftwf_plan_dft_r2c_1d ((int) n, setup->mReal, spectrum,
                                                      kPlanFlags | FFTW_PRESERVE_INPUT);
            setup->mComplexPlan = fftwf_plan_guru_split_dft (1, &dim, 0, nullptr,
                                                             setup->mInRe, setup->mInIm,
                                                             setup->mOutRe, setup->mOutIm,
                                                             kPlanFlags | FFTW_DESTROY_INPUT);
        }
        else
        {
            setup->mRealPlan = fftwf_plan_dft_c2r_1d ((int) n, spectrum, setup->mReal,
                                                      kPlanFlags | FFTW_DESTROY_INPUT);
            // FFTW's split transform always has the forward sign; exchanging
            // the real and imaginary arrays on both sides gives the inverse.
            setup->mComplexPlan = fftwf_plan_guru_split_dft (1, &dim, 0, nullptr,
                                                             setup->mInIm, setup->mInRe,
                                                             setup->mOutIm, setup->mOutRe,
                                                             kPlanFlags | FFTW_DESTROY_INPUT);
        }
    }

    if (setup->mRealPlan == nullptr || setup->mComplexPlan == nullptr)
        return nullptr;

    return setup.release();
}

ZFFTSetup::~ZFFTSetup()
{
    {
        std::lock_guard<std::mutex> lock (plannerMutex());
        if (mRealPlan != nullptr)
            fftwf_destroy_plan (mRealPlan);
        if (mComplexPlan != nullptr)
            fftwf_destroy_plan (mComplexPlan);
    }

    for (float* p : { mReal, mSpectrum, mInRe, mInIm, mOutRe, mOutIm })
        fftwf_free (p);
}

void ZFFTSetup::realForward (const float* signal, float* re, float* im, float scale) noexcept
{
    const std::size_t half = mSize / 2;
    auto* spectrum = reinterpret_cast<fftwf_complex*> (mSpectrum);

    // The plan preserves its input, so the caller's signal is read in place
    // whenever FFTW accepts its alignment.
    auto* in = const_cast<float*> (signal);
    if (fftwf_alignment_of (in) != mRealAlignment)
    {
        std::memcpy (mReal, signal, sizeof (float) * mSize);
        in = mReal;
    }

    fftwf_execute_dft_r2c (mRealPlan, in, spectrum);

    vec::deinterleaveScaled (mSpectrum, scale, re, im, half + 1);
    im[0] = 0.0f;
    im[half] = 0.0f;
}

void ZFFTSetup::realInverse (const float* re, const float* im, float* signal) noexcept
{
    const std::size_t half = mSize / 2;
    float* c = mSpectrum;

    if (half > 0)
    {
        vec::interleave (re, im, c, half);
        c[2 * half] = im[0];
        c[2 * half + 1] = 0.0f;
        c[1] = 0.0f;
    }
    else
    {
        c[0] = re[0];
        c[1] = 0.0f;
    }

    auto* spectrum = reinterpret_cast<fftwf_complex*> (mSpectrum);

    if (fftwf_alignment_of (signal) == mRealAlignment)
    {
        fftwf_execute_dft_c2r (mRealPlan, spectrum, signal);
    }
    else
    {
        fftwf_execute_dft_c2r (mRealPlan, spectrum, mReal);
        std::memcpy (signal, mReal, sizeof (float) * mSize);
    }
}

void ZFFTSetup::complex (const float* inRe, const float* inIm, float* outRe, float* outIm, float scale) noexcept
{
    const std::size_t bytes = sizeof (float) * mSize;
    std::memcpy (mInRe, inRe, bytes);
    std::memcpy (mInIm, inIm, bytes);

    fftwf_execute (mComplexPlan);

    if (scale == 1.0f)
    {
        std::memcpy (outRe, mOutRe, bytes);
        std::memcpy (outIm, mOutIm, bytes);
    }
    else
    {
        vec::vsmul (mOutRe, scale, outRe, mSize);
        vec::vsmul (mOutIm, scale, outIm, mSize);
    }
}

} // namespace quarn
