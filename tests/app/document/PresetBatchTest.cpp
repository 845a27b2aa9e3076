// Presets written and read back through the commands, and the batch
// processor over a generated folder tree: what it writes, what it leaves
// alone, what it refuses, and how it ends.
#include "app/support/AppTestSupport.h"

#include "app/document/BatchProcessor.h"
#include "app/document/ClarivoSettingsDocument.h"
#include "app/support/TestHelpers.h"
#include "TestDeadline.h"
#include "TestLocale.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace mediatest;

namespace
{
juce::MemoryBlock stateOf (CVAudioProcessor& p)
{
    juce::MemoryBlock state;
    p.getStateInformation (state);
    return state;
}

// Every parameter by value (a -0 written as "-0" is still 0) and both
// noise profiles element for element.
void expectSameSettings (CVAudioProcessor& a, CVAudioProcessor& b)
{
    for (int i = 0; i < b.getNumParameters(); ++i)
        EXPECT_EQ (a.getParameter (i), b.getParameter (i)) << b.getParameterName (i);
    const auto xa = juce::AudioProcessor::getXmlFromBinary (stateOf (a).getData(), (int) stateOf (a).getSize());
    const auto xb = juce::AudioProcessor::getXmlFromBinary (stateOf (b).getData(), (int) stateOf (b).getSize());
    ASSERT_TRUE (xa != nullptr && xb != nullptr);
    ASSERT_EQ (xb->getNumChildElements(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE (xa->getChildElement (i)->isEquivalentTo (xb->getChildElement (i), false)) << "profile " << i;
}

juce::MemoryBlock bytesOf (const juce::File& f)
{
    juce::MemoryBlock data;
    f.loadFileAsData (data);
    return data;
}

// "audio|44100|2" per audio stream and "video" per video stream, in order.
juce::String probe (const juce::File& file) { return apptest::ffprobe (file, "stream=codec_type,sample_rate,channels").joinIntoString (" "); }

void make (const juce::File& file, juce::StringArray args)
{
    file.getParentDirectory().createDirectory();
    args.add (file.getFullPathName());
    ASSERT_TRUE (runFFmpeg (args)) << file.getFullPathName();
}

const juce::StringArray tone { "-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=44100", "-ac", "2" };
} // namespace

TEST_F (AppTest, PresetsKeepTheWholeStateAndRefuseWhatIsNoPreset)
{
    // A profile the analysis learned and a parameter moved make a state
    // unlike the defaults.
    ASSERT_TRUE (open (media ("quietgap.wav")).wasOk());
    processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.3f);
    const auto saved = stateOf (processor());
    const auto dir = scratchFolder();
    auto& dialogs = DialogService::get();

    dialogs.answerWithFile (dir.getChildFile ("warm"));
    app->savePreset();
    const auto preset = dir.getChildFile ("warm.cvp");
    EXPECT_EQ (bytesOf (preset), saved);
    {
        CVAudioProcessor fresh;
        ASSERT_NE (stateOf (fresh), saved);
        ClarivoSettingsDocument (fresh).loadFrom (preset, false, false);
        expectSameSettings (fresh, processor());
    }

    // Saving over it asks first and leaves only the new state.
    processor().resetToDefaults();
    const auto defaults = stateOf (processor());
    dialogs.answerWithFile (preset);
    dialogs.answerWithButton ("Overwrite");
    app->savePreset();
    EXPECT_EQ (askedTitles(), juce::StringArray { "File already exists" });
    EXPECT_EQ (bytesOf (preset), defaults);
    EXPECT_EQ (dir.findChildFiles (juce::File::findFiles, false, "*").size(), 1);

    // Too large, or not a state at all: nothing changes and the user is told.
    dialogs.clearHistory();
    // A pipe blocks the read until something writes to it: not a preset either.
    const auto big = dir.getChildFile ("big.cvp"), junk = dir.getChildFile ("junk.cvp"), pipe = dir.getChildFile ("pipe.cvp");
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    juce::MemoryBlock bigData (70000), junkData (100);
    bigData.copyFrom (saved.getData(), 0, saved.getSize());
    for (size_t i = 0; i < junkData.getSize(); ++i)
        junkData[i] = (char) (i * 37);
    big.replaceWithData (bigData.getData(), bigData.getSize());
    junk.replaceWithData (junkData.getData(), junkData.getSize());
    // Well-formed, yet the framework's reader never returns from it: tried on
    // a processor of its own first, so that a hang fails rather than stalls.
    const auto instruction = dir.getChildFile ("instruction.cvp");
    {
        juce::MemoryOutputStream out;
        const juce::String text ("<NoiseProfile thresholdParam=\"0.5\"><?x?>t</NoiseProfile>");
        out.writeInt (0x21324356);
        out.writeInt ((int) text.getNumBytesAsUTF8() + 1);
        out.write (text.toRawUTF8(), text.getNumBytesAsUTF8() + 1);
        instruction.replaceWithData (out.getData(), out.getDataSize());
        CVAudioProcessor alone;
        expectFinishesWithin (10.0, "reading the preset", [&] { ClarivoSettingsDocument (alone).loadFrom (instruction, false, false); });
    }
    for (const auto& f : { big, junk, instruction, pipe })
    {
        dialogs.answerWithFile (f);
        app->loadPreset();
        EXPECT_EQ (stateOf (processor()), defaults) << f.getFileName();
    }
    EXPECT_EQ (askedTitles(), juce::StringArray ({ "Failed to open file...", "Failed to open file...", "Failed to open file...", "Failed to open file..." }));
    EXPECT_TRUE (textOf ("Failed to open file...").contains (pipe.getFullPathName()));
    dialogs.clearHistory();

    // A preset cut short (a full disk, a copy broken off) at any length,
    // 100 bytes among them: refused with a message, nothing changed.
    const auto cut = dir.getChildFile ("cut.cvp");
    // (The last byte ends the text; without it the text is whole.)
    std::vector<size_t> lengths { 0, 4, 8, 9, 12, 100, saved.getSize() - 2 };
    for (size_t n = 13; n < saved.getSize() - 1; n += 61)
        lengths.push_back (n);
    for (const auto n : lengths)
    {
        cut.replaceWithData (saved.getData(), n);
        dialogs.clearHistory();
        dialogs.answerWithFile (cut);
        app->loadPreset();
        EXPECT_EQ (stateOf (processor()), defaults) << n;
        EXPECT_EQ (askedTitles(), juce::StringArray { "Failed to open file..." }) << n;
    }
    cut.deleteFile();
    dialogs.clearHistory();

    // A folder that cannot be written to: the failure is shown and the old preset kept.
    std::unique_ptr<FileSizeLimit> full;
    if (::geteuid() == 0)
        full = std::make_unique<FileSizeLimit> (16);
    else
        ::chmod (dir.getFullPathName().toRawUTF8(), 0555);
    processor().setStateInformation (saved.getData(), (int) saved.getSize());
    dialogs.answerWithFile (preset);
    dialogs.answerWithButton ("Overwrite");
    app->savePreset();
    full = nullptr;
    ::chmod (dir.getFullPathName().toRawUTF8(), 0755);
    EXPECT_TRUE (textOf ("Error writing to file...").endsWith ("\n\nUnable to save file."));
    EXPECT_EQ (bytesOf (preset), defaults);
    EXPECT_EQ (dir.findChildFiles (juce::File::findFiles, false, "*").size(), 5);
}

// The toolkit runs the program in the user's locale. A German user's preset
// and the batch's settings must hold what was set, not zeros where a decimal
// comma stopped the reader; a preset with such a comma is damaged and refused.
TEST_F (AppTest, PresetsAndTheBatchKeepTheSettingsUnderADecimalCommaLocale)
{
    CLARIVO_SKIP_WITHOUT_DECIMAL_COMMA_LOCALE();
    using P = CVAudioProcessor::Parameter;
    processor().setParameter (P::threshold, 0.3f);
    processor().setParameter (P::reduction, 0.4f);
    processor().setParameter (P::enhance, 0.6f);
    const auto set = stateOf (processor());
    const auto dir = scratchFolder();
    const auto in = dir.getChildFile ("in"), out = dir.getChildFile ("out");
    make (in.getChildFile ("1.wav"), tone);
    auto& dialogs = DialogService::get();
    app->escapeHeldDown = [] { return false; };
    {
        const clarivo_test::ScopedDecimalCommaLocale locale;
        dialogs.answerWithFile (dir.getChildFile ("german"));
        app->savePreset();
        dialogs.answerWithFile (in);
        dialogs.answerWithFile (out);
        app->runBatchProcessor();
        EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");
    }
    EXPECT_TRUE (out.getChildFile ("1.wav").existsAsFile());
    // The batch leaves its settings behind, as they were when it started.
    EXPECT_FLOAT_EQ (processor().getParameter ((int) P::threshold), 0.3f);
    EXPECT_EQ (stateOf (processor()), set);

    const auto preset = dir.getChildFile ("german.cvp");
    auto data = bytesOf (preset);
    ASSERT_GT (data.getSize(), 8u);
    const auto text = juce::String::fromUTF8 (static_cast<const char*> (data.getData()) + 8, (int) data.getSize() - 8);
    EXPECT_TRUE (text.contains ("thresholdParam=\"0.30000001192092895508\""));
    EXPECT_FALSE (text.containsChar (','));
    {
        CVAudioProcessor fresh;
        EXPECT_TRUE (ClarivoSettingsDocument (fresh).loadFrom (preset, false, false).wasOk());
        EXPECT_EQ (stateOf (fresh), set);
    }

    // What an earlier version wrote for that user: refused, nothing changed.
    const auto at = 8 + text.indexOf ("0.30000001192092895508") + 1;
    ASSERT_GT (at, 9);
    static_cast<char*> (data.getData())[at] = ',';
    const auto damaged = dir.getChildFile ("damaged.cvp");
    damaged.replaceWithData (data.getData(), data.getSize());
    processor().resetToDefaults();
    const auto defaults = stateOf (processor());
    dialogs.clearHistory();
    dialogs.answerWithFile (damaged);
    app->loadPreset();
    EXPECT_EQ (askedTitles(), juce::StringArray { "Failed to open file..." });
    EXPECT_EQ (stateOf (processor()), defaults);
}

// A fresh account has no Documents folder: the first "Save Preset..." must
// not fail, and no chooser may open on a folder that is not there.
TEST_F (AppTest, ChoosersStartInAFolderThatExistsOnAFreshAccount)
{
    const auto home = configHome->home, documents = home.getChildFile ("Documents");
    ASSERT_FALSE (documents.exists());
    auto& dialogs = DialogService::get();
    // The user saves where the chooser starts, and cancels every other chooser.
    juce::Array<juce::File> starts;
    dialogs.setResponder ([&starts] (const DialogService::Request& r)
    {
        DialogService::Answer answer;
        if (r.kind == DialogService::Kind::openFile || r.kind == DialogService::Kind::saveFile || r.kind == DialogService::Kind::folder)
            starts.add (r.initial);
        if (r.kind == DialogService::Kind::saveFile)
            answer.file = r.initial;
        return answer;
    });
    const auto everyChooser = [&]
    {
        starts.clear();
        dialogs.clearHistory();
        app->savePreset();
        app->loadPreset();
        app->openMedia();
        app->runBatchProcessor();
    };

    // The others start where the framework starts them: the home folder.
    const juce::Array<juce::File> frameworkDefault { juce::File(), juce::File(), juce::File() };
    processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.3f);
    everyChooser();
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
    EXPECT_EQ (bytesOf (documents.getChildFile ("unnamed.cvp")), stateOf (processor()));
    ASSERT_EQ (starts.size(), 4);
    EXPECT_EQ (starts[0], documents.getChildFile ("unnamed.cvp"));
    starts.remove (0);
    EXPECT_EQ (starts, frameworkDefault);

    // Where the name is taken by a file, the home folder serves instead.
    ASSERT_TRUE (documents.deleteRecursively());
    ASSERT_TRUE (documents.replaceWithText ("not a folder"));
    everyChooser();
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
    EXPECT_EQ (bytesOf (home.getChildFile ("unnamed.cvp")), stateOf (processor()));
    EXPECT_EQ (documents.loadFileAsString(), "not a folder");

    // A save suggested into a folder that has gone since starts in Documents
    // under the same name.
    ASSERT_TRUE (documents.deleteFile());
    starts.clear();
    EXPECT_EQ (dialogs.chooseFileToSave ("Save media file as...", home.getChildFile ("gone/clip.mov"), "*"), documents.getChildFile ("clip.mov"));
    EXPECT_EQ (starts, juce::Array<juce::File> { documents.getChildFile ("clip.mov") });
    dialogs.setResponder ({});
}

TEST_F (AppTest, BatchWritesTheSameTreeWithTheSettingsItStartedWith)
{
    const auto root = scratchFolder();
    const auto in = root.getChildFile ("in"), out = root.getChildFile ("out");
    in.createDirectory();
    out.createDirectory();
    ASSERT_TRUE (media ("quietgap.wav").copyFileTo (in.getChildFile ("a.wav")));
    make (in.getChildFile ("b.mp3"), tone);
    make (in.getChildFile ("c.m4a"), tone);
    make (in.getChildFile ("g.mkv"), tone);
    make (in.getChildFile ("g.mov"), tone);
    make (in.getChildFile ("sub/d.flac"), { "-f", "lavfi", "-i", "sine=frequency=330:duration=1:sample_rate=48000", "-ac", "2" });
    in.getChildFile ("sub/deeper").createDirectory();
    ASSERT_TRUE (media ("movie.mp4").copyFileTo (in.getChildFile ("sub/deeper/e.mp4")));
    make (in.getChildFile (".hiddendir/f.wav"), { "-f", "lavfi", "-i", "sine=frequency=550:duration=1:sample_rate=22050" });
    in.getChildFile ("notes.txt").replaceWithText ("not media\n");
    ASSERT_TRUE (media ("song.wav").copyFileTo (in.getChildFile (".hidden.wav")));
    // A link back up must not walk the tree again.
    ASSERT_EQ (::symlink ("..", in.getChildFile ("sub/up").getFullPathName().toRawUTF8()), 0);
    out.getChildFile ("a.wav").replaceWithText ("an earlier copy");
    std::map<juce::String, juce::MemoryBlock> before;
    for (const auto& f : in.findChildFiles (juce::File::findFiles, true, "*", juce::File::FollowSymlinks::no))
        before[f.getRelativePathFrom (in)] = bytesOf (f);
    // A pipe would hold the batch at its open for good.
    ASSERT_EQ (::mkfifo (in.getChildFile ("sub/pipe.wav").getFullPathName().toRawUTF8(), 0600), 0);

    processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.6f);
    const auto snapshot = stateOf (processor());
    const auto want = expectedProcessed (in.getChildFile ("a.wav"));
    int saves = 0;
    const auto windowsTakeClicks = [this]
    {
        bool self = true, children = true, all = true;
        for (juce::Component* window : { (juce::Component*) app->getMediaWindow(), (juce::Component*) app->getEditorWindow() })
        {
            window->getInterceptsMouseClicks (self, children);
            all = all && self && children;
        }
        return all;
    };
    app->escapeHeldDown = [&]
    {
        // Called once per loaded file, just before its save.
        EXPECT_FALSE (app->isIdle()) << "a command could run between files";
        // Nor a click: Learn or a press on the waveform would run inside the batch.
        EXPECT_FALSE (windowsTakeClicks());
        ++saves;
        return false;
    };
    auto& dialogs = DialogService::get();
    dialogs.answerWithFile (in);
    dialogs.answerWithFile (out);
    app->runBatchProcessor();
    EXPECT_TRUE (app->isIdle());
    EXPECT_TRUE (windowsTakeClicks());
    EXPECT_EQ (askedTitles(), juce::StringArray { "Batch Processor" });
    EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");
    EXPECT_EQ (saves, 8);

    juce::StringArray written;
    for (const auto& f : out.findChildFiles (juce::File::findFiles, true, "*"))
        written.add (f.getRelativePathFrom (out));
    written.sort (false);
    EXPECT_EQ (written.joinIntoString (" "),
               ".hiddendir/f.wav a(2).wav a.wav b.mp3 c.m4a g(2).mov g.mov sub/d.flac sub/deeper/e.mp4");
    const std::map<juce::String, juce::String> expected {
        { "a(2).wav", "audio|44100|2" },  { "b.mp3", "audio|44100|2" },       { "c.m4a", "audio|44100|2" },
        { "g.mov", "audio|44100|2" },      { "g(2).mov", "audio|44100|2" },   { "sub/d.flac", "audio|48000|2" },
        { ".hiddendir/f.wav", "audio|22050|1" }, { "sub/deeper/e.mp4", "video audio|48000|2" },
    };
    for (const auto& [name, streams] : expected)
        EXPECT_EQ (probe (out.getChildFile (name)), streams) << name;
    EXPECT_EQ (out.getChildFile ("a.wav").loadFileAsString(), "an earlier copy");
    EXPECT_EQ (before.size(), 10u);
    for (const auto& [name, data] : before)
        EXPECT_EQ (bytesOf (in.getChildFile (name)), data) << name;

    // Every file was saved with the batch's settings, not what the analysis
    // learned from it (which it does learn from a.wav).
    {
        CVAudioProcessor atStart;
        atStart.setStateInformation (snapshot.getData(), (int) snapshot.getSize());
        expectSameSettings (processor(), atStart);
    }
    int rate = 0;
    const auto got = decodeAll (out.getChildFile ("a(2).wav"), &rate);
    ASSERT_EQ (got.size(), 2u);
    ASSERT_EQ (got[0].size(), want[0].size());
    float worst = 0.0f;
    for (size_t i = 0; i < want[0].size(); ++i)
        worst = std::max (worst, std::abs (got[0][i] - want[0][i]));
    EXPECT_LT (worst, 1.0e-4f);
    ASSERT_TRUE (open (in.getChildFile ("a.wav")).wasOk());
    EXPECT_NE (stateOf (processor()), snapshot);
}

TEST_F (AppTest, BatchRefusesItsOwnOutputAndEndsAsTheUserSays)
{
    const auto root = scratchFolder();
    const auto in = root.getChildFile ("in");
    for (const char* name : { "1.wav", "2.wav", "3.wav" })
        make (in.getChildFile (name), tone);
    auto& dialogs = DialogService::get();
    const auto run = [&] (const juce::File& input, const juce::File& output)
    {
        dialogs.clearHistory();
        dialogs.answerWithFile (input);
        dialogs.answerWithFile (output);
        app->runBatchProcessor();
        return askedTitles().joinIntoString ("|") + ": " + textOf ("Batch Processor");
    };

    // Into itself, or a folder inside it, or through a link to one: refused, nothing written.
    const juce::String refused = "Batch Processor: The output folder must not be the input folder or lie inside it.";
    EXPECT_EQ (run (in, in), refused);
    EXPECT_EQ (run (in, in.getChildFile ("processed")), refused);
    ASSERT_EQ (::symlink (in.getFullPathName().toRawUTF8(), root.getChildFile ("link").getFullPathName().toRawUTF8()), 0);
    EXPECT_EQ (run (in, root.getChildFile ("link/processed")), refused);
    EXPECT_EQ (in.findChildFiles (juce::File::findFilesAndDirectories, true, "*").size(), 3);

    // The output folder may hold the input: its subfolders are still walked.
    const auto outer = root.getChildFile ("outer");
    make (outer.getChildFile ("in/sub/4.wav"), tone);
    EXPECT_EQ (run (outer.getChildFile ("in"), outer), "Batch Processor: Batch File Processing has completed.");
    EXPECT_TRUE (outer.getChildFile ("sub/4.wav").existsAsFile());

    // Escape held after the second file: two copies and the one message.
    int checks = 0;
    app->escapeHeldDown = [&] { return ++checks > 2; };
    const auto out = root.getChildFile ("out");
    EXPECT_EQ (run (in, out), "Batch Processor: Batch File Processing was canceled.");
    EXPECT_EQ (out.findChildFiles (juce::File::findFiles, true, "*").size(), 2);
    EXPECT_TRUE (app->isIdle());

    // An empty folder gives its output folder and the completion message.
    app->escapeHeldDown = [] { return false; };
    // The canceled batch left its last file open, with what the analysis learned.
    if (document().hasChangedSinceSaved())
        dialogs.answerWithButton ("Discard Changes");
    ASSERT_TRUE (app->closeMedia().wasOk());
    const auto empty = root.getChildFile ("empty"), emptyOut = root.getChildFile ("empty-out/x");
    empty.createDirectory();
    EXPECT_EQ (run (empty, emptyOut), "Batch Processor: Batch File Processing has completed.");
    EXPECT_TRUE (emptyOut.isDirectory());
}

TEST_F (AppTest, BatchKeepsALinkInItsOutputThatLeadsNowhere)
{
    const auto root = scratchFolder();
    const auto in = root.getChildFile ("in"), out = root.getChildFile ("out");
    make (in.getChildFile ("1.wav"), tone);
    out.createDirectory();
    const auto nowhere = root.getChildFile ("nowhere.wav");
    const auto link = out.getChildFile ("1.wav");
    ASSERT_EQ (::symlink (nowhere.getFullPathName().toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);

    auto& dialogs = DialogService::get();
    dialogs.answerWithFile (in);
    dialogs.answerWithFile (out);
    app->runBatchProcessor();
    EXPECT_EQ (askedTitles(), juce::StringArray { "Batch Processor" });
    EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");
    EXPECT_TRUE (link.isSymbolicLink());
    EXPECT_FALSE (nowhere.exists());
    EXPECT_EQ (probe (out.getChildFile ("1(2).wav")), "audio|44100|2");
}

TEST_F (AppTest, PresetSaveAsksBeforeReplacingALinkThatLeadsNowhere)
{
    const auto dir = scratchFolder();
    const auto link = dir.getChildFile ("warm.cvp");
    ASSERT_EQ (::symlink (dir.getChildFile ("gone.cvp").getFullPathName().toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);
    auto& dialogs = DialogService::get();
    dialogs.answerWithFile (link);
    dialogs.answerWithButton ("Cancel");
    app->savePreset();
    EXPECT_EQ (askedTitles(), juce::StringArray { "File already exists" });
    EXPECT_TRUE (link.isSymbolicLink());
}

namespace
{
// Runs a program of the test's own and gives its pid.
pid_t startTool (std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back (a.data());
    argv.push_back (nullptr);
    pid_t pid = -1;
    return ::posix_spawnp (&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int waitFor (pid_t pid)
{
    int status = 0;
    while (::waitpid (pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED (status) ? WEXITSTATUS (status) : -1;
}

// Every thread of ours is traced.
bool allThreadsTraced()
{
    for (const auto& task : juce::File ("/proc/self/task").findChildFiles (juce::File::findDirectories, false))
    {
        const auto status = task.getChildFile ("status").loadFileAsString();
        const auto tracer = status.fromFirstOccurrenceOf ("TracerPid:", false, false).upToFirstOccurrenceOf ("\n", false, false).trim();
        if (tracer.isEmpty() || tracer == "0")
            return false;
    }
    return true;
}
} // namespace

TEST_F (AppTest, BatchIntoAFolderWithoutUnnamedFilesWritesEveryFileFlushedBeforeItsNameAndUnlocked)
{
    // A FUSE folder stands in for a network share: no O_TMPFILE, no
    // rename that refuses to replace, and writes through many descriptors.
    if (! juce::File ("/dev/fuse").exists() || ::geteuid() != 0 || ! juce::File ("/usr/bin/bindfs").existsAsFile()
        || ! juce::File ("/usr/bin/strace").existsAsFile())
        GTEST_SKIP() << "needs /dev/fuse, root, bindfs and strace (scripts/packages.txt)";
    const auto root = scratchFolder();
    const auto in = root.getChildFile ("in"), store = root.getChildFile ("store"), out = root.getChildFile ("share");
    in.createDirectory();
    ASSERT_TRUE (media ("quietgap.wav").copyFileTo (in.getChildFile ("a.wav")));
    make (in.getChildFile ("b.mp3"), tone);
    make (in.getChildFile ("c.m4a"), tone);
    make (in.getChildFile ("d.flac"), tone);
    store.createDirectory();
    out.createDirectory();
    ASSERT_EQ (waitFor (startTool ({ "bindfs", store.getFullPathName().toStdString(), out.getFullPathName().toStdString() })), 0);
    const juce::ScopeGuard unmount { [out] { waitFor (startTool ({ "umount", out.getFullPathName().toStdString() })); } };
    ASSERT_LT (::open (out.getFullPathName().toRawUTF8(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600), 0);

    const auto log = root.getChildFile ("strace.log");
    const auto tracer = startTool ({ "strace", "-f", "-y", "-qq", "-o", log.getFullPathName().toStdString(), "-e",
                                     "trace=fcntl,flock,fsync,fdatasync,rename,renameat,renameat2,link,linkat", "-p",
                                     std::to_string (::getpid()) });
    ASSERT_GT (tracer, 0);
    ASSERT_TRUE (pumpUntil (allThreadsTraced, 20000));

    auto& dialogs = DialogService::get();
    dialogs.answerWithFile (in);
    dialogs.answerWithFile (out);
    app->runBatchProcessor();
    ::kill (tracer, SIGINT);
    waitFor (tracer);

    EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");
    for (const auto* name : { "a.wav", "b.mp3", "c.m4a", "d.flac" })
        EXPECT_EQ (probe (out.getChildFile (name)), "audio|44100|2") << name;
    juce::StringArray left;
    for (const auto& f : store.findChildFiles (juce::File::findFiles, false, "*"))
        left.add (f.getFileName());
    left.sort (false);
    EXPECT_EQ (left.joinIntoString (" "), "a.wav b.mp3 c.m4a d.flac");

    // No lock on any file there; each named only after its data was flushed.
    juce::StringArray lines;
    lines.addLines (log.loadFileAsString());
    const auto inShare = out.getFullPathName() + "/";
    int named = 0;
    for (int i = 0; i < lines.size(); ++i)
    {
        const auto& line = lines[i];
        if (line.contains (inShare) && (line.contains ("LK") || line.contains ("flock(")))
            ADD_FAILURE() << line;
        const bool naming = (line.contains ("renameat2(") || line.contains ("linkat(")) && line.contains (out.getFullPathName() + ">")
                            && line.contains (") = 0");
        if (! naming)
            continue;
        const auto hidden = line.fromFirstOccurrenceOf (">, \"", false, false).upToFirstOccurrenceOf ("\"", false, false);
        bool flushed = false;
        for (int j = 0; j < i && ! flushed; ++j)
            flushed = lines[j].contains ("fsync(") && lines[j].contains (inShare + hidden + ">");
        EXPECT_TRUE (flushed) << line;
        ++named;
    }
    EXPECT_EQ (named, 4) << lines.joinIntoString ("\n");
}
