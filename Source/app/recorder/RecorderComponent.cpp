#include "app/recorder/RecorderComponent.h"

#include "app/windows/ClarivoApplication.h"
#include "app/windows/DialogService.h"
#include "app/windows/Preferences.h"
#include "app/mediawindow/TransportComponent.h"
#include "platform/media/MediaFileOutput.h"

#include <cmath>

namespace
{
constexpr int buttonSize = 38;

juce::Image drawButtonImage (bool stop)
{
    juce::Image image (juce::Image::ARGB, buttonSize, buttonSize, true);
    juce::Graphics g (image);
    const auto bounds = juce::Rectangle<float> (0.0f, 0.0f, (float) buttonSize, (float) buttonSize).reduced (1.0f);
    g.setColour (juce::Colour (0xff303030));
    g.fillEllipse (bounds);
    g.setColour (juce::Colour (0xff808080));
    g.drawEllipse (bounds.reduced (0.5f), 1.0f);
    g.setColour (juce::Colour (0xffd02020));
    if (stop)
        g.fillRoundedRectangle (bounds.withSizeKeepingCentre (14.0f, 14.0f), 2.0f);
    else
        g.fillEllipse (bounds.withSizeKeepingCentre (18.0f, 18.0f));
    return image;
}

void styleBox (juce::ComboBox& box)
{
    box.setEditableText (false);
    box.setJustificationType (juce::Justification::centredLeft);
    box.setTextWhenNothingSelected ({});
    box.setTextWhenNoChoicesAvailable ("(no choices)");
    box.setColour (juce::ComboBox::backgroundColourId, juce::Colours::black);
    box.setColour (juce::ComboBox::textColourId, juce::Colour (0xffb0b0b0));
    box.setColour (juce::ComboBox::buttonColourId, juce::Colour (0xff0050d0));
}

void tellUser (const juce::String& title, const juce::String& text)
{
    DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, title, text);
}
} // namespace

juce::File RecorderComponent::getRecordingsFolder()
{
    return juce::File::getSpecialLocation (juce::File::userDocumentsDirectory);
}

RecorderComponent::RecorderComponent (juce::AudioDeviceManager& manager, Preferences& prefs)
    : deviceManager (manager), preferences (prefs)
{
    handover.setPlayerMode = [] (bool player)
    {
        if (auto* app = ClarivoApplication::getApp())
            app->setPlayerMode (player);
    };
    handover.openMediaFile = [] (const juce::File& file)
    {
        if (auto* app = ClarivoApplication::getApp())
            app->openMediaFile (file, true);
    };

    for (auto* box : { &sourceBox, &channelsBox, &rateBox })
        addAndMakeVisible (*box);
    addAndMakeVisible (settingsButton);
    addAndMakeVisible (doneButton);
    addAndMakeVisible (bitsBox);
    addAndMakeVisible (recordButton);
    addAndMakeVisible (timeLabel);

    sourceBox.setTooltip ("Use this popup to change the recording input source");
    channelsBox.addItem ("Mono", 1);
    channelsBox.addItem ("Stereo", 2);
    channelsBox.setTooltip ("Use this popup to choose whether the recording is one channel (mono) or two channels (stereo)");
    bitsBox.addItem ("16-bits", 1);
    bitsBox.addItem ("24-bits", 2);
    bitsBox.addItem ("32-bits", 3);
    bitsBox.setTooltip ("Use this popup to select the bit-depth of the recording (CD quality is 16-bits - higher settings take more disk space)");
    for (auto* box : { &sourceBox, &channelsBox, &rateBox, &bitsBox })
    {
        styleBox (*box);
        box->addListener (this);
    }

    settingsButton.setButtonText ("Settings...");
    settingsButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff202020));
    settingsButton.setColour (juce::TextButton::textColourOffId, juce::Colour (0xffb0b0b0));
    settingsButton.addListener (this);
    doneButton.setButtonText ("Done");
    doneButton.setTooltip ("Press this button when you are done changing the audio settings");
    doneButton.addListener (this);

    const auto recordImage = drawButtonImage (false), stopImage = drawButtonImage (true);
    const juce::Colour noOverlay (0x007b3636);
    recordButton.setImages (false, false, true, recordImage, 1.0f, {}, recordImage, 0.9f, noOverlay, stopImage, 1.0f, {}, 0.0f);
    recordButton.setTooltip ("Press this button to start recording");
    recordButton.addListener (this);

    timeLabel.setFont (juce::Font (juce::Font::getDefaultSansSerifFontName(), 32.0f, juce::Font::plain));
    timeLabel.setJustificationType (juce::Justification::centredLeft);
    timeLabel.setEditable (false, false, false);
    timeLabel.setColour (juce::Label::textColourId, juce::Colour (0xffdcdcdc));
    timeLabel.setColour (juce::TextEditor::textColourId, juce::Colours::black);
    timeLabel.setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));

    firstChannelDisplay = std::make_unique<LiveAudioInputDisplayComp> (true);
    secondChannelDisplay = std::make_unique<LiveAudioInputDisplayComp> (false);
    addAndMakeVisible (*firstChannelDisplay);
    addAndMakeVisible (*secondChannelDisplay);
    recorder = std::make_unique<AudioRecorder>();
    deviceManager.addAudioCallback (recorder.get());

    deviceSelector = std::make_unique<juce::AudioDeviceSelectorComponent> (deviceManager, 1, 2, 0, 0, false, false,
                                                                           true, false);
    deviceSelector->setLookAndFeel (&selectorLook);
    addChildComponent (*deviceSelector);
    setSettingsMode (false);
    deviceManager.addAudioCallback (firstChannelDisplay.get());
    deviceManager.addAudioCallback (secondChannelDisplay.get());

    recordButton.setClickingTogglesState (true);
    refresh (true);
    startTimer (100);
    setSize (520, 200);
}

RecorderComponent::~RecorderComponent()
{
    stopTimer();
    removeCallbacks();
    // A recording still running is finished, so its file is a whole WAV.
    recorder.reset();
}

void RecorderComponent::addCallbacks()
{
    deviceManager.addAudioCallback (firstChannelDisplay.get());
    deviceManager.addAudioCallback (secondChannelDisplay.get());
    deviceManager.addAudioCallback (recorder.get());
}

void RecorderComponent::removeCallbacks()
{
    deviceManager.removeAudioCallback (firstChannelDisplay.get());
    deviceManager.removeAudioCallback (secondChannelDisplay.get());
    deviceManager.removeAudioCallback (recorder.get());
}

void RecorderComponent::paint (juce::Graphics& g)
{
    g.fillAll (isSettingsMode() ? juce::Colours::white : juce::Colours::black);
}

void RecorderComponent::resized()
{
    const int w = getWidth(), h = getHeight();
    const int d = (h - 65) / 2;
    sourceBox.setBounds (8, h - 38, 160, 24);
    channelsBox.setBounds (176, h - 38, 96, 24);
    rateBox.setBounds (280, h - 38, 96, 24);
    bitsBox.setBounds (384, h - 38, 96, 24);
    settingsButton.setBounds (488, h - 38, 96, 24);
    recordButton.setBounds (w - 50, h - 44, buttonSize, buttonSize);
    timeLabel.setBounds (5, h - 42, 300, 36);
    if (channelsBox.getSelectedId() == 1)
    {
        firstChannelDisplay->setBounds (5, 5, w - 10, 2 * d);
        secondChannelDisplay->setBounds (4, 5, w - 10, 1);
    }
    else
    {
        firstChannelDisplay->setBounds (5, 5, w - 10, d);
        secondChannelDisplay->setBounds (5, d + 5, w - 10, d);
    }
    doneButton.setBounds (w - 100, h - 40, 80, 24);
    // The selector then shrinks itself to the height of what it shows.
    deviceSelector->setBounds (0, h / 2 - 140, w, h / 2 + 140);
}

void RecorderComponent::setSettingsMode (bool settings)
{
    firstChannelDisplay->setVisible (! settings);
    secondChannelDisplay->setVisible (! settings);
    recordButton.setVisible (! settings);
    for (juce::Component* c : { (juce::Component*) &sourceBox, (juce::Component*) &channelsBox,
                                (juce::Component*) &rateBox, (juce::Component*) &bitsBox,
                                (juce::Component*) &settingsButton })
        c->setVisible (! settings && ! recording);
    timeLabel.setVisible (recording && ! settings);
    doneButton.toFront (false);
    doneButton.setVisible (settings);
    deviceSelector->setVisible (settings);
    repaint();
}

void RecorderComponent::refresh (bool withDevices)
{
    rateBox.clear (juce::sendNotificationAsync);
    if (auto* device = deviceManager.getCurrentAudioDevice())
    {
        for (auto rate : device->getAvailableSampleRates())
            rateBox.addItem (juce::String (juce::roundToInt (rate)) + " Hz", juce::roundToInt (rate));
        rateBox.setSelectedId (juce::roundToInt (device->getCurrentSampleRate()), juce::dontSendNotification);
    }

    if (withDevices)
    {
        sourceBox.clear (juce::sendNotificationAsync);
        // The type in use, not merely the first one offered: on Linux the
        // first is ALSA even when the device runs under JACK.
        auto* type = deviceManager.getCurrentDeviceTypeObject();
        if (type == nullptr && ! deviceManager.getAvailableDeviceTypes().isEmpty())
            type = deviceManager.getAvailableDeviceTypes().getFirst();
        if (type != nullptr)
        {
            const auto names = type->getDeviceNames (true);
            for (int i = 0; i < names.size(); ++i)
                sourceBox.addItem (names[i], i + 1);
        }
    }

    // The stored values come from a file anyone may edit; anything but the
    // choices on offer falls back to mono and 16 bits.
    channelsBox.setSelectedItemIndex (AudioRecorder::sanitiseChannels (preferences.getRecordChannels()) - 1,
                                      juce::dontSendNotification);
    bitsBox.setSelectedItemIndex (AudioRecorder::sanitiseBits (preferences.getRecordBits()) / 8 - 2,
                                  juce::dontSendNotification);
    resized();
    selectCurrentDevice();
}

void RecorderComponent::selectCurrentDevice()
{
    const auto setup = deviceManager.getAudioDeviceSetup();
    for (int i = 0; i < sourceBox.getNumItems(); ++i)
        if (sourceBox.getItemText (i) == setup.inputDeviceName)
            sourceBox.setSelectedItemIndex (i, juce::dontSendNotification);

    if (auto* device = deviceManager.getCurrentAudioDevice())
    {
        const auto rate = (int) setup.sampleRate;
        const auto rates = device->getAvailableSampleRates();
        for (int i = 0; i < rateBox.getNumItems() && i < rates.size(); ++i)
            if (juce::roundToInt (rates[i]) == rate)
                rateBox.setSelectedItemIndex (i, juce::dontSendNotification);
    }
}

void RecorderComponent::applySetup (juce::AudioDeviceManager::AudioDeviceSetup setup)
{
    const auto error = deviceManager.setAudioDeviceSetup (setup, true);
    if (error.isNotEmpty())
        tellUser ("Audio Device Error", error);
}

void RecorderComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box == &sourceBox)
    {
        // Clearing the list notifies too; that must not close the input.
        auto setup = deviceManager.getAudioDeviceSetup();
        if (sourceBox.getSelectedId() == 0 || sourceBox.getText() == setup.inputDeviceName)
            return;
        removeCallbacks();
        setup.inputDeviceName = sourceBox.getText();
        const auto error = deviceManager.setAudioDeviceSetup (setup, true);
        addCallbacks();
        refresh (false);
        if (error.isNotEmpty())
            tellUser ("Audio Device Error", error);
    }
    else if (box == &channelsBox)
    {
        resized();
        preferences.setRecordChannels (channelsBox.getSelectedItemIndex() + 1);
    }
    else if (box == &rateBox)
    {
        auto setup = deviceManager.getAudioDeviceSetup();
        if (rateBox.getSelectedId() == 0 || rateBox.getSelectedId() == (int) setup.sampleRate)
            return;
        setup.sampleRate = rateBox.getSelectedId();
        applySetup (setup);
    }
    else if (box == &bitsBox)
    {
        preferences.setRecordBits (bitsBox.getSelectedItemIndex() * 8 + 16);
    }
}

void RecorderComponent::buttonClicked (juce::Button* button)
{
    if (button == &settingsButton)
    {
        setSettingsMode (true);
    }
    else if (button == &doneButton)
    {
        setSettingsMode (false);
        selectCurrentDevice();
    }
    else if (button == &recordButton)
    {
        if (recording)
            stopRecording();
        else
            startRecording();
    }
}

void RecorderComponent::startRecording()
{
    const auto folder = getRecordingsFolder();
    folder.createDirectory();
    // The framework's numbering would write "Clarivo Recording(2).wav".
    recordingFile = folder.getChildFile ("Clarivo Recording.wav");
    // A link leading nowhere is the user's too: the recorder would delete it.
    for (int n = 2; clarivo::media::detail::nameIsTaken (recordingFile); ++n)
        recordingFile = folder.getChildFile ("Clarivo Recording (" + juce::String (n) + ").wav");

    const auto result = recorder->startRecording (recordingFile, channelsBox.getSelectedItemIndex() + 1,
                                                  bitsBox.getSelectedItemIndex() * 8 + 16);
    if (result != AudioRecorder::StartResult::started)
    {
        recordButton.setToggleState (false, juce::dontSendNotification);
        setSettingsMode (false);
        if (result == AudioRecorder::StartResult::noInput)
            tellUser ("No Audio Input", "Clarivo found no audio input to record from. Connect an input device or "
                                        "choose one with Settings...");
        else
            tellUser ("Recording Failed",
                      "Clarivo could not create the recording file \"" + recordingFile.getFullPathName() + "\".");
        return;
    }

    recording = true;
    setSettingsMode (false);
}

void RecorderComponent::finishRecording()
{
    if (! recording)
        return;
    const auto report = recorder->stop();
    recording = false;
    recordButton.setToggleState (false, juce::dontSendNotification);
    setSettingsMode (false);
    timerCallback();
    if (report.file != juce::File())
        recordingFile = report.file;

    if (! report.isComplete())
        tellUser ("Recording Incomplete", "Not all of the recording could be written to \""
                                              + recordingFile.getFullPathName()
                                              + "\" (the disk may be full or too slow). The file holds what was written.");
}

void RecorderComponent::stopRecording()
{
    finishRecording();
    if (handover.setPlayerMode)
        handover.setPlayerMode (true);
    if (handover.openMediaFile)
        handover.openMediaFile (recordingFile);
}

void RecorderComponent::timerCallback()
{
    auto* device = deviceManager.getCurrentAudioDevice();
    const double rate = device != nullptr && device->getCurrentSampleRate() > 0.0 ? device->getCurrentSampleRate() : 44100.0;
    const auto t = (juce::int64) ((double) recorder->getSamplesRecorded() / rate * 1000.0);
    timeLabel.setText (TransportComponent::formatTime (t), juce::dontSendNotification);
}
