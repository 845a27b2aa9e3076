#pragma once

// The round spectrum display of the controls panel: a scrolling history of
// the signal's spectrum, newest column at the left, lowest slot at the
// bottom; from the divider at column 98 on, the same history as the noise
// reduction treats it against the current profile.
//
// Threads: the audio thread never reaches this component. It publishes its
// spectrum rows and idle ticks into the processor's feeds; the display pulls
// them on its own timer, so every member below belongs to the message thread.
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/recorder/LiveAudioInputDisplayComp.h"
#include "engine/ProcessorFeeds.h"
#include "app/editor/RangeBoxComponent.h"

#include <memory>

class CVUIEditor;

class WashWindowComponent : public juce::Component,
                            public juce::Timer,
                            public juce::ActionListener,
                            public juce::ActionBroadcaster,
                            public juce::ChangeBroadcaster,
                            public juce::ChangeListener,
                            public juce::SettableTooltipClient
{
public:
    static constexpr int kSlots = 196;    // rows of the image, frequency slots
    static constexpr int kDivider = 98;   // first column of the treated half
    static constexpr float kFloorDb = -96.0f;

    using Clock = juce::int64 (*)();

    WashWindowComponent (CVUIEditor& owner, bool withRangeBox);
    ~WashWindowComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void timerCallback() override;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void actionListenerCallback (const juce::String&) override {}
    // The range box covers the whole display and takes the mouse, so the
    // tooltip window only ever asks it: it carries the display's tip too.
    void setTooltip (const juce::String& newTooltip) override;

    void connectToProcessor (int blockSize);
    // Fills the row that the next render shows, from the spectrum row last
    // pulled from the feed, or with silence; also maps the noise profile.
    void pushSpectrum (bool silent);
    // Hands a spectrum row (dB per bin) to the next pushSpectrum (false); the
    // row must outlive that call.
    void setSpectrumSource (const float* binsDb, int numBins) noexcept;
    void renderWash();
    void setWaveformMode (bool on);
    bool isRangeReleased() const noexcept { return rangeBox->mouseReleased; }
    void setStatusText (const juce::String& text);
    void displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                            float* const* outputChannelData, int numOutputChannels, int numSamples);

    // The render clock, shared by every display like the last render time;
    // tests put in one they step themselves.
    static void setClock (Clock clock) noexcept;

    const juce::String& getStatusText() const noexcept { return statusText; }
    const juce::Image& getWashImage() const noexcept { return washImage; }
    RangeBoxComponent& getRangeBox() noexcept { return *rangeBox; }
    LiveAudioInputDisplayComp& getLiveDisplay() noexcept { return *liveDisplay; }
    bool isWaveformMode() const noexcept { return waveformMode; }
    float getBandLow() const noexcept { return bandLow; }
    float getBandHigh() const noexcept { return bandHigh; }
    // The controls panel puts back the band the processor holds.
    void setBandEdges (float low, float high) noexcept { bandLow = low; bandHigh = high; }
    int getInterval() const noexcept { return interval; }
    int getMode() const noexcept { return mode; }
    float getReduction() const noexcept { return reduction; }
    int getRowsPushed() const noexcept { return rowsPushed; }
    int getSilentRowsPushed() const noexcept { return silentRowsPushed; }

private:
    void pullFeeds() noexcept;

    CVUIEditor& owner;
    juce::String statusText;
    juce::ColourGradient washGradient;
    juce::Colour backgroundColour { 0xff000000 };
    juce::Image washImage;
    std::unique_ptr<RangeBoxComponent> rangeBox;
    std::unique_ptr<juce::ImageComponent> overlay;
    std::unique_ptr<LiveAudioInputDisplayComp> liveDisplay;
    juce::Image overlayImage;
    int writeRow = 0;
    std::unique_ptr<float[]> history;
    std::unique_ptr<float[]> profileRow;
    const float* spectrumSource = nullptr;
    int spectrumBins = 0;
    float reduction = 0.0f;
    int mode = 0;
    int interval = 300;
    bool waveformMode = false;
    float bandLow = 0.0f;
    float bandHigh = 1.0f;

    SpectrumFeedReader reader;
    int rowsPushed = 0;
    int silentRowsPushed = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WashWindowComponent)
};
