#include <gtest/gtest.h>
#include "ChainTestSignals.h"

using namespace chain_test;

TEST (CVAudioProcessorParameters, ValuesAfterConstruction)
{
    CVAudioProcessor p;
    const float expected[20] = { 0.0f, 0.0f, 0.575f, 0.5f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f,
                                 0.0f, 0.0f, 3.0f / 14.0f, 0.0f, 0.0f, 22050.0f / 384000.0f, 0.0f, 0.0f, 0.85f, 0.0f };
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_NEAR (getParameter (p, i), expected[i], 1e-6f) << "parameter " << i;
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        EXPECT_EQ (p.getParameterDefaultValue (i), getParameter (p, i));
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    EXPECT_EQ (p.getNumParameters(), 20);
    EXPECT_EQ (p.getParameterName (0), "Click/Crackle Detection");
    EXPECT_EQ (p.getParameterName (19), "DExp Amount");
    EXPECT_EQ (p.getParameterName (20), "");
    EXPECT_EQ (p.getParameter (20), 0.0f);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

TEST (CVAudioProcessorParameters, TableBoundaries)
{
    CVAudioProcessor p;
    auto& nr = p.getNoiseReductionBay();

    setParameter (p, 2, 0.575f);
    EXPECT_NEAR (nr.getThreshold(), 3.0f, 1e-5f);
    EXPECT_NEAR (getParameter (p, 2), 0.575f, 1e-6f);
    setParameter (p, 3, 0.5f);
    EXPECT_FLOAT_EQ (nr.getReduction(), 15.0f);

    // Only exactly 1.0 switches 4 and 5 on; 9, 10 and 11 switch on for any non-zero value.
    setParameter (p, 4, 0.99f);
    EXPECT_FALSE (nr.getPreserveVoice());
    setParameter (p, 4, 1.0f);
    EXPECT_TRUE (nr.getPreserveVoice());
    setParameter (p, 5, 0.99f);
    EXPECT_FALSE (nr.getRemoveRumble());
    setParameter (p, 5, 1.0f);
    EXPECT_TRUE (nr.getRemoveRumble());
    setParameter (p, 9, 0.01f);
    EXPECT_TRUE (p.getDeclipper (0).enabled && p.getDeclipper (1).enabled);
    setParameter (p, 10, 0.01f);
    EXPECT_TRUE (nr.getTrack());
    setParameter (p, 11, 0.01f);
    EXPECT_TRUE (p.isBypassed());

    setParameter (p, 6, 0.49f);
    EXPECT_EQ (nr.getHumMode(), 0);
    setParameter (p, 6, 0.5f);
    EXPECT_EQ (nr.getHumMode(), 1);
    setParameter (p, 6, 1.0f);
    EXPECT_EQ (nr.getHumMode(), 2);

    setParameter (p, 12, 0.5f);
    EXPECT_EQ (nr.getNumHumHarmonics(), 7);
    EXPECT_FLOAT_EQ (getParameter (p, 12), 0.5f);

    setParameter (p, 17, 0.99f);
    EXPECT_EQ (p.getEnhancementBay().getMode(), 5);
    setParameter (p, 17, 1.0f);
    EXPECT_EQ (p.getEnhancementBay().getMode(), 6);

    setParameter (p, 19, 0.0f);
    EXPECT_FALSE (p.getExpander (0).enabled || p.getExpander (1).enabled);
    setParameter (p, 19, 0.2f);
    EXPECT_TRUE (p.getExpander (0).enabled && p.getExpander (1).enabled);
    EXPECT_FLOAT_EQ (p.getExpander (1).getRatioBelow(), 1.6f);

    setParameter (p, 18, 0.5f);
    EXPECT_FLOAT_EQ (p.getExpander (1).getThresholdLinear(), 0.5f);
    setParameter (p, 18, 1.0f);
    EXPECT_EQ (p.getExpander (0).getThresholdLinear(), 0.0f);
    EXPECT_FLOAT_EQ (getParameter (p, 18), 1.0f);

    setParameter (p, 8, 0.25f);
    EXPECT_TRUE (p.getMaximizer (0).enabled && p.getMaximizer (1).enabled);
    EXPECT_FLOAT_EQ (p.getMaximizer (1).getThresholdDb(), -10.0f);
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    EXPECT_EQ (p.getParameterText (8), "+3.05");
    EXPECT_EQ (p.getParameterText (3), "0.50");
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

TEST (CVAudioProcessorParameters, OutOfRangeValuesAreHeldToTheTable)
{
    CVAudioProcessor p;
    auto& nr = p.getNoiseReductionBay();
    setParameter (p, 7, 1.5f);
    EXPECT_EQ (nr.getMode(), 2);
    setParameter (p, 12, 5.0f);
    EXPECT_EQ (nr.getNumHumHarmonics(), 14);
    setParameter (p, 6, -1.0f);
    EXPECT_EQ (nr.getHumMode(), 0);
    setParameter (p, 3, std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ (nr.getReduction(), 15.0f);  // a NaN changes nothing
    setParameter (p, 18, 2.0f);
    EXPECT_GE (p.getExpander (0).getThresholdLinear(), 0.0f);
}

TEST (CVAudioProcessorParameters, BroadbandLimitsSendNoChangeMessage)
{
    struct Counter : juce::ChangeListener
    {
        int changes = 0;
        void changeListenerCallback (juce::ChangeBroadcaster*) override { ++changes; }
    } counter;

    CVAudioProcessor p;
    p.addChangeListener (&counter);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (30);
    counter.changes = 0;

    setParameter (p, 15, 0.02f);
    setParameter (p, 16, 0.01f);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (30);
    EXPECT_EQ (counter.changes, 0);
    EXPECT_FLOAT_EQ (p.getNoiseReductionBay().getBroadbandLimitLow(), 7680.0f);

    setParameter (p, 0, 0.5f);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (30);
    EXPECT_EQ (counter.changes, 1);
    p.removeChangeListener (&counter);
}

TEST (CVAudioProcessorParameters, ResetToDefaultsKeepsBypassLimitsAndRatio)
{
    CVAudioProcessor p;
    for (int i = 0; i < 20; ++i)
        setParameter (p, i, 0.8f);
    p.resetToDefaults();

    EXPECT_FLOAT_EQ (getParameter (p, 11), 1.0f);
    EXPECT_FLOAT_EQ (getParameter (p, 15), 0.8f);
    EXPECT_FLOAT_EQ (getParameter (p, 16), 0.8f);
    EXPECT_NEAR (getParameter (p, 19), 0.8f, 1e-6f);
    EXPECT_FALSE (p.getExpander (0).enabled);
    EXPECT_NEAR (getParameter (p, 2), 0.575f, 1e-6f);
    EXPECT_FLOAT_EQ (getParameter (p, 6), 1.0f);
    EXPECT_NEAR (getParameter (p, 12), 3.0f / 14.0f, 1e-6f);
    EXPECT_FLOAT_EQ (getParameter (p, 8), 0.0f);
}
