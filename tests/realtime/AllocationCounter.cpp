#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace
{
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
long countAllocations (const std::function<void()>& work)
{
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations.load();
}

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
} // namespace clarivo_test

// Without this, a counter that saw nothing would let every other test pass.
TEST (Realtime, CounterSeesAllocations)
{
    static std::vector<int>* volatile sink = nullptr;
    EXPECT_GE (clarivo_test::countAllocations ([] { sink = new std::vector<int> (100); delete sink; }), 2);
}
