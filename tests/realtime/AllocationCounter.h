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
long countAllocations (const std::function<void()>& work);

// Fills a stereo buffer with noise and a tone so that every stage has work.
void fillTestSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, double& phase);
} // namespace clarivo_test
