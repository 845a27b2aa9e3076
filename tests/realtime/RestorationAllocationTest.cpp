#include <gtest/gtest.h>
#include "CVAudioProcessor.h"

#include <algorithm>
#include <functional>

// The counting allocator and its helpers live in ProcessBlockAllocationTest.cpp.
namespace clarivo_test
{
void fillTestSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, double& phase);
long countAllocations (const std::function<void()>& work);
} // namespace clarivo_test

TEST (Realtime, WholeChainDoesNotAllocate)
{
    // Every stage at work on hard-clipped input with clicks: declipper, Declick
    // at 1, noise reduction reducing with hum, rumble and low-pass, expander,
    // Enhance at 0.5 and boost at 0.5.
    CVAudioProcessor p;
    juce::MidiBuffer midi;
    juce::Random random (11);
    double phase = 0.0;

    p.prepareToPlay (44100.0, 512);
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (auto [index, value] : { std::pair { 9, 1.0f }, { 0, 1.0f }, { 7, 0.5f }, { 6, 0.5f }, { 5, 1.0f },
                                 { 13, 0.6f }, { 14, 0.6f }, { 10, 1.0f }, { 19, 1.0f }, { 1, 0.5f }, { 8, 0.5f } })
        p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    juce::AudioBuffer<float> buffer (2, 512);
    auto fillClippedWithClicks = [&] (int call)
    {
        clarivo_test::fillTestSignal (buffer, random, phase);
        for (int c = 0; c < 2; ++c)
        {
            auto* x = buffer.getWritePointer (c);
            for (int i = 0; i < 512; ++i)
                x[i] = std::clamp (x[i], -0.2f, 0.2f);
            if (call % 3 == 0)
                x[100] += 0.9f;
        }
    };

    fillClippedWithClicks (0);
    p.processBlock (buffer, midi);

    int call = 1;
    const long count = clarivo_test::countAllocations ([&]
    {
        for (int i = 0; i < 300; ++i)
        {
            fillClippedWithClicks (call++);
            p.processBlock (buffer, midi);
        }
    });
    EXPECT_EQ (count, 0);
}
