#include <gtest/gtest.h>
#include "CVAudioProcessor.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

// Every heap allocation in this test binary passes through here, so the audio
// path can be shown to allocate nothing once it is prepared.
namespace
{
// Only the thread under test counts; JUCE's own threads may allocate freely.
thread_local bool counting = false;
std::atomic<long> allocations { 0 };

void* allocate (std::size_t size)
{
    if (counting)
        allocations.fetch_add (1, std::memory_order_relaxed);
    if (auto* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { return std::malloc (size == 0 ? 1 : size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }

namespace clarivo_test
{
// Fills a stereo buffer with noise and a tone so that every stage has work.
void fillTestSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, double& phase)
{
    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        const float tone = 0.5f * (float) std::sin (phase);
        phase += 2.0 * juce::MathConstants<double>::pi * 440.0 / 44100.0;
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            buffer.setSample (c, i, tone + 0.05f * (random.nextFloat() - 0.5f));
    }
}

long countAllocations (const std::function<void()>& work)
{
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations.load();
}
} // namespace clarivo_test

TEST (Realtime, ProcessBlockDoesNotAllocate)
{
    CVAudioProcessor p;
    juce::MidiBuffer midi;
    juce::Random random (7);
    double phase = 0.0;

    for (int block : { 512, 256, 1024, 4096 })
    {
        p.prepareToPlay (44100.0, block);
        juce::AudioBuffer<float> buffer (2, block);

        // Warm-up call outside the count (first-touch work of any lazy member).
        clarivo_test::fillTestSignal (buffer, random, phase);
        p.processBlock (buffer, midi);

        const long count = clarivo_test::countAllocations ([&]
        {
            for (int i = 0; i < 200; ++i)
            {
                clarivo_test::fillTestSignal (buffer, random, phase);
                p.processBlock (buffer, midi);
            }
        });
        EXPECT_EQ (count, 0) << "block size " << block;
    }
}

TEST (Realtime, CounterSeesAllocations)
{
    static std::vector<int>* volatile sink = nullptr;
    const long count = clarivo_test::countAllocations ([] { sink = new std::vector<int> (100); delete sink; });
    EXPECT_GE (count, 2);
}
