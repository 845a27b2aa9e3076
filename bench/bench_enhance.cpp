// The "Enhance" path on stereo 44.1 kHz audio in 512-sample blocks: the
// multiband compressor alone and the whole bay at amount 0.5. "realtime" is
// seconds of audio per second of processing (the real-time factor);
// "allocations" counts heap allocations inside the timed loop and must be 0.

#include "ZEnhancementBay.h"
#include "ZLinPhMultibandCompressor.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>

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

struct StereoBlocks
{
    static constexpr int kBlocks = 16;

    StereoBlocks()
    {
        std::mt19937 rng (3);
        std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
        for (int b = 0; b < kBlocks; ++b)
            for (int c = 0; c < 2; ++c)
            {
                in[b][c] = std::make_unique<quarn::ZBuffer> (kBlock, "ZBuffer");
                for (unsigned i = 0; i < kBlock; ++i)
                {
                    const double t = (double) (b * kBlock + (int) i) / kRate;
                    (*in[b][c])[i] = (float) (0.3 * std::sin (2.0 * M_PI * (c == 0 ? 220.0 : 3300.0) * t))
                                   + 0.1f * noise (rng);
                }
            }
        for (int c = 0; c < 2; ++c)
            out[c] = std::make_unique<quarn::ZBuffer> (kBlock, "ZBuffer");
    }

    quarn::ZBuffer** inputs (int b) { return ptrs[b]; }
    quarn::ZBuffer** outputs() { return outPtrs; }

    void bind()
    {
        for (int b = 0; b < kBlocks; ++b)
            for (int c = 0; c < 2; ++c)
                ptrs[b][c] = in[b][c].get();
        for (int c = 0; c < 2; ++c)
            outPtrs[c] = out[c].get();
    }

    std::unique_ptr<quarn::ZBuffer> in[kBlocks][2];
    std::unique_ptr<quarn::ZBuffer> out[2];
    quarn::ZBuffer* ptrs[kBlocks][2] = {};
    quarn::ZBuffer* outPtrs[2] = {};
};

template <typename Process>
void runBlocks (benchmark::State& state, StereoBlocks& blocks, Process&& process)
{
    blocks.bind();
    int b = 0;
    const auto before = allocationCount.load();
    for (auto _ : state)
    {
        process (blocks.inputs (b), blocks.outputs());
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

void BM_MultibandCompressor (benchmark::State& state)
{
    StereoBlocks blocks;
    quarn::ZLinPhMultibandCompressor comp (2, 3, kBlock, (float) kRate);
    for (int k = 0; k < 3; ++k)
        comp.threshold[k] = -40.0f; // compressing, so the gains move every block

    runBlocks (state, blocks, [&] (quarn::ZBuffer** in, quarn::ZBuffer** out) { comp.process (in, out, kBlock); });
}
BENCHMARK (BM_MultibandCompressor);

void BM_EnhanceBay (benchmark::State& state)
{
    StereoBlocks blocks;
    quarn::ZEnhancementBay bay ("Enhance", 2);
    bay.prepare();
    bay.setSampleRate ((float) kRate);
    bay.setBlockSize (kBlock);
    bay.setMode ((int) state.range (0));
    bay.setAmount (0.5f);

    runBlocks (state, blocks, [&] (quarn::ZBuffer** in, quarn::ZBuffer** out) { bay.process (in, out, kBlock); });
}
BENCHMARK (BM_EnhanceBay)->Arg (0)->Arg (6);

} // namespace

BENCHMARK_MAIN();
