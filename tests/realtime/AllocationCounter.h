#pragma once

// This test binary replaces the global operator new (AllocationCounter.cpp)
// so that the audio path can be shown to allocate nothing once it is prepared.
#include <juce_audio_basics/juce_audio_basics.h>

#include <functional>

namespace clarivo_test
{
// Heap allocations made by the calling thread while `work` runs; JUCE's own
// threads may allocate freely.
long countAllocations (const std::function<void()>& work);

// Fills a stereo buffer with noise and a tone so that every stage has work.
void fillTestSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, double& phase);
} // namespace clarivo_test
