#pragma once

// Placeholder until the editor is built: an empty editor that pulls the
// processor's input feed on its own timer and hands it on, and owns the
// program's preferences.
#include <juce_audio_processors/juce_audio_processors.h>

#include "Preferences.h"

#include <memory>
#include <vector>

class CVAudioProcessor;

class CVUIEditor : public juce::AudioProcessorEditor,
                   public juce::Timer
{
public:
    static constexpr int kFeedPollMs = 16;

    CVUIEditor (CVAudioProcessor& processor, double& progress);
    ~CVUIEditor() override;

    // Makes the processor create this editor; the application calls it once
    // before its windows are made.
    static void installAsProcessorEditor();

    CVAudioProcessor& getProcessor() const noexcept { return owner; }
    Preferences& getPreferences() const noexcept { return *preferences; }
    // "First Launch" as it stood when this editor was built, before start-up
    // writes it false.
    bool wasFirstLaunch() const noexcept { return firstLaunch; }

    // Message thread: the samples the timer pulled from the input feed.
    void displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                            float* const* outputChannelData, int numOutputChannels, int numSamples);
    void showPanel (int panel);
    void paint (juce::Graphics&) override;
    void timerCallback() override;

    juce::int64 getSamplesDisplayed() const noexcept { return samplesDisplayed; }

private:
    CVAudioProcessor& owner;
    std::unique_ptr<Preferences> preferences;
    bool firstLaunch;
    std::vector<float> feedScratch;
    juce::int64 samplesDisplayed = 0;
};
