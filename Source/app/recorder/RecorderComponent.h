#pragma once

// The recorder face of the media window: two live input displays, the
// recording choices and the record button. A finished recording is handed to
// the application, which opens it in player mode.
#include "app/recorder/AudioRecorder.h"
#include "app/recorder/LiveAudioInputDisplayComp.h"

#include <juce_audio_utils/juce_audio_utils.h>

#include <functional>
#include <memory>

class Preferences;

class RecorderComponent : public juce::Component,
                          public juce::Timer,
                          public juce::ComboBox::Listener,
                          public juce::Button::Listener
{
public:
    RecorderComponent (juce::AudioDeviceManager& deviceManager, Preferences& preferences);
    ~RecorderComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void timerCallback() override;
    void comboBoxChanged (juce::ComboBox* box) override;
    void buttonClicked (juce::Button* button) override;

    void setSettingsMode (bool settings);
    void refresh (bool withDevices);
    void selectCurrentDevice();

    // Where a finished recording goes; the running application unless a test
    // puts itself in between.
    struct Handover
    {
        std::function<void (bool player)> setPlayerMode;
        std::function<void (const juce::File& file)> openMediaFile;
    };
    Handover handover;

    // Completes and keeps a recording the user leaves by switching the window
    // to the player (a file opened meanwhile, a batch): nothing is opened,
    // and the recording does not run on unseen.
    void finishRecording();
    bool isRecording() const noexcept { return recording; }
    const juce::File& getRecordingFile() const noexcept { return recordingFile; }
    AudioRecorder& getRecorder() noexcept { return *recorder; }
    LiveAudioInputDisplayComp& getDisplay (int channel) noexcept { return channel == 0 ? *firstChannelDisplay : *secondChannelDisplay; }
    juce::AudioDeviceSelectorComponent& getDeviceSelector() noexcept { return *deviceSelector; }
    juce::ComboBox& getSourceBox() noexcept { return sourceBox; }
    juce::ComboBox& getChannelsBox() noexcept { return channelsBox; }
    juce::ComboBox& getRateBox() noexcept { return rateBox; }
    juce::ComboBox& getBitsBox() noexcept { return bitsBox; }
    juce::TextButton& getSettingsButton() noexcept { return settingsButton; }
    juce::TextButton& getDoneButton() noexcept { return doneButton; }
    juce::ImageButton& getRecordButton() noexcept { return recordButton; }
    juce::Label& getTimeLabel() noexcept { return timeLabel; }

    // Where recordings go: the user's Documents folder.
    static juce::File getRecordingsFolder();

private:
    void startRecording();
    void stopRecording();
    void addCallbacks();
    void removeCallbacks();
    void applySetup (juce::AudioDeviceManager::AudioDeviceSetup setup);
    bool isSettingsMode() const noexcept { return doneButton.isVisible(); }

    // The selector sits on white: its labels would be white on white in the
    // program's dark look. Declared first, it outlives the selector.
    juce::LookAndFeel_V4 selectorLook { juce::LookAndFeel_V4::getLightColourScheme() };
    std::unique_ptr<juce::AudioDeviceSelectorComponent> deviceSelector;
    std::unique_ptr<LiveAudioInputDisplayComp> firstChannelDisplay, secondChannelDisplay;
    juce::AudioDeviceManager& deviceManager;
    std::unique_ptr<AudioRecorder> recorder;
    Preferences& preferences;
    bool recording = false;
    juce::File recordingFile;

    juce::ComboBox sourceBox { "new combo box" }, channelsBox { "new combo box" }, rateBox { "new combo box" };
    juce::TextButton settingsButton { "new button" }, doneButton { "new button" };
    juce::ComboBox bitsBox { "new combo box" };
    juce::ImageButton recordButton { "new button" };
    juce::Label timeLabel { "new label", "00:00:00.00" };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RecorderComponent)
};
