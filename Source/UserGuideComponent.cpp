#include "UserGuideComponent.h"

#include "CVWebBrowserComponent.h"
#include "UpdateChecker.h"

UserGuideComponent::UserGuideComponent()
{
    setVisible (true);
    backButton.setBounds (4, 4, 70, 28);
    backButton.setColour (juce::TextButton::buttonColourId, juce::Colours::white);
    backButton.setColour (juce::TextButton::textColourOffId, juce::Colours::black);
    backButton.addListener (this);
    addAndMakeVisible (backButton);
    pageURL = mainPageURL();
    startTimer (100);
}

UserGuideComponent::~UserGuideComponent()
{
    backButton.removeListener (this);
}

juce::String UserGuideComponent::mainPageURL() { return clarivo::update::getHost() + "/manuals/clarivo5"; }
juce::String UserGuideComponent::quickStartURL() { return clarivo::update::getHost() + "/manuals/clarivo5/quickstart"; }

void UserGuideComponent::showQuickStart()
{
    pageURL = quickStartURL();
    startTimer (100);
}

void UserGuideComponent::paint (juce::Graphics& g) { g.fillAll (juce::Colours::white); }

void UserGuideComponent::resized()
{
    if (browser != nullptr)
        browser->setBounds (getLocalBounds().translated (0, 36));
}

void UserGuideComponent::timerCallback()
{
    stopTimer();
    if (browser == nullptr)
    {
        browser = std::make_unique<CVWebBrowserComponent>();
        browser->pagesLoaded = 0;
        addAndMakeVisible (*browser);
        resized();
    }
    browser->goToURL (pageURL);
}

void UserGuideComponent::buttonClicked (juce::Button* button)
{
    // Nothing to go back to before the first page is in.
    if (button == &backButton && browser != nullptr && browser->pagesLoaded >= 1)
    {
        --browser->pagesLoaded;
        browser->goBack();
    }
}
