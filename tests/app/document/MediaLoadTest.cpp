// Opening media: what loads, how the window and the picture are set up,
// what is refused and with which words, playback through the chain, and the
// automatic analysis that follows every load.
#include "app/support/AppTestSupport.h"
#include "TestDeadline.h"
#include "app/document/ClarivoSettingsDocument.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/support/TestHelpers.h"

#include "platform/media/MediaComposition.h"
#include "platform/media/MediaDecoding.h"

#include <cstdio>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace mediatest;
using namespace clarivo::media;

namespace
{
// Sound in a container of our own that only the application's audio readers
// know: "CLV1", then a float WAV that no other reader looks for behind it.
class ToyFormat : public juce::AudioFormat
{
public:
    ToyFormat() : juce::AudioFormat ("Toy", ".clv") {}
    juce::Array<int> getPossibleSampleRates() override { return {}; }
    juce::Array<int> getPossibleBitDepths() override { return { 32 }; }
    bool canDoStereo() override { return true; }
    bool canDoMono() override { return true; }

    juce::AudioFormatReader* createReaderFor (juce::InputStream* in, bool deleteStreamIfOpeningFails) override
    {
        char magic[4] {};
        if (in->read (magic, 4) == 4 && std::memcmp (magic, "CLV1", 4) == 0)
            return juce::WavAudioFormat().createReaderFor (new juce::SubregionStream (in, 4, -1, true), true);
        if (deleteStreamIfOpeningFails)
            delete in;
        return nullptr;
    }
    juce::AudioFormatWriter* createWriterFor (juce::OutputStream*, double, unsigned int, int, const juce::StringPairArray&, int) override
    {
        return nullptr;
    }
    using juce::AudioFormat::createWriterFor;

    static void write (const juce::File& file, const Planar& audio, int rate)
    {
        auto* out = new juce::FileOutputStream (file);
        out->write ("CLV1", 4);
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (out, rate, (unsigned) audio.size(), 32, {}, 0));
        std::vector<const float*> channels;
        for (const auto& c : audio)
            channels.push_back (c.data());
        writer->writeFromFloatArrays (channels.data(), (int) channels.size(), (int) audio[0].size());
    }
};

// The file as a process without root's privileges sees it.
struct AsNobody
{
    AsNobody() : active (::geteuid() == 0 && ::seteuid (65534) == 0) {}
    ~AsNobody()
    {
        if (active)
            (void) ::seteuid (0);
    }
    bool active;
};
} // namespace

TEST_F (AppTest, LoadSetsTheFormatTheWindowTheVideoDelayAndThePosition)
{
    ASSERT_TRUE (open (media ("talk.MP3")).wasOk());
    EXPECT_EQ (document().formatIndex, 8);
    EXPECT_EQ (document().getMediaFile(), media ("talk.MP3"));
    ASSERT_TRUE (app->closeMedia().wasOk());
    ASSERT_TRUE (open (media ("clip.mkv")).wasOk());
    EXPECT_EQ (document().formatIndex, 0);
    // Matroska's AAC, its priming timed before zero, renders to its end.
    EXPECT_EQ (saveAs (scratchFile ("clip.wav"), 5), juce::FileBasedDocument::savedOk);
    ASSERT_TRUE (app->closeMedia().wasOk());

    // Sound alone: a wide strip of 214 pixels.
    auto* window = app->getMediaWindow();
    window->setVisible (true);
    auto& view = window->getMediaContainer();
    ASSERT_TRUE (open (media ("song.mp3")).wasOk());
    EXPECT_TRUE (view.audioOnly);
    EXPECT_FALSE (view.isVideoVisible());
    EXPECT_DOUBLE_EQ (player().getConstrainer()->getFixedAspectRatio(), 6.4);
    EXPECT_EQ (window->getHeight(), 214);
    EXPECT_NEAR (player().getPositionSeconds(), 0.6, 1.0e-3);
    EXPECT_TRUE (pumpUntil ([&] { return view.getThumbnail().isFullyLoaded() && view.getThumbnail().getTotalLength() > 1.0; }, 5000));
    writeSnapshot (view, "media-window-sound");
    ASSERT_TRUE (app->closeMedia().wasOk());
    EXPECT_EQ (player().getPlayer(), nullptr);

    // A tall picture is halved until the window fits above the screen's foot.
    EXPECT_EQ (ProcessingAVPlayer::windowHeightForVideo (2000, 100, 900), 500);
    EXPECT_EQ (ProcessingAVPlayer::windowHeightForVideo (200000, 0, 900), 12500);

    // The picture waits for the chain's latency, in whole milliseconds of
    // the media's own rate, which the chain is prepared for at once.
    ASSERT_TRUE (open (media ("movie.mp4")).wasOk());
    EXPECT_EQ (processor().getSampleRate(), 48000.0);
    const auto composition = player().getPlayer()->getCurrentItem()->getAsset();
    const auto video = composition->getTracksWithMediaType (MediaType::video);
    ASSERT_EQ (video.size(), 1u);
    const auto wholeMs = (std::int64_t) (processor().getLatencySamples() / 48000.0 * 1000.0);
    EXPECT_EQ (video[0]->getSegments().front().target.start, makeTime (wholeMs, 1000));
    EXPECT_TRUE (view.isVideoVisible());
    EXPECT_NEAR (player().getConstrainer()->getFixedAspectRatio(), 320.0 / 240.0, 1.0e-6);
    window->setSize (480, 392);
    pumpUntil ([] { return false; }, 300);
    writeSnapshot (view, "media-window-picture");
    EXPECT_NEAR (player().getPositionSeconds(), 0.6, 1.0e-3);
    ASSERT_TRUE (app->closeMedia().wasOk());

    // Sound that only the audio readers know plays from a decoded copy
    // exactly as long as its source.
    app->getFormatManager().registerFormat (new ToyFormat(), false);
    const auto source = decodeAll (media ("song.wav"));
    const auto toy = scratchFile ("song.clv");
    ToyFormat::write (toy, source, 44100);
    ASSERT_TRUE (open (toy).wasOk());
    const auto played = player().getOriginalAsset()->getURL();
    EXPECT_TRUE (played.getFileName().endsWith ("TempCleanAudioP.wav"));
    const auto decoded = decodeAll (played);
    ASSERT_EQ (decoded.size(), 2u);
    EXPECT_EQ (decoded[0].size(), source[0].size());
    EXPECT_EQ (decoded[1][1000], source[1][1000]);
    EXPECT_TRUE (overlayShownOncePerJob (app->getProgressTimeline()));
    ASSERT_TRUE (app->closeMedia().wasOk());
    EXPECT_FALSE (played.exists());
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
}

TEST_F (AppTest, RefusesWhatItCannotPlayWithTheRightWordsAndStaysEmpty)
{
    const juce::String multichannel = "Multichannel not supported", noAudio = "No Audio", failed = "Failed to open file...";
    const auto unreadable = scratchFile ("locked.wav");
    ASSERT_TRUE (media ("song.wav").copyFileTo (unreadable));
    ::chmod (unreadable.getFullPathName().toRawUTF8(), 0);
    const auto pipe = scratchFile ("pipe.wav");
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    // A regular file that leads the reader on to the pipe.
    const auto list = scratchFile ("album.mp3");
    ASSERT_TRUE (list.replaceWithText ("ffconcat version 1.0\nfile pipe.wav\n"));

    struct Case { juce::File file; juce::StringArray titles; };
    const Case cases[] = {
        { media ("six.wav"), { multichannel, failed } },
        { media ("six.mp4"), { multichannel, failed } },
        { media ("videoonly.mp4"), { noAudio, failed } },
        { media ("empty.mp4"), { noAudio, failed } },
        { media ("text.mp4"), { noAudio, failed } },
        { unreadable, { failed } },
        { pipe, { failed } },
        { list, { failed } },
        { scratchFolder().getChildFile ("missing.wav"), { failed } },
    };
    juce::StringPairArray texts;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.file.getFileName());
        DialogService::get().clearHistory();
        {
            std::optional<AsNobody> nobody;
            if (c.file == unreadable)
                nobody.emplace();
            expectFinishesHereWithin (20.0, "Opening " + c.file.getFileName().toStdString(),
                                      [&] { EXPECT_TRUE (open (c.file).failed()); });
        }
        EXPECT_EQ (askedTitles(), c.titles);
        EXPECT_EQ (document().getMediaFile(), juce::File());
        EXPECT_EQ (document().getFile(), juce::File());
        EXPECT_EQ (player().getPlayer(), nullptr);
        for (const auto& title : c.titles)
            texts.set (title, textOf (title));
    }
    EXPECT_EQ (texts[multichannel], "Clarivo does not support media files with more than 2 channels of audio.");
    EXPECT_EQ (texts[noAudio], "This media file does not contain any audio tracks.");
    EXPECT_TRUE (texts[failed].endsWith ("\n\nThe file doesn't exist"));
    DialogService::get().clearHistory();
    open (media ("text.mp4"));
    EXPECT_TRUE (textOf (failed).endsWith ("\n\nUnable to load document."));
    EXPECT_TRUE (textOf (failed).contains (media ("text.mp4").getFullPathName()));

    // A damaged file either plays what it holds or is refused without a
    // word about its sound.
    DialogService::get().clearHistory();
    if (open (media ("truncated.mp4")).failed())
    {
        EXPECT_EQ (askedTitles(), juce::StringArray { failed });
    }
}

TEST_F (AppTest, PlaysThroughTheChainAsOfflineProcessingAndLoopsOnRequest)
{
    ASSERT_TRUE (open (media ("song.wav")).wasOk());
    auto framework = player().getPlayer();
    auto* device = framework->getNullDevice();
    ASSERT_NE (device, nullptr);
    device->startCapture (44100 * 3);

    // From 0.6 s, sample for sample what the chain makes of the sound offline.
    player().togglePlayPause();
    ASSERT_TRUE (pumpUntil ([&] { return device->getCapturedFrames() >= 44100; }, 20000));
    player().togglePlayPause();
    const auto captured = device->getCapturedAudio();
    auto input = decodeAll (media ("song.wav"));
    for (auto& channel : input)
        channel.erase (channel.begin(), channel.begin() + 26460);
    juce::MemoryBlock state;
    processor().getStateInformation (state);
    const auto expected = processOffline (input, 44100, [&] (CVAudioProcessor& p) { p.setStateInformation (state.getData(), (int) state.getSize()); });
    // Found by a stretch of sound well after the chain's silent start.
    const int needle = processor().getLatencySamples() + 4096;
    const int offset = findExact (captured[0], expected[0].data() + needle, 2048);
    ASSERT_GE (offset, needle);
    const int base = offset - needle;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 30000 && base + i < (int) captured[(size_t) c].size(); ++i)
            ASSERT_EQ (captured[(size_t) c][(size_t) (base + i)], expected[(size_t) c][(size_t) i]) << c << ", " << i;

    // At the end it stays there, or plays on from the start while looping.
    app->setLooping (false);
    const double duration = player().playableDuration();
    player().setPosition (0.9);
    player().togglePlayPause();
    EXPECT_TRUE (pumpUntil ([&] { return player().getPositionSeconds() >= duration - 1.0e-3; }, 10000));
    pumpUntil ([] { return false; }, 300);
    EXPECT_NEAR (player().getPositionSeconds(), duration, 1.0e-3);

    app->setLooping (true);
    player().setPosition (0.9);
    EXPECT_TRUE (pumpUntil ([&] { return player().getPositionSeconds() < 0.5; }, 10000));
    // Left playing: the application shuts down mid-playback.
    EXPECT_TRUE (player().isPlaying());
}

TEST_F (AppTest, AnalysisLearnsFromTheNoiseAloneAndKeepsTheProfileWhenItCannot)
{
    auto& bay = processor().getNoiseReductionBay();
    // The loudest bin of a channel's profile, in dB; -120 is nothing learned.
    const auto profileLevel = [&] (int channel)
    {
        auto* p = bay.getChannelProfile (channel);
        return p == nullptr ? -120.0f : juce::FloatVectorOperations::findMaximum (p->getData(), (int) p->getLength());
    };

    // "Analyze" off: nothing is looked at or learned.
    app->setAnalyzeEnabled (false);
    ASSERT_TRUE (open (media ("quietgap.wav")).wasOk());
    pumpUntil ([] { return false; }, 100);
    EXPECT_EQ (processor().learnRegion.length, 0);
    EXPECT_EQ (bay.getLearnedFrameCount(), 0);
    ASSERT_TRUE (app->closeMedia().wasOk());

    // Two seconds of noise alone from 5.0 s: the region found lies inside
    // them, give or take the analyzer's 256-sample blocks where the music
    // fades into a zero crossing.
    app->setAnalyzeEnabled (true);
    ASSERT_TRUE (open (media ("quietgap.wav")).wasOk());
    pumpUntil ([] { return false; }, 100);
    const auto& region = processor().learnRegion;
    EXPECT_GE (region.start, 5 * 44100 - 2 * 256);
    EXPECT_LE (region.start + region.length, 7 * 44100);
    EXPECT_GT (region.length, 0);
    const float learned = profileLevel (0);
    EXPECT_GT (learned, -110.0f);
    EXPECT_GT (profileLevel (1), -110.0f);
    EXPECT_TRUE (overlayShownOncePerJob (app->getProgressTimeline()));

    // With the analysis copy gone, learning again keeps the profile.
    const auto copy = document().getAnalysisFile();
    ASSERT_TRUE (copy.existsAsFile());
    copy.deleteFile();
    app->learnNoiseFromMedia();
    pumpUntil ([] { return false; }, 100);
    EXPECT_EQ (profileLevel (0), learned);
    // The learned profile is a change the user may want to apply.
    EXPECT_TRUE (document().hasChangedSinceSaved());
    DialogService::get().answerWithButton ("Discard Changes");
    ASSERT_TRUE (app->closeMedia().wasOk());

    // Hiss on the right only: each channel learns its own.
    ASSERT_TRUE (open (media ("hissright.wav")).wasOk());
    processor().learnRegion.start = (std::int64_t) (5.5 * 44100);
    processor().learnRegion.length = 44100;
    app->learnNoiseFromMedia();
    pumpUntil ([] { return false; }, 100);
    EXPECT_EQ (profileLevel (0), -120.0f);
    EXPECT_GT (profileLevel (1), -110.0f);
}

TEST_F (AppTest, DamagedMediaOpensWithWhatCouldBeReadOrIsRefusedAndTheUserIsTold)
{
    // A WAV whose header promises 10 s and holds 4 s, and an MP3 whose middle
    // third was zeroed: the media layer decodes neither to its end.
    const auto whole = scratchFile ("whole.wav");
    ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "sine=frequency=440:duration=10:sample_rate=44100", "-ac", "2", "-c:a",
                              "pcm_s16le", whole.getFullPathName() }));
    juce::MemoryBlock bytes;
    ASSERT_TRUE (whole.loadFileAsData (bytes));
    const auto cut = scratchFile ("cut.wav");
    ASSERT_TRUE (cut.replaceWithData (bytes.getData(), 44 + 4 * 44100 * 4));
    const auto mp3 = scratchFile ("noisy.mp3");
    ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "sine=frequency=440:duration=10:sample_rate=44100", "-ac", "2", "-c:a",
                              "libmp3lame", mp3.getFullPathName() }));
    bytes.reset();
    ASSERT_TRUE (mp3.loadFileAsData (bytes));
    std::fill ((char*) bytes.getData() + bytes.getSize() / 3, (char*) bytes.getData() + bytes.getSize() / 2, 0);
    ASSERT_TRUE (mp3.replaceWithData (bytes.getData(), bytes.getSize()));

    auto& view = app->getMediaWindow()->getMediaContainer();
    const juce::String damaged = "Damaged Media", failed = "Failed to open file...";

    // The readers get through the WAV: it opens with a waveform and an
    // analysis copy of the sound they read, and the user is told.
    DialogService::get().clearHistory();
    ASSERT_TRUE (open (cut).wasOk());
    EXPECT_EQ (askedTitles(), juce::StringArray { damaged });
    EXPECT_TRUE (textOf (damaged).startsWith ("Clarivo could not read the sound of \"cut.wav\" to its end")) << textOf (damaged);
    const auto analysis = document().getAnalysisFile();
    const auto read = decodeAll (analysis);
    ASSERT_EQ (read.size(), 2u);
    EXPECT_GE (read[0].size(), (size_t) 4 * 44100);
    EXPECT_GT (*std::max_element (read[0].begin() + 44100, read[0].begin() + 44300), 0.08f);
    EXPECT_TRUE (pumpUntil ([&] { return view.getThumbnail().isFullyLoaded() && view.getThumbnail().getTotalLength() >= 4.0; }, 5000));
    document().setChangedFlag (false);
    ASSERT_TRUE (app->closeMedia().wasOk());
    EXPECT_FALSE (analysis.exists());

    // Nothing gets through the MP3: it is refused, and why is said.
    DialogService::get().clearHistory();
    const auto leftBefore = ClarivoTempFolder::get().getNumberOfChildFiles (juce::File::findFiles);
    EXPECT_TRUE (open (mp3).failed());
    EXPECT_EQ (askedTitles(), (juce::StringArray { damaged, failed }));
    EXPECT_EQ (textOf (damaged), "Clarivo could not read the sound of \"noisy.mp3\" to its end: the file may be damaged or incomplete.");
    EXPECT_EQ (document().getMediaFile(), juce::File());
    EXPECT_EQ (player().getPlayer(), nullptr);
    EXPECT_FALSE (view.getThumbnail().getTotalLength() > 0.0);
    EXPECT_EQ (ClarivoTempFolder::get().getNumberOfChildFiles (juce::File::findFiles), leftBefore);

    // Opened quietly (as the batch does), it is refused without a word.
    DialogService::get().clearHistory();
    EXPECT_FALSE (app->openMediaFile (mp3, false).wasOk());
    EXPECT_TRUE (askedTitles().isEmpty());
}

TEST_F (AppTest, AnIntactFileIsNotCalledDamagedWhenTheTemporaryFolderTakesNothing)
{
    const auto wav = media ("song.wav");
    const juce::String unusable = "Temporary Folder Unusable", failed = "Failed to open file...";
    const auto refusal = [&] (const juce::File& folder, const juce::String& reason)
    {
        return "Clarivo could not open \"song.wav\": it keeps a working copy of the sound in the temporary folder "
             + folder.getFullPathName() + ", and could not write there: " + reason
             + ".\n\nMake room there, or start Clarivo with TMPDIR set to a folder that has room.";
    };

    // Sound only the audio readers know is decoded into that folder first:
    // it is not called soundless either.
    app->getFormatManager().registerFormat (new ToyFormat(), false);
    const auto toy = scratchFile ("song.clv");
    ToyFormat::write (toy, decodeAll (wav), 44100);

    const auto missing = scratchFolder().getChildFile ("no-such-folder");
    {
        apptest::ScopedTempFolder in (missing);
        DialogService::get().clearHistory();
        EXPECT_TRUE (open (wav).failed());
        EXPECT_EQ (askedTitles(), (juce::StringArray { unusable, failed }));
        EXPECT_EQ (textOf (unusable), refusal (missing, "the folder does not exist"));
        EXPECT_EQ (player().getPlayer(), nullptr);

        DialogService::get().clearHistory();
        EXPECT_TRUE (open (toy).failed());
        EXPECT_EQ (askedTitles(), (juce::StringArray { unusable, failed }));
        EXPECT_EQ (textOf (unusable), refusal (missing, "the folder does not exist").replace ("song.wav", "song.clv"));
    }
    {
        apptest::SmallDisk full (scratchFolder().getChildFile ("full"), "size=64k");
        if (! full.isMounted())
            GTEST_SKIP() << "a tmpfs cannot be mounted here (it needs root)";
        apptest::ScopedTempFolder in (full.folder);
        DialogService::get().clearHistory();
        EXPECT_TRUE (open (wav).failed());
        EXPECT_EQ (askedTitles(), (juce::StringArray { unusable, failed }));
        EXPECT_EQ (textOf (unusable), refusal (full.folder, "the disk is full"));
    }

    // With room again the same file opens.
    DialogService::get().clearHistory();
    EXPECT_TRUE (open (wav).wasOk());
    EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
}

TEST_F (AppTest, APipeTakingTheFilesPlaceBeforeAnyOfItsOpensIsNeverWaitedOn)
{
    // The k-th time anything opens the file's name while it is opened,
    // played, analysed and closed, a pipe nobody writes has just taken its
    // place: whatever checked the name before, nothing waits on the pipe.
    app->getFormatManager().registerFormat (new ToyFormat(), false);
    const auto toy = scratchFile ("toy.clv");
    ToyFormat::write (toy, decodeAll (media ("song.wav")), 44100);
    const auto preset = scratchFile ("preset.cvp");
    ASSERT_EQ (ClarivoSettingsDocument (processor()).saveAs (preset, false, false, false), juce::FileBasedDocument::savedOk);

    for (const auto& source : { media ("movie.mp4"), toy, preset })
    {
        SCOPED_TRACE (source.getFileName());
        const auto name = scratchFile ("swapped-" + source.getFileName());
        const auto pipe = scratchFile ("pipe");
        const auto path = name.getFullPathName().toStdString();
        std::atomic<int> opens { 0 }, swapAt { 0 };
        clarivo::media::detail::setBeforeOpenHook ([&] (const char* opened)
        {
            if (path == opened && ++opens == swapAt.load())
                std::rename (pipe.getFullPathName().toRawUTF8(), path.c_str());
        });
        const auto openAndClose = [&]
        {
            if (source == preset)
            {
                ClarivoSettingsDocument (processor()).loadFrom (name, false, false);
                return;
            }
            open (name);
            document().setChangedFlag (false);
            app->closeMedia();
        };

        ASSERT_TRUE (source.copyFileTo (name));
        openAndClose();
        const int total = opens.load();
        EXPECT_GE (total, 1);
        for (int k = 1; k <= total; ++k)
        {
            SCOPED_TRACE (k);
            ASSERT_TRUE (name.deleteFile() && source.copyFileTo (name));
            ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
            opens = 0;
            swapAt = k;
            expectFinishesHereWithin (30.0, "Opening a file a pipe took over", openAndClose);
            struct stat info {};
            ASSERT_EQ (::stat (path.c_str(), &info), 0);
            EXPECT_TRUE (S_ISFIFO (info.st_mode)) << "the pipe was never met";
        }
        clarivo::media::detail::setBeforeOpenHook ({});
        name.deleteFile();
        DialogService::get().clearHistory();
    }
}

TEST_F (AppTest, MoviesOfAFewPixelsOpenPlayAndSaveWithTheirPicturesInTheirOwnMemory)
{
    // Pictures narrower than one of the converter's vector blocks, each
    // converted next to a guard page.
    clarivo::media::detail::setPictureBufferAllocator ({ guardedBlock, releaseGuardedBlock });
    struct Restore
    {
        ~Restore() { clarivo::media::detail::setPictureBufferAllocator ({}); }
    } restore;
    auto* window = app->getMediaWindow();
    window->setVisible (true);
    auto& view = window->getMediaContainer();

    for (int side : { 2, 6 })
    {
        SCOPED_TRACE (side);
        const auto size = juce::String (side) + "x" + juce::String (side);
        const auto movie = scratchFile ("tiny" + size + ".mp4");
        ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "testsrc2=r=25:d=8.5:s=" + size, "-f", "lavfi", "-i", "sine=f=440:d=8.5",
                                  "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", movie.getFullPathName() }));
        ASSERT_TRUE (open (movie).wasOk());
        EXPECT_TRUE (view.isVideoVisible());

        // Eight seconds of the movie, every picture on the way asked for.
        auto framework = player().getPlayer();
        int pictures = 0;
        juce::Image last;
        player().togglePlayPause();
        ASSERT_TRUE (pumpUntil ([&]
        {
            const auto shown = framework->getCurrentVideoFrame();
            if (shown.isValid() && ! (shown == last))
            {
                EXPECT_EQ (shown.getWidth(), side);
                last = shown;
                ++pictures;
            }
            return player().getPositionSeconds() >= 8.0;
        }, 30000));
        player().togglePlayPause();
        EXPECT_GT (pictures, 1);

        const auto copy = scratchFile ("tiny" + size + "-saved.mov");
        ASSERT_EQ (saveAs (copy, ClarivoDocument::formatForFile (copy)), juce::FileBasedDocument::savedOk);
        EXPECT_EQ (videoPackets (copy), videoPackets (movie));
        document().setChangedFlag (false);
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}
