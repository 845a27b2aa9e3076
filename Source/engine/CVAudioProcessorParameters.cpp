// The processor's 20 parameters and its saved state, the content of preset files.
#include "engine/CVAudioProcessor.h"

#include "UntrustedParse.h"
#include "ZNumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

// One row per parameter: what the host sees, what the state stores, the
// value after construction and how the normalised value maps onto the stages.
// Conversions to int truncate toward zero.
struct CVAudioProcessor::ParameterRow
{
    const char* name;
    const char* id;
    float defaultValue;
    void (*set) (CVAudioProcessor&, float v);
    float (*get) (CVAudioProcessor&);
};

namespace
{
// The order in which the state stores and restores the parameters: the
// expander threshold (which also moves the track floor) after track, the two
// broadband limits last.
constexpr int stateOrder[CVAudioProcessor::kNumParameters] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17, 18, 19, 15, 16 };

constexpr unsigned kProfileLength = 513;

// The state's own depth is three (the root, its profiles and their data); a
// document nested much deeper is not ours.
constexpr int kMaxStateDepth = 8;

// The binary wrapper's magic number (juce::AudioProcessor::copyXmlToBinary).
constexpr std::uint32_t kStateMagic = 0x21324356;

} // namespace

const CVAudioProcessor::ParameterRow CVAudioProcessor::parameterTable[kNumParameters] = {
    { "Click/Crackle Detection", "clickcrackleParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.declick->setAmount (v); },
      [] (CVAudioProcessor& p) { return p.declick->getAmount(); } },
    { "Enhance", "enhanceParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.enhance->setAmount (v); },
      [] (CVAudioProcessor& p) { return p.enhance->getAmount(); } },
    { "Tuner-Broadband NR", "thresholdParam", 0.575f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setThreshold ((float) (40.0 * (double) v - 20.0)); },
      [] (CVAudioProcessor& p) { return (p.noiseReduction->getThreshold() + 20.0f) / 40.0f; } },
    { "Amount-Broadband NR", "reductionParam", 0.5f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setReduction (30.0f * v); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getReduction() / 30.0f; } },
    { "Preserve Voice", "preserveVoiceParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setPreserveVoice (v == 1.0f); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getPreserveVoice() ? 1.0f : 0.0f; } },
    { "Remove Rumble", "removeRumbleParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setRemoveRumble (v == 1.0f); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getRemoveRumble() ? 1.0f : 0.0f; } },
    { "Hum Removal", "humModeParam", 1.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setHumMode ((int) (2.0f * v)); },
      [] (CVAudioProcessor& p) { return (float) p.noiseReduction->getHumMode() * 0.5f; } },
    { "Noise Reduction Mode", "modeParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setMode ((int) (2.0f * v)); },
      [] (CVAudioProcessor& p) { return (float) p.noiseReduction->getMode() * 0.5f; } },
    { "Boost Volume", "boostParam", 0.0f,
      [] (CVAudioProcessor& p, float v)
      {
          for (auto& ch : p.channels)
          {
              ch.boost->enabled = v != 0.0f;
              ch.boost->setThreshold (-40.0f * v);
          }
      },
      [] (CVAudioProcessor& p) { return p.channels[0].boost->getThresholdDb() / -40.0f; } },
    { "Declipper", "declipParam", 0.0f,
      [] (CVAudioProcessor& p, float v)
      {
          for (auto& ch : p.channels)
              ch.declipper->enabled = v != 0.0f;
      },
      [] (CVAudioProcessor& p) { return p.channels[0].declipper->enabled ? 1.0f : 0.0f; } },
    { "Track", "trackParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setTrack (v != 0.0f); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getTrack() ? 1.0f : 0.0f; } },
    { "Bypass", "bypassParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.bypass = v != 0.0f; },
      [] (CVAudioProcessor& p) { return p.bypass.load() ? 1.0f : 0.0f; } },
    { "Num Hum Harmonics", "numHarmonicsParam", 3.0f / 14.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setNumHumHarmonics ((int) (14.0f * v)); },
      [] (CVAudioProcessor& p) { return (float) p.noiseReduction->getNumHumHarmonics() / 14.0f; } },
    { "Rumble Freq", "removeRumbleFreqParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setRumbleFrequency (140.0f * v); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getRumbleFrequency() / 140.0f; } },
    { "Low Pass Freq", "lowPassFreqParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setLowPassFrequency (18000.0f * v); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getLowPassFrequency() / 18000.0f; } },
    { "Broadband Limit Low", "broadbandFreqLimitLowParam", 22050.0f / 384000.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setBroadbandLimitLow (384000.0f * v); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getBroadbandLimitLow() / 384000.0f; } },
    { "Broadband Limit High", "broadbandFreqLimitHighParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.noiseReduction->setBroadbandLimitHigh (384000.0f * v); },
      [] (CVAudioProcessor& p) { return p.noiseReduction->getBroadbandLimitHigh() / 384000.0f; } },
    { "Enhance Preset", "enhancePresetParam", 0.0f,
      [] (CVAudioProcessor& p, float v) { p.enhance->setMode ((int) (6.0f * v)); },
      [] (CVAudioProcessor& p) { return (float) p.enhance->getMode() / 6.0f; } },
    { "DExp Threshold", "dExpThresholdParam", 0.85f,
      [] (CVAudioProcessor& p, float v)
      {
          const float t = 1.0f - v;
          for (auto& ch : p.channels)
              ch.expander->setThresholdLinear (t);
          if (t != 0.0f)
              p.noiseReduction->setTrackFloor (p.channels[0].expander->getThresholdDb() - 18.0f);
      },
      [] (CVAudioProcessor& p) { return 1.0f - p.channels[0].expander->getThresholdLinear(); } },
    { "DExp Amount", "dExpAmountParam", 0.0f,
      [] (CVAudioProcessor& p, float v)
      {
          const float r = 3.0f * v + 1.0f;
          for (auto& ch : p.channels)
          {
              ch.expander->setRatioBelow (r);
              ch.expander->enabled = r != 1.0f;
          }
      },
      [] (CVAudioProcessor& p) { return (p.channels[0].expander->getRatioBelow() - 1.0f) / 3.0f; } },
};

int CVAudioProcessor::getNumParameters() { return kNumParameters; }

const juce::String CVAudioProcessor::getParameterName (int index)
{
    return juce::isPositiveAndBelow (index, kNumParameters) ? juce::String (parameterTable[index].name) : juce::String();
}

float CVAudioProcessor::getParameter (int index)
{
    return juce::isPositiveAndBelow (index, kNumParameters) ? parameterTable[index].get (*this) : 0.0f;
}

void CVAudioProcessor::setParameter (int index, float v)
{
    // Every value is normalised; one from a damaged preset or a host may be
    // anything, and out of range it would reach modes and tables that do not
    // exist. In-range values are taken as they are; a NaN changes nothing.
    if (std::isfinite (v) && juce::isPositiveAndBelow (index, kNumParameters))
        parameterTable[index].set (*this, juce::jlimit (0.0f, 1.0f, v));

    if (index != (int) Parameter::broadbandLimitLow && index != (int) Parameter::broadbandLimitHigh)
        sendChangeMessage();
}

const juce::String CVAudioProcessor::getParameterText (int index)
{
    if (index == (int) Parameter::boost)
    {
        char text[32];
        std::snprintf (text, sizeof (text), "%+2.2f", (double) channels[0].boost->getMakeup());
        return text;
    }

    return juce::String (getParameter (index), 2);
}

float CVAudioProcessor::getParameterDefaultValue (int index)
{
    // The table's defaults are the values after construction, which the
    // parameter tests hold them to.
    return juce::isPositiveAndBelow (index, kNumParameters) ? parameterTable[index].defaultValue : 0.0f;
}

void CVAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    auto* profile0 = noiseReduction->getChannelProfile (0);
    auto* profile1 = noiseReduction->getChannelProfile (1);
    if (profile0 == nullptr || profile1 == nullptr)
        return;

    juce::XmlElement state ("NoiseProfile");

    for (int index : stateOrder)
        state.setAttribute (parameterTable[index].id, quarn::formatStateNumber ((double) getParameter (index)));

    state.addChildElement (profile0->createXml());
    state.addChildElement (profile1->createXml());
    copyXmlToBinary (state, destData);
}

// Everything a state would set, read and checked before anything is set: a
// state is either taken whole or not at all.
bool CVAudioProcessor::readStateAside (const juce::XmlElement& state, std::array<float, kNumParameters>& values,
                                       quarn::ZBuffer& profile0, quarn::ZBuffer& profile1, bool& hasProfiles) const
{
    for (int index = 0; index < kNumParameters; ++index)
    {
        // A missing attribute means 0; one that is there must be a number as
        // we write it. The framework's reader would take "0,5" (a preset
        // written under a decimal-comma locale) or "abc" as 0 and half apply
        // a damaged preset.
        const auto* id = parameterTable[index].id;
        if (! state.hasAttribute (id))
        {
            values[(size_t) index] = 0.0f;
            continue;
        }
        const auto value = quarn::parseStateFloat (state.getStringAttribute (id));
        if (! value.has_value())
            return false;
        values[(size_t) index] = *value;
    }

    auto* first = state.getChildElement (0);
    auto* second = state.getChildElement (1);
    hasProfiles = first != nullptr && second != nullptr;
    if (! hasProfiles)
        return true;

    try
    {
        profile0.restoreFromXml (*first);
        profile1.restoreFromXml (*second);
    }
    catch (const quarn::qj_dsp_exception&)
    {
        return false;
    }

    return profile0.getLength() == kProfileLength && profile1.getLength() == kProfileLength;
}

void CVAudioProcessor::setStateInformation (const void* data, int sizeInBytes) { applyState (data, sizeInBytes); }

bool CVAudioProcessor::applyState (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8)
        return false;

    // The binary form is a magic number, the text's size and the text, read
    // as getXmlFromBinary reads it.
    const auto length = (int) juce::ByteOrder::littleEndianInt (static_cast<const char*> (data) + 4);
    if (juce::ByteOrder::littleEndianInt (data) != kStateMagic || length <= 0)
        return false;
    // A cut state (a preset broken off by a full disk) is no state, however
    // much of it is left.
    if (sizeInBytes - 8 < length)
        return false;
    const auto text = juce::String::fromUTF8 (static_cast<const char*> (data) + 8, juce::jmin (sizeInBytes - 8, length));
    clarivo::parse::XmlLimits limits;
    limits.maxDepth = kMaxStateDepth;

    // Every state we write is a "NoiseProfile"; another document (another
    // program's state in the same wrapper) would set every parameter to 0.
    const auto state = clarivo::parse::parseUntrustedXml (text, limits);
    if (state == nullptr || ! state->hasTagName ("NoiseProfile"))
        return false;

    std::array<float, kNumParameters> values {};
    quarn::ZBuffer read0 (kProfileLength, "NoiseProfile0");
    quarn::ZBuffer read1 (kProfileLength, "NoiseProfile1");
    bool hasProfiles = false;
    if (! readStateAside (*state, values, read0, read1, hasProfiles))
        return false;

    for (int index : stateOrder)
        setParameter (index, values[(size_t) index]);

    auto* profile0 = noiseReduction->getChannelProfile (0);
    auto* profile1 = noiseReduction->getChannelProfile (1);
    if (! hasProfiles || profile0 == nullptr || profile1 == nullptr)
        return true;

    // Each profile takes its name and sample rate from the state as well, so
    // the next save writes them back.
    profile0->restoreFromXml (*state->getChildElement (0));
    profile1->restoreFromXml (*state->getChildElement (1));
    noiseReduction->pushProfiles();
    return true;
}
