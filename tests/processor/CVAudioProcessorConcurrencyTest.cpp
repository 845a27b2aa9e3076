#include <gtest/gtest.h>
#include "ChainTestSignals.h"

#include <atomic>
#include <thread>

using namespace chain_test;

// The message thread does all a user and a preset can do, as fast as it can,
// while the tap's thread plays: nothing the audio thread reads may tear, and
// once the changes stop the chain must be exactly as late as it says.
TEST (CVAudioProcessorConcurrency, SettingsStatesAndLearningDuringPlayback)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);

    juce::MemoryBlock defaults;
    p.getStateInformation (defaults);

    std::atomic<bool> done { false };
    std::atomic<long> blocks { 0 };
    std::atomic<bool> outOfRange { false };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, 512);
        juce::MidiBuffer midi;
        juce::Random random (3);
        while (! done)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 512; ++i)
                    buffer.setSample (c, i, 0.8f * (random.nextFloat() - 0.5f));
            p.processBlock (buffer, midi);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 512; ++i)
                {
                    const float x = buffer.getSample (c, i);
                    if (! std::isfinite (x) || std::abs (x) > 1.0f)
                        outOfRange = true;
                }
            ++blocks;
        }
    });

    juce::Random random (99);
    auto& bay = p.getNoiseReductionBay();
    for (int round = 0; round < 4000; ++round)
    {
        for (int i = 0; i < 20; ++i)
            setParameter (p, random.nextInt (20), random.nextFloat());
        setParameter (p, 17, (float) random.nextInt (7) / 6.0f); // Enhance mode switch
        setParameter (p, 7, 0.5f * (float) random.nextInt (3));   // noise reduction mode

        if (round % 50 == 10)
            bay.startLearning();
        if (round % 50 == 30)
            bay.stopLearning();
        if (round % 40 == 20)
        {
            juce::MemoryBlock state;
            p.getStateInformation (state);
            p.setStateInformation (state.getData(), (int) state.getSize());
        }
        if (round % 60 == 0)
            p.setStateInformation (defaults.getData(), (int) defaults.getSize());
        if (round % 10 == 0)
            pumpMessages (1);
    }

    done = true;
    audio.join();
    EXPECT_FALSE (outOfRange.load());
    EXPECT_GT (blocks.load(), 100);

    // Every stage back to passing: the delay of a noise burst is the latency.
    p.setStateInformation (defaults.getData(), (int) defaults.getSize());
    setParameter (p, 11, 0.0f);
    pumpMessages (20);
    const int latency = p.getLatencySamples();
    const auto in = noiseBurst ((size_t) latency + 30000, 12000, 4000);
    const auto out = process (p, in, 512);
    EXPECT_EQ (measuredDelay (in, out[0], latency + 1000), latency);
    EXPECT_EQ (measuredDelay (in, out[1], latency + 1000), latency);
}
