#include "MediaWindow.h"

#include "ClarivoApplication.h"

MediaWindow::Content::Content()
{
    addAndMakeVisible (view);
    addAndMakeVisible (transport);
}

void MediaWindow::Content::resized()
{
    auto area = getLocalBounds();
    transport.setBounds (area.removeFromBottom (32));
    view.setBounds (area);
}

MediaWindow::MediaWindow()
    : juce::DocumentWindow ("", juce::Colours::black, juce::DocumentWindow::allButtons)
{
    setUsingNativeTitleBar (true);
    setContentNonOwned (&content, false);
    setResizable (true, false);
    centreWithSize (780, 214);
}

MediaWindow::~MediaWindow()
{
    clearContentComponent();
}

void MediaWindow::setPlayerMode (bool, bool fileExists, const juce::String& fileName)
{
    setName (fileExists ? fileName : juce::String());
}

void MediaWindow::closeButtonPressed()
{
    if (auto* app = ClarivoApplication::getApp())
        app->closeMedia();
}
