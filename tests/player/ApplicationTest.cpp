// The application's life: the first start, where the windows go, the
// overlay, quitting (shutting down mid-playback: MediaLoadTest), and what a second launch
// hands over, also while a job runs.
#include "AppTestSupport.h"

#include "CVEditorWindow.h"
#include "CVUIEditor.h"
#include "ClarivoTempFolder.h"
#include "Preferences.h"

#include <sys/stat.h>

using namespace mediatest;

TEST (Application, WelcomesOnlyTheFirstStartAndNotesThatItWasOne)
{
    ScopedConfigHome home;
    auto& dialogs = DialogService::get();
    for (const juce::String answer : { "OK", "Cancel", "" })
    {
        SCOPED_TRACE (answer.toStdString());
        dialogs.clearHistory();
        dialogs.clearScript();
        dialogs.setResponder ([] (const DialogService::Request&) { return DialogService::Answer {}; });
        if (answer.isNotEmpty())
        {
            home.prefsFile().deleteFile();
            dialogs.answerWithButton (answer);
        }
        ClarivoApplication app;
        app.playerOptions.useNullDevice = true;
        app.showWindows = false;
        app.instanceName = {};
        app.initialise ({});
        if (answer.isEmpty())
        {
            EXPECT_TRUE (dialogs.getHistory().empty());
        }
        else
        {
            ASSERT_EQ (dialogs.getHistory().size(), 1u);
            const auto& asked = dialogs.getHistory().front().request;
            EXPECT_EQ (asked.title, "Welcome to Clarivo!");
            EXPECT_EQ (asked.text, "It looks like this is the first time you are using Clarivo.  Would you like to view the QuickStart Guide?");
            EXPECT_EQ (asked.buttons, juce::StringArray ({ "OK", "Cancel" }));
            EXPECT_EQ (app.lastGuideRequest, answer == "OK" ? 2 : 0);
        }
        app.shutdown();
        EXPECT_TRUE (home.prefsFile().loadFileAsString().contains ("name=\"First Launch\" val=\"0\""));
    }
    dialogs.setResponder ({});
}

TEST (Application, TheMediaWindowGoesUnderTheEditorOrFillsWhatIsLeft)
{
    const juce::Rectangle<int> editor { 250, 64, 780, 424 };
    EXPECT_EQ (ClarivoApplication::mediaWindowBounds (editor, { 0, 0, 1280, 1024 }), juce::Rectangle<int> (250, 520, 780, 490));
    // A short screen: the editor sits at the top of the user area.
    const juce::Rectangle<int> area { 0, 27, 1280, 693 }, top { 250, 27, 780, 424 };
    EXPECT_EQ (ClarivoApplication::mediaWindowBounds (top, area), juce::Rectangle<int> (250, 483, 780, 27 + 693 - 32 - 451));
}

class ApplicationTest : public AppTest
{
protected:
    ApplicationTest() { showWindows = true; }

    // Runs job, doing during once its overlay is up.
    template <typename Job>
    auto duringAJob (std::function<void()> during, Job&& job)
    {
        struct Poller : juce::Timer
        {
            std::function<bool()> tick;
            void timerCallback() override
            {
                if (tick())
                    stopTimer();
            }
        } poller;
        bool fired = false;
        poller.tick = [&]
        {
            if (app->isIdle() || app->getProgressText() != "Working...")
                return false;
            fired = true;
            during();
            return true;
        };
        poller.startTimer (5);
        auto result = job();
        poller.stopTimer();
        EXPECT_TRUE (fired);
        return result;
    }
};

TEST_F (ApplicationTest, StartsWithBothWindowsPlacedAndTheOverlayBlocksThemOnlyWhileAJobRuns)
{
    auto& editor = *app->getEditorWindow();
    auto& media = *app->getMediaWindow();
    EXPECT_EQ (media.getBounds(), ClarivoApplication::mediaWindowBounds (editor.getBounds(),
                                                                         juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea));
    pumpUntil ([] { return false; }, 100);
    writeSnapshot (editor, "editor-window-at-start");
    writeSnapshot (media, "media-window-at-start");

    const auto takesClicks = [] (juce::Component& c)
    {
        bool self = false, children = false;
        c.getInterceptsMouseClicks (self, children);
        return self || children;
    };
    const auto blocked = [&] { return ! takesClicks (editor) && ! takesClicks (media) && app->getEditor()->isProgressVisible(); };
    app->showProgress ("Working...");
    EXPECT_TRUE (blocked());
    app->hideProgress();
    app->setProgress (0.97);
    EXPECT_TRUE (app->isIdle());
    EXPECT_FALSE (takesClicks (editor) == false || app->getEditor()->isProgressVisible());
    EXPECT_EQ (processor().getProgress(), 0.97);
    app->setProgress (0.5);
    EXPECT_FALSE (app->isIdle());
    EXPECT_TRUE (blocked());
    app->hideProgress();
}

TEST_F (ApplicationTest, QuitOffersTheMediaAndCleansOnlyOurOwnFiles)
{
    int quits = 0;
    app->quitHandler = [&] { ++quits; };
    const auto ours = ClarivoTempFolder::get().getChildFile ("left.m4a");
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    const auto keep = temp.getNonexistentChildFile ("keep", ".m4a", false);
    keep.replaceWithText ("not ours");
    // A folder an earlier run left, and one of a program still running (pid 1).
    const auto privateM4a = [&] (int pid)
    {
        const auto folder = temp.getChildFile ("clarivo-" + juce::String (pid) + "-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt()).paddedLeft ('0', 8).substring (0, 6));
        folder.createDirectory();
        ::chmod (folder.getFullPathName().toRawUTF8(), 0700);
        folder.getChildFile ("x.m4a").replaceWithText ("x");
        return folder.getChildFile ("x.m4a");
    };
    const auto leftBehind = privateM4a (999999999), running = privateM4a (1);

    ASSERT_TRUE (open (media ("song.wav")).wasOk());
    processor().setParameter (CVAudioProcessor::Parameter::boost, 0.4f);
    pumpUntil ([] { return false; }, 50);
    ours.replaceWithText ("ours");
    const auto copy = document().getAnalysisFile();

    // Cancel: the program runs on with nothing deleted.
    DialogService::get().answerWithButton ("Cancel");
    app->systemRequestedQuit();
    EXPECT_EQ (quits, 0);
    EXPECT_TRUE (ours.existsAsFile() && copy.existsAsFile());
    EXPECT_EQ (document().getMediaFile(), media ("song.wav"));

    // Save: the copy is written, then the program goes.
    app->formatChooser = [this] { document().formatIndex = 6; return 1; };
    const auto saved = scratchFile ("saved.aif");
    DialogService::get().answerWithButton ("Save");
    DialogService::get().answerWithFile (saved);
    app->systemRequestedQuit();
    EXPECT_EQ (quits, 1);
    EXPECT_TRUE (saved.existsAsFile());
    EXPECT_FALSE (ours.exists());
    EXPECT_FALSE (copy.exists());
    EXPECT_TRUE (keep.existsAsFile());
    EXPECT_FALSE (leftBehind.exists());
    EXPECT_TRUE (running.existsAsFile());
    keep.deleteFile();
    leftBehind.getParentDirectory().deleteRecursively();
    running.getParentDirectory().deleteRecursively();

    // Discard: no copy, and the program goes.
    ASSERT_TRUE (open (media ("song.wav")).wasOk());
    processor().setParameter (CVAudioProcessor::Parameter::boost, 0.6f);
    pumpUntil ([] { return false; }, 50);
    DialogService::get().answerWithButton ("Discard Changes");
    app->systemRequestedQuit();
    EXPECT_EQ (quits, 2);
    EXPECT_EQ (askedTitles(), juce::StringArray ({ "Apply Clarivo before closing?", "Apply Clarivo before closing?", "Apply Clarivo before closing?" }));
}

TEST_F (ApplicationTest, NothingClosesOrQuitsUnderAnExport)
{
    int quits = 0;
    app->quitHandler = [&] { ++quits; };
    ASSERT_TRUE (open (media ("movie.mp4")).wasOk());
    const auto target = scratchFile ("during.mov");
    const auto result = duringAJob ([&]
    {
        app->getEditorWindow()->closeButtonPressed();
        app->getMediaWindow()->closeButtonPressed();
        app->systemRequestedQuit();
        app->invokeDirectly (juce::StandardApplicationCommandIDs::quit, false);
    }, [&] { return saveAs (target, 0); });
    EXPECT_EQ (result, juce::FileBasedDocument::savedOk);
    EXPECT_TRUE (target.existsAsFile());
    EXPECT_EQ (quits, 0);
    EXPECT_EQ (document().getMediaFile(), media ("movie.mp4"));
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
}

TEST_F (ApplicationTest, AHandedOverCommandLineOpensItsFirstAbsolutePathOnceIdle)
{
    const auto dir = scratchFolder();
    const auto spaced = dir.getChildFile ("a b.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (spaced));

    app->anotherInstanceStarted ("\"" + spaced.getFullPathName() + "\" -x rel.wav");
    EXPECT_EQ (document().getMediaFile(), spaced);

    // Only options and relative names: the document closes, nothing opens.
    app->anotherInstanceStarted ("-x rel.wav");
    EXPECT_EQ (document().getMediaFile(), juce::File());

    // During an export the hand-over waits for it to end.
    ASSERT_TRUE (open (media ("movie.mp4")).wasOk());
    duringAJob ([&] { app->anotherInstanceStarted (spaced.getFullPathName().quoted()); }, [&] { return saveAs (scratchFile ("out.wav"), 5); });
    EXPECT_TRUE (pumpUntil ([&] { return document().getMediaFile() == spaced; }, 5000));
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
}
