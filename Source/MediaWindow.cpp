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
{
    setName ({});
    // The view leaves what it does not draw to the window, black as the picture's surround.
    setBackgroundColour (juce::Colours::black);
    setUsingNativeTitleBar (true);
    setContentNonOwned (&content, false);
    setResizable (true, false);
    centreWithSize (780, 214);
    if (auto* app = ClarivoApplication::getApp())
        addKeyListener (app->getCommandManager().getKeyMappings());
}

MediaWindow::~MediaWindow()
{
    if (auto* app = ClarivoApplication::getApp())
        removeKeyListener (app->getCommandManager().getKeyMappings());
    clearContentComponent();
}

void MediaWindow::setPlayerMode (bool, bool fileExists, const juce::String& fileName)
{
    setName (fileExists ? fileName : juce::String());
}

void MediaWindow::closeRequested()
{
    if (auto* app = ClarivoApplication::getApp())
        app->closeMedia();
}
