// The restoration stages on stereo 44.1 kHz audio in 512-sample blocks, one
// core: the declipper on music hard-clipped at a quarter of its peak (the
// heaviest case: long runs everywhere), the "Declick" bay at amount 1 on music
// with clicks and crackle, the expander at ratio 4 and the boost at
// parameter 8 = 0.5.

#include "BenchSupport.h"
#include "ZClickAndCrackleBay.h"
#include "ZDeclipping.h"
#include "ZExpander.h"
#include "ZMaximizer.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace
{
using namespace bench;

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
        double x = 0.5 * std::sin (kTwoPi * root * 0.5 * t) * std::exp (-2.0 * tn);
        for (int h = 1; h <= 6; ++h)
            for (double ratio : { 1.0, 1.25, 1.5 })
                x += 0.12 / h * std::sin (kTwoPi * root * 2.0 * ratio * h * t + h + channel) * std::exp (-3.0 * tn);
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

// The music of both channels, clipped at clipAt when it is above 0, with
// clicks and crackle added when asked.
StereoBlocks material (float clipAt = 0.0f, bool clicks = false)
{
    std::vector<float> channels[2];
    for (int c = 0; c < 2; ++c)
    {
        std::vector<float>& v = channels[c];
        v = music (c);
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
    }
    return StereoBlocks (channels[0], channels[1]);
}

void BM_DeclipperHardClip25 (benchmark::State& state)
{
    auto blocks = material (0.25f);
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
    runBlocks (state, blocks, [&] (int b)
    {
        for (int c = 0; c < 2; ++c)
            repairs += declipper[c]->process (blocks.in (b, c), blocks.out (c), kBlock) ? 1 : 0;
    });
    state.counters["blocksRepaired"] = benchmark::Counter ((double) repairs / 2.0 / (double) state.iterations(),
                                                           benchmark::Counter::kDefaults);
}
BENCHMARK (BM_DeclipperHardClip25);

void BM_DeclickBayAmount1 (benchmark::State& state)
{
    auto blocks = material (0.0f, true);
    quarn::ZClickAndCrackleBay bay ("Declick", 2);
    bay.prepare();
    bay.setSampleRate ((float) kRate);
    bay.setBlockSize (kBlock);
    bay.setAmount (1.0f);

    runBlocks (state, blocks, [&] (int b)
    {
        bay.process (blocks.in (b), blocks.out(), kBlock);
    });
}
BENCHMARK (BM_DeclickBayAmount1);

void BM_ExpanderRatio4 (benchmark::State& state)
{
    auto blocks = material();
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

    runBlocks (state, blocks, [&] (int b)
    {
        for (int c = 0; c < 2; ++c)
            expander[c].process (blocks.in (b, c), blocks.out (c));
    });
}
BENCHMARK (BM_ExpanderRatio4);

void BM_BoostHalf (benchmark::State& state)
{
    auto blocks = material();
    std::unique_ptr<quarn::ZMaximizer> boost[2];
    for (auto& m : boost)
    {
        m = std::make_unique<quarn::ZMaximizer> (kBlock);
        m->init();
        m->setCeiling (-0.3f);
        m->setThreshold (-40.0f * 0.5f);
        m->enabled = true;
    }

    runBlocks (state, blocks, [&] (int b)
    {
        for (int c = 0; c < 2; ++c)
            boost[c]->process (blocks.in (b, c), blocks.out (c));
    });
}
BENCHMARK (BM_BoostHalf);

} // namespace

BENCHMARK_MAIN();
