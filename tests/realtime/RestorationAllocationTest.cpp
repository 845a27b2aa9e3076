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

TEST (Realtime, RestorationStagesDoNotAllocate)
{
    // Every stage of the declipper, "Declick", expander and boost at work: hard
    // clipped input with clicks, declick at amount 1, expansion and boost on.
    CVAudioProcessor p;
    juce::MidiBuffer midi;
    juce::Random random (11);
    double phase = 0.0;

    p.prepareToPlay (44100.0, 512);
    p.getDeclickBay().setAmount (1.0f);
    for (int c = 0; c < 2; ++c)
    {
        p.getDeclipper (c).enabled = true;
        p.getExpander (c).setRatioBelow (4.0f);
        p.getExpander (c).enabled = true;
        p.getMaximizer (c).setThreshold (-20.0f);
        p.getMaximizer (c).enabled = true;
    }

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
