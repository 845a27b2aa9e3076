#pragma once

// The player face of the media window: the media view with the splash over
// it while empty, and the bar of transport controls beneath. The
// application's commands and the document reach the player only through it.
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/mediawindow/AnimationComponent.h"
#include "app/mediawindow/CVDarkLookAndFeel.h"
#include "app/mediawindow/GradNSVComponent.h"
#include "app/mediawindow/MediaContainerComponent.h"
#include "app/mediawindow/ShareNSVComponent.h"

class CVAudioProcessor;

class TransportComponent : public juce::Component,
                           public juce::ActionListener,
                           public juce::Timer,
                           public juce::ChangeListener,
                           public juce::Button::Listener,
                           public juce::Slider::Listener
{
public:
    explicit TransportComponent (CVAudioProcessor& processor);
    ~TransportComponent() override;

    void setAnimationComposition (const juce::String& name);
    void setAnimationEnabled (bool enabled);

    // An empty path unloads the player and brings the splash back.
    bool loadMedia (const juce::String& path, std::shared_ptr<clarivo::media::Asset> asset, bool showErrors);
    bool loadMedia (const juce::String& path, bool showErrors) { return loadMedia (path, nullptr, showErrors); }
    bool isMediaLoaded() const noexcept { return mediaLoaded; }
    bool exportMedia (const juce::String& path, int format, int quality);

    bool togglePlayPause();
    void rewindToStart();
    void stepForward();
    void stepBackward();
    bool isPlaying() const;
    double getPlayPosition() const;
    // The loop flag lives in the application.
    void setLooping (bool) {}

    // "hh:mm:ss.mmm" for a position in milliseconds.
    static juce::String formatTime (juce::int64 milliseconds);
    static constexpr double sliderScale = 100000000.0;

    MediaContainerComponent& getMediaContainer() noexcept { return mediaContainer; }
    AnimationComponent& getAnimationView() noexcept { return animationView; }
    GradNSVComponent& getGradientView() noexcept { return gradientView; }
    ShareNSVComponent& getShareView() noexcept { return shareView; }
    juce::ImageComponent& getPlayPauseImage() noexcept { return playPauseImage; }
    int getPlayButtonState() const noexcept { return playButtonState; }
    CVDarkLookAndFeel& getDarkLookAndFeel() noexcept { return darkLookAndFeel; }
    juce::ImageButton& getPlayPauseButton() noexcept { return playPauseButton; }
    juce::ImageButton& getForwardButton() noexcept { return forwardButton; }
    juce::ImageButton& getRewindButton() noexcept { return rewindButton; }
    juce::ImageButton& getBypassButton() noexcept { return bypassButton; }
    juce::ImageButton& getVideoToggle() noexcept { return videoToggle; }
    juce::Slider& getPositionSlider() noexcept { return positionSlider; }
    juce::Label& getTimeLabel() noexcept { return timeLabel; }

    void visibilityChanged() override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    void actionListenerCallback (const juce::String& message) override;
    void sliderDragStarted (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void timerCallback() override;
    void buttonClicked (juce::Button*) override;
    void sliderValueChanged (juce::Slider*) override;

private:
    void updatePlayButton();

    juce::String compositionName;
    CVDarkLookAndFeel darkLookAndFeel;
    MediaContainerComponent mediaContainer;
    juce::ImageComponent playPauseImage;
    int playButtonState = -1;
    GradNSVComponent gradientView;
    ShareNSVComponent shareView;
    AnimationComponent animationView;
    CVAudioProcessor& processor;
    bool mediaLoaded = false;

    juce::ImageButton playPauseButton { "new button" };
    juce::ImageButton forwardButton { "new button" };
    juce::ImageButton rewindButton { "new button" };
    juce::Slider positionSlider { "new slider" };
    juce::Label timeLabel { "new label" };
    juce::ImageButton bypassButton { "new button" };
    juce::ImageButton videoToggle { "new button" };

    juce::Image playImage, pauseImage;

    JUCE_DECLARE_NON_COPYABLE (TransportComponent)
};
