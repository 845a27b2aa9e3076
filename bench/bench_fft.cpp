// The real forward + inverse pair the spectral stages run per frame, through
// ZFourierTransformAV, beside the same pair on raw FFTW plans (r2c + c2r,
// planned once on aligned arrays) to show what the wrapper costs.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include "ZFourierTransform.h"

#include <memory>
#include <random>

using namespace quarn;

namespace
{
void fill (float* data, unsigned n)
{
    std::mt19937 rng (1);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    for (unsigned i = 0; i < n; ++i)
        data[i] = dist (rng);
}

void RealPair (benchmark::State& state)
{
    const auto log2n = (unsigned) state.range (0);
    const unsigned n = 1u << log2n;
    std::unique_ptr<ZFourierTransform> forward (ZFourierTransform::create (log2n, 0, 1));
    std::unique_ptr<ZFourierTransform> inverse (ZFourierTransform::create (log2n, 1, 1));
    ZBuffer signal (n, "ZBuffer"), re (n / 2 + 1, "mSpectrum"), im (n / 2 + 1, "ZBuffer");
    fill (signal.getData(), n);

    for (auto _ : state)
    {
        forward->transformReal (signal, re, im);
        inverse->transformReal (signal, re, im);
        benchmark::DoNotOptimize (signal.getData());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed (state.iterations() * n);
}

void RawFftwPair (benchmark::State& state)
{
    const auto log2n = (unsigned) state.range (0);
    const int n = 1 << log2n;
    auto* signal = static_cast<float*> (fftwf_malloc (sizeof (float) * (size_t) n));
    auto* spectrum = static_cast<fftwf_complex*> (fftwf_malloc (sizeof (fftwf_complex) * (size_t) (n / 2 + 1)));
    auto r2c = fftwf_plan_dft_r2c_1d (n, signal, spectrum, FFTW_ESTIMATE);
    auto c2r = fftwf_plan_dft_c2r_1d (n, spectrum, signal, FFTW_ESTIMATE);
    fill (signal, (unsigned) n);

    for (auto _ : state)
    {
        fftwf_execute (r2c);
        fftwf_execute (c2r);
        benchmark::DoNotOptimize (signal);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed (state.iterations() * n);

    fftwf_destroy_plan (r2c);
    fftwf_destroy_plan (c2r);
    fftwf_free (signal);
    fftwf_free (spectrum);
}

void ComplexPair (benchmark::State& state)
{
    const auto log2n = (unsigned) state.range (0);
    const unsigned n = 1u << log2n;
    std::unique_ptr<ZFourierTransform> forward (ZFourierTransform::create (log2n, 0, 0));
    std::unique_ptr<ZFourierTransform> inverse (ZFourierTransform::create (log2n, 1, 0));
    ZBuffer re (n, "ZBuffer"), im (n, "ZBuffer");
    fill (re.getData(), n);
    fill (im.getData(), n);

    for (auto _ : state)
    {
        forward->transform (re, im);
        inverse->transform (re, im);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed (state.iterations() * n);
}

void Create (benchmark::State& state)
{
    const auto log2n = (unsigned) state.range (0);
    for (auto _ : state)
    {
        std::unique_ptr<ZFourierTransform> t (ZFourierTransform::create (log2n, 0, 1));
        benchmark::DoNotOptimize (t.get());
    }
}
} // namespace

// 256, 1024, 2048 and 4096 points; the two pairs side by side per size.
BENCHMARK (RealPair)->Arg (8)->Arg (10)->Arg (11)->Arg (12);
BENCHMARK (RawFftwPair)->Arg (8)->Arg (10)->Arg (11)->Arg (12);
BENCHMARK (ComplexPair)->Arg (10);
BENCHMARK (Create)->Arg (10)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
