// Sharing from the transport bar: the copy each service is handed (name,
// format, processed sound, where it lives), what the picker offers, and
// what a dismissal, a failing service or a failed export leave behind.
#include "app/support/AppTestSupport.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/support/TestHelpers.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/stat.h>

using namespace mediatest;
using clarivo::share::Service;

namespace juce
{
inline void PrintTo (const StringArray& a, std::ostream* os) { *os << "[" << a.joinIntoString ("|") << "]"; }
} // namespace juce

namespace
{
// How well each channel of got follows expected at lag 0, over the shorter.
double worstCorrelation (const Planar& got, const Planar& expected)
{
    double worst = 1.0;
    for (size_t c = 0; c < expected.size() && c < got.size(); ++c)
        worst = std::min (worst, correlation (got[c].data(), expected[c].data(),
                                              (int) std::min (got[c].size(), expected[c].size())));
    return got.size() == expected.size() ? worst : -1.0;
}
} // namespace

// The system's temporary folder is a fresh one of the test's own, so that
// everything sharing leaves there can be listed.
class ShareTest : public AppTest
{
protected:
    void SetUp() override
    {
        const char* saved = std::getenv ("TMPDIR");
        savedTemp = saved != nullptr ? saved : "";
        hadTemp = saved != nullptr;
        temp = scratchFolder().getChildFile ("tmp");
        temp.createDirectory();
        ::setenv ("TMPDIR", temp.getFullPathName().toRawUTF8(), 1);
        ClarivoTempFolder::removeAll();
        AppTest::SetUp();

        clarivo::share::setServiceFinder ([this]
        {
            return std::vector<Service> {
                { "Test", [this] (const juce::File& f, clarivo::share::FailureHandler) { received.push_back ({ f, f.getSize() }); } },
                { "Broken", [] (const juce::File&, clarivo::share::FailureHandler failed) { failed ("broken-tool is not installed."); } } };
        });
        ProcessingAVPlayer::setMenuPresenter ([this] (juce::PopupMenu& menu, const juce::PopupMenu::Options& options, std::function<void (int)> chosen)
        {
            offered.clear();
            for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
                offered.add (it.getItem().text);
            target = options.getTargetComponent();
            answer = std::move (chosen);
        });
    }
    void TearDown() override
    {
        ProcessingAVPlayer::setMenuPresenter ({});
        clarivo::share::setServiceFinder ({});
        AppTest::TearDown();
        ClarivoTempFolder::removeAll();
        ::setenv ("TMPDIR", savedTemp.toRawUTF8(), 1);
        if (! hadTemp)
            ::unsetenv ("TMPDIR");
    }

    ShareNSVComponent& button() { return app->getMediaWindow()->getTransport().getShareView(); }
    // Presses the share button and, when the picker opened, picks item (0 dismisses).
    bool shareWith (int item)
    {
        answer = nullptr;
        juce::Component& c = button();
        c.mouseDown (apptest::mouseAt (c, 20, 12));
        c.mouseUp (apptest::mouseAt (c, 20, 12));
        if (answer == nullptr)
            return false;
        auto chosen = std::move (answer);
        chosen (item);
        return true;
    }
    juce::StringArray sharedNames() const
    {
        juce::StringArray names;
        for (const auto& f : ClarivoTempFolder::shareFolder().findChildFiles (juce::File::findFiles, false, "*"))
            names.add (f.getFileName());
        names.sort (false);
        return names;
    }

    juce::File temp;
    juce::String savedTemp;
    bool hadTemp = false;
    std::vector<std::pair<juce::File, juce::int64>> received;
    juce::StringArray offered;
    juce::Component* target = nullptr;
    std::function<void (int)> answer;
};

TEST_F (ShareTest, SharingTwiceHandsOnTwoWholeProcessedCopiesInTheMediasOwnFormat)
{
    const auto source = media ("song.mp3");
    ASSERT_TRUE (open (source).wasOk());
    processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.6f);
    const auto expected = expectedProcessed (source);
    ASSERT_FALSE (expected.empty());

    // Until it is whole the copy has no name in the share folder, so a
    // signal that ends us meanwhile leaves none: the encoder looks.
    const auto listing = scratchFolder().getChildFile ("listing");
    const auto looker = scratchFolder().getChildFile ("lame-looker");
    looker.replaceWithText ("#!/bin/sh\nls -A '" + ClarivoTempFolder::shareFolder().getFullPathName() + "' > '"
                                + listing.getFullPathName() + "'\nexec /usr/bin/lame \"$@\"\n",
                            false, false, "\n");
    looker.setExecutePermission (true);
    app->lameProgram = looker;
    EXPECT_TRUE (shareWith (1));
    EXPECT_EQ (offered, juce::StringArray ({ "Test", "Broken" }));
    EXPECT_EQ (target, &button());
    EXPECT_TRUE (shareWith (1));
    app->lameProgram = juce::File ("/usr/bin/lame");
    EXPECT_EQ (listing.loadFileAsString(), "song-1.mp3\n");

    const auto folder = ClarivoTempFolder::shareFolder();
    ASSERT_EQ (received.size(), 2u);
    EXPECT_EQ (received[0].first, folder.getChildFile ("song-1.mp3"));
    EXPECT_EQ (received[1].first, folder.getChildFile ("song-2.mp3"));
    EXPECT_EQ (player().getShareCount(), 3);
    EXPECT_EQ (player().saveTempURL, received[1].first);
    for (const auto& [file, sizeWhenHanded] : received)
    {
        SCOPED_TRACE (file.getFileName());
        // Whole when handed on: nothing was written after.
        EXPECT_GT (sizeWhenHanded, 10000);
        EXPECT_EQ (file.getSize(), sizeWhenHanded);
        EXPECT_EQ (apptest::ffprobe (file, "stream=codec_name,channels:format=format_name").joinIntoString (" ; "), "mp3|2 ; mp3");
        // The processed sound, the chain's latency cut, at the file's length.
        const auto got = decodeAll (file);
        ASSERT_EQ (got.size(), expected.size());
        EXPECT_NEAR ((double) got[0].size(), (double) expected[0].size(), 1.0);
        EXPECT_GE (worstCorrelation (got, expected), 0.99);
    }
    EXPECT_LT (worstCorrelation (decodeAll (received[0].first), decodeAll (source)), 0.99);
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");

    // Nothing but our two folders in the system's temporary folder (and
    // the test's own home).
    juce::StringArray left;
    for (const auto& f : temp.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
        if (! f.getFileName().startsWith ("clarivo-home-"))
            left.add (f.getFileName().matchesWildcard ("clarivo-*-??????", false) ? "per-run" : f.getFileName());
    left.sort (false);
    EXPECT_EQ (left, juce::StringArray (juce::String ("clarivo.share.") + juce::String ((int) ::geteuid()), juce::String ("per-run")))
        << left.joinIntoString (", ");
    struct stat info {};
    ASSERT_EQ (::lstat (folder.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0700u);

    // The copies outlive the media; the count goes on.
    document().setChangedFlag (false);
    ASSERT_TRUE (app->closeMedia().wasOk());
    EXPECT_TRUE (received[1].first.existsAsFile());
}

TEST_F (ShareTest, MediaWithoutAFormatOfItsOwnIsSharedAsAMovieOrAsAACSound)
{
    const auto ogg = scratchFile ("tone.ogg");
    ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "sine=frequency=440:duration=2:sample_rate=44100", "-ac", "2", "-c:a", "libvorbis",
                              ogg.getFullPathName() }));
    for (const auto& [file, name, holds] : { std::tuple { media ("clip.mkv"), "clip-1.mov", "h264|video ; aac|audio ; mov,mp4,m4a,3gp,3g2,mj2" },
                                             std::tuple { ogg, "tone-2.m4a", "aac|audio ; mov,mp4,m4a,3gp,3g2,mj2" } })
    {
        SCOPED_TRACE (name);
        ASSERT_TRUE (open (file).wasOk());
        EXPECT_TRUE (shareWith (1));
        ASSERT_FALSE (received.empty());
        EXPECT_EQ (received.back().first.getFileName(), juce::String (name));
        EXPECT_EQ (apptest::ffprobe (received.back().first, "stream=codec_name,codec_type:format=format_name").joinIntoString (" ; "), holds);
        document().setChangedFlag (false);
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}

TEST_F (ShareTest, NothingIsWrittenOrHandedOnUnlessAWholeCopyCanBe)
{
    // No media: the button is disabled and the picker does not open.
    EXPECT_FALSE (button().isEnabled());
    player().showServicePicker (button());
    EXPECT_EQ (answer, nullptr);

    ASSERT_TRUE (open (media ("song.mp3")).wasOk());
    EXPECT_TRUE (button().isEnabled());
    // While a job runs it does nothing.
    app->showProgress ("Working...");
    EXPECT_FALSE (shareWith (1));
    app->hideProgress();

    // Dismissed: nothing written, nothing counted.
    EXPECT_TRUE (shareWith (0));
    EXPECT_TRUE (sharedNames().isEmpty());
    EXPECT_EQ (player().getShareCount(), 1);

    // A service that cannot take the file says so once and loses nothing.
    // A name already there (left by an earlier run, or planted as a link)
    // is skipped, never written through.
    const auto victim = scratchFolder().getChildFile ("victim");
    victim.replaceWithText ("keep");
    ASSERT_TRUE (victim.createSymbolicLink (ClarivoTempFolder::shareFolder().getChildFile ("song-1.mp3"), false));
    EXPECT_TRUE (shareWith (2));
    EXPECT_EQ (victim.loadFileAsString(), "keep");
    EXPECT_EQ (askedTitles(), juce::StringArray ("Sharing Failed"));
    const auto kept = ClarivoTempFolder::shareFolder().getChildFile ("song-2.mp3");
    EXPECT_EQ (textOf ("Sharing Failed"), "Clarivo could not hand the copy to Broken: broken-tool is not installed.\n\nThe copy is kept at:\n"
                                              + kept.getFullPathName());
    EXPECT_GT (kept.getSize(), 10000);

    // A full disk: nothing handed on, no part of a copy left, and why.
    DialogService::get().clearHistory();
    {
        FileSizeLimit full (20000);
        EXPECT_TRUE (shareWith (1));
    }
    EXPECT_TRUE (received.empty());
    EXPECT_EQ (sharedNames(), juce::StringArray ("song-1.mp3", "song-2.mp3"));
    EXPECT_EQ (askedTitles(), juce::StringArray ("Sharing Failed"));
    EXPECT_TRUE (textOf ("Sharing Failed").contains ("the disk is full")) << textOf ("Sharing Failed");
    EXPECT_TRUE (textOf ("Sharing Failed").endsWith ("Nothing was shared."));
}

TEST_F (ShareTest, AFailedShareSaysItsOwnReasonOnce)
{
    // Without the MP3 encoder: its own box, and no second one.
    ASSERT_TRUE (open (media ("song.mp3")).wasOk());
    app->lameProgram = scratchFolder().getChildFile ("no-lame");
    DialogService::get().answerWithButton ("Cancel");
    EXPECT_TRUE (shareWith (1));
    EXPECT_EQ (askedTitles(), juce::StringArray ("Missing LAME Encoder"));
    app->lameProgram = juce::File ("/usr/bin/lame");
    if (document().hasChangedSinceSaved())
        DialogService::get().answerWithButton ("Discard Changes");
    ASSERT_TRUE (app->closeMedia().wasOk());

    // Media gone after it was opened (a card pulled): its sound cannot be
    // read to the end.
    const auto cut = scratchFolder().getChildFile ("cut.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (cut));
    ASSERT_TRUE (open (cut).wasOk());
    ASSERT_TRUE (cut.deleteFile());
    DialogService::get().clearHistory();
    EXPECT_TRUE (shareWith (1));
    EXPECT_EQ (askedTitles(), juce::StringArray ("Sharing Failed"));
    EXPECT_TRUE (textOf ("Sharing Failed").startsWith ("Clarivo could not read \"cut.wav\" to its end")) << textOf ("Sharing Failed");
    EXPECT_TRUE (received.empty());
    EXPECT_TRUE (sharedNames().isEmpty()) << sharedNames().joinIntoString (", ");
}

// The desktop's own mail helper, xdg-email, takes the copy to a stand-in
// "thunderbird": its branch for that mail program pastes the name into a
// command line of the mail program's own.
TEST_F (ShareTest, TheMailProgramIsHandedTheOneCopyWhateverTheMediaIsCalled)
{
    if (clarivo::share::findProgram ("xdg-email") == juce::File())
        GTEST_SKIP() << "xdg-email (xdg-utils) is not installed";

    const auto home = juce::File::getSpecialLocation (juce::File::userHomeDirectory);
    const auto bin = scratchFolder().getChildFile ("bin");
    const auto arguments = scratchFolder().getChildFile ("thunderbird-arguments");
    ASSERT_TRUE (bin.createDirectory());
    const auto standIn = bin.getChildFile ("thunderbird");
    ASSERT_TRUE (standIn.replaceWithText ("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$CLARIVO_TEST_ARGUMENTS.part\"\n"
                                          "mv \"$CLARIVO_TEST_ARGUMENTS.part\" \"$CLARIVO_TEST_ARGUMENTS\"\n",
                                          false, false, "\n"));
    ASSERT_TRUE (standIn.setExecutePermission (true));
    ASSERT_TRUE (home.getChildFile (".local/share/applications").createDirectory());
    ASSERT_TRUE (home.getChildFile (".local/share/applications/thunderbird.desktop")
                     .replaceWithText ("[Desktop Entry]\nType=Application\nName=Mail\nExec=thunderbird %u\n", false, false, "\n"));
    const auto config = juce::File (juce::String (std::getenv ("XDG_CONFIG_HOME")));
    ASSERT_TRUE (config.createDirectory());
    ASSERT_TRUE (config.getChildFile ("mimeapps.list").replaceWithText ("[Default Applications]\nx-scheme-handler/mailto=thunderbird.desktop\n", false, false, "\n"));

    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    const auto set = [&saved] (const char* name, const char* value)
    {
        const char* was = std::getenv (name);
        saved.emplace_back (name, was != nullptr ? std::optional<std::string> (was) : std::nullopt);
        value != nullptr ? ::setenv (name, value, 1) : ::unsetenv (name);
    };
    set ("PATH", (bin.getFullPathName() + ":" + juce::String (std::getenv ("PATH"))).toRawUTF8());
    set ("XDG_CURRENT_DESKTOP", "X-Generic");
    set ("XDG_DATA_HOME", home.getChildFile (".local/share").getFullPathName().toRawUTF8());
    set ("XDG_DATA_DIRS", scratchFolder().getChildFile ("none").getFullPathName().toRawUTF8());
    set ("CLARIVO_TEST_ARGUMENTS", arguments.getFullPathName().toRawUTF8());
    for (const char* name : { "MAILER", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID" })
        set (name, nullptr);
    const juce::ScopeGuard restore { [&saved]
    {
        for (auto& [name, value] : saved)
            value ? ::setenv (name, value->c_str(), 1) : ::unsetenv (name);
    } };
    clarivo::share::setServiceFinder ([] { return std::vector<Service> { *clarivo::share::emailService() }; });

    const juce::String cyrillic = juce::CharPointer_UTF8 ("\xd1\x8f"), song = juce::CharPointer_UTF8 ("\xd0\x9f\xd1\x96\xd1\x81\xd0\xbd\xd1\x8f \xe6\xad\x8c");
    juce::String long255 = "a";
    for (int i = 0; i < 125; ++i)
        long255 += cyrillic;
    juce::String kept100 = "a";
    for (int i = 0; i < 49; ++i)
        kept100 += cyrillic;
    const std::pair<juce::String, juce::String> names[] = {
        { "clip,\\x2fetc\\x2fpasswd,x.wav", "clip__x2fetc_x2fpasswd_x-1.wav" },
        { "a',to='x@evil.test',subject='hi.wav", "a__to__x_evil.test__subject__hi-2.wav" },
        { "line\nbreak.wav", "line_break-3.wav" },
        { long255 + ".wav", kept100 + "-4.wav" },
        { "-rf.wav", "_rf-5.wav" },
        { ".hidden.wav", "_hidden-6.wav" },
        { song + ".wav", song + "-7.wav" },
    };
    for (const auto& [name, expected] : names)
    {
        SCOPED_TRACE (expected);
        const auto media = scratchFolder().getChildFile (name);
        ASSERT_EQ (media.getFileName(), name);
        ASSERT_TRUE (mediatest::media ("song.wav").copyFileTo (media));
        ASSERT_TRUE (open (media).wasOk());
        arguments.deleteFile();
        EXPECT_TRUE (shareWith (1));
        ASSERT_TRUE (pumpUntil ([&] { return arguments.existsAsFile(); }, 15000));

        juce::MemoryBlock bytes;
        ASSERT_TRUE (arguments.loadFileAsData (bytes));
        juce::StringArray got;
        for (auto* p = (const char*) bytes.getData(), *end = p + bytes.getSize(); p < end; p += std::strlen (p) + 1)
            got.add (juce::String::fromUTF8 (p));
        const auto copy = ClarivoTempFolder::shareFolder().getChildFile (expected);
        // One attachment, the whole processed copy, and nothing else asked of the mail program.
        EXPECT_EQ (got, juce::StringArray ("-compose", "attachment='" + copy.getFullPathName() + "'"));
        EXPECT_GT (copy.getSize(), 100000);
        EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
        document().setChangedFlag (false);
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}

class ShareShownTest : public ShareTest
{
protected:
    ShareShownTest() { showWindows = true; }
};

TEST_F (ShareShownTest, TheShareButtonEndsTheBarAndOpensTheDarkPickerUnderIt)
{
    auto& bar = app->getMediaWindow()->getTransport();
    const int w = bar.getWidth(), h = bar.getHeight();
    EXPECT_EQ (button().getBounds(), juce::Rectangle<int> (w - 50, h - 36, 40, 24));
    EXPECT_EQ (bar.getChildComponent (bar.getNumChildComponents() - 1), &button());
    EXPECT_FLOAT_EQ (button().getAlpha(), 0.8f);
    EXPECT_TRUE (button().getTriggeredOnMouseDown());

    const auto barPicture = [&] { return bar.createComponentSnapshot ({ bar.getWidth() - 300, bar.getHeight() - 50, 300, 50 }); };
    const auto disabled = barPicture();
    ASSERT_TRUE (open (media ("song.mp3")).wasOk());
    const auto normal = barPicture();
    apptest::saveRow ("transport-share-button.png", { disabled, normal });
    EXPECT_EQ (normal.getWidth(), 300);

    // The real menu, under the button, in the bar's dark look.
    ProcessingAVPlayer::setMenuPresenter ({});
    EXPECT_FALSE (shareWith (1));
    // Another program's window on the display may close the menu at any
    // time: it is photographed the moment it shows.
    juce::Component::SafePointer<juce::Component> menu;
    ASSERT_TRUE (pumpUntil ([&]
    {
        for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
            if (auto* c = juce::Desktop::getInstance().getComponent (i); c->getName() == "menu" && c->isShowing())
                menu = c;
        return menu != nullptr;
    }, 3000));
    const auto picture = apptest::snapshot (*menu, "share-picker.png");
    EXPECT_GE (menu->getScreenY(), button().getScreenBounds().getBottom() - 2);
    EXPECT_LT (picture.getPixelAt (2, picture.getHeight() / 2).getBrightness(), 0.3f);
    juce::PopupMenu::dismissAllActiveMenus();
    pumpUntil ([] { return false; }, 100);
    EXPECT_TRUE (sharedNames().isEmpty());
}
