// The processor's 20 parameters and its saved state, the content of preset files.
#include "CVAudioProcessor.h"

#include <cmath>
#include <cstdio>

namespace
{
struct ParameterInfo
{
    const char* name;
    const char* id;
};

const ParameterInfo parameterInfo[20] = {
    { "Click/Crackle Detection", "clickcrackleParam" },
    { "Enhance", "enhanceParam" },
    { "Tuner-Broadband NR", "thresholdParam" },
    { "Amount-Broadband NR", "reductionParam" },
    { "Preserve Voice", "preserveVoiceParam" },
    { "Remove Rumble", "removeRumbleParam" },
    { "Hum Removal", "humModeParam" },
    { "Noise Reduction Mode", "modeParam" },
    { "Boost Volume", "boostParam" },
    { "Declipper", "declipParam" },
    { "Track", "trackParam" },
    { "Bypass", "bypassParam" },
    { "Num Hum Harmonics", "numHarmonicsParam" },
    { "Rumble Freq", "removeRumbleFreqParam" },
    { "Low Pass Freq", "lowPassFreqParam" },
    { "Broadband Limit Low", "broadbandFreqLimitLowParam" },
    { "Broadband Limit High", "broadbandFreqLimitHighParam" },
    { "Enhance Preset", "enhancePresetParam" },
    { "DExp Threshold", "dExpThresholdParam" },
    { "DExp Amount", "dExpAmountParam" },
};

// The order in which the state stores and restores the parameters: the
// expander threshold (which also moves the track floor) after track, the two
// broadband limits last.
const int stateOrder[20] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17, 18, 19, 15, 16 };

constexpr unsigned kProfileLength = 513;

juce::String formatNumber (double value)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%.20g", value);
    return text;
}
} // namespace

int CVAudioProcessor::getNumParameters() { return 20; }

const juce::String CVAudioProcessor::getParameterName (int index)
{
    return juce::isPositiveAndBelow (index, 20) ? juce::String (parameterInfo[index].name) : juce::String();
}

float CVAudioProcessor::getParameter (int index)
{
    auto& nr = *noiseReduction;
    auto& ch0 = channels[0];

    switch (index)
    {
        case 0:  return declick->getAmount();
        case 1:  return enhance->getAmount();
        case 2:  return (nr.getThreshold() + 20.0f) / 40.0f;
        case 3:  return nr.getReduction() / 30.0f;
        case 4:  return nr.getPreserveVoice() ? 1.0f : 0.0f;
        case 5:  return nr.getRemoveRumble() ? 1.0f : 0.0f;
        case 6:  return (float) nr.getHumMode() * 0.5f;
        case 7:  return (float) nr.getMode() * 0.5f;
        case 8:  return ch0.boost->getThresholdDb() / -40.0f;
        case 9:  return ch0.declipper->enabled ? 1.0f : 0.0f;
        case 10: return nr.getTrack() ? 1.0f : 0.0f;
        case 11: return bypass ? 1.0f : 0.0f;
        case 12: return (float) nr.getNumHumHarmonics() / 14.0f;
        case 13: return nr.getRumbleFrequency() / 140.0f;
        case 14: return nr.getLowPassFrequency() / 18000.0f;
        case 15: return nr.getBroadbandLimitLow() / 384000.0f;
        case 16: return nr.getBroadbandLimitHigh() / 384000.0f;
        case 17: return (float) enhance->getMode() / 6.0f;
        case 18: return 1.0f - ch0.expander->getThresholdLinear();
        case 19: return (ch0.expander->getRatioBelow() - 1.0f) / 3.0f;
        default: return 0.0f;
    }
}

void CVAudioProcessor::setParameter (int index, float v)
{
    // Every value is normalised; one from a damaged preset or a host may be
    // anything, and out of range it would reach modes and tables that do not
    // exist. In-range values are taken as they are.
    const bool usable = std::isfinite (v);
    v = juce::jlimit (0.0f, 1.0f, usable ? v : 0.0f);

    if (usable)
    {
        auto& nr = *noiseReduction;

        switch (index)
        {
            case 0:  declick->setAmount (v); break;
            case 1:  enhance->setAmount (v); break;
            case 2:  nr.setThreshold ((float) (40.0 * (double) v - 20.0)); break;
            case 3:  nr.setReduction (30.0f * v); break;
            case 4:  nr.setPreserveVoice (v == 1.0f); break;
            case 5:  nr.setRemoveRumble (v == 1.0f); break;
            case 6:  nr.setHumMode ((int) (2.0f * v)); break;
            case 7:  nr.setMode ((int) (2.0f * v)); break;
            case 8:
                for (auto& ch : channels)
                {
                    ch.boost->enabled = v != 0.0f;
                    ch.boost->setThreshold (-40.0f * v);
                }
                break;
            case 9:
                for (auto& ch : channels)
                    ch.declipper->enabled = v != 0.0f;
                break;
            case 10: nr.setTrack (v != 0.0f); break;
            case 11: bypass = v != 0.0f; break;
            case 12: nr.setNumHumHarmonics ((int) (14.0f * v)); break;
            case 13: nr.setRumbleFrequency (140.0f * v); break;
            case 14: nr.setLowPassFrequency (18000.0f * v); break;
            case 15: nr.setBroadbandLimitLow (384000.0f * v); break;
            case 16: nr.setBroadbandLimitHigh (384000.0f * v); break;
            case 17: enhance->setMode ((int) (6.0f * v)); break;
            case 18:
            {
                const float t = 1.0f - v;
                for (auto& ch : channels)
                    ch.expander->setThresholdLinear (t);
                if (t != 0.0f)
                    nr.setTrackFloor (channels[0].expander->getThresholdDb() - 18.0f);
                break;
            }
            case 19:
            {
                const float r = 3.0f * v + 1.0f;
                for (auto& ch : channels)
                {
                    ch.expander->setRatioBelow (r);
                    ch.expander->enabled = r != 1.0f;
                }
                break;
            }
            default: break;
        }
    }

    if (index != 15 && index != 16)
        sendChangeMessage();
}

const juce::String CVAudioProcessor::getParameterText (int index)
{
    if (index == 8)
    {
        char text[32];
        std::snprintf (text, sizeof (text), "%+2.2f", (double) channels[0].boost->getMakeup());
        return text;
    }

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return juce::String (getParameter (index), 2);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

float CVAudioProcessor::getParameterDefaultValue (int index)
{
    return juce::isPositiveAndBelow (index, (int) parameterCache.size()) ? parameterCache[(size_t) index] : 0.0f;
}

void CVAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    auto* profile0 = noiseReduction->getChannelProfile (0);
    auto* profile1 = noiseReduction->getChannelProfile (1);
    if (profile0 == nullptr || profile1 == nullptr)
        return;

    juce::XmlElement state ("NoiseProfile");

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (int index : stateOrder)
        state.setAttribute (parameterInfo[index].id, formatNumber ((double) getParameter (index)));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    state.addChildElement (profile0->createXml());
    state.addChildElement (profile1->createXml());
    copyXmlToBinary (state, destData);
}

void CVAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return;

    const auto state = getXmlFromBinary (data, sizeInBytes);
    if (state == nullptr)
        return;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (int index : stateOrder)
        setParameter (index, (float) state->getDoubleAttribute (parameterInfo[index].id, 0.0));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    auto* first = state->getChildElement (0);
    auto* second = state->getChildElement (1);
    auto* profile0 = noiseReduction->getChannelProfile (0);
    auto* profile1 = noiseReduction->getChannelProfile (1);
    if (first == nullptr || second == nullptr || profile0 == nullptr || profile1 == nullptr)
        return;

    // Both profiles are read aside first: a damaged one leaves both channels as
    // they were instead of one replaced and the other not.
    quarn::ZBuffer read0 (kProfileLength, "NoiseProfile0");
    quarn::ZBuffer read1 (kProfileLength, "NoiseProfile1");
    try
    {
        read0.restoreFromXml (*first);
        read1.restoreFromXml (*second);
    }
    catch (const quarn::qj_dsp_exception&)
    {
        return;
    }

    if (read0.getLength() != kProfileLength || read1.getLength() != kProfileLength)
        return;

    // Checked, both elements are read for real: each profile takes its name
    // and sample rate from the file as well, so the next save writes them back.
    profile0->restoreFromXml (*first);
    profile1->restoreFromXml (*second);
    noiseReduction->pushProfiles();
}
