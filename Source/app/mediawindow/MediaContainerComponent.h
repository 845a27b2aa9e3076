#pragma once

// The media view: holds the one player, shows its picture or the sound's
// overview with the play head and the noise-learning marker, takes dropped
// files, and lets the mouse seek or place the marker.
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaPlayerView.h"

#include <memory>
#include <vector>

class ProcessingAVPlayer;

// The media window's size rule: the window keeps the picture's shape, with
// the bar and title below the picture taking their fixed share.
class CustomBoundsConstrainer : public juce::ComponentBoundsConstrainer
{
public:
    static constexpr int minimumWidth = 420;
    // The part of the window below the picture.
    static constexpr int belowPicture = 114;

    void checkBounds (juce::Rectangle<int>& bounds, const juce::Rectangle<int>& previousBounds,
                      const juce::Rectangle<int>& limits, bool isStretchingTop, bool isStretchingLeft,
                      bool isStretchingBottom, bool isStretchingRight) override;
};

class MediaContainerComponent : public juce::Component,
                                public juce::FileDragAndDropTarget,
                                public juce::ActionBroadcaster,
                                public juce::ChangeListener
{
public:
    MediaContainerComponent();
    ~MediaContainerComponent() override;

    ProcessingAVPlayer& getPlayer() noexcept { return *player; }

    // Player controls; each does nothing without loaded media.
    bool isPlaying() const;
    bool togglePlayPause(); // true when it paused
    void rewindToStart();
    void stepForward();
    void stepBackward();
    void setPositionFraction (double fraction);
    double getCurrentTime() const;
    double getPositionFraction() const;
    double getPlayableDuration() const;
    float getRate() const;
    void startScrubbing();
    void stopScrubbing();
    void removeMedia();

    bool loadMedia (const juce::String& path, std::shared_ptr<clarivo::media::Asset> asset, bool showErrors);
    bool exportMedia (const juce::String& path, int format, int quality);

    void setVideoVisible (bool visible);
    bool isVideoVisible() const noexcept { return showVideo; }
    // Set while the loaded media has no picture.
    bool audioOnly = false;

    clarivo::media::PlayerView& getPlayerView() noexcept { return playerView; }
    juce::AudioThumbnail& getThumbnail() noexcept { return thumbnail; }
    juce::AudioThumbnailCache& getThumbnailCache() noexcept { return thumbnailCache; }

    // The file the loaded media came from.
    juce::File getMediaFile() const;
    juce::URL getMediaURL() const { return mediaURL; }

    // The rate of the loaded sound, which the learning region counts in.
    double getMediaSampleRate() const;
    // Where the learning marker stands, in pixels; -1 without media or region.
    int getMarkerX() const;

    // How long a release pauses playback before learning; tests shorten it.
    int releasePauseMs = 500;
    // Whether the last press was away from the learning marker.
    bool isSeekClick() const noexcept { return seekClick; }
    bool isDragOver() const noexcept { return dragOver; }

    static constexpr int learnLength = 12288;
    static constexpr int markerGrabPixels = 9;

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;
    void paintOverChildren (juce::Graphics&) override;
    void resized() override;

    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    bool isInterestedInFileDrag (const juce::StringArray&) override { return true; }
    void fileDragEnter (const juce::StringArray&, int, int) override;
    void fileDragExit (const juce::StringArray&) override;
    void filesDropped (const juce::StringArray& files, int, int) override;

private:
    bool hasMedia() const;
    void pressOrDrag (const juce::MouseEvent&, bool press);
    void step (int frames, double seconds);
    void drawCaption (juce::Graphics&, const juce::String& text) const;
    void updatePictureVisibility();
    // Draws the cached overview's columns 0 to columns - 1 over the view.
    void drawWaveform (juce::Graphics&, double duration, int columns);

    // The overview's extremes per pixel column and channel, for the current
    // width and time span: an hour of sound is read once, not on each of the
    // ten repaints a second that playback makes.
    struct Columns
    {
        int width = 0, channels = 0;
        int withSound = 0; // columns before the overview's end
        double duration = 0.0;
        juce::int64 samplesFinished = -1;
        std::vector<float> minimum, maximum; // channel-major
    } columns;

    std::unique_ptr<ProcessingAVPlayer> player;
    clarivo::media::PlayerView playerView;
    juce::AudioThumbnailCache thumbnailCache { 1 };
    juce::AudioThumbnail thumbnail;
    bool dragOver = false;
    bool showVideo = true;
    // A click before any press in waveform mode is a seek, so a release on
    // the picture never learns.
    bool seekClick = true;
    float savedRate = 0.0f;
    juce::URL mediaURL;

    JUCE_DECLARE_NON_COPYABLE (MediaContainerComponent)
};
