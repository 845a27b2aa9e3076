#pragma once

// The main controls panel: every control of the restoration chain, the noise
// display in its recess, the two meters, the progress bar over the display,
// the logo button and the help-tip window of the whole editor.
//
// The processor is the only store of the settings: each control writes its
// parameters with host notification and the refresh after the processor's
// change message sets every control again without notification.
#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/editor/CVLookAndFeel.h"

#include <atomic>
#include <functional>
#include <memory>

class CVAudioProcessor;
class CVUIEditor;
class MeterComponent;
class Preferences;
class WashWindowComponent;

class CVPlusEditor : public juce::Component,
                     public juce::ChangeListener,
                     public juce::Button::Listener,
                     public juce::Slider::Listener,
                     public juce::MultiTimer,
                     public juce::ActionListener,
                     public juce::ComboBox::Listener
{
public:
    static constexpr int kTooltipDelayMs = 700;
    static constexpr int kMeterTimer = 1, kMeterPeriodMs = 80;
    static constexpr int kClearTimer = 0, kClearDelayMs = 50;
    static constexpr int kLearnLength = 12288;
    // The broadband limits are stored as fractions of this frequency.
    static constexpr float kLimitScale = 384000.0f;

    // The rows of the widget table, in declaration order; labels are rows too.
    enum Row
    {
        learnButton = 1, tunerKnob, reductionKnob, declickKnob, enhanceSlider,
        humKnob = 9, logoButton = 14, declipperButton, boostSlider, trackButton = 18, loCutKnob,
        harmonicsKnob = 21, hiCutKnob = 26, waveformButton = 34, dExpandKnob,
        noiseReductionButton = 44, noiseOnlyButton, enhancePresetBox = 47, levelMeter, expanderMeter,
        washWindowRow, progressBarRow, numRows = progressBarRow
    };

    // What the panel needs of the application; the default goes to the
    // running ClarivoApplication, tests put in their own.
    struct Host
    {
        virtual ~Host() = default;
        virtual bool isPlaying() = 0;
        virtual void playPause() = 0;
        virtual bool isIdle() = 0;
        virtual bool isRecorderMode() = 0;
        virtual double getPlayPosition() = 0;
    };

    CVPlusEditor (CVAudioProcessor& processor, CVUIEditor* owner, Preferences* preferences, double& progress);
    ~CVPlusEditor() override;

    void setHost (Host* newHost) noexcept;
    // The modifier keys of a click. The realtime query asks the X server,
    // which synthetic events never reach, so tests answer it themselves.
    std::function<juce::ModifierKeys()> clickModifiers = [] { return juce::ModifierKeys::getCurrentModifiersRealtime(); };

    // The one tooltip window of the editor exists only while tips are on.
    void setHelpTips (bool on);
    juce::TooltipWindow* getTooltipWindow() const noexcept { return tooltipWindow.get(); }

    void setProgressVisible (bool shown);
    bool isProgressVisible() const;
    void setProgressText (const juce::String& text);
    juce::ProgressBar& getProgressBar() const noexcept { return *progressBar; }

    // Processing thread: on to the noise display's live input view.
    void displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                            float* const* outputChannelData, int numOutputChannels, int numSamples);
    juce::int64 getSamplesDisplayed() const noexcept { return samplesDisplayed.load(); }

    WashWindowComponent& getWashWindow() const noexcept { return *washWindow; }
    // Rows 1-51 of the widget table.
    juce::Component& getWidget (int row) const;
    juce::Slider& getSlider (int row) const { return dynamic_cast<juce::Slider&> (getWidget (row)); }
    juce::Button& getButton (int row) const { return dynamic_cast<juce::Button&> (getWidget (row)); }
    juce::ComboBox& getPresetBox() const noexcept { return *presetBox; }
    int getMeterRepaints() const noexcept { return meterRepaints; }

    void paint (juce::Graphics&) override;
    void resized() override;

    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void actionListenerCallback (const juce::String& message) override;
    void timerCallback (int timerID) override;
    void sliderDragEnded (juce::Slider*) override;
    void comboBoxChanged (juce::ComboBox* box) override;
    void buttonClicked (juce::Button* button) override;
    void sliderValueChanged (juce::Slider* slider) override;
    void buttonStateChanged (juce::Button* button) override;

private:
    void buildWidgets();
    void write (int index, double value);
    void setStatus (const juce::String& text);
    void refreshWash();
    void learnStateChanged();
    bool rangeKnown (float& nyquist) const;

    CVAudioProcessor& processor;
    std::unique_ptr<juce::TooltipWindow> tooltipWindow;
    CVUIEditor* owner;
    Preferences* preferences;
    CVLookAndFeel lookAndFeel;
    juce::Image backgroundImage;
    std::unique_ptr<WashWindowComponent> washWindow;
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<MeterComponent> peakMeter, expMeter;
    bool learnWasDown = false;
    std::unique_ptr<ComboBox_IgnoreKeys> presetBox;
    // Rows 1-46, owned, in table order; index 0 stays empty.
    std::vector<std::unique_ptr<juce::Component>> widgets;

    Host* host = nullptr;
    std::unique_ptr<Host> defaultHost;
    std::atomic<juce::int64> samplesDisplayed { 0 };
    int meterRepaints = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CVPlusEditor)
};
