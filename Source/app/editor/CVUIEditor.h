#pragma once

// The processor's editor: a fixed 780 x 400 shell that shows one of its two
// full-size panels, owns the program's preferences and carries the
// application's progress overlay and help-tip switch to the controls panel.
#include <juce_audio_processors/juce_audio_processors.h>

#include "app/windows/Preferences.h"

#include <memory>
#include <vector>

class CVAudioProcessor;
class CVPlusEditor;
class CreditsComponent;

class CVUIEditor : public juce::AudioProcessorEditor,
                   private juce::Timer
{
public:
    static constexpr int kFeedPollMs = 16;
    enum Panel { informationPanel = 1, controlsPanel = 3 };

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

    // 1 the information panel, 3 the controls panel, anything else neither.
    // The panels live as long as the editor; only the shown one is a child.
    void showPanel (int panel);

    // The application's progress overlay over the noise display.
    void setProgressVisible (bool shown);
    void setProgressText (const juce::String& text);
    bool isProgressVisible() const;

    void setHelpTipsShown (bool shown);

    // Message thread: the samples pulled from the processor's input feed,
    // on their way to the live input display.
    void displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                            float* const* outputChannelData, int numOutputChannels, int numSamples);

    // Samples that have reached the controls panel's live input view.
    juce::int64 getSamplesDisplayed() const noexcept;

    CreditsComponent& getInformationPanel() const noexcept { return *credits; }
    CVPlusEditor& getControlsPanel() const noexcept { return *plusEditor; }

    // The input feed is pulled here on the message thread; tests drive it
    // without waiting for the timer.
    void pollInputFeed();

    void paint (juce::Graphics&) override {}

private:
    void timerCallback() override { pollInputFeed(); }

    CVAudioProcessor& owner;
    std::unique_ptr<Preferences> preferences;
    const bool firstLaunch;
    std::unique_ptr<CreditsComponent> credits;
    std::unique_ptr<CVPlusEditor> plusEditor;
    std::vector<float> feedScratch;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CVUIEditor)
};
