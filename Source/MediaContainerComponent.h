#pragma once

// The media view: holds the one player, shows its picture and the sound's
// overview, and forwards the transport's operations to the player.
//
// Only what the player, the exports and the document use stands here yet;
// the view's own drawing and mouse handling come with the media window.
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "platform/media/MediaPlayerView.h"

#include <memory>

class ProcessingAVPlayer;

// The media window's size rule: the window keeps the picture's shape.
class CustomBoundsConstrainer : public juce::ComponentBoundsConstrainer
{
};

class MediaContainerComponent : public juce::Component,
                                public juce::ActionBroadcaster
{
public:
    MediaContainerComponent();
    ~MediaContainerComponent() override;

    ProcessingAVPlayer& getPlayer() noexcept { return *player; }

    void setVideoVisible (bool visible);
    bool isVideoVisible() const noexcept { return videoVisible; }
    // Set while the loaded media has no picture.
    bool audioOnly = false;

    clarivo::media::PlayerView& getPlayerView() noexcept { return playerView; }
    juce::AudioThumbnail& getThumbnail() noexcept { return thumbnail; }
    juce::AudioThumbnailCache& getThumbnailCache() noexcept { return thumbnailCache; }

    // The file the loaded media came from.
    juce::File getMediaFile() const;

    bool loadMedia (const juce::String& path, bool showErrors);
    bool exportMedia (const juce::String& path, int format, int quality);

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    std::unique_ptr<ProcessingAVPlayer> player;
    clarivo::media::PlayerView playerView;
    juce::AudioThumbnailCache thumbnailCache { 4 };
    juce::AudioThumbnail thumbnail;
    bool videoVisible = false;

    JUCE_DECLARE_NON_COPYABLE (MediaContainerComponent)
};
