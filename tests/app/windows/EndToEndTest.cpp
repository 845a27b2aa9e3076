#include "app/support/AppTestSupport.h"
#include "app/support/TestHelpers.h"

#include "app/windows/CVDocumentWindow.h"
#include "app/editor/CVPlusEditor.h"
#include "app/editor/CVUIEditor.h"
#include "app/document/ClarivoTempFolder.h"
#include "engine/MeterLevels.h"

#include <cmath>
#include <cstdlib>

using namespace mediatest;

namespace
{
// 20 s of stereo at 44.1 kHz: 5 s of hiss, then a tone over the same hiss.
juce::File noisyToneFile()
{
    const auto file = scratchFile ("e2e-noisy-tone.wav");
    file.deleteFile();
    constexpr int rate = 44100, length = 20 * rate;
    juce::AudioBuffer<float> sound (2, length);
    juce::Random random (18);
    for (int i = 0; i < length; ++i)
    {
        const float tone = i >= 5 * rate ? 0.3f * std::sin (2.0f * juce::MathConstants<float>::pi * 440.0f * (float) i / rate) : 0.0f;
        for (int c = 0; c < 2; ++c)
            sound.setSample (c, i, tone + 0.05f * (random.nextFloat() * 2.0f - 1.0f));
    }
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (new juce::FileOutputStream (file), rate, 2, 16, {}, 0));
    if (writer == nullptr || ! writer->writeFromAudioSampleBuffer (sound, 0, length))
        return {};
    return file;
}

double rmsDb (const Planar& sound, double fromSeconds, double toSeconds, int rate)
{
    double sum = 0.0;
    size_t n = 0;
    for (const auto& channel : sound)
        for (auto i = (size_t) (fromSeconds * rate); i < juce::jmin (channel.size(), (size_t) (toSeconds * rate)); ++i, ++n)
            sum += (double) channel[i] * channel[i];
    return n == 0 ? -200.0 : 10.0 * std::log10 (sum / (double) n + 1.0e-20);
}

} // namespace

// A new user's first session, through the application's commands, with the
// dialogs answered by script.
class EndToEndTest : public AppTest
{
protected:
    EndToEndTest()
    {
        showWindows = true;
        initialiseInSetUp = false;
    }
    void SetUp() override
    {
        // A temporary folder of the session's own, so that what it leaves
        // there is told apart from the files of tests running beside it.
        const char* previous = std::getenv ("TMPDIR");
        savedTmpDir = previous != nullptr ? juce::String (previous) : juce::String();
        tmpDir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                     .getChildFile ("clarivo-e2e-" + juce::String::toHexString (juce::Random().nextInt64()));
        tmpDir.createDirectory();
        setenv ("TMPDIR", tmpDir.getFullPathName().toRawUTF8(), 1);
        AppTest::SetUp();
        app->quitHandler = [this] { quitAccepted = true; };
    }
    void TearDown() override
    {
        AppTest::TearDown();
        if (savedTmpDir.isEmpty())
            unsetenv ("TMPDIR");
        else
            setenv ("TMPDIR", savedTmpDir.toRawUTF8(), 1);
        tmpDir.deleteRecursively();
    }

    bool invoke (juce::CommandID command) { return app->getCommandManager().invokeDirectly (command, false); }

    juce::File tmpDir;
    juce::String savedTmpDir;
    bool quitAccepted = false;
};

TEST_F (EndToEndTest, ANewUserCleansAFileSavesItAsFlacAndQuits)
{
    const auto source = noisyToneFile();
    ASSERT_TRUE (source.existsAsFile());
    auto& dialogs = DialogService::get();

    // The welcome (its text and answers: ApplicationTest), declined.
    dialogs.answerWithButton ("Cancel");
    app->initialise ({});
    ASSERT_EQ (dialogs.getHistory().size(), 1u);
    EXPECT_EQ (app->getUserGuideWindow(), nullptr);

    // Learn before any file: nothing plays and no pass starts, which would
    // learn the first music played later.
    auto& bay = processor().getNoiseReductionBay();
    auto& learn = app->getEditor()->getControlsPanel().getButton (CVPlusEditor::learnButton);
    learn.setState (juce::Button::buttonDown);
    learn.setState (juce::Button::buttonNormal);
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_FALSE (learn.getToggleState() || app->isPlaying());

    // Open, load and analyse.
    dialogs.answerWithFile (source);
    ASSERT_TRUE (invoke (CVDocumentWindow::openMedia));
    ASSERT_TRUE (pumpUntil ([&] { return app->isIdle() && document().getMediaFile() == source; }, 30000));
    pumpUntil ([] { return false; }, 200);

    // Three seconds of play.
    auto& meter = processor().getPeakMeter();
    const double start = player().getPositionSeconds();
    const auto rowsBefore = processor().feeds().spectrum.getPublishedCount();
    meter.level[0] = 0.0f;
    app->playPause();
    EXPECT_TRUE (app->isPlaying());
    pumpUntil ([] { return false; }, 3000 / 8);
    app->playPause();
    EXPECT_GT (player().getPositionSeconds(), start + 1.0);
    EXPECT_GT (meter.level[0], 0.01f);
    // The wash display gets a live row for every block played.
    EXPECT_GT (processor().feeds().spectrum.getPublishedCount(), rowsBefore + 100);

    // Learn held over a second of the hiss, from the start; that it plays
    // and learns shows in the hiss taken out of the saved copy below.
    app->rewindToStart();
    learn.setState (juce::Button::buttonDown);
    pumpUntil ([] { return false; }, 1000 / 8);
    learn.setState (juce::Button::buttonNormal);
    EXPECT_TRUE (pumpUntil ([&] { return bay.isLearning() == 0 && ! learn.getToggleState(); }, 2000));
    app->playPause();
    pumpUntil ([] { return false; }, 100);

    // Save as FLAC at "10 (high/slow)".
    const auto target = scratchFile ("e2e-cleaned.flac");
    target.deleteFile();
    chooseInDialog (7, 9, {}, target);
    ASSERT_TRUE (invoke (CVDocumentWindow::saveMediaAs));
    ASSERT_TRUE (target.existsAsFile());
    EXPECT_EQ (apptest::ffprobe (target, "stream=codec_name,sample_fmt,sample_rate,channels"), juce::StringArray ("flac|s16|44100|2"));
    int rateIn = 0, rateOut = 0;
    const auto in = decodeAll (source, &rateIn);
    const auto out = decodeAll (target, &rateOut);
    ASSERT_FALSE (out.empty());
    EXPECT_EQ (out[0].size(), in[0].size());
    EXPECT_LE (rmsDb (out, 0.5, 4.5, rateOut), rmsDb (in, 0.5, 4.5, rateIn) - 6.0);

    // Quit, letting the changes go if asked.
    dialogs.answerWithButton ("Discard Changes");
    app->systemRequestedQuit();
    EXPECT_TRUE (quitAccepted);
    app->shutdown();
    for (const auto& folder : ClarivoTempFolder::ownFolders())
        EXPECT_TRUE (folder.findChildFiles (juce::File::findFiles, true, "*.m4a").isEmpty()) << folder.getFullPathName();
    EXPECT_TRUE (tmpDir.findChildFiles (juce::File::findFiles, true, "*.m4a").isEmpty());
}
