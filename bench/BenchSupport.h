#pragma once

// What the benchmarks share: a count of heap allocations on the benchmark's
// own thread (this header replaces the global operator new and delete of the
// one program that includes it), stereo material in 512-sample ZBuffer
// blocks, and the loops that play it through a stage or the processor and
// report "realtime" (seconds of audio per second of processing, one core) and
// "allocations" (heap allocations inside the timed loop; anything but 0 fails
// the benchmark).

#include "ZBuffer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace bench
{
constexpr int kBlock = 512;
constexpr double kRate = 44100.0;
constexpr double kTwoPi = 6.283185307179586;

// Only the benchmark's thread counts: the framework's threads may allocate.
inline thread_local bool countAllocations = false;
inline std::atomic<long long> allocationCount { 0 };
} // namespace bench

// Out of line, so the compiler does not pair a free() it inlined with the
// allocation it sees as coming from new.
[[gnu::noinline]] void* operator new (std::size_t size)
{
    if (bench::countAllocations)
        bench::allocationCount.fetch_add (1, std::memory_order_relaxed);
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete (void* p) noexcept { std::free (p); }
[[gnu::noinline]] void operator delete (void* p, std::size_t) noexcept { std::free (p); }

namespace bench
{
// Stereo material cut into blocks of kBlock samples, and a pair of output blocks.
class StereoBlocks
{
public:
    // sample (c, t) gives channel c at sample t; it is called in block order,
    // channel 0 before channel 1 within each block.
    template <typename Sample>
    StereoBlocks (int numBlocks, Sample&& sample)
    {
        for (int b = 0; b < numBlocks; ++b)
        {
            std::array<quarn::ZBuffer*, 2> block {};
            for (int c = 0; c < 2; ++c)
            {
                block[(size_t) c] = add();
                for (int i = 0; i < kBlock; ++i)
                    (*block[(size_t) c])[(unsigned) i] = sample (c, b * kBlock + i);
            }
            blocks.push_back (block);
        }
    }

    // Whole blocks of the two channels.
    StereoBlocks (const std::vector<float>& left, const std::vector<float>& right)
        : StereoBlocks ((int) (std::min (left.size(), right.size()) / kBlock),
                        [&] (int c, int t) { return (c == 0 ? left : right)[(size_t) t]; })
    {
    }

    int size() const noexcept { return (int) blocks.size(); }
    quarn::ZBuffer** in (int b) noexcept { return blocks[(size_t) b].data(); }
    quarn::ZBuffer& in (int b, int c) noexcept { return *blocks[(size_t) b][(size_t) c]; }
    quarn::ZBuffer** out() noexcept { return outputs.data(); }
    quarn::ZBuffer& out (int c) noexcept { return *outputs[(size_t) c]; }

private:
    quarn::ZBuffer* add()
    {
        storage.push_back (std::make_unique<quarn::ZBuffer> ((unsigned) kBlock, "ZBuffer"));
        return storage.back().get();
    }

    std::vector<std::unique_ptr<quarn::ZBuffer>> storage;
    std::vector<std::array<quarn::ZBuffer*, 2>> blocks;
    std::array<quarn::ZBuffer*, 2> outputs { add(), add() };
};

// Sets the counters for `samplesPerIteration` samples of audio per iteration
// and allocations counted since `before`.
inline void report (benchmark::State& state, double samplesPerIteration, long long before)
{
    const auto allocations = allocationCount.load() - before;
    state.counters["realtime"] = benchmark::Counter ((double) state.iterations() * samplesPerIteration / kRate,
                                                     benchmark::Counter::kIsRate);
    state.counters["allocations"] = (double) allocations;
    if (allocations != 0)
        state.SkipWithError ("the audio path allocated");
}

// Runs process (b) for block b = 0, 1, ... round the material, one block an iteration.
template <typename Process>
void runBlocks (benchmark::State& state, StereoBlocks& blocks, Process&& process)
{
    int b = 0;
    const auto before = allocationCount.load();
    countAllocations = true;
    for (auto _ : state)
    {
        process (b);
        benchmark::DoNotOptimize (blocks.out (0).getData());
        benchmark::DoNotOptimize (blocks.out (1).getData());
        benchmark::ClobberMemory();
        b = (b + 1) % blocks.size();
    }
    countAllocations = false;
    report (state, kBlock, before);
}

// Plays `source` through the processor in kBlock-sample calls, round and round.
template <typename Processor, typename AudioBuffer, typename Midi>
void runProcessorBlocks (benchmark::State& state, Processor& processor, const AudioBuffer& source, Midi& midi)
{
    AudioBuffer block (source.getNumChannels(), kBlock);
    int position = 0;
    const auto before = allocationCount.load();
    countAllocations = true;
    for (auto _ : state)
    {
        for (int c = 0; c < source.getNumChannels(); ++c)
            block.copyFrom (c, 0, source, c, position, kBlock);
        processor.processBlock (block, midi);
        benchmark::DoNotOptimize (block.getReadPointer (0));
        position += kBlock;
        if (position + kBlock > source.getNumSamples())
            position = 0;
    }
    countAllocations = false;
    report (state, kBlock, before);
}
} // namespace bench
