#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <memory>

// The bays broadcast through JUCE and the processor runs timers, so their
// tests run with the message manager set up; the DSP objects' tests show that
// they need none.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
#if CLARIVO_TEST_MESSAGE_MANAGER
    juce::ScopedJuceInitialiser_GUI juceInit;
#endif
    return RUN_ALL_TESTS();
}
