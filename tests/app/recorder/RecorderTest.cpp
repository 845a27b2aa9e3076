#include <gtest/gtest.h>

#include "app/recorder/AudioRecorder.h"
#include "app/windows/DialogService.h"
#include "app/support/FakeAudioDevice.h"
#include "app/recorder/LiveAudioInputDisplayComp.h"
#include "app/windows/Preferences.h"
#include "app/recorder/RecorderComponent.h"
#include "app/support/ScopedConfigHome.h"
#include "media/MediaTestSupport.h"
#include "app/support/TestHelpers.h"

#include <thread>
#include <unistd.h>

namespace
{
using fakeaudio::blockSize;

struct Recorder : ::testing::Test
{
    ScopedConfigHome home;
    juce::AudioDeviceManager manager;
    AudioRecorder recorder; // the recorder tests' own; the panels make theirs

    void SetUp() override
    {
        DialogService::get().clearHistory();
        DialogService::get().setResponder ([] (const DialogService::Request&) { return DialogService::Answer {}; });
    }
    void TearDown() override
    {
        manager.removeAudioCallback (&recorder);
        manager.closeAudioDevice();
        DialogService::get().setResponder ({});
        DialogService::get().clearHistory();
    }

    fakeaudio::Device& open (const juce::String& input)
    {
        fakeaudio::openDevice (manager, input);
        return *fakeaudio::current (manager);
    }

    juce::File documents() const { return home.home.getChildFile ("Documents"); }

    juce::StringArray titles() const
    {
        juce::StringArray result;
        for (auto& record : DialogService::get().getHistory())
            result.add (record.request.title);
        return result;
    }
};

// Feeds `frames` frames, never faster than the writer empties the buffer.
void pumpPaced (fakeaudio::Device& device, AudioRecorder& recorder, juce::int64 frames)
{
    for (; frames > 0; frames -= blockSize)
    {
        while (recorder.isRecording() && recorder.getFreeSpace() < blockSize)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        device.pump (juce::jmin (frames, (juce::int64) blockSize));
    }
}

// The file holds exactly the ramp from `firstFrame` on, `frames` long.
void expectRamp (const juce::File& file, int channels, int bits, double rate, juce::int64 firstFrame,
                 juce::int64 frames, int silentChannel = -1)
{
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader (wav.createReaderFor (file.createInputStream().release(), true));
    ASSERT_NE (reader, nullptr) << file.getFullPathName();
    EXPECT_EQ ((int) reader->numChannels, channels);
    EXPECT_EQ ((int) reader->bitsPerSample, bits);
    EXPECT_EQ (reader->sampleRate, rate);
    ASSERT_EQ (reader->lengthInSamples, frames);
    juce::AudioBuffer<float> buffer (channels, (int) frames);
    reader->read (&buffer, 0, (int) frames, 0, true, true);
    int wrong = 0;
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < (int) frames; ++i)
            wrong += buffer.getSample (c, i) != (c == silentChannel ? 0.0f : fakeaudio::sample (c, firstFrame + i));
    EXPECT_EQ (wrong, 0) << channels << " channels, " << bits << " bits, " << rate << " Hz";
}

juce::String probe (const juce::File& file)
{
    return apptest::ffprobe (file, "stream=sample_rate,channels,bits_per_sample,duration_ts").joinIntoString (" ");
}

using apptest::render;
using apptest::snapshot;
using apptest::boundsOf;
void click (juce::Button& button)
{
    button.triggerClick();
    apptest::pump (5);
}
} // namespace

// Every format the panel offers, from frames delivered before, during and
// after the recording: the file holds exactly the ones in between, and the
// outputs stay silent while the recorder runs.
TEST_F (Recorder, RecordsExactlyTheFramesDeliveredInEveryFormat)
{
    manager.addAudioCallback (&recorder);
    int n = 0;
    for (const char* input : { "Fake 2 in 44100", "Fake 2 in 48000" })
    {
        auto& device = open (input);
        for (int channels : { 1, 2 })
            for (int bits : { 16, 24, 32 })
            {
                const auto file = home.home.getChildFile ("take" + juce::String (++n) + ".wav");
                device.pump (700);
                const auto first = device.getFramesDelivered();
                ASSERT_EQ (recorder.startRecording (file, channels, bits), AudioRecorder::StartResult::started);
                device.pump (5 * blockSize + 100);
                EXPECT_EQ (recorder.getSamplesRecorded(), 5 * blockSize + 100);
                EXPECT_EQ (device.lastOutputPeak(), 0.0f);
                const auto report = recorder.stop();
                EXPECT_TRUE (report.isComplete());
                EXPECT_EQ (recorder.getSamplesRecorded(), 0);
                device.pump (blockSize);
                expectRamp (file, channels, bits, device.getCurrentSampleRate(), first, 5 * blockSize + 100);
                EXPECT_EQ (probe (file), juce::String (device.getCurrentSampleRate()) + "|" + juce::String (channels)
                                             + "|" + juce::String (bits) + "|" + juce::String (5 * blockSize + 100));
            }
    }
    // Out-of-range choices record mono 16 bits rather than nothing.
    auto& device = open ("Fake 2 in 44100");
    const auto odd = home.home.getChildFile ("odd.wav");
    recorder.startRecording (odd, 3, 64);
    const auto first = device.getFramesDelivered();
    device.pump (blockSize);
    recorder.stop();
    expectRamp (odd, 1, 16, 44100.0, first, blockSize);
}

// A start over a running recording finishes that file first; a one-input
// device records stereo with a silent second channel. (Starts that cannot
// record: the panel's refusals below.)
TEST_F (Recorder, SecondStartsAndOneInputStereo)
{
    manager.addAudioCallback (&recorder);
    const auto file = home.home.getChildFile ("a.wav");
    auto& device = open ("Fake 1 in 44100");
    auto first = device.getFramesDelivered();
    ASSERT_EQ (recorder.startRecording (file, 2, 24), AudioRecorder::StartResult::started);
    device.pump (3 * blockSize);
    const auto second = home.home.getChildFile ("b.wav");
    ASSERT_EQ (recorder.startRecording (second, 2, 16), AudioRecorder::StartResult::started);
    expectRamp (file, 2, 24, 44100.0, first, 3 * blockSize, 1);
    first = device.getFramesDelivered();
    device.pump (blockSize);
    recorder.stop();
    expectRamp (second, 2, 16, 44100.0, first, blockSize, 1);
}

// A take has its name only once stopped (a crash leaves nothing half-named),
// and a file put under that name meanwhile is kept, the take beside it.
TEST_F (Recorder, ATakeIsNamedWhenStoppedAndNeverOverAFileThatTookTheName)
{
    manager.addAudioCallback (&recorder);
    const auto file = home.home.getChildFile ("take.wav");
    auto& device = open ("Fake 2 in 44100");
    const auto first = device.getFramesDelivered();
    ASSERT_EQ (recorder.startRecording (file, 2, 16), AudioRecorder::StartResult::started);
    device.pump (3 * blockSize);
    EXPECT_FALSE (file.exists());
    ASSERT_TRUE (file.replaceWithText ("theirs"));
    const auto report = recorder.stop();
    EXPECT_TRUE (report.isComplete());
    EXPECT_EQ (report.file, home.home.getChildFile ("take (2).wav"));
    EXPECT_EQ (file.loadFileAsString(), "theirs");
    expectRamp (report.file, 2, 16, 44100.0, first, 3 * blockSize);
}

// Three seconds of audio while the writer thread is held up are all kept;
// a disk that fills up mid-recording leaves a readable file of what fitted.
TEST_F (Recorder, HeldUpWriterLosesNothingAndAFullDiskKeepsAReadableFile)
{
    manager.addAudioCallback (&recorder);
    auto& device = open ("Fake 2 in 48000");

    struct Blocker : juce::TimeSliceClient
    {
        juce::WaitableEvent entered, release;
        int useTimeSlice() override
        {
            entered.signal();
            release.wait (10000);
            return 100000;
        }
    } blocker;
    recorder.getWriterThread().addTimeSliceClient (&blocker);
    ASSERT_TRUE (blocker.entered.wait (5000));
    const auto file = home.home.getChildFile ("held.wav");
    auto first = device.getFramesDelivered();
    ASSERT_EQ (recorder.startRecording (file, 2, 24), AudioRecorder::StartResult::started);
    device.pump (3 * 48000);
    blocker.release.signal();
    EXPECT_TRUE (recorder.stop().isComplete());
    recorder.getWriterThread().removeTimeSliceClient (&blocker);
    expectRamp (file, 2, 24, 48000.0, first, 3 * 48000);

    const auto full = home.home.getChildFile ("full.wav");
    AudioRecorder::StopReport report;
    {
        mediatest::FileSizeLimit limit (100000);
        ASSERT_EQ (recorder.startRecording (full, 2, 16), AudioRecorder::StartResult::started);
        first = device.getFramesDelivered();
        pumpPaced (device, recorder, 48000);
        report = recorder.stop();
    }
    EXPECT_TRUE (report.writeFailed);
    EXPECT_FALSE (report.isComplete());
    EXPECT_GT (report.framesWritten, 10000);
    EXPECT_EQ (report.framesWritten + report.framesLost, 48000);
    expectRamp (full, 2, 16, 48000.0, first, report.framesWritten);
    EXPECT_EQ (probe (full), "48000|2|16|" + juce::String (report.framesWritten));
}

// The chart's figures and pixels at 400 x 100, gain 2, scale 30.
TEST (LiveAudioInputDisplay, LevelsBarsAndClearing)
{
    LiveAudioInputDisplayComp display (true);
    display.setSize (400, 100);
    const auto feed = [&display] (float value, int samples)
    {
        std::vector<float> block ((size_t) samples, value);
        const float* in[] { block.data() };
        display.audioDeviceIOCallback (in, 1, nullptr, 0, samples);
    };
    feed (0.25f, 1 + 101 * 500);
    EXPECT_FLOAT_EQ (display.getLevel (500), 0.0025f);
    EXPECT_FLOAT_EQ (display.getLevel (0), 0.2525f);
    auto image = render (display);
    const juce::Colour bar (0xff1070d0);
    for (int y : { 40, 60 })
        EXPECT_EQ (image.getPixelAt (200, y), bar) << y;
    for (int y : { 30, 70 })
        EXPECT_EQ (image.getPixelAt (200, y), juce::Colours::black) << y;

    feed (1.0f, 101);
    EXPECT_FLOAT_EQ (display.getLevel (0), 1.01f);
    feed (std::numeric_limits<float>::quiet_NaN(), 101);
    EXPECT_EQ (display.getLevel (0), 0.0f);

    display.setSize (400, 40);
    EXPECT_EQ (render (display).getPixelAt (200, 10), juce::Colours::black);
    display.setSize (9000, 100);
    image = render (display);
    EXPECT_EQ (image.getPixelAt (8100, 40), bar);
    EXPECT_EQ (image.getPixelAt (8191, 40), juce::Colours::black); // the NaN block
    EXPECT_EQ (image.getPixelAt (8180, 40), bar);
    EXPECT_EQ (image.getPixelAt (8192, 40), juce::Colours::black);
    // Samples too loud to sum give the full height, not an infinite bar.
    feed (3.0e38f, 101);
    EXPECT_TRUE (std::isfinite (display.getLevel (0)));
    display.setSize (400, 100);
    image = render (display);
    for (int y : { 1, 50, 98 })
        EXPECT_EQ (image.getPixelAt (399, y), bar) << y;

    // The device starting or stopping clears at once; a one-input device
    // gives the second channel's display nothing.
    display.audioDeviceAboutToStart (nullptr);
    EXPECT_EQ (display.getLevel (0), 0.0f);
    LiveAudioInputDisplayComp second (false);
    second.setSize (400, 100);
    std::vector<float> one (512, 0.5f);
    const float* in[] { one.data() };
    second.audioDeviceIOCallback (in, 1, nullptr, 0, 512);
    second.setStatusText ("Learning");
    image = render (second);
    const auto line = juce::Colours::black.overlaidWith (juce::Colour (0x801070d0));
    EXPECT_EQ (image.getPixelAt (0, 30), line);
    EXPECT_EQ (image.getPixelAt (100, 50), line);
    EXPECT_EQ (image.getPixelAt (300, 45), juce::Colours::black);
    juce::uint8 brightest = 0;
    for (int y = 1; y < 99; ++y)
        for (int x = 1; x < 399; ++x)
            if (y != 50 && (x >= 200 || y < 48 || y >= 80))
                EXPECT_EQ (image.getPixelAt (x, y), juce::Colours::black) << x << "," << y;
            else if (y != 50)
                brightest = juce::jmax (brightest, image.getPixelAt (x, y).getRed());
    EXPECT_NEAR (brightest, 153, 2);
}


// The panel at the media window's size: its choices as stored, its layout in
// stereo, mono and settings, and what each choice changes.
TEST_F (Recorder, PanelLayoutChoicesAndDevices)
{
    Preferences preferences;
    preferences.setRecordChannels (2);
    preferences.setRecordBits (24);
    open ("Fake 2 in 48000");
    RecorderComponent panel (manager, preferences);
    panel.setSize (780, 490);
    fakeaudio::current (manager)->pump (48000);

    EXPECT_EQ (panel.getChannelsBox().getText(), "Stereo");
    EXPECT_EQ (panel.getBitsBox().getText(), "24-bits");
    EXPECT_EQ (panel.getSourceBox().getText(), "Fake 2 in 48000");
    auto& rates = panel.getRateBox();
    ASSERT_EQ (rates.getNumItems(), 2);
    EXPECT_EQ (rates.getItemText (0), "44100 Hz");
    EXPECT_EQ (rates.getItemId (0), 44100);
    EXPECT_EQ (rates.getSelectedId(), 48000);

    using R = juce::Rectangle<int>;
    EXPECT_EQ (boundsOf ({ &panel.getDisplay (0), &panel.getDisplay (1), &panel.getSourceBox(), &panel.getChannelsBox(),
                           &panel.getRateBox(), &panel.getBitsBox(), &panel.getSettingsButton(), &panel.getRecordButton(),
                           &panel.getTimeLabel(), &panel.getDoneButton() }),
               (std::vector<R> { { 5, 5, 770, 212 }, { 5, 217, 770, 212 }, { 8, 452, 160, 24 }, { 176, 452, 96, 24 },
                                 { 280, 452, 96, 24 }, { 384, 452, 96, 24 }, { 488, 452, 96, 24 }, { 730, 446, 38, 38 },
                                 { 5, 448, 300, 36 }, { 680, 450, 80, 24 } }));
    // The framework's selector takes the height of its own content.
    const auto selector = panel.getDeviceSelector().getBounds();
    EXPECT_EQ (selector.withHeight (385), R (0, 105, 780, 385));
    EXPECT_LE (selector.getBottom(), 490);
    EXPECT_FALSE (panel.getTimeLabel().isVisible() || panel.getDoneButton().isVisible()
                  || panel.getDeviceSelector().isVisible());
    snapshot (panel, "recorder_normal_stereo.png");

    panel.getChannelsBox().setSelectedId (1, juce::sendNotificationSync);
    panel.getBitsBox().setSelectedId (3, juce::sendNotificationSync);
    EXPECT_EQ (preferences.getRecordChannels(), 1);
    EXPECT_EQ (preferences.getRecordBits(), 32);
    EXPECT_EQ (boundsOf ({ &panel.getDisplay (0), &panel.getDisplay (1) }),
               (std::vector<R> { { 5, 5, 770, 424 }, { 4, 5, 770, 1 } }));
    snapshot (panel, "recorder_mono.png");

    // Settings: the selector on white; the device changes behind the panel's
    // back, and "Done" shows the one now in use.
    click (panel.getSettingsButton());
    EXPECT_TRUE (panel.getDeviceSelector().isVisible() && panel.getDoneButton().isVisible());
    EXPECT_FALSE (panel.getDisplay (0).isVisible() || panel.getRecordButton().isVisible()
                  || panel.getSourceBox().isVisible());
    EXPECT_EQ (render (panel).getPixelAt (400, 50), juce::Colours::white);
    snapshot (panel, "recorder_settings.png");
    fakeaudio::openDevice (manager, "Fake 2 in 44100");
    click (panel.getDoneButton());
    EXPECT_FALSE (panel.getDeviceSelector().isVisible());
    EXPECT_TRUE (panel.getSourceBox().isVisible());
    EXPECT_EQ (panel.getSourceBox().getText(), "Fake 2 in 44100");
    EXPECT_EQ (panel.getRateBox().getSelectedId(), 44100);

    // A source or rate change reopens the device; one that fails says why.
    panel.getSourceBox().setText ("Fake 1 in 44100", juce::sendNotificationSync);
    EXPECT_EQ (manager.getCurrentAudioDevice()->getName(), "Fake 1 in 44100");
    panel.getRateBox().setSelectedId (48000, juce::sendNotificationSync);
    EXPECT_EQ (manager.getCurrentAudioDevice()->getCurrentSampleRate(), 48000.0);
    EXPECT_TRUE (DialogService::get().getHistory().empty());
    panel.getSourceBox().setText ("Fake broken", juce::sendNotificationSync);
    ASSERT_EQ (titles(), juce::StringArray ("Audio Device Error"));
    EXPECT_EQ (DialogService::get().getHistory()[0].request.text, "The fake device is broken");

    // Stored values nobody offers read as mono and 16 bits; without a device
    // the rate list is empty.
    manager.closeAudioDevice();
    preferences.setRecordChannels (3);
    preferences.setRecordBits (64);
    RecorderComponent fresh (manager, preferences);
    EXPECT_EQ (fresh.getChannelsBox().getText(), "Mono");
    EXPECT_EQ (fresh.getBitsBox().getText(), "16-bits");
    EXPECT_EQ (fresh.getRateBox().getNumItems(), 0);
}

// Recording from the panel: names, the elapsed time, the hand-over to the
// player, and every failure said in words with no file or state left over.
TEST_F (Recorder, PanelRecordsHandsOverAndReportsFailures)
{
    Preferences preferences;
    auto* device = &open ("Fake 2 in 48000");
    RecorderComponent panel (manager, preferences);
    panel.setSize (780, 490);
    juce::StringArray calls;
    panel.handover.setPlayerMode = [&] (bool player) { calls.add ("player " + juce::String ((int) player)); };
    panel.handover.openMediaFile = [&] (const juce::File& f) { calls.add ("open " + f.getFileName()); };

    ASSERT_FALSE (documents().exists());
    click (panel.getRecordButton());
    ASSERT_TRUE (panel.isRecording());
    EXPECT_EQ (panel.getRecordingFile(), documents().getChildFile ("Clarivo Recording.wav"));
    EXPECT_TRUE (panel.getTimeLabel().isVisible() && panel.getRecordButton().getToggleState());
    EXPECT_FALSE (panel.getSourceBox().isVisible() || panel.getSettingsButton().isVisible());
    pumpPaced (*device, panel.getRecorder(), 48000);
    panel.timerCallback();
    EXPECT_EQ (panel.getTimeLabel().getText(), "00:00:01.000");
    snapshot (panel, "recorder_recording.png");
    pumpPaced (*device, panel.getRecorder(), 89 * 48000);
    panel.timerCallback();
    EXPECT_EQ (panel.getTimeLabel().getText(), "00:01:30.000");
    click (panel.getRecordButton());
    EXPECT_FALSE (panel.isRecording() || panel.getRecordButton().getToggleState());
    EXPECT_EQ (calls, juce::StringArray ("player 1", "open Clarivo Recording.wav"));
    EXPECT_TRUE (titles().isEmpty());
    expectRamp (panel.getRecordingFile(), 1, 16, 48000.0, 0, 90 * 48000);

    click (panel.getRecordButton());
    EXPECT_EQ (panel.getRecordingFile().getFileName(), "Clarivo Recording (2).wav");
    {
        mediatest::FileSizeLimit limit (50000);
        pumpPaced (*device, panel.getRecorder(), 48000);
        click (panel.getRecordButton());
    }
    ASSERT_EQ (titles(), juce::StringArray ("Recording Incomplete"));
    EXPECT_EQ (DialogService::get().getHistory()[0].request.text,
               "Not all of the recording could be written to \"" + panel.getRecordingFile().getFullPathName()
                   + "\" (the disk may be full or too slow). The file holds what was written.");
    EXPECT_EQ (calls.size(), 4);
    DialogService::get().clearHistory();

    // Left for the player (a file opened meanwhile): the recording ends whole
    // and nothing is opened over what the user went to.
    click (panel.getRecordButton());
    const auto leftAt = device->getFramesDelivered();
    pumpPaced (*device, panel.getRecorder(), 4800);
    panel.finishRecording();
    EXPECT_FALSE (panel.isRecording() || panel.getRecordButton().getToggleState());
    expectRamp (panel.getRecordingFile(), 1, 16, 48000.0, leftAt, device->getFramesDelivered() - leftAt);
    EXPECT_EQ (calls.size(), 4);
    EXPECT_TRUE (titles().isEmpty());

    const auto expectRefused = [&] (const char* title, const juce::String& text)
    {
        click (panel.getRecordButton());
        EXPECT_FALSE (panel.isRecording() || panel.getRecordButton().getToggleState());
        EXPECT_TRUE (panel.getSourceBox().isVisible() && ! panel.getTimeLabel().isVisible());
        EXPECT_FALSE (panel.getRecordingFile().exists());
        ASSERT_EQ (titles(), juce::StringArray (title));
        EXPECT_EQ (DialogService::get().getHistory()[0].request.text, text);
        DialogService::get().clearHistory();
    };
    const juce::String noInput = "Clarivo found no audio input to record from. Connect an input device or choose one "
                                 "with Settings...";
    open ({});
    expectRefused ("No Audio Input", noInput);
    open ("Fake 1 in 44100");
    manager.closeAudioDevice();
    expectRefused ("No Audio Input", noInput);
    manager.restartLastAudioDevice();
    documents().deleteRecursively();
    documents().replaceWithText ("not a folder");
    expectRefused ("Recording Failed", "Clarivo could not create the recording file \""
                                           + documents().getChildFile ("Clarivo Recording.wav").getFullPathName() + "\".");
    EXPECT_EQ (calls.size(), 4);
}

TEST_F (Recorder, PanelPassesOverALinkThatLeadsNowhere)
{
    Preferences preferences;
    open ("Fake 2 in 48000");
    RecorderComponent panel (manager, preferences);
    ASSERT_TRUE (documents().createDirectory());
    const auto link = documents().getChildFile ("Clarivo Recording.wav");
    const auto nowhere = documents().getChildFile ("gone/take.wav");
    ASSERT_EQ (::symlink (nowhere.getFullPathName().toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);
    click (panel.getRecordButton());
    ASSERT_TRUE (panel.isRecording());
    EXPECT_EQ (panel.getRecordingFile().getFileName(), "Clarivo Recording (2).wav");
    click (panel.getRecordButton());
    EXPECT_TRUE (link.isSymbolicLink());
    EXPECT_FALSE (nowhere.exists());
}
