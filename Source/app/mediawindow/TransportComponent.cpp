#include "app/mediawindow/TransportComponent.h"

#include "engine/CVAudioProcessor.h"
#include "app/artwork/ClarivoArtwork.h"

namespace
{
juce::Image picture (const clarivo::artwork::Picture& p)
{
    return juce::ImageCache::getFromMemory (p.data, p.size);
}

void setUpImageButton (juce::ImageButton& button, const juce::Image& image, float normalOpacity, juce::Colour downOverlay)
{
    button.setImages (false, true, true,
                      image, normalOpacity, juce::Colours::transparentBlack,
                      image, 1.0f, juce::Colours::transparentBlack,
                      image, 1.0f, downOverlay,
                      0.0f);
}
} // namespace

TransportComponent::TransportComponent (CVAudioProcessor& p)
    : processor (p), playImage (picture (clarivo::artwork::transportPlay)),
      pauseImage (picture (clarivo::artwork::transportPause))
{
    addAndMakeVisible (gradientView);
    addAndMakeVisible (playPauseImage);

    // A transparent click area over the play or pause picture.
    addAndMakeVisible (playPauseButton);
    playPauseButton.setTooltip (TRANS ("Play/Pause the media"));
    playPauseButton.setImages (false, true, true,
                               {}, 1.0f, juce::Colours::transparentBlack,
                               {}, 0.7f, juce::Colours::transparentBlack,
                               {}, 1.0f, juce::Colours::transparentBlack, 0.0f);

    addAndMakeVisible (forwardButton);
    forwardButton.setTooltip (TRANS ("Fast Forward by 3 seconds"));
    setUpImageButton (forwardButton, picture (clarivo::artwork::transportForward), 0.85f, juce::Colours::transparentBlack);

    addAndMakeVisible (rewindButton);
    rewindButton.setTooltip (TRANS ("Rewind by 3 seconds"));
    setUpImageButton (rewindButton, picture (clarivo::artwork::transportRewind), 0.85f, juce::Colours::transparentBlack);

    addAndMakeVisible (positionSlider);
    positionSlider.setTooltip (TRANS ("Move this scrollbar to adjust the playback position in your media file."));
    positionSlider.setRange (0.0, sliderScale, 0.0);
    positionSlider.setSliderStyle (juce::Slider::LinearHorizontal);
    positionSlider.setTextBoxStyle (juce::Slider::NoTextBox, false, 80, 20);
    positionSlider.setColour (juce::Slider::trackColourId, juce::Colour (0xff303030));
    positionSlider.setColour (juce::Slider::thumbColourId, juce::Colour (0xff202020));

    addAndMakeVisible (timeLabel);
    timeLabel.setText ("00:00:00.00", juce::dontSendNotification);
    timeLabel.setFont (juce::Font ("DejaVu Sans", 12.0f, juce::Font::plain));
    timeLabel.setJustificationType (juce::Justification::centredLeft);
    timeLabel.setEditable (false, false, false);
    timeLabel.setColour (juce::Label::textColourId, juce::Colour (0xffbebebe));
    timeLabel.setColour (juce::Label::textWhenEditingColourId, juce::Colours::black);
    timeLabel.setColour (juce::Label::backgroundWhenEditingColourId, juce::Colour (0x00000000));

    const juce::Colour pressed (0xff336afc);
    addAndMakeVisible (bypassButton);
    bypassButton.setTooltip (TRANS ("Bypass - this button turns all  processing on or off.  This is useful for "
                                    "before/after comparisons of your settings."));
    setUpImageButton (bypassButton, picture (clarivo::artwork::transportBypass), 0.7f, pressed);
    bypassButton.setClickingTogglesState (true);

    addAndMakeVisible (videoToggle);
    videoToggle.setTooltip (TRANS ("Toggle between video or audio waveform displays."));
    setUpImageButton (videoToggle, picture (clarivo::artwork::transportVideo), 0.7f, pressed);
    videoToggle.setClickingTogglesState (true);

    // The keys belong to the window's command shortcuts.
    for (juce::Component* c : { (juce::Component*) &playPauseButton, (juce::Component*) &forwardButton,
                                (juce::Component*) &rewindButton, (juce::Component*) &positionSlider,
                                (juce::Component*) &bypassButton, (juce::Component*) &videoToggle })
    {
        c->setWantsKeyboardFocus (false);
        c->setMouseClickGrabsKeyboardFocus (false);
    }
    for (juce::Button* b : { (juce::Button*) &playPauseButton, (juce::Button*) &forwardButton,
                             (juce::Button*) &rewindButton, (juce::Button*) &bypassButton, (juce::Button*) &videoToggle })
        b->addListener (this);
    positionSlider.addListener (this);

    addChildComponent (animationView);
    addAndMakeVisible (mediaContainer);
    mediaContainer.addActionListener (this);
    // Nothing to share until media is loaded.
    addAndMakeVisible (shareView);
    shareView.setEnabled (false);

    setSize (420, 200);
    setLookAndFeel (&darkLookAndFeel);
    updatePlayButton();
    processor.addChangeListener (this);
    changeListenerCallback (nullptr);
}

TransportComponent::~TransportComponent()
{
    processor.removeChangeListener (this);
    mediaContainer.removeActionListener (this);
    stopTimer();
    setLookAndFeel (nullptr);
}

//==============================================================================
void TransportComponent::setAnimationComposition (const juce::String& name)
{
    compositionName = name;
    startTimer (50);
}

void TransportComponent::setAnimationEnabled (bool enabled) { animationView.setAnimating (enabled); }

void TransportComponent::timerCallback()
{
    stopTimer();
    const bool wasEnabled = animationView.isAnimating();
    animationView.setup (compositionName);
    // Set up while the window was already empty: the splash goes on showing.
    animationView.setAnimating (wasEnabled);
    animationView.resized();
}

bool TransportComponent::loadMedia (const juce::String& path, std::shared_ptr<clarivo::media::Asset> asset, bool showErrors)
{
    if (path.isNotEmpty())
    {
        mediaLoaded = mediaContainer.loadMedia (path, std::move (asset), showErrors);
        shareView.setEnabled (mediaLoaded);
        return mediaLoaded;
    }
    mediaLoaded = false;
    shareView.setEnabled (false);
    mediaContainer.removeMedia();
    setAnimationEnabled (true);
    return mediaLoaded;
}

bool TransportComponent::exportMedia (const juce::String& path, int format, int quality)
{
    return mediaContainer.exportMedia (path, format, quality);
}

bool TransportComponent::togglePlayPause() { return mediaContainer.togglePlayPause(); }
void TransportComponent::rewindToStart() { mediaContainer.rewindToStart(); }
void TransportComponent::stepForward() { mediaContainer.stepForward(); }
void TransportComponent::stepBackward() { mediaContainer.stepBackward(); }
bool TransportComponent::isPlaying() const { return mediaContainer.isPlaying(); }
double TransportComponent::getPlayPosition() const { return mediaContainer.getCurrentTime(); }

//==============================================================================
juce::String TransportComponent::formatTime (juce::int64 t)
{
    const auto hours = t / 3600000;
    const auto r = t - hours * 3600000;
    const auto minutes = r / 60000;
    const auto seconds = (r - minutes * 60000) / 1000;
    const auto millis = t - seconds * 1000 - minutes * 60000 - hours * 3600000;
    return juce::String::formatted ("%02lld:%02lld:%02lld.%03lld", (long long) hours, (long long) minutes,
                                    (long long) seconds, (long long) millis);
}

void TransportComponent::updatePlayButton()
{
    const float rate = mediaContainer.getRate();
    const int state = rate == 0.0f ? 0 : 1;
    if (state != playButtonState)
        playPauseImage.setImage (state == 0 ? playImage : pauseImage);
    playButtonState = state;
}

void TransportComponent::actionListenerCallback (const juce::String& message)
{
    if (message == "time")
    {
        const double seconds = mediaContainer.getCurrentTime();
        const auto ms = std::isfinite (seconds) ? (juce::int64) (juce::jmax (0.0, seconds) * 1000.0) : 0;
        timeLabel.setText (formatTime (ms), juce::dontSendNotification);
        positionSlider.setValue (mediaContainer.getPositionFraction() * sliderScale, juce::dontSendNotification);
        updatePlayButton();
        mediaContainer.repaint();
    }
    else if (message == "video")
    {
        setAnimationEnabled (false);
        changeListenerCallback (nullptr);
    }
}

void TransportComponent::sliderDragStarted (juce::Slider* s)
{
    if (s == &positionSlider)
        mediaContainer.startScrubbing();
}

void TransportComponent::sliderDragEnded (juce::Slider* s)
{
    if (s == &positionSlider)
        mediaContainer.stopScrubbing();
}

void TransportComponent::sliderValueChanged (juce::Slider* s)
{
    if (s == &positionSlider)
        mediaContainer.setPositionFraction (positionSlider.getValue() / sliderScale);
}

void TransportComponent::buttonClicked (juce::Button* b)
{
    if (b == &playPauseButton)
        mediaContainer.togglePlayPause();
    else if (b == &forwardButton)
        mediaContainer.stepForward();
    else if (b == &rewindButton)
        mediaContainer.stepBackward();
    else if (b == &bypassButton)
    {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        processor.setParameterNotifyingHost ((int) CVAudioProcessor::Parameter::bypass,
                                             bypassButton.getToggleState() ? 0.0f : 1.0f);
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    }
    else if (b == &videoToggle)
        mediaContainer.setVideoVisible (videoToggle.getToggleState());
}

void TransportComponent::changeListenerCallback (juce::ChangeBroadcaster*)
{
    bypassButton.setToggleState (! processor.isBypassed(), juce::dontSendNotification);
    videoToggle.setToggleState (mediaContainer.isVideoVisible(), juce::dontSendNotification);
}

//==============================================================================
void TransportComponent::visibilityChanged()
{
    timeLabel.setText ("00:00:00.00", juce::dontSendNotification);
    positionSlider.setValue (0.0, juce::dontSendNotification);
}

void TransportComponent::paint (juce::Graphics& g) { g.fillAll (juce::Colours::black); }

void TransportComponent::resized()
{
    const int w = getWidth(), h = getHeight();
    mediaContainer.setBounds (0, 0, w, h - 50);
    animationView.setBounds (5, 5, w - 10, h - 60);
    gradientView.setBounds (0, h - 50, w, 50);
    bypassButton.setBounds (10, h - 38, 26, 26);
    positionSlider.setBounds (46, h - 38, w - 340, 24);
    timeLabel.setBounds (w - 284, h - 38, 80, 24);
    videoToggle.setBounds (w - 200, h - 39, 26, 26);
    rewindButton.setBounds (w - 166, h - 40, 28, 28);
    playPauseButton.setBounds (w - 131, h - 46, 42, 42);
    playPauseImage.setBounds (playPauseButton.getBounds());
    forwardButton.setBounds (w - 82, h - 40, 28, 28);
    shareView.setBounds (w - 50, h - 36, 40, 24);
}
