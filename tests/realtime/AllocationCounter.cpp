#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <pthread.h>
#include <vector>

namespace
{
thread_local bool counting = false;
std::atomic<long> allocations { 0 };
std::atomic<long> locks { 0 };

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

// Every mutex of the program, JUCE's and the C++ library's included, is taken
// through these; the executable's definitions come first, so the audio
// thread's locks are counted and then taken for real.
using MutexCall = int (*) (pthread_mutex_t*);

extern "C" int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    static const auto real = reinterpret_cast<MutexCall> (dlsym (RTLD_NEXT, "pthread_mutex_lock"));
    if (counting)
        locks.fetch_add (1, std::memory_order_relaxed);
    return real (mutex);
}

extern "C" int pthread_mutex_trylock (pthread_mutex_t* mutex)
{
    static const auto real = reinterpret_cast<MutexCall> (dlsym (RTLD_NEXT, "pthread_mutex_trylock"));
    if (counting)
        locks.fetch_add (1, std::memory_order_relaxed);
    return real (mutex);
}

namespace clarivo_test
{
RealtimeCounts countRealtimeFaults (const std::function<void()>& work)
{
    allocations = 0;
    locks = 0;
    counting = true;
    work();
    counting = false;
    return { allocations.load(), locks.load() };
}
} // namespace clarivo_test

// Without this, a counter that saw nothing would let every other test pass.
TEST (Realtime, CounterSeesAllocationsAndLocks)
{
    static std::vector<int>* volatile sink = nullptr;
    EXPECT_GE (clarivo_test::countRealtimeFaults ([] { sink = new std::vector<int> (100); delete sink; }).allocations, 2);

    std::mutex mutex;
    juce::CriticalSection section;
    const auto counts = clarivo_test::countRealtimeFaults ([&] {
        const std::lock_guard<std::mutex> a (mutex);
        const juce::ScopedLock b (section);
    });
    EXPECT_EQ (counts.locks, 2);
}
