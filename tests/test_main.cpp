#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// DSP objects broadcast through JUCE, and the processor runs timers, so every
// test binary runs with the message manager set up.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    juce::ScopedJuceInitialiser_GUI juceInit;
    return RUN_ALL_TESTS();
}
