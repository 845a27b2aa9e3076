// The parameter table and the saved state arrive with the complete chain; until
// then only the bypass switch is real.
#include "CVAudioProcessor.h"

int CVAudioProcessor::getNumParameters() { return 20; }

const juce::String CVAudioProcessor::getParameterName (int) { return {}; }

float CVAudioProcessor::getParameter (int index)
{
    return index == 11 ? (bypass ? 1.0f : 0.0f) : 0.0f;
}

void CVAudioProcessor::setParameter (int index, float value)
{
    if (index == 11)
        bypass = value != 0.0f;

    if (index != 15 && index != 16)
        sendChangeMessage();
}

const juce::String CVAudioProcessor::getParameterText (int index)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return juce::String (getParameter (index), 2);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

float CVAudioProcessor::getParameterDefaultValue (int index)
{
    return juce::isPositiveAndBelow (index, (int) parameterCache.size()) ? parameterCache[(size_t) index] : 0.0f;
}

void CVAudioProcessor::getStateInformation (juce::MemoryBlock&) {}
void CVAudioProcessor::setStateInformation (const void*, int) {}
