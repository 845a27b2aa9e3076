#include <gtest/gtest.h>
#include "AllocationCounter.h"
#include "CVAudioProcessor.h"

#include <algorithm>
#include <thread>

using clarivo_test::countAllocations;
using clarivo_test::fillTestSignal;

namespace
{
// `calls` calls of the processor on fresh test signal, `shape` applied to
// each buffer before it goes in.
struct Player
{
    CVAudioProcessor& p;
    juce::AudioBuffer<float> buffer;
    juce::Random random { 7 };
    double phase = 0.0;
    juce::MidiBuffer midi;

    Player (CVAudioProcessor& processor, int block) : p (processor), buffer (2, block) {}

    void run (int calls, const std::function<void (juce::AudioBuffer<float>&, int)>& shape = nullptr)
    {
        for (int i = 0; i < calls; ++i)
        {
            fillTestSignal (buffer, random, phase);
            if (shape)
                shape (buffer, i);
            p.processBlock (buffer, midi);
        }
    }
};
} // namespace

TEST (Realtime, ProcessBlockDoesNotAllocateAtAnyBlockSize)
{
    CVAudioProcessor p;
    for (int block : { 512, 256, 1024, 4096 })
    {
        p.prepareToPlay (44100.0, block);
        Player player (p, block);
        player.run (1); // first-touch work of any lazy member, outside the count
        EXPECT_EQ (countAllocations ([&] { player.run (200); }), 0) << "block size " << block;
    }
}

TEST (Realtime, WholeChainDoesNotAllocate)
{
    // Every stage at work on hard-clipped input with clicks: declipper, Declick
    // at 1, noise reduction reducing with hum, rumble and low-pass, expander,
    // Enhance at 0.5 and boost at 0.5.
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (auto [index, value] : { std::pair { 9, 1.0f }, { 0, 1.0f }, { 7, 0.5f }, { 6, 0.5f }, { 5, 1.0f },
                                 { 13, 0.6f }, { 14, 0.6f }, { 10, 1.0f }, { 19, 1.0f }, { 1, 0.5f }, { 8, 0.5f } })
        p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    auto clippedWithClicks = [] (juce::AudioBuffer<float>& buffer, int call)
    {
        for (int c = 0; c < 2; ++c)
        {
            auto* x = buffer.getWritePointer (c);
            for (int i = 0; i < 512; ++i)
                x[i] = std::clamp (x[i], -0.2f, 0.2f);
            if (call % 3 == 0)
                x[100] += 0.9f;
        }
    };

    Player player (p, 512);
    player.run (1, clippedWithClicks);
    EXPECT_EQ (countAllocations ([&] { player.run (300, clippedWithClicks); }), 0);

    // Settings changed while playing are taken over by the next block without
    // allocating: an Enhance mode (band table, new masks, reset), a reduction
    // curve, hum filters, a profile.
    for (int mode = 0; mode < 7; ++mode)
    {
        p.getEnhancementBay().setMode (mode);
        p.getNoiseReductionBay().setReduction (4.0f * (float) mode);
        p.getNoiseReductionBay().setHumMode (mode % 2);
        p.getNoiseReductionBay().pushProfiles();
        EXPECT_EQ (countAllocations ([&] { player.run (2, clippedWithClicks); }), 0) << "mode " << mode;
    }
}

TEST (Realtime, NoiseReductionDoesNotAllocateInAnyMode)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    auto& bay = p.getNoiseReductionBay();
    bay.setHumMode (1);
    bay.setNumHumHarmonics (14);
    bay.setRemoveRumble (true);
    bay.setRumbleFrequency (100.0f);
    bay.setPreserveVoice (true);
    bay.setLowPassFrequency (8000.0f);
    bay.setTrack (true);
    Player player (p, 512);

    // A whole learning pass, ended from the processing thread as the player's
    // tap would: the messages it raises are handed over without allocating.
    long learning = -1;
    std::thread tap ([&] {
        learning = countAllocations ([&] {
            bay.startLearning();
            player.run (40);
            bay.stopLearning();
            player.run (4);
        });
    });
    tap.join();
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_EQ (learning, 0);

    for (int mode : { 0, 1, 2 })
    {
        bay.setMode (mode);
        player.run (2);
        EXPECT_EQ (countAllocations ([&] { player.run (200); }), 0) << "mode " << mode;
    }
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}
