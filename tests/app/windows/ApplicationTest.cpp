// The application's life: the first start, where the windows go, the
// overlay, quitting (shutting down mid-playback: MediaLoadTest), and what a second launch
// hands over, also while a job runs.
#include "app/support/AppTestSupport.h"

#include "app/windows/CVEditorWindow.h"
#include "app/editor/CVUIEditor.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/windows/Preferences.h"
#include "platform/launch/SingleInstance.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace juce
{
// The arguments JUCE keeps from main(), which the first launch opens.
extern const char* const* juce_argv;
extern int juce_argc;
} // namespace juce

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

    // Runs job, doing during once its overlay shows text.
    template <typename Job>
    auto duringAJob (std::function<void()> during, Job&& job, const juce::String& text = "Working...")
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
            if (app->isIdle() || app->getProgressText() != text)
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
    // A folder an earlier run left (its marker free), and one that no run
    // of ours is known to have made (no marker).
    const auto privateM4a = [&] (int pid, bool marked)
    {
        const auto folder = temp.getChildFile ("clarivo-" + juce::String (pid) + "-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt()).paddedLeft ('0', 8).substring (0, 6));
        folder.createDirectory();
        ::chmod (folder.getFullPathName().toRawUTF8(), 0700);
        if (marked)
            folder.getChildFile (ClarivoTempFolder::runMarkerName).create();
        folder.getChildFile ("x.m4a").replaceWithText ("x");
        return folder.getChildFile ("x.m4a");
    };
    const auto leftBehind = privateM4a (999999999, true), running = privateM4a (1, false);

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

TEST_F (ApplicationTest, NothingQuitsUnderABatchOrTheAnalysisAndAQuitAfterwardsGoes)
{
    int quits = 0;
    app->quitHandler = [&] { ++quits; };
    const auto everyWayToQuit = [&]
    {
        app->getEditorWindow()->closeButtonPressed();
        app->getMediaWindow()->closeButtonPressed();
        app->systemRequestedQuit();
        app->invokeDirectly (juce::StandardApplicationCommandIDs::quit, false);
        // Ctrl+Q as the keyboard gives it: the command arrives later, inside the job's own message loop.
        app->getCommandManager().getKeyMappings()->keyPressed (juce::KeyPress ('q', juce::ModifierKeys::commandModifier, 0),
                                                               app->getMediaWindow());
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    };

    // The automatic analysis of a file being opened.
    duringAJob (everyWayToQuit, [&] { return open (media ("song.wav")).wasOk(); }, "Analyzing...");
    EXPECT_EQ (document().getMediaFile(), media ("song.wav"));

    // A batch, whichever overlay is up or none between files.
    const auto in = scratchFolder().getChildFile ("in"), out = scratchFolder().getChildFile ("out");
    ASSERT_TRUE (in.createDirectory());
    for (const auto name : { "a.wav", "b.wav", "c.wav" })
        ASSERT_TRUE (media ("song.wav").copyFileTo (in.getChildFile (name)));
    DialogService::get().answerWithFile (in);
    DialogService::get().answerWithFile (out);
    int attempts = 0;
    struct Poller : juce::Timer
    {
        std::function<void()> tick;
        void timerCallback() override { tick(); }
    } poller;
    poller.tick = [&]
    {
        if (! app->isIdle() && attempts < 20)
        {
            ++attempts;
            everyWayToQuit();
        }
    };
    poller.startTimer (50);
    app->runBatchProcessor();
    poller.stopTimer();
    EXPECT_GT (attempts, 3);
    EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");
    EXPECT_EQ (out.getNumberOfChildFiles (juce::File::findFiles), 3);
    EXPECT_EQ (quits, 0);
    EXPECT_EQ (askedTitles(), juce::StringArray { "Batch Processor" });

    // Refused while busy is not refused for good.
    pumpUntil ([] { return false; }, 200);
    app->systemRequestedQuit();
    EXPECT_EQ (quits, 1);
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

TEST_F (ApplicationTest, LaunchesWhileTheQuestionIsUpWaitForItAndTheLastOneEndsOpen)
{
    std::vector<juce::File> files;
    for (const auto name : { "t01.wav", "t02.wav", "t03.wav", "t04.wav" })
    {
        files.push_back (scratchFolder().getChildFile (name));
        ASSERT_TRUE (media ("song.wav").copyFileTo (files.back()));
    }
    ASSERT_TRUE (open (files[0]).wasOk());
    processor().setParameter (CVAudioProcessor::Parameter::boost, 0.4f);
    pumpUntil ([] { return false; }, 50);

    // t03 and t04 are launched while the question t02's launch brought is up.
    std::vector<juce::String> asked;
    DialogService::get().setResponder ([&] (const DialogService::Request& request)
    {
        asked.push_back (request.text);
        if (asked.size() == 1)
            for (int i : { 2, 3 })
                app->anotherInstanceStarted (files[(size_t) i].getFullPathName().quoted());
        return DialogService::Answer { request.buttons.indexOf ("Discard Changes") };
    });
    app->anotherInstanceStarted (files[1].getFullPathName().quoted());
    EXPECT_TRUE (pumpUntil ([&] { return document().getMediaFile() == files[3]; }, 10000));
    pumpUntil ([] { return false; }, 300);
    EXPECT_EQ (document().getMediaFile(), files[3]);
    ASSERT_EQ (asked.size(), 1u);
    EXPECT_EQ (asked[0], "Do you want to save a copy of \"t01.wav\" with the current Clarivo settings?");
    EXPECT_EQ (askedTitles(), juce::StringArray { "Apply Clarivo before closing?" });
}

// Starts the application itself, as a launch would.
class ApplicationStartTest : public AppTest
{
protected:
    ApplicationStartTest() { initialiseInSetUp = false; }
};

TEST_F (ApplicationStartTest, AStartRemovesWhatDeadRunsLeftWholeAndKeepsRunningOnes)
{
    // A temporary folder of the test's own, so that no other run's folders are judged.
    const auto temp = scratchFolder().getChildFile ("tmp");
    ASSERT_TRUE (temp.createDirectory());
    const char* previous = std::getenv ("TMPDIR");
    const std::string savedTmp = previous != nullptr ? previous : "";
    ::setenv ("TMPDIR", temp.getFullPathName().toRawUTF8(), 1);

    // What a kill during a save leaves: the analysis copy, the render, a
    // partial export; and a link out, which is removed and never followed.
    const auto outside = scratchFolder().getChildFile ("user.wav");
    outside.replaceWithText ("the user's");
    const auto privateFolder = [&] (int pid)
    {
        const auto folder = temp.getChildFile ("clarivo-" + juce::String (pid) + "-a1B2c3");
        folder.getChildFile ("sub").createDirectory();
        ::chmod (folder.getFullPathName().toRawUTF8(), 0700);
        if (pid != 1)
            folder.getChildFile (ClarivoTempFolder::runMarkerName).create();
        for (const auto name : { "tmp-x1TempCleanAudio.wav", "tmp-x2TempCleanAudio.wav", "out.flac.partial", "sub/y.m4a" })
            folder.getChildFile (name).replaceWithText ("left");
        outside.createSymbolicLink (folder.getChildFile ("link.wav"), true);
        return folder;
    };
    const auto dead = privateFolder (999999999), running = privateFolder (1);

    app->initialise ({});
    EXPECT_FALSE (dead.exists());
    EXPECT_TRUE (running.getChildFile ("tmp-x1TempCleanAudio.wav").existsAsFile() && running.getChildFile ("out.flac.partial").existsAsFile());
    EXPECT_EQ (outside.loadFileAsString(), "the user's");
    app->shutdown();

    if (previous != nullptr)
        ::setenv ("TMPDIR", savedTmp.c_str(), 1);
    else
        ::unsetenv ("TMPDIR");
    running.deleteRecursively();
}

TEST_F (ApplicationStartTest, ANameTypedInATerminalOpensAtTheFirstLaunchAndALaterOne)
{
    // cd ~/Music; Clarivo song.wav
    const auto dir = scratchFolder();
    const auto song = dir.getChildFile ("song.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (song));
    const auto previous = juce::File::getCurrentWorkingDirectory();
    ASSERT_TRUE (dir.setAsCurrentWorkingDirectory());
    const auto savedArgc = juce::juce_argc;
    const auto savedArgv = juce::juce_argv;
    const char* argv[] = { "Clarivo", "song.wav" };
    juce::juce_argc = 2;
    juce::juce_argv = argv;
    app->instanceName = "Clarivo+ test " + juce::String (::getpid()) + " relative";
    app->initialise ({});
    juce::juce_argc = savedArgc;
    juce::juce_argv = savedArgv;
    EXPECT_TRUE (pumpUntil ([&] { return document().getMediaFile() == song; }, 10000));

    // A later launch from a folder of its own; a name that is not there is
    // said, naming it, and the document it would have replaced is closed.
    auto& dialogs = DialogService::get();
    dialogs.clearHistory();
    const auto other = dir.getChildFile ("other");
    ASSERT_TRUE (other.createDirectory() && media ("song.wav").copyFileTo (other.getChildFile ("b.wav")));
    ASSERT_TRUE (other.setAsCurrentWorkingDirectory());
    const char* missing[] = { "Clarivo", "nothere.wav" };
    const char* later[] = { "Clarivo", "b.wav" };
    const bool handedMissing = clarivo::launch::SingleInstance::claimOrHandOver (app->instanceName, 2, missing, {}, 5000).handedOver;
    const bool handedLater = clarivo::launch::SingleInstance::claimOrHandOver (app->instanceName, 2, later, {}, 5000).handedOver;
    previous.setAsCurrentWorkingDirectory();
    EXPECT_TRUE (handedMissing && handedLater);
    ASSERT_TRUE (pumpUntil ([&] { return lastRequest ("Failed to open file...") != nullptr; }, 5000));
    EXPECT_TRUE (textOf ("Failed to open file...").contains (other.getChildFile ("nothere.wav").getFullPathName()))
        << textOf ("Failed to open file...");
    EXPECT_TRUE (pumpUntil ([&] { return document().getMediaFile() == other.getChildFile ("b.wav"); }, 10000));
}

TEST_F (ApplicationStartTest, ALaunchHandsOverItsFileAsTheBytesItWasNamedWith)
{
    app->instanceName = "Clarivo+ test " + juce::String (::getpid()) + " bytes";
    app->initialise ({});
    auto& dialogs = DialogService::get();
    dialogs.clearHistory();
    const auto dir = scratchFolder();

    // A name JUCE's File cannot hold: the running instance says which file it was.
    const auto bad = dir.getFullPathName().toStdString() + "/bad\xff\xfe" "bytes.wav";
    {
        juce::MemoryBlock wav;
        media ("song.wav").loadFileAsData (wav);
        auto* f = std::fopen (bad.c_str(), "wb");
        ASSERT_NE (f, nullptr);
        std::fwrite (wav.getData(), 1, wav.getSize(), f);
        std::fclose (f);
    }
    const char* badArgv[] = { "clarivo", "-x", bad.c_str() };
    EXPECT_TRUE (clarivo::launch::SingleInstance::claimOrHandOver (app->instanceName, 3, badArgv, {}, 5000).handedOver);
    ASSERT_TRUE (pumpUntil ([&] { return lastRequest ("Failed to open file...") != nullptr; }, 5000));
    EXPECT_TRUE (textOf ("Failed to open file...").contains (dir.getFullPathName() + "/bad\\xFF\\xFEbytes.wav"))
        << textOf ("Failed to open file...");

    // Quotes and spaces that no command line could carry open as they are.
    const auto quoted = dir.getChildFile (juce::String::fromUTF8 ("say \"hi\" \xc3\xa9.wav"));
    ASSERT_TRUE (media ("song.wav").copyFileTo (quoted));
    const auto name = quoted.getFullPathName().toStdString();
    const char* argv[] = { "clarivo", name.c_str() };
    EXPECT_TRUE (clarivo::launch::SingleInstance::claimOrHandOver (app->instanceName, 2, argv, {}, 5000).handedOver);
    EXPECT_TRUE (pumpUntil ([&] { return document().getMediaFile() == quoted; }, 10000));
    EXPECT_EQ (askedTitles(), juce::StringArray { "Failed to open file..." });
    std::remove (bad.c_str());
}

namespace
{
// A launch of the program as another process makes it, from a thread of the test.
struct OtherLaunch
{
    OtherLaunch (const juce::String& name, const juce::File& file, int quitWaitMs)
        : path (file.getFullPathName().toStdString()),
          thread ([this, name, quitWaitMs]
          {
              const char* argv[] = { "Clarivo", path.c_str() };
              result = clarivo::launch::SingleInstance::claimOrHandOver (name, 2, argv, [] (const auto&) {}, 2000, quitWaitMs);
              done = true;
          })
    {
    }
    ~OtherLaunch() { thread.join(); }
    const std::string path;
    clarivo::launch::SingleInstance::Launch result;
    std::atomic<bool> done { false };
    std::thread thread;
};
} // namespace

TEST_F (ApplicationStartTest, ALaunchDuringTheQuitIsShownByAClarivoNeverHandedOverAndLost)
{
    app->instanceName = "Clarivo+ test " + juce::String (::getpid()) + " quit";
    app->initialise ({});
    int quits = 0;
    const auto song = scratchFolder().getChildFile ("song.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (song));

    // Taken just before the quit began: the launch has gone, told its file
    // will be shown, so the quit gives way to it.
    app->quitHandler = [&] { ++quits; };
    EXPECT_TRUE (clarivo::launch::SingleInstance::sendToRunningInstance (app->instanceName, { song.getFullPathName().toStdString() }, 2000));
    app->systemRequestedQuit();
    EXPECT_EQ (quits, 0);
    EXPECT_TRUE (pumpUntil ([&] { return document().getMediaFile() == song; }, 10000));

    // Made once the quit has begun: not taken, and once this instance has
    // gone the launch runs on its own.
    std::unique_ptr<OtherLaunch> impatient, patient;
    app->quitHandler = [&]
    {
        ++quits;
        impatient = std::make_unique<OtherLaunch> (app->instanceName, song, 200);
        patient = std::make_unique<OtherLaunch> (app->instanceName, song, 10000);
        while (! impatient->done)
            juce::Thread::sleep (10);
        app->shutdown();
    };
    app->systemRequestedQuit();
    EXPECT_EQ (quits, 1);
    ASSERT_TRUE (impatient != nullptr && patient != nullptr);
    EXPECT_FALSE (impatient->result.handedOver);
    EXPECT_TRUE (impatient->result.refusal.contains ("quitting")) << impatient->result.refusal;
    for (int i = 0; i < 500 && ! patient->done; ++i)
        juce::Thread::sleep (10);
    EXPECT_FALSE (patient->result.handedOver);
    EXPECT_NE (patient->result.service, nullptr);
}

TEST_F (ApplicationStartTest, ALaunchThatCanNeitherRunNorHandOverSaysWhyInABox)
{
    // An instance that holds the lock and never answers.
    app->instanceName = "Clarivo+ test " + juce::String (::getpid()) + " hung";
    const auto socket = clarivo::launch::SingleInstance::socketFile (app->instanceName);
    const auto lockPath = socket.getFullPathName() + ".lock";
    const int lock = ::open (lockPath.toRawUTF8(), O_RDWR | O_CREAT, 0600);
    struct flock held {};
    held.l_type = F_WRLCK;
    ASSERT_EQ (::fcntl (lock, F_OFD_SETLK, &held), 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    socket.getFullPathName().copyToUTF8 (address.sun_path, sizeof (address.sun_path));
    const int listening = ::socket (AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ (::bind (listening, (const sockaddr*) &address, sizeof (address)), 0);
    ASSERT_EQ (::listen (listening, 4), 0);

    int quits = 0;
    app->quitHandler = [&] { ++quits; };
    app->handOverTimeoutMs = 300;
    app->initialise ({});
    EXPECT_EQ (quits, 1);
    EXPECT_EQ (app->getApplicationReturnValue(), 1);
    EXPECT_EQ (askedTitles(), juce::StringArray { "Clarivo+" });
    EXPECT_TRUE (textOf ("Clarivo+").contains ("already running")) << textOf ("Clarivo+");
    EXPECT_EQ (app->getEditorWindow(), nullptr);
    ::close (listening);
    ::close (lock);
    ::unlink (socket.getFullPathName().toRawUTF8());
    ::unlink (lockPath.toRawUTF8());
}
