// Saving processed copies: what each of the nine formats holds, what is
// refused, what a failure leaves behind, and the question before closing.
#include "app/support/AppTestSupport.h"
#include "app/support/TestHelpers.h"

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

using namespace mediatest;

namespace
{
const char* const kExtensions[] = { ".mov", ".mp4", ".m4v", ".m4a", ".caf", ".wav", ".aif", ".flac", ".mp3" };
// What ffprobe finds in each format's audio stream and container.
const char* const kHolds[] = { "aac|audio|R|2 ; mov,mp4,m4a,3gp,3g2,mj2", "aac|audio|R|2 ; mov,mp4,m4a,3gp,3g2,mj2",
                               "aac|audio|R|2 ; mov,mp4,m4a,3gp,3g2,mj2", "aac|audio|R|2 ; mov,mp4,m4a,3gp,3g2,mj2",
                               "aac|audio|R|2 ; caf", "pcm_s24le|audio|R|2|24 ; wav", "pcm_s24be|audio|R|2|24 ; aiff",
                               "flac|audio|R|2|16 ; flac", "mp3|audio|R|2 ; mp3" };

double rmsDb (const std::vector<float>& x, size_t from, size_t n)
{
    double sum = 0.0;
    for (size_t i = from; i < from + n && i < x.size(); ++i)
        sum += (double) x[i] * x[i];
    return 10.0 * std::log10 (sum / (double) n + 1.0e-20);
}

// The saved sound against what it should be: in step (best correlation at
// lag 0 +- 1 frame and at least 0.99), as long (+- 1 frame), its last 100 ms
// as loud (within 1 dB), and for lossless formats within tolerance.
void expectProcessedCopy (const Planar& got, const Planar& expected, int rate, float tolerance)
{
    ASSERT_EQ (got.size(), expected.size());
    const auto n = expected[0].size();
    EXPECT_NEAR ((double) got[0].size(), (double) n, 1.0);
    const int window = (int) std::min<size_t> (n, got[0].size()) - 4;
    for (size_t c = 0; c < got.size(); ++c)
    {
        double best = -2.0;
        int bestLag = 99;
        for (int lag = -1; lag <= 1; ++lag)
        {
            const double r = correlation (got[c].data() + 2 + lag, expected[c].data() + 2, window - 2);
            if (r > best)
                best = r, bestLag = lag;
        }
        EXPECT_GE (best, 0.99) << "channel " << c;
        EXPECT_EQ (bestLag, 0) << "channel " << c;
        const auto tail = (size_t) rate / 10;
        EXPECT_NEAR (rmsDb (got[c], n - tail, tail), rmsDb (expected[c], n - tail, tail), 1.0) << "channel " << c;
        if (tolerance > 0.0f)
        {
            float worst = 0.0f;
            for (size_t i = 0; i < std::min (n, got[c].size()); ++i)
                worst = std::max (worst, std::abs (got[c][i] - expected[c][i]));
            EXPECT_LE (worst, tolerance) << "channel " << c;
        }
    }
}

juce::StringArray filesIn (const juce::File& dir)
{
    juce::StringArray names;
    for (const auto& f : dir.findChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, false, "*", juce::File::FollowSymlinks::no))
        names.add (f.getFileName());
    for (const auto& f : dir.findChildFiles (juce::File::findFiles, false, ".*"))
        names.add (f.getFileName());
    names.sort (false);
    return names;
}
} // namespace

TEST_F (AppTest, SavesTheProcessedSoundInEveryFormat)
{
    for (const char* name : { "stereo.m4a", "movie.mp4" })
    {
        SCOPED_TRACE (name);
        const auto source = media (name);
        ASSERT_TRUE (open (source).wasOk());
        processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.6f);
        int rate = 0;
        const auto expected = expectedProcessed (source, &rate);
        const auto sourceVideo = videoPackets (source);
        const auto dir = scratchFolder().getChildFile (name).getSiblingFile (juce::File::createLegalFileName (name) + "-out");
        dir.createDirectory();

        for (int format = 0; format < 9; ++format)
        {
            SCOPED_TRACE (kExtensions[format]);
            app->clearProgressTimeline();
            const auto target = dir.getChildFile (juce::String ("out") + kExtensions[format]);
            ASSERT_EQ (saveAs (target, format), juce::FileBasedDocument::savedOk);
            ASSERT_TRUE (target.existsAsFile());
            EXPECT_TRUE (overlayShownOncePerJob (app->getProgressTimeline()));
            EXPECT_EQ (CVAudioTapProcessor::getActiveTap(), nullptr);

            const auto holds = apptest::ffprobe (target, "stream=codec_name,codec_type,sample_rate,channels,bits_per_raw_sample:format=format_name");
            EXPECT_EQ (holds.joinIntoString (" ; "), (format <= 2 && ! sourceVideo.empty() ? "h264|video|8 ; " : "")
                                                         + juce::String (kHolds[format]).replace ("R", juce::String (rate)));
            const auto got = decodeAll (target);
            const float lsb24 = 1.0f / 8388608.0f, lsb16 = 1.0f / 32768.0f;
            expectProcessedCopy (got, expected, rate, format == 5 || format == 6 ? lsb24 * 1.01f : format == 7 ? lsb16 * 1.01f : 0.0f);
            if (format <= 2)
            {
                const auto packets = videoPackets (target);
                ASSERT_EQ (packets.size(), sourceVideo.size());
                for (size_t i = 0; i < packets.size(); ++i)
                    ASSERT_EQ (packets[i], sourceVideo[i]) << "video packet " << i;
            }
            else
                EXPECT_TRUE (videoPackets (target).empty());
        }
        // Nothing but the saved files: no render, no partial file.
        EXPECT_EQ (filesIn (dir).size(), 9);
        EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}

TEST_F (AppTest, NeverWritesOverTheOriginalAndAsksBeforeReplacing)
{
    const auto dir = scratchFolder();
    const auto song = dir.getChildFile ("song.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (song));
    juce::MemoryBlock original;
    song.loadFileAsData (original);
    const auto link = dir.getChildFile ("link.wav");
    ASSERT_EQ (::symlink (song.getFullPathName().toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);
    const auto hard = dir.getChildFile ("hard.wav");
    ASSERT_EQ (::link (song.getFullPathName().toRawUTF8(), hard.getFullPathName().toRawUTF8()), 0);
    ASSERT_TRUE (open (song).wasOk());

    for (const auto& target : { song, link, hard, dir.getChildFile ("song") })
    {
        SCOPED_TRACE (target.getFileName());
        DialogService::get().clearHistory();
        EXPECT_EQ (saveAs (target, 5), juce::FileBasedDocument::failedToWriteToFile);
        EXPECT_EQ (askedTitles(), juce::StringArray { "No Overwrite" });
        EXPECT_EQ (textOf ("No Overwrite"),
                   "Clarivo cannot overwrite the media document it is working with.  Please choose a document name that is not "
                   "the same as the original media document.");
    }
    juce::MemoryBlock after;
    song.loadFileAsData (after);
    EXPECT_EQ (after, original);

    // Beside it under another format is fine.
    ASSERT_EQ (saveAs (song, 6), juce::FileBasedDocument::savedOk);
    EXPECT_TRUE (dir.getChildFile ("song.aif").existsAsFile());

    // An existing copy is replaced only when the user says so.
    const auto out = dir.getChildFile ("out.wav");
    out.replaceWithText ("keep me");
    DialogService::get().clearHistory();
    EXPECT_EQ (saveAs (out, 5, 9, "Cancel"), juce::FileBasedDocument::userCancelledSave);
    const auto* question = lastRequest ("Replace file?");
    ASSERT_NE (question, nullptr);
    EXPECT_EQ (question->text, "Are you sure you want to overwrite \"out.wav\"?");
    EXPECT_EQ (question->buttons, juce::StringArray ({ "Overwrite", "Cancel" }));
    EXPECT_EQ (out.loadFileAsString(), "keep me");
    EXPECT_EQ (askedTitles(), juce::StringArray { "Replace file?" });

    EXPECT_EQ (saveAs (out, 5, 9, "Overwrite"), juce::FileBasedDocument::savedOk);
    EXPECT_GT (out.getSize(), 1000);
    // "Save..." now writes the same copy again, asking first.
    DialogService::get().answerWithButton ("Overwrite");
    EXPECT_EQ (document().saveMedia (false), juce::FileBasedDocument::savedOk);
}

TEST_F (AppTest, AFailedSaveSaysSoAndLeavesTheOldCopyAsItWas)
{
    const auto dir = scratchFolder();
    ASSERT_TRUE (open (media ("movie.mp4")).wasOk());
    const auto failsLeavingOld = [&] (int format)
    {
        const auto target = dir.getChildFile (juce::String ("old") + kExtensions[format]);
        target.replaceWithText ("the old copy");
        DialogService::get().clearHistory();
        EXPECT_EQ (saveAs (target, format, 9, "Overwrite"), juce::FileBasedDocument::failedToWriteToFile);
        const auto* box = lastRequest ("Error writing to file...");
        EXPECT_TRUE (box != nullptr && box->text.endsWith ("\n\nUnable to save file."));
        EXPECT_EQ (target.loadFileAsString(), "the old copy");
        EXPECT_EQ (filesIn (dir).size(), 1) << filesIn (dir).joinIntoString (", ");
        target.deleteFile();
    };

    // A full disk, in every format.
    for (int format = 0; format < 9; ++format)
    {
        SCOPED_TRACE (kExtensions[format]);
        FileSizeLimit full (20000);
        failsLeavingOld (format);
    }
    // The encoder failing.
    const auto failing = dir.getParentDirectory().getChildFile ("lame-fails");
    failing.replaceWithText ("#!/bin/sh\nexit 1\n");
    failing.setExecutePermission (true);
    app->lameProgram = failing;
    failsLeavingOld (8);
    app->lameProgram = juce::File ("/usr/bin/lame");
    // Without the tap the copy would hold the sound unprocessed: refused.
    player().dropTapForTesting();
    failsLeavingOld (5);

    ASSERT_TRUE (app->closeMedia().wasOk());
    // Raw pictures no movie container takes: said before anything is written.
    ASSERT_TRUE (open (media ("huge.mov")).wasOk());
    const auto old = dir.getChildFile ("old.mov");
    old.replaceWithText ("the old copy");
    DialogService::get().clearHistory();
    EXPECT_EQ (saveAs (old, 0, 9, "Cancel"), juce::FileBasedDocument::userCancelledSave);
    EXPECT_EQ (askedTitles(), juce::StringArray ("Picture Cannot Be Kept"));
    EXPECT_TRUE (textOf ("Picture Cannot Be Kept").contains ("uncompressed")) << textOf ("Picture Cannot Be Kept");
    EXPECT_EQ (old.loadFileAsString(), "the old copy");
    EXPECT_EQ (filesIn (dir).size(), 1) << filesIn (dir).joinIntoString (", ");
    // A profile learned from it by the analysis counts as a change.
    if (document().hasChangedSinceSaved())
        DialogService::get().answerWithButton ("Discard Changes");
    ASSERT_TRUE (app->closeMedia().wasOk());
}

TEST_F (AppTest, ClosingAsksOnlyAboutChangesAndEachAnswerDoesWhatItSays)
{
    const auto dir = scratchFolder();
    const auto song = dir.getChildFile ("song.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (song));

    // Unchanged: closes without a word, and the analysis copy goes with it.
    ASSERT_TRUE (open (song).wasOk());
    const auto copy = document().getAnalysisFile();
    EXPECT_TRUE (copy.existsAsFile());
    EXPECT_TRUE (app->closeMedia().wasOk());
    EXPECT_FALSE (copy.exists());
    EXPECT_TRUE (askedTitles().isEmpty());

    const auto changeAndClose = [&] (const juce::String& answer, const juce::File& saveAs = {})
    {
        EXPECT_TRUE (open (song).wasOk());
        const float boost = processor().getParameter (CVAudioProcessor::Parameter::boost);
        processor().setParameter (CVAudioProcessor::Parameter::boost, boost > 0.5f ? 0.3f : 0.7f);
        pumpUntil ([] { return false; }, 50);
        EXPECT_TRUE (document().hasChangedSinceSaved());
        DialogService::get().clearHistory();
        DialogService::get().answerWithButton (answer);
        if (saveAs != juce::File())
            DialogService::get().answerWithFile (saveAs);
        return app->closeMedia();
    };

    auto result = changeAndClose ("Cancel");
    EXPECT_EQ (result.getErrorMessage(), "User Cancelled.");
    const auto* question = lastRequest ("Apply Clarivo before closing?");
    ASSERT_NE (question, nullptr);
    EXPECT_EQ (question->text, "Do you want to save a copy of \"song.wav\" with the current Clarivo settings?");
    EXPECT_EQ (question->buttons, juce::StringArray ({ "Save", "Discard Changes", "Cancel" }));
    EXPECT_EQ (document().getMediaFile(), song);

    result = changeAndClose ("Discard Changes");
    EXPECT_TRUE (result.wasOk());
    EXPECT_EQ (document().getMediaFile(), juce::File());
    EXPECT_EQ (filesIn (dir), juce::StringArray { "song.wav" });

    // The format dialog picks AIFF.
    app->formatChooser = [this]
    {
        document().formatIndex = 6;
        return 1;
    };
    result = changeAndClose ("Save", dir.getChildFile ("saved"));
    EXPECT_TRUE (result.wasOk());
    EXPECT_TRUE (dir.getChildFile ("saved.aif").existsAsFile());
    EXPECT_EQ (document().getFile(), juce::File());
}

TEST_F (AppTest, SavingWaitsOnlyUntilPlaybackHasLetGoOfTheChain)
{
    ASSERT_TRUE (open (media ("stereo.m4a")).wasOk());
    // One millisecond a reading: the clock counts the settling wait's passes.
    ProcessingAVPlayer::setClock ([this] { return ++clockMs; });
    const auto settlingPasses = [this]
    {
        int passes = 0;
        for (const auto& e : app->getProgressTimeline())
            passes += e.kind == ClarivoApplication::ProgressEvent::Kind::set && e.value < 0.02 ? 1 : 0;
        return passes;
    };

    // Nothing has played since the load (every file of a batch): no wait.
    app->clearProgressTimeline();
    ASSERT_EQ (saveAs (scratchFile ("at-once.wav"), 5), juce::FileBasedDocument::savedOk);
    EXPECT_EQ (settlingPasses(), 0);

    // Played and stopped: the tap was in use until the stop, and the wait
    // ends once it is no longer called, far inside the five seconds.
    auto framework = player().getPlayer();
    player().togglePlayPause();
    pumpUntil ([] { return false; }, 100);
    EXPECT_FALSE (framework->hasTapStopped());
    player().togglePlayPause();
    app->clearProgressTimeline();
    const auto stoppedAt = player().lastPlayStopTime;
    ASSERT_EQ (saveAs (scratchFile ("settled.wav"), 5), juce::FileBasedDocument::savedOk);
    EXPECT_TRUE (framework->hasTapStopped());
    EXPECT_LT (clockMs - stoppedAt, 1000);
    EXPECT_EQ (app->getProgressTimeline().front().text, "Working...");
}

TEST_F (AppTest, ReplacesOnlyANameTheUserGaveUpAndNeverWhatALinkLeadsTo)
{
    const auto dir = scratchFolder();
    const auto far = dir.getSiblingFile (dir.getFileName() + "-far");
    far.createDirectory();
    ASSERT_TRUE (open (media ("song.wav")).wasOk());
    const auto isLink = [] (const juce::File& f)
    {
        struct stat st {};
        return ::lstat (f.getFullPathName().toRawUTF8(), &st) == 0 && S_ISLNK (st.st_mode);
    };

    // A link that leads nowhere is still a name the user has: asked about,
    // kept on Cancel, and on Overwrite replaced without creating where it led.
    const auto nowhere = far.getChildFile ("nowhere.wav");
    const auto dangling = dir.getChildFile ("dangling.wav");
    ASSERT_EQ (::symlink (nowhere.getFullPathName().toRawUTF8(), dangling.getFullPathName().toRawUTF8()), 0);
    DialogService::get().clearHistory();
    EXPECT_EQ (saveAs (dangling, 5, 9, "Cancel"), juce::FileBasedDocument::userCancelledSave);
    EXPECT_EQ (askedTitles(), juce::StringArray { "Replace file?" });
    EXPECT_TRUE (isLink (dangling));
    EXPECT_EQ (saveAs (dangling, 5, 9, "Overwrite"), juce::FileBasedDocument::savedOk);
    EXPECT_FALSE (isLink (dangling));
    EXPECT_GT (dangling.getSize(), 1000);
    EXPECT_FALSE (nowhere.exists());

    // A link to a file elsewhere: the link goes, the file it led to stays.
    const auto kept = far.getChildFile ("kept.wav");
    kept.replaceWithText ("someone else's");
    const auto link = dir.getChildFile ("link.wav");
    ASSERT_EQ (::symlink (kept.getFullPathName().toRawUTF8(), link.getFullPathName().toRawUTF8()), 0);
    EXPECT_EQ (saveAs (link, 5, 9, "Overwrite"), juce::FileBasedDocument::savedOk);
    EXPECT_FALSE (isLink (link));
    EXPECT_EQ (kept.loadFileAsString(), "someone else's");

    // A private take replaced by its processed copy stays private.
    const auto take = dir.getChildFile ("take.wav");
    take.replaceWithText ("the unprocessed take");
    ASSERT_EQ (::chmod (take.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (saveAs (take, 5, 9, "Overwrite"), juce::FileBasedDocument::savedOk);
    struct stat taken {};
    ASSERT_EQ (::stat (take.getFullPathName().toRawUTF8(), &taken), 0);
    EXPECT_EQ (taken.st_mode & 07777, 0600u);
    EXPECT_TRUE (take.loadFileAsString().startsWith ("RIFF"));
    EXPECT_GT (take.getSize(), 1000);

    // Another save takes the free name while this copy is made (the encoder
    // stands in for it): nobody agreed to replace that file, so it stays,
    // and the finished copy goes beside it, where the user is told it went.
    const auto raced = dir.getChildFile ("raced.mp3");
    const auto racer = far.getChildFile ("lame-racer");
    racer.replaceWithText ("#!/bin/sh\nprintf theirs > '" + raced.getFullPathName() + "'\nexec /usr/bin/lame \"$@\"\n", false, false, "\n");
    racer.setExecutePermission (true);
    app->lameProgram = racer;
    DialogService::get().clearHistory();
    EXPECT_EQ (saveAs (raced, 8), juce::FileBasedDocument::savedOk);
    app->lameProgram = juce::File ("/usr/bin/lame");
    const auto beside = dir.getChildFile ("raced (2).mp3");
    const auto* box = lastRequest ("Saved Under Another Name");
    EXPECT_TRUE (box != nullptr && box->text.endsWith ("\n" + beside.getFullPathName()));
    EXPECT_EQ (lastRequest ("Error writing to file..."), nullptr);
    EXPECT_EQ (raced.loadFileAsString(), "theirs");
    EXPECT_GT (beside.getSize(), 1000);
    EXPECT_EQ (document().getFile(), beside);
    EXPECT_EQ (filesIn (dir).joinIntoString (" "), "dangling.wav link.wav raced (2).mp3 raced.mp3 take.wav");
    if (document().hasChangedSinceSaved())
        DialogService::get().answerWithButton ("Discard Changes");
    ASSERT_TRUE (app->closeMedia().wasOk());
}
