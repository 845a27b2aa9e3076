#pragma once

// This test binary replaces the global operator new and the mutex lock
// (AllocationCounter.cpp) so that the audio path can be shown to allocate
// nothing and wait for nobody once it is prepared.
#include <juce_audio_basics/juce_audio_basics.h>

#include <functional>

namespace clarivo_test
{
struct RealtimeCounts
{
    long allocations = 0;
    long locks = 0;
};

// Heap allocations and mutex locks made by the calling thread while `work`
// runs; other threads may allocate and lock freely.
RealtimeCounts countRealtimeFaults (const std::function<void()>& work);
} // namespace clarivo_test
