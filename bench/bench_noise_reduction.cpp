// The "Noise Reduction" bay on stereo 44.1 kHz audio in 512-sample blocks, in
// modes 1 (reduce) and 2 (noise only) with hum (60 Hz, 3 harmonics as after a
// reset, and all 14 in mode 1) and rumble removal on, after learning a profile; and the noise analyzer over a
// 10-minute file. "realtime" is seconds of audio per second of processing (the
// real-time factor, one core); "allocations" counts heap allocations inside
// the timed loop and must be 0 for the bay.

#include "ZNoiseAnalyzer.h"
#include "ZNoiseReductionBay.h"

#include <benchmark/benchmark.h>

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
constexpr double kTwoPi = 6.283185307179586;

// Two seconds of stereo programme: a tone, mains hum, rumble and hiss.
struct StereoBlocks
{
    static constexpr int kBlocks = 172;

    StereoBlocks()
    {
        std::mt19937 rng (3);
        std::normal_distribution<float> hiss (0.0f, 0.01f);
        for (int b = 0; b < kBlocks; ++b)
            for (int c = 0; c < 2; ++c)
            {
                in[b][c] = std::make_unique<quarn::ZBuffer> (kBlock, "ZBuffer");
                for (unsigned i = 0; i < kBlock; ++i)
                {
                    const double t = (double) (b * kBlock + (int) i) / kRate;
                    (*in[b][c])[i] = (float) (0.25 * std::sin (kTwoPi * (c == 0 ? 440.0 : 2500.0) * t)
                                              + 0.02 * std::sin (kTwoPi * 60.0 * t)
                                              + 0.02 * std::sin (kTwoPi * 25.0 * t))
                                   + hiss (rng);
                }
                ptrs[b][c] = in[b][c].get();
            }
        for (int c = 0; c < 2; ++c)
        {
            out[c] = std::make_unique<quarn::ZBuffer> (kBlock, "ZBuffer");
            outPtrs[c] = out[c].get();
        }
    }

    std::unique_ptr<quarn::ZBuffer> in[kBlocks][2];
    std::unique_ptr<quarn::ZBuffer> out[2];
    quarn::ZBuffer* ptrs[kBlocks][2] = {};
    quarn::ZBuffer* outPtrs[2] = {};
};

void BM_NoiseReductionBay (benchmark::State& state)
{
    StereoBlocks blocks;
    quarn::ZNoiseReductionBay bay ("Noise Reduction", 2);
    bay.prepare();
    bay.setSampleRate ((float) kRate);
    bay.setBlockSize (kBlock);
    bay.setTrack (false);
    bay.setHumMode (1);
    bay.setNumHumHarmonics ((int) state.range (1));
    bay.setRemoveRumble (true);

    // A profile learned from the first second, as the controls would.
    bay.startLearning();
    for (int b = 0; b < 86; ++b)
        bay.process (blocks.ptrs[b], blocks.outPtrs, kBlock);
    bay.stopLearning();
    for (int b = 86; b < 90; ++b)
        bay.process (blocks.ptrs[b], blocks.outPtrs, kBlock);
    bay.setMode ((int) state.range (0));
    bay.process (blocks.ptrs[0], blocks.outPtrs, kBlock);

    int b = 0;
    const auto before = allocationCount.load();
    for (auto _ : state)
    {
        bay.process (blocks.ptrs[b], blocks.outPtrs, kBlock);
        benchmark::DoNotOptimize (blocks.out[0]->getData());
        benchmark::ClobberMemory();
        b = (b + 1) % StereoBlocks::kBlocks;
    }
    const auto allocations = allocationCount.load() - before;

    state.counters["realtime"] = benchmark::Counter ((double) state.iterations() * kBlock / kRate,
                                                     benchmark::Counter::kIsRate);
    state.counters["allocations"] = (double) allocations;
    if (allocations != 0)
        state.SkipWithError ("the audio path allocated");
}
BENCHMARK (BM_NoiseReductionBay)->ArgNames ({ "mode", "harmonics" })->Args ({ 1, 3 })->Args ({ 2, 3 })->Args ({ 1, 14 });

// Ten minutes of decaying notes over hiss, fed in
// 256-sample blocks as the document's analysis does.
void BM_NoiseAnalyzer (benchmark::State& state)
{
    const auto total = (std::int64_t) (600.0 * kRate);
    constexpr int block = quarn::ZNoiseAnalyzer::kBlockSize;

    // Eight seconds of material repeated: generating 10 minutes of it would
    // otherwise dominate the timing.
    std::vector<float> material ((size_t) (8.0 * kRate));
    std::mt19937 rng (9);
    std::normal_distribution<float> hiss (0.0f, 0.01f);
    for (size_t i = 0; i < material.size(); ++i)
    {
        const double t = (double) i / kRate;
        const double envelope = std::exp (-std::fmod (t, 0.4) * 8.0);
        material[i] = (float) (0.3 * envelope * std::sin (kTwoPi * (220.0 + 110.0 * std::floor (t / 0.4)) * t)) + hiss (rng);
    }

    quarn::ZNoiseAnalyzer analyzer;
    for (auto _ : state)
    {
        analyzer.prepare (total);
        analyzer.setSensitivity (0.29f);
        for (std::int64_t start = 0; start < total; start += block)
        {
            const auto offset = (size_t) (start % (std::int64_t) (material.size() - block));
            analyzer.analyzeBlock (material.data() + offset, block);
        }
        analyzer.finishAnalysis();
        benchmark::DoNotOptimize (analyzer.getConfidence());
    }

    state.counters["realtime"] = benchmark::Counter ((double) state.iterations() * 600.0, benchmark::Counter::kIsRate);
}
BENCHMARK (BM_NoiseAnalyzer)->Unit (benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
