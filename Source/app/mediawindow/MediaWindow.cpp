#include "app/mediawindow/MediaWindow.h"

#include "engine/CVAudioProcessor.h"
#include "app/windows/ClarivoApplication.h"
#include "app/document/ProcessingAVPlayer.h"

namespace
{
CVAudioProcessor& applicationProcessor()
{
    auto* app = ClarivoApplication::getApp();
    jassert (app != nullptr);
    return app->getProcessor();
}
} // namespace

MediaControlsComponent::MediaControlsComponent (juce::AudioDeviceManager& dm, Preferences& preferences)
    : recorder (std::make_unique<RecorderComponent> (dm, preferences)),
      transport (std::make_unique<TransportComponent> (applicationProcessor()))
{
    addAndMakeVisible (*recorder);
    addAndMakeVisible (*transport);
    transport->setAnimationComposition ("CV-Splash");
}

void MediaControlsComponent::setMode (bool player)
{
    if (player)
        recorder->finishRecording();
    transport->setVisible (player);
    recorder->setVisible (! player);
    transport->setAnimationEnabled (player && ! transport->isMediaLoaded());
    playerMode = player;
}

void MediaControlsComponent::resized()
{
    recorder->setBounds (getLocalBounds());
    transport->setBounds (getLocalBounds());
}

void MediaControlsComponent::paint (juce::Graphics& g) { g.fillAll (juce::Colour (0xffffff00).withAlpha (0.7f)); }

//==============================================================================
MediaWindow::MediaWindow (juce::AudioDeviceManager* dm, Preferences& preferences) : deviceManager (dm)
{
    setName ({});
    setBackgroundColour (juce::Colours::black);
    auto* content = new MediaControlsComponent (*dm, preferences);
    controls = content;
    content->setBounds (0, 0, 100, 100);
    setContentOwned (content, true);
    setBounds (360, 500, 780, 490);
    setUsingNativeTitleBar (true);
    if (auto* app = ClarivoApplication::getApp())
        addKeyListener (app->getCommandManager().getKeyMappings());
    lastBounds = getBounds();
}

MediaWindow::~MediaWindow()
{
    if (auto* app = ClarivoApplication::getApp())
        removeKeyListener (app->getCommandManager().getKeyMappings());
    clearContentComponent();
}

void MediaWindow::setPlayerMode (bool player, bool hasMedia, const juce::String& fileName)
{
    controls->setMode (player);
    setName (! player ? juce::String ("Recorder") : hasMedia ? fileName : juce::String ("Media Player"));
}

void MediaWindow::resized()
{
    CVDocumentWindow::resized();
    auto bounds = getBounds();
    // Only while media is loaded, and only for a new width: the player sets
    // the height itself when media loads, and that must stand. (The peer's
    // constrainer cannot tell: the window puts its own back on every move.)
    auto* rule = getTransport().isMediaLoaded() ? getMediaContainer().getPlayer().getConstrainer() : nullptr;
    if (! constraining && getPeer() != nullptr && rule != nullptr && bounds.getWidth() > 0
        && bounds.getWidth() != lastBounds.getWidth())
    {
        rule->checkBounds (bounds, lastBounds, {}, false, false, false, true);
        if (bounds != getBounds())
        {
            const juce::ScopedValueSetter<bool> guard (constraining, true);
            setBounds (bounds);
        }
    }
    lastBounds = getBounds();
}

void MediaWindow::closeRequested()
{
    if (auto* app = ClarivoApplication::getApp())
        app->closeMedia();
}
