#pragma once

// Placeholder until the editor is built: an empty editor that accepts the
// processor's per-block input feed.
#include <juce_audio_processors/juce_audio_processors.h>

class CVUIEditor : public juce::AudioProcessorEditor
{
public:
    CVUIEditor (juce::AudioProcessor& processor, double& progress);
    ~CVUIEditor() override;

    void displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                            float* const* outputChannelData, int numOutputChannels, int numSamples);
    void showPanel (int panel);
    void paint (juce::Graphics&) override;
};
