#include "MediaContainerComponent.h"

#include "ClarivoApplication.h"
#include "ProcessingAVPlayer.h"

namespace
{
// The thumbnail reads the analysis copy with the application's readers.
juce::AudioFormatManager& thumbnailFormats()
{
    if (auto* app = ClarivoApplication::getApp())
        return app->getFormatManager();
    static juce::AudioFormatManager basic;
    if (basic.getNumKnownFormats() == 0)
        basic.registerBasicFormats();
    return basic;
}
} // namespace

MediaContainerComponent::MediaContainerComponent()
    : thumbnail (512, thumbnailFormats(), thumbnailCache)
{
    addChildComponent (playerView);
    if (ProcessingAVPlayer::getCurrent() == nullptr)
    {
        player = std::make_unique<ProcessingAVPlayer>();
        ProcessingAVPlayer::setCurrent (player.get());
        player->setMCC (this);
    }
}

MediaContainerComponent::~MediaContainerComponent()
{
    if (player != nullptr)
    {
        player->removeMovie();
        if (ProcessingAVPlayer::getCurrent() == player.get())
            ProcessingAVPlayer::setCurrent (nullptr);
        player.reset();
    }
    thumbnail.setSource (nullptr);
}

void MediaContainerComponent::setVideoVisible (bool visible)
{
    videoVisible = visible;
    playerView.setVisible (visible);
    if (visible)
        playerView.setPlayer (player->getPlayer());
}

juce::File MediaContainerComponent::getMediaFile() const
{
    if (auto asset = player->getOriginalAsset())
        return asset->getURL();
    return {};
}

bool MediaContainerComponent::loadMedia (const juce::String& path, bool showErrors)
{
    if (path.isEmpty())
    {
        player->removeMovie();
        player->forgetImportedFile();
        setVideoVisible (false);
        thumbnail.setSource (nullptr);
        repaint();
        return true;
    }
    return player->loadMovie (juce::File (path), nullptr, showErrors);
}

bool MediaContainerComponent::exportMedia (const juce::String& path, int format, int quality)
{
    return player->exportAsset (juce::File (path), false, false, format, quality);
}

void MediaContainerComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colours::black);
    if (! videoVisible && thumbnail.getTotalLength() > 0.0)
    {
        g.setColour (juce::Colours::lightgreen);
        thumbnail.drawChannels (g, getLocalBounds().reduced (4), 0.0, thumbnail.getTotalLength(), 1.0f);
    }
}

void MediaContainerComponent::resized()
{
    playerView.setBounds (getLocalBounds());
}
