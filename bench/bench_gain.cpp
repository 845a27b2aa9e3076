// The ZGainAccelerate operations the per-block DSP leans on, at the two block
// sizes the spectral stages use: 513 bins (half spectrum of 1024) and 1024
// samples. 513 also exercises the scalar tail after the vector lanes.
#include <benchmark/benchmark.h>

#include "ZGainAccelerate.h"

#include <random>

using namespace quarn;

namespace
{
struct Buffers
{
    explicit Buffers (unsigned n) : a (n, "ZBuffer"), b (n, "ZBuffer"), c (n, "ZBuffer"), d (n, "ZBuffer"),
                                    e (n, "ZBuffer"), f (n, "ZBuffer"), wide (2 * n, "ZBuffer")
    {
        std::mt19937 rng (1);
        std::uniform_real_distribution<float> dist (0.001f, 1.0f);
        for (ZBuffer* z : { &a, &b, &c, &d, &e, &f })
            for (unsigned i = 0; i < n; ++i)
                (*z)[i] = dist (rng);
    }
    ZBuffer a, b, c, d, e, f, wide;
};

template <typename Op>
void run (benchmark::State& state, Op op)
{
    const auto n = (unsigned) state.range (0);
    Buffers buffers (n);
    ZGainAccelerate gain;
    for (auto _ : state)
    {
        op (gain, buffers);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed (state.iterations() * n);
}

// Gains that multiply to 1 over two calls keep the data in range forever.
void Scale (benchmark::State& s)
{
    bool up = true;
    run (s, [&] (ZGain& g, Buffers& b) { g.scale (b.a, up ? 1.25f : 0.8f); up = ! up; });
}
void Multiply (benchmark::State& s)
{
    // By b, then by 1/b, so the data never decays into denormals.
    run (s, [] (ZGain& g, Buffers& b)
    {
        if (b.e[0] != 1.0f / b.b[0])
            for (unsigned i = 0; i < b.b.getLength(); ++i)
                b.e[i] = 1.0f / b.b[i];
        g.multiply (b.a, b.b);
        g.multiply (b.a, b.e);
    });
}
void MultiplyCopy (benchmark::State& s)
{
    run (s, [] (ZGain& g, Buffers& b) { g.multiplyCopy (b.a, b.b, b.c); });
}
void RampCopy (benchmark::State& s)
{
    run (s, [] (ZGain& g, Buffers& b) { g.rampCopy (b.a, b.c, 0.2f, 0.9f); });
}
void RampCopyChangingGain (benchmark::State& s)
{
    float gain = 0.5f;
    run (s, [&] (ZGain& g, Buffers& b) { g.rampCopy (b.a, b.c, gain, 0.9f); gain = gain == 0.5f ? 0.6f : 0.5f; });
}
void ScaleAdd (benchmark::State& s)
{
    run (s, [] (ZGain& g, Buffers& b) { g.scaleAdd (b.a, b.c, 0.5f); g.scaleAdd (b.a, b.c, -0.5f); });
}
void MultiplyAdd (benchmark::State& s)
{
    run (s, [] (ZGain& g, Buffers& b) { g.multiplyCopy (b.a, b.b, b.d); g.multiplyAdd (b.a, b.b, b.c); });
}
void PowerToDecibels (benchmark::State& s)
{
    run (s, [] (ZGain& g, Buffers& b) { b.c.copy (b.a); g.powerToDecibels (b.c); });
}
void ComplexMultiply (benchmark::State& s)
{
    run (s, [] (ZGain& g, Buffers& b) { g.complexMultiply (b.a, b.b, b.c, b.d, b.e, b.f); });
}
void ScaleAddAt (benchmark::State& s)
{
    const auto n = (unsigned) s.range (0);
    bool up = true;
    run (s, [&] (ZGain& g, Buffers& b) { g.scaleAddAt (b.a, b.wide, n / 2, up ? 0.5f : -0.5f); up = ! up; });
}
} // namespace

#define GAIN_BENCHMARK(name) BENCHMARK (name)->Arg (513)->Arg (1024)
GAIN_BENCHMARK (Scale);
GAIN_BENCHMARK (Multiply);
GAIN_BENCHMARK (MultiplyCopy);
GAIN_BENCHMARK (RampCopy);
GAIN_BENCHMARK (RampCopyChangingGain);
GAIN_BENCHMARK (ScaleAdd);
GAIN_BENCHMARK (MultiplyAdd);
GAIN_BENCHMARK (PowerToDecibels);
GAIN_BENCHMARK (ComplexMultiply);
GAIN_BENCHMARK (ScaleAddAt);

BENCHMARK_MAIN();
