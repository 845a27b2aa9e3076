#pragma once

// The transport bar's operations: the only way the application's commands
// and the document reach the player. Its buttons and time display come with
// the media window.
#include <juce_gui_basics/juce_gui_basics.h>

class MediaContainerComponent;

class TransportComponent : public juce::Component
{
public:
    explicit TransportComponent (MediaContainerComponent& view);

    bool togglePlayPause();
    void rewindToStart();
    void stepForward();
    void stepBackward();
    bool isPlaying() const;
    double getPlayPosition() const;
    // An empty path unloads the player.
    bool loadMedia (const juce::String& path, bool showErrors);
    bool exportMedia (const juce::String& path, int format, int quality);
    void setLooping (bool) {}

private:
    MediaContainerComponent& view;
};
