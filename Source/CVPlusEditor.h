#pragma once

// Placeholder until the controls panel is built: the noise display, the
// progress bar over it, the help-tip window and the input feed's way on.
#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <memory>

class CVAudioProcessor;
class CVUIEditor;
class Preferences;
class WashWindowComponent;

class CVPlusEditor : public juce::Component
{
public:
    static constexpr int kTooltipDelayMs = 700;

    CVPlusEditor (CVAudioProcessor& processor, CVUIEditor* owner, Preferences* preferences, double& progress);
    ~CVPlusEditor() override;

    // The one tooltip window of the editor exists only while tips are on.
    void setHelpTips (bool on);
    juce::TooltipWindow* getTooltipWindow() const noexcept { return tooltipWindow.get(); }

    void setProgressVisible (bool shown);
    bool isProgressVisible() const;
    void setProgressText (const juce::String& text);
    juce::ProgressBar& getProgressBar() const noexcept { return *progressBar; }

    void displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                            float* const* outputChannelData, int numOutputChannels, int numSamples);
    juce::int64 getSamplesDisplayed() const noexcept { return samplesDisplayed.load(); }

    WashWindowComponent& getWashWindow() const noexcept { return *washWindow; }

    void paint (juce::Graphics&) override;

private:
    std::unique_ptr<WashWindowComponent> washWindow;
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<juce::TooltipWindow> tooltipWindow;
    std::atomic<juce::int64> samplesDisplayed { 0 };
};
