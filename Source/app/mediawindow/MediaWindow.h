#pragma once

// The media window: the player (media view and transport bar) or the
// recorder, one at a time, under the menus and commands every window has.
// Its close button closes the media, never the window.
#include "app/windows/CVDocumentWindow.h"
#include "app/recorder/RecorderComponent.h"
#include "app/mediawindow/TransportComponent.h"

class Preferences;

class MediaControlsComponent : public juce::Component
{
public:
    MediaControlsComponent (juce::AudioDeviceManager& deviceManager, Preferences& preferences);

    void setMode (bool player);
    bool isPlayerMode() const noexcept { return playerMode; }

    RecorderComponent& getRecorder() noexcept { return *recorder; }
    TransportComponent& getTransport() noexcept { return *transport; }

    void resized() override;
    void paint (juce::Graphics& g) override;

private:
    std::unique_ptr<RecorderComponent> recorder;
    std::unique_ptr<TransportComponent> transport;
    bool playerMode = true;
};

class MediaWindow : public CVDocumentWindow
{
public:
    MediaWindow (juce::AudioDeviceManager* deviceManager, Preferences& preferences);
    ~MediaWindow() override;

    MediaControlsComponent& getControls() noexcept { return *controls; }
    TransportComponent& getTransport() noexcept { return controls->getTransport(); }
    MediaContainerComponent& getMediaContainer() noexcept { return getTransport().getMediaContainer(); }

    void setPlayerMode (bool player, bool hasMedia, const juce::String& fileName);

    // X11 asks nothing of the constrainer while the frame is dragged, so the
    // picture's shape is kept here once the size has changed.
    void resized() override;

protected:
    // Closes the media, not the window.
    void closeRequested() override;

private:
    MediaControlsComponent* controls = nullptr;
    juce::AudioDeviceManager* deviceManager = nullptr;
    juce::Rectangle<int> lastBounds;
    bool constraining = false;
};
