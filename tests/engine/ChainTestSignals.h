#pragma once

#include "engine/CVAudioProcessor.h"
#include "TestSignals.h"

namespace chain_test
{
using namespace clarivo_test;

// A processor prepared as a host prepares it before the first call.
struct PreparedProcessor : CVAudioProcessor
{
    explicit PreparedProcessor (double rate = 44100.0, int block = 512) { prepareToPlay (rate, block); }
};

inline void setParameter (CVAudioProcessor& p, int index, float value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

inline float getParameter (CVAudioProcessor& p, int index)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    return p.getParameter (index);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

// Runs a signal (the same on every channel) through the processor in calls
// of `block` samples, the last call taking what is left; returns each
// channel's output.
inline std::vector<Signal> process (CVAudioProcessor& p, const Signal& in, int block, int numChannels = 2)
{
    std::vector<Signal> out ((size_t) numChannels);
    juce::AudioBuffer<float> buffer (numChannels, block);
    juce::MidiBuffer midi;

    for (size_t pos = 0; pos < in.size(); pos += (size_t) block)
    {
        const int n = (int) std::min<size_t> ((size_t) block, in.size() - pos);
        buffer.setSize (numChannels, n, false, false, true);
        for (int c = 0; c < numChannels; ++c)
            buffer.copyFrom (c, 0, in.data() + pos, n);
        p.processBlock (buffer, midi);
        for (int c = 0; c < numChannels; ++c)
            out[(size_t) c].insert (out[(size_t) c].end(), buffer.getReadPointer (c), buffer.getReadPointer (c) + n);
    }
    return out;
}

// Channel 0 only.
inline Signal runThrough (CVAudioProcessor& p, const Signal& in, int block = 512, int numChannels = 2)
{
    return process (p, in, block, numChannels)[0];
}

// A burst of white noise between stretches of silence, whose cross-correlation
// with the output has one sharp peak at the chain's delay, must come out of
// both channels exactly as late as reported.
inline void expectDelayEqualsLatency (CVAudioProcessor& p, int block, const char* when, size_t lead = 1000, size_t length = 2048)
{
    const int latency = p.getLatencySamples();
    Signal in ((size_t) latency + lead + length + 4000, 0.0f);
    const auto burst = uniformNoise (length, 0.2f, 11);
    std::copy (burst.begin(), burst.end(), in.begin() + (long) lead);
    const auto out = process (p, in, block);
    for (size_t c = 0; c < 2; ++c)
        EXPECT_EQ (measuredDelay (in, out[c], latency + 1000), latency) << when << ", block " << block << ", channel " << c;
}

inline Signal profileOf (CVAudioProcessor& p, int channel)
{
    return valuesOf (*p.getNoiseReductionBay().getChannelProfile (channel));
}

inline std::unique_ptr<juce::XmlElement> stateXml (CVAudioProcessor& p)
{
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    return juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
}

inline void loadState (CVAudioProcessor& p, const juce::XmlElement& state)
{
    juce::MemoryBlock data;
    juce::AudioProcessor::copyXmlToBinary (state, data);
    p.setStateInformation (data.getData(), (int) data.getSize());
}

// The sum of the six stages' latencies (channel 0's objects).
inline int stageLatency (CVAudioProcessor& p)
{
    return p.getDeclipper (0).getLatency() + p.getNoiseReductionBay().latency() + p.getEnhancementBay().latency()
         + p.getDeclickBay().latency() + p.getMaximizer (0).getLatency() + p.getExpander (0).getLatency();
}
} // namespace chain_test
