// The restoration stages on stereo 44.1 kHz audio in 512-sample blocks, one
// core: the declipper on music hard-clipped at a quarter of its peak (the
// heaviest case: long runs everywhere), the "Declick" bay at amount 1 on music
// with clicks and crackle, the expander at ratio 4 and the boost at
// parameter 8 = 0.5. "realtime" is seconds of audio per second of processing
// (the real-time factor); "allocations" counts heap allocations inside the
// timed loop and must be 0.

#include "ZClickAndCrackleBay.h"
#include "ZDeclipping.h"
#include "ZExpander.h"
#include "ZMaximizer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

namespace
{
std::atomic<long long> allocationCount { 0 };
}

// Out of line, so the compiler does not pair a free() it inlined with the
// allocation it sees as coming from new.
[[gnu::noinline]] void* operator new (std::size_t size)
{
    allocationCount.fetch_add (1, std::memory_order_relaxed);
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete (void* p) noexcept { std::free (p); }
[[gnu::noinline]] void operator delete (void* p, std::size_t) noexcept { std::free (p); }

namespace
{
constexpr int kBlock = 512;
constexpr double kRate = 44100.0;

// Ten seconds of music-like stereo material: a bass line and chords of
// decaying harmonic notes, drum-like noise bursts and a little hiss, with the
// channels differing. Peak normalised to 1.
std::vector<float> music (int channel)
{
    const size_t n = (size_t) (10.0 * kRate);
    std::vector<float> v (n, 0.0f);
    std::mt19937 rng (17u + (unsigned) channel);
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    const double roots[] = { 110.0, 146.8, 130.8, 98.0 };

    for (size_t i = 0; i < n; ++i)
    {
        const double t = (double) i / kRate;
        const int bar = (int) (t / 0.5);
        const double tn = t - bar * 0.5;
        const double root = roots[bar % 4];
        double x = 0.5 * std::sin (2.0 * M_PI * root * 0.5 * t) * std::exp (-2.0 * tn);
        for (int h = 1; h <= 6; ++h)
            for (double ratio : { 1.0, 1.25, 1.5 })
                x += 0.12 / h * std::sin (2.0 * M_PI * root * 2.0 * ratio * h * t + h + channel) * std::exp (-3.0 * tn);
        const double beat = std::fmod (t, 0.25);
        x += 0.6 * noise (rng) * std::exp (-beat * 40.0);
        x += 0.01 * noise (rng);
        v[i] = (float) x;
    }

    float peak = 0.0f;
    for (float x : v)
        peak = std::max (peak, std::abs (x));
    for (auto& x : v)
        x /= peak;
    return v;
}

// Stereo material cut into 512-sample blocks, played round and round.
struct StereoMaterial
{
    explicit StereoMaterial (float clipAt = 0.0f, bool clicks = false)
    {
        for (int c = 0; c < 2; ++c)
        {
            std::vector<float> v = music (c);
            if (clipAt > 0.0f)
                for (auto& x : v)
                    x = std::clamp (x, -clipAt, clipAt);

            if (clicks)
            {
                std::mt19937 rng (5u + (unsigned) c);
                std::uniform_int_distribution<size_t> where (0, v.size() - 64);
                std::uniform_int_distribution<int> width (1, 40);
                std::uniform_real_distribution<float> height (-1.0f, 1.0f);
                for (int k = 0; k < 100; ++k) // clicks, ten a second
                {
                    const size_t at = where (rng);
                    const int w = width (rng);
                    const float h = height (rng);
                    for (int i = 0; i < w; ++i)
                        v[at + (size_t) i] += h;
                }
                for (int k = 0; k < 3000; ++k) // crackle
                    v[where (rng)] += 0.2f * height (rng);
            }

            numBlocks = (int) (v.size() / kBlock);
            for (int b = 0; b < numBlocks; ++b)
            {
                blocks[c].push_back (std::make_unique<quarn::ZBuffer> (kBlock, "ZBuffer"));
                std::copy (v.begin() + b * kBlock, v.begin() + (b + 1) * kBlock, blocks[c].back()->getData());
            }
            out[c] = std::make_unique<quarn::ZBuffer> (kBlock, "ZBuffer");
            outPtrs[c] = out[c].get();
        }
    }

    quarn::ZBuffer* in (int b, int c) { return blocks[c][(size_t) b].get(); }

    int numBlocks = 0;
    std::vector<std::unique_ptr<quarn::ZBuffer>> blocks[2];
    std::unique_ptr<quarn::ZBuffer> out[2];
    quarn::ZBuffer* outPtrs[2] = {};
};

template <typename Process>
void runBlocks (benchmark::State& state, StereoMaterial& material, Process&& process)
{
    int b = 0;
    const auto before = allocationCount.load();
    for (auto _ : state)
    {
        process (b);
        benchmark::DoNotOptimize (material.out[0]->getData());
        benchmark::DoNotOptimize (material.out[1]->getData());
        benchmark::ClobberMemory();
        b = (b + 1) % material.numBlocks;
    }
    const auto allocations = allocationCount.load() - before;

    state.counters["realtime"] = benchmark::Counter ((double) state.iterations() * kBlock / kRate,
                                                     benchmark::Counter::kIsRate);
    state.counters["allocations"] = (double) allocations;
    if (allocations != 0)
        state.SkipWithError ("the audio path allocated");
}

void BM_DeclipperHardClip25 (benchmark::State& state)
{
    StereoMaterial material (0.25f);
    std::unique_ptr<quarn::ZDeclipping> declipper[2];
    for (auto& d : declipper)
    {
        d = std::make_unique<quarn::ZDeclipping> (kBlock, (float) kRate);
        d->setDefaults();
        d->reset();
        d->setSampleRate ((float) kRate);
        d->setBlockSize (kBlock);
        d->enabled = true;
    }

    long long repairs = 0;
    runBlocks (state, material, [&] (int b)
    {
        for (int c = 0; c < 2; ++c)
            repairs += declipper[c]->process (*material.in (b, c), *material.out[c], kBlock) ? 1 : 0;
    });
    state.counters["blocksRepaired"] = benchmark::Counter ((double) repairs / 2.0 / (double) state.iterations(),
                                                           benchmark::Counter::kDefaults);
}
BENCHMARK (BM_DeclipperHardClip25);

void BM_DeclickBayAmount1 (benchmark::State& state)
{
    StereoMaterial material (0.0f, true);
    quarn::ZClickAndCrackleBay bay ("Declick", 2);
    bay.prepare();
    bay.setSampleRate ((float) kRate);
    bay.setBlockSize (kBlock);
    bay.setAmount (1.0f);

    runBlocks (state, material, [&] (int b)
    {
        quarn::ZBuffer* in[2] = { material.in (b, 0), material.in (b, 1) };
        bay.process (in, material.outPtrs, kBlock);
    });
}
BENCHMARK (BM_DeclickBayAmount1);

void BM_ExpanderRatio4 (benchmark::State& state)
{
    StereoMaterial material;
    quarn::ZExpander expander[2];
    for (auto& e : expander)
    {
        e.setThresholdLinear (0.15f);
        e.setMaxGain (0.0f);
        e.setRelease (30.0f);
        e.setSampleRate ((float) kRate);
        e.setRatioBelow (4.0f);
        e.reset();
        e.enabled = true;
    }

    runBlocks (state, material, [&] (int b)
    {
        for (int c = 0; c < 2; ++c)
            expander[c].process (*material.in (b, c), *material.out[c]);
    });
}
BENCHMARK (BM_ExpanderRatio4);

void BM_BoostHalf (benchmark::State& state)
{
    StereoMaterial material;
    std::unique_ptr<quarn::ZMaximizer> boost[2];
    for (auto& m : boost)
    {
        m = std::make_unique<quarn::ZMaximizer> (kBlock);
        m->init();
        m->setCeiling (-0.3f);
        m->setThreshold (-40.0f * 0.5f);
        m->enabled = true;
    }

    runBlocks (state, material, [&] (int b)
    {
        for (int c = 0; c < 2; ++c)
            boost[c]->process (*material.in (b, c), *material.out[c]);
    });
}
BENCHMARK (BM_BoostHalf);

} // namespace

BENCHMARK_MAIN();
