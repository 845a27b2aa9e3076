#pragma once

// The information panel: the version, the help-tip and analysis switches, the
// user guide and the way back to the controls panel.
#include <juce_gui_basics/juce_gui_basics.h>

class CVAudioProcessor;
class CVUIEditor;
class Preferences;

class CreditsComponent : public juce::Component,
                         public juce::Button::Listener
{
public:
    CreditsComponent (CVAudioProcessor& processor, CVUIEditor& editor, Preferences* preferences);
    ~CreditsComponent() override;

    // Sets both toggles from the preferences without a click, so nothing is
    // written and the help tips are not switched.
    void followPreferences();

    void paint (juce::Graphics&) override;
    void resized() override;
    void broughtToFront() override { followPreferences(); }
    void buttonClicked (juce::Button*) override;

    juce::TextButton& getDoneButton() noexcept { return doneButton; }
    juce::Label& getVersionLabel() noexcept { return versionLabel; }
    juce::ToggleButton& getHideHelpTipsToggle() noexcept { return hideHelpTipsToggle; }
    juce::TextButton& getUserGuideButton() noexcept { return userGuideButton; }
    juce::ToggleButton& getAnalyzeToggle() noexcept { return analyzeToggle; }

private:
    juce::Image background;
    CVAudioProcessor& processor;
    Preferences* preferences;
    CVUIEditor& editor;
    juce::TextButton doneButton { "new button" };
    juce::Label versionLabel { "new label" };
    juce::ToggleButton hideHelpTipsToggle { "new toggle button" };
    juce::TextButton userGuideButton { "new button" };
    juce::ToggleButton analyzeToggle { "new toggle button" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CreditsComponent)
};
