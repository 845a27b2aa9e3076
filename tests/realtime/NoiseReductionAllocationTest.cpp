#include <gtest/gtest.h>
#include "CVAudioProcessor.h"

#include <functional>
#include <thread>

// The counting allocator and its helpers live in ProcessBlockAllocationTest.cpp.
namespace clarivo_test
{
void fillTestSignal (juce::AudioBuffer<float>& buffer, juce::Random& random, double& phase);
long countAllocations (const std::function<void()>& work);
} // namespace clarivo_test

TEST (Realtime, NoiseReductionDoesNotAllocateInAnyMode)
{
    CVAudioProcessor p;
    juce::MidiBuffer midi;
    juce::Random random (13);
    double phase = 0.0;
    p.prepareToPlay (44100.0, 512);

    auto& bay = p.getNoiseReductionBay();
    bay.setHumMode (1);
    bay.setNumHumHarmonics (14);
    bay.setRemoveRumble (true);
    bay.setRumbleFrequency (100.0f);
    bay.setPreserveVoice (true);
    bay.setLowPassFrequency (8000.0f);
    bay.setTrack (true);

    juce::AudioBuffer<float> buffer (2, 512);
    auto run = [&] (int calls) {
        for (int i = 0; i < calls; ++i)
        {
            clarivo_test::fillTestSignal (buffer, random, phase);
            p.processBlock (buffer, midi);
        }
    };

    // A whole learning pass, ended from the processing thread as the player's
    // tap would: the messages it raises are handed over without allocating.
    long learning = -1;
    std::thread tap ([&] {
        learning = clarivo_test::countAllocations ([&] {
            bay.startLearning();
            run (40);
            bay.stopLearning();
            run (4);
        });
    });
    tap.join();
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_EQ (learning, 0);

    for (int mode : { 0, 1, 2 })
    {
        bay.setMode (mode);
        run (2);
        EXPECT_EQ (clarivo_test::countAllocations ([&] { run (200); }), 0) << "mode " << mode;
    }
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}
