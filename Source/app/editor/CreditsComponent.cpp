#include "app/editor/CreditsComponent.h"

#include "app/artwork/ClarivoArtwork.h"
#include "app/editor/CVUIEditor.h"
#include "app/windows/ClarivoApplication.h"
#include "app/windows/Preferences.h"

namespace
{
const juce::Colour buttonGrey (0xff808080);

juce::Image informationBackground()
{
    return juce::ImageCache::getFromMemory (clarivo::artwork::creditsBackground.data, clarivo::artwork::creditsBackground.size);
}
} // namespace

CreditsComponent::CreditsComponent (CVAudioProcessor& p, CVUIEditor& owner, Preferences* prefs)
    : processor (p), preferences (prefs), editor (owner)
{
    doneButton.setButtonText (TRANS ("Done"));
    doneButton.setColour (juce::TextButton::buttonColourId, buttonGrey);

    versionLabel.setText (TRANS ("Copyright (c) the Clarivo developers. All rights reserved.") + "\n"
                              + TRANS ("Version") + " 5.0.0",
                          juce::dontSendNotification);
    versionLabel.setFont (juce::Font (15.0f, juce::Font::plain));
    versionLabel.setJustificationType (juce::Justification::centred);
    versionLabel.setEditable (false, false, false);
    versionLabel.setColour (juce::TextEditor::textColourId, juce::Colours::black);
    versionLabel.setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
    // The editor colours above only reach an open text editor; the dark look
    // and feel would draw the label and the toggles white on the light picture.
    versionLabel.setColour (juce::Label::textColourId, juce::Colours::black);

    hideHelpTipsToggle.setButtonText (TRANS ("Hide help tips"));
    userGuideButton.setButtonText (TRANS ("User Guide..."));
    userGuideButton.setColour (juce::TextButton::buttonColourId, buttonGrey);
    analyzeToggle.setButtonText (TRANS ("Analyze Media"));
    for (auto* toggle : { &hideHelpTipsToggle, &analyzeToggle })
    {
        toggle->setColour (juce::ToggleButton::textColourId, juce::Colours::black);
        toggle->setColour (juce::ToggleButton::tickColourId, juce::Colours::black);
        toggle->setColour (juce::ToggleButton::tickDisabledColourId, juce::Colour (0xff404040));
    }

    for (juce::Button* button : { (juce::Button*) &doneButton, (juce::Button*) &hideHelpTipsToggle,
                                  (juce::Button*) &userGuideButton, (juce::Button*) &analyzeToggle })
        button->addListener (this);
    for (juce::Component* child : { (juce::Component*) &doneButton, (juce::Component*) &versionLabel,
                                    (juce::Component*) &hideHelpTipsToggle, (juce::Component*) &userGuideButton,
                                    (juce::Component*) &analyzeToggle })
        addAndMakeVisible (child);

    background = informationBackground();
    setSize (780, 400);
}

CreditsComponent::~CreditsComponent() = default;

void CreditsComponent::followPreferences()
{
    hideHelpTipsToggle.setToggleState (! preferences->getHelpTips(), juce::dontSendNotification);
    analyzeToggle.setToggleState (preferences->getAnalyze(), juce::dontSendNotification);
}

void CreditsComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::white);
    g.drawImageAt (background, 0, 0, false);
}

void CreditsComponent::resized()
{
    doneButton.setBounds (592, 352, 150, 24);
    versionLabel.setBounds (219, 344, 364, 36);
    hideHelpTipsToggle.setBounds (608, 312, 150, 24);
    userGuideButton.setBounds (32, 352, 150, 24);
    analyzeToggle.setBounds (608, 288, 150, 24);
}

void CreditsComponent::buttonClicked (juce::Button* button)
{
    if (button == &doneButton)
    {
        editor.showPanel (CVUIEditor::controlsPanel);
    }
    else if (button == &hideHelpTipsToggle)
    {
        // "Help Tips" is stored the other way round from the toggle.
        const bool tipsOn = ! hideHelpTipsToggle.getToggleState();
        preferences->setHelpTips (tipsOn);
        editor.setHelpTipsShown (tipsOn);
    }
    else if (button == &userGuideButton)
    {
        if (auto* app = ClarivoApplication::getApp())
            app->showUserGuide (false);
    }
    else if (button == &analyzeToggle)
    {
        preferences->setAnalyze (analyzeToggle.getToggleState());
    }
}
