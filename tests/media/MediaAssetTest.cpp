#include "MediaTestSupport.h"
#include "TestDeadline.h"

#include "platform/media/FFmpegAudioFormat.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaComposition.h"
#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaTrackRender.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

using namespace clarivo::media;
using namespace mediatest;

namespace
{
// Loads the keys off the main thread, calls back once, and gives each a status.
void expectKeysLoad (Asset& asset, KeyStatus expected)
{
    std::atomic<int> calls { 0 };
    std::atomic<bool> onMessageThread { true };
    const juce::StringArray keys { "playable", "hasProtectedContent", "tracks", "duration" };
    asset.loadValuesAsynchronously (keys, [&]
    {
        onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        ++calls;
    });
    ASSERT_TRUE (pumpUntil ([&] { return calls.load() > 0; }, 10000));
    juce::Thread::sleep (20);
    EXPECT_EQ (calls.load(), 1);
    EXPECT_FALSE (onMessageThread.load());
    for (auto& k : keys)
    {
        juce::String error;
        EXPECT_EQ (asset.statusOfValueForKey (k, &error), expected) << k;
        EXPECT_EQ (error.isNotEmpty(), expected == KeyStatus::failed);
    }
    EXPECT_EQ (asset.statusOfValueForKey ("neverAsked"), KeyStatus::unknown);
}
} // namespace

TEST (MediaTime, KeepsExactValuesAcrossTimescales)
{
    EXPECT_EQ (makeTimeWithSeconds (0.6, 600).value, 360);
    EXPECT_EQ (makeTime (1, 10).seconds(), 0.1);

    // Samples and milliseconds meet on a common scale without rounding.
    const auto sum = makeTime (44100, 44100) + makeTime (250, 1000);
    EXPECT_EQ (sum, makeTimeWithSeconds (1.25, 44100));
    EXPECT_EQ (sum.toSamples (44100), 55125);
    EXPECT_EQ ((makeTime (3, 1000) - makeTime (3, 1000)).value, 0);
    EXPECT_LT (makeTime (1, 3), makeTime (334, 1000));
    EXPECT_GT (Time::infinity(), makeTime (1LL << 40, 1));
    EXPECT_FALSE (Time::invalid().isValid());

    const TimeRange a { makeTime (1, 1), makeTime (2, 1) };
    const TimeRange b { makeTime (2500, 1000), makeTime (10, 1) };
    const auto both = a.intersection (b);
    EXPECT_EQ (both.start, makeTime (5, 2));
    EXPECT_EQ (both.duration, makeTime (1, 2));
    EXPECT_TRUE (a.intersection ({ makeTime (5, 1), makeTime (1, 1) }).isEmpty());
}

TEST (MediaAsset, LoadsKeysOffTheMainThreadAndProbesTracksFormatsSizesAndDurations)
{
    // The sound of each file: its audio track comes last (video first in
    // movie.mp4 and clip.mkv; cover art is a picture, not a track), and its
    // length is exact, without the encoder's priming and padding.
    const struct
    {
        const char* file;
        size_t tracks;
        std::int32_t rate;
        int channels, bits;
        std::int64_t length;
    } files[] = { { "stereo.m4a", 1, 44100, 2, 0, 88200 }, { "song.mp3", 1, 44100, 2, 0, 88200 }, { "movie.mp4", 2, 48000, 2, 0, 96000 },
                  { "six.wav", 1, 44100, 6, 16, 44100 }, { "rate48k.wav", 1, 48000, 2, 24, 96000 }, { "clip.mkv", 2, 44100, 2, 0, 88200 } };
    for (const auto& f : files)
    {
        SCOPED_TRACE (f.file);
        auto asset = URLAsset::assetWithURL (media (f.file));
        expectKeysLoad (*asset, KeyStatus::loaded);
        const auto tracks = asset->getTracks();
        ASSERT_EQ (tracks.size(), f.tracks);
        EXPECT_EQ (tracks.back()->getMediaType(), MediaType::audio);
        const auto desc = firstAudioStreamDescription (*asset);
        ASSERT_TRUE (desc.has_value());
        EXPECT_EQ (std::make_tuple (desc->sampleRate, desc->channelsPerFrame, desc->bitsPerChannel), std::make_tuple ((double) f.rate, f.channels, f.bits));
        EXPECT_EQ (tracks.back()->getTimeRange().duration, makeTime (f.length, f.rate));
        EXPECT_TRUE (f.tracks > 1 || asset->getDuration() == makeTime (f.length, f.rate));
        EXPECT_TRUE (asset->isPlayable());
        EXPECT_FALSE (asset->hasProtectedContent());
    }

    const auto mp4 = URLAsset::assetWithURL (media ("movie.mp4"));
    const auto movie = mp4->getTracks()[0];
    EXPECT_EQ (movie->getMediaType(), MediaType::video);
    EXPECT_EQ (movie->getNaturalSize(), juce::Point<float> (320.0f, 240.0f));
    EXPECT_FLOAT_EQ (movie->getNominalFrameRate(), 25.0f);
    EXPECT_TRUE (movie->getPreferredTransform().isIdentity());
    EXPECT_FALSE (movie->getAudioStreamDescription().has_value());
    EXPECT_NEAR (movie->getTimeRange().duration.seconds(), 2.0, 0.001);

    // 4:3 pixels: the picture is wider than its encoded width.
    const auto mov = URLAsset::assetWithURL (media ("movie.mov"));
    auto video = mov->getTracksWithMediaType (MediaType::video);
    ASSERT_EQ (video.size(), 1u);
    EXPECT_EQ (video[0]->getEncodedSize(), juce::Point<int> (320, 240));
    EXPECT_NEAR (video[0]->getNaturalSize().x, 426.67f, 0.01f);
    EXPECT_EQ (video[0]->getNaturalSize().y, 240.0f);
}

TEST (MediaAsset, BadFilesFailClearlyWhenLoadedOrProbed)
{
    for (auto name : { "truncated.mp4", "empty.mp4", "text.mp4", "zerorate.caf" })
    {
        SCOPED_TRACE (name);
        auto asset = URLAsset::assetWithURL (media (name));
        expectKeysLoad (*asset, KeyStatus::failed);
        EXPECT_TRUE (asset->getTracks().empty());
        EXPECT_FALSE (asset->isPlayable());
        EXPECT_TRUE (asset->getError().isNotEmpty());
        EXPECT_EQ (asset->getDuration(), Time::zero());
        EXPECT_EQ (firstAudioStreamDescription (*asset), std::nullopt);
        // Damaged media, as against what is no media at all, whatever its name.
        EXPECT_EQ (asset->isDamaged(), juce::String (name) == "truncated.mp4");
    }
    // A picture too large to decode leaves the sound readable.
    auto huge = URLAsset::assetWithURL (media ("huge.mov"));
    ASSERT_EQ (huge->getTracks().size(), 2u);
    EXPECT_EQ (firstAudioStreamDescription (*huge)->channelsPerFrame, 2);
    EXPECT_LT (huge->getTracksWithMediaType (MediaType::video)[0]->getNaturalSize().x, 65535.0f);

    // An edit list that puts the sound fifty days past the movie's end
    // places it at zero, rather than making weeks of silence to play and render.
    juce::MemoryBlock data;
    ASSERT_TRUE (media ("stereo.m4a").loadFileAsData (data));
    const auto edits = std::string_view (static_cast<const char*> (data.getData()), data.getSize()).find ("elst");
    const auto late = scratchFile ("late.m4a");
    ASSERT_NE (edits, std::string_view::npos);
    std::fill_n (static_cast<char*> (data.getData()) + edits + 12, 8, '\xff');
    ASSERT_TRUE (late.replaceWithData (data.getData(), data.getSize()));
    EXPECT_NEAR (URLAsset::assetWithURL (late)->getDuration().seconds(), 2.0, 0.05);

    // A pipe named as media answers at once: nothing waits for a writer.
    const auto pipe = scratchFile ("pipe.wav");
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    for (auto file : { media ("no such file.mov"), pipe })
    {
        auto missing = URLAsset::assetWithURL (file);
        EXPECT_TRUE (missing->getTracks().empty());
        EXPECT_TRUE (missing->getError().isNotEmpty());
        EXPECT_FALSE (missing->isDamaged());
    }
}

TEST (MediaAsset, ListsThatLeadOnToPipesOrBackToThemselvesAreRefusedAtOnce)
{
    // A regular file, whatever its name, that sends the reader on to a pipe
    // nobody writes, or back to itself.
    const auto pipe = scratchFile ("next.wav");
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    const auto list = scratchFile ("album.mp3");
    ASSERT_TRUE (list.replaceWithText ("ffconcat version 1.0\nfile next.wav\n"));
    const auto playlist = scratchFile ("show.m3u8");
    ASSERT_TRUE (playlist.replaceWithText ("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nnext.wav\n#EXT-X-ENDLIST\n"));

    // A playlist of variants whose one variant is the playlist itself.
    const auto variants = scratchFile ("variants.m3u8");
    ASSERT_TRUE (variants.replaceWithText ("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nvariants.m3u8\n"));

    for (const auto& file : { list, playlist, variants })
    {
        SCOPED_TRACE (file.getFileName().toStdString());
        expectFinishesWithin (10.0, "Probing " + file.getFileName().toStdString(), [&]
        {
            auto asset = URLAsset::assetWithURL (file);
            EXPECT_TRUE (asset->getTracks().empty());
            EXPECT_FALSE (asset->isPlayable());
            EXPECT_TRUE (asset->getError().isNotEmpty());
        });
    }
}

TEST (MediaAsset, APipeSwappedInUnderTheNameJustBeforeAnyOpenIsRefusedAtOnce)
{
    // Every way the layer reads a file by its name, from the look at its
    // first bytes to the pictures: the k-th open of the name finds a pipe
    // that nobody writes, moved there the moment before, as by someone
    // racing the check that came first.
    const auto readEverything = [] (const juce::File& file)
    {
        detail::looksLikeMedia (file);
        auto asset = URLAsset::assetWithURL (file);
        for (const auto& track : asset->getTracks())
            track->getNaturalSize();
        juce::String why;
        FFmpegAudioFormat format;
        if (auto in = detail::RegularFileInputStream::open (file, why))
        {
            std::unique_ptr<juce::AudioFormatReader> reader (format.createReaderFor (in.release(), true));
            juce::AudioBuffer<float> block (2, 4096);
            if (reader != nullptr)
                reader->read (&block, 0, 4096, 20000, true, true);
        }
        for (int i = 0; i < 3; ++i)
            if (auto video = detail::VideoDecoder::open (file, i, why))
            {
                detail::VideoFrame frame;
                video->next (frame);
            }
    };

    for (auto source : { "movie.mov", "song.mp3" })
    {
        SCOPED_TRACE (source);
        const auto name = scratchFile (juce::String ("swapped-") + source);
        const auto pipe = scratchFile ("pipe");
        const auto path = name.getFullPathName().toStdString();
        std::atomic<int> opens { 0 }, swapAt { 0 };
        detail::setBeforeOpenHook ([&] (const char* opened)
        {
            if (path == opened && ++opens == swapAt.load())
                std::rename (pipe.getFullPathName().toRawUTF8(), path.c_str());
        });

        ASSERT_TRUE (media (source).copyFileTo (name));
        readEverything (name);
        const int total = opens.load();
        EXPECT_GE (total, 3);
        for (int k = 1; k <= total; ++k)
        {
            SCOPED_TRACE (k);
            ASSERT_TRUE (name.deleteFile() && media (source).copyFileTo (name));
            ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
            opens = 0;
            swapAt = k;
            expectFinishesWithin (20.0, "Reading a name a pipe took over", [&] { readEverything (name); });
            struct stat info {};
            ASSERT_EQ (::stat (path.c_str(), &info), 0);
            EXPECT_TRUE (S_ISFIFO (info.st_mode)) << "the pipe was never met";
        }
        detail::setBeforeOpenHook ({});
        name.deleteFile();
    }
}

TEST (MediaComposition, PlacesTracksAndRendersAudioFromTheirSources)
{
    auto source = URLAsset::assetWithURL (media ("movie.mp4"));
    auto composition = MutableComposition::composition();
    const auto duration = source->getDuration();
    const auto offset = makeTime (93, 1000);

    auto video = composition->addMutableTrack (MediaType::video, 0);
    ASSERT_TRUE (video->insertTimeRange ({ Time::zero(), duration }, *source->getTracksWithMediaType (MediaType::video)[0], offset));
    auto audio = composition->addMutableTrack (MediaType::audio, 0);
    ASSERT_TRUE (audio->insertTimeRange ({ Time::zero(), duration }, *source->getTracksWithMediaType (MediaType::audio)[0], Time::zero()));

    juce::String error;
    EXPECT_FALSE (audio->insertTimeRange ({ Time::zero(), duration }, *source->getTracksWithMediaType (MediaType::video)[0],
                                          Time::zero(), &error));
    EXPECT_TRUE (error.isNotEmpty());

    EXPECT_NE (video->getTrackID(), audio->getTrackID());
    EXPECT_EQ (composition->getTracks().size(), 2u);
    EXPECT_EQ (video->getNaturalSize(), juce::Point<float> (320.0f, 240.0f));
    EXPECT_EQ (audio->getAudioStreamDescription()->sampleRate, 48000.0);
    // The video runs past the audio by the offset.
    EXPECT_NEAR (composition->getDuration().seconds(), video->getTimeRange().end().seconds(), 1e-9);
    EXPECT_NEAR (video->getTimeRange().end().seconds() - source->getTracksWithMediaType (MediaType::video)[0]->getTimeRange().duration.seconds(),
                 0.093, 1e-6);

    // A second composition takes the first one's audio from 0.25 s on and
    // puts it at 0.5 s: its samples are the file's, moved.
    auto second = MutableComposition::composition();
    auto moved = second->addMutableTrack (MediaType::audio);
    ASSERT_TRUE (moved->insertTimeRange ({ makeTime (250, 1000), makeTime (1, 1) }, *audio, makeTime (500, 1000)));
    EXPECT_EQ (second->getDuration(), makeTime (1500, 1000));

    const auto original = decodeAll (media ("movie.mp4"));
    clarivo::media::detail::TrackAudioSource render (*moved);
    ASSERT_TRUE (render.isValid());
    std::vector<float> l (4800), r (4800);
    float* out[] = { l.data(), r.data() };
    render.read (out, 24000 - 2400, 4800);
    for (int i = 0; i < 2400; ++i)
        ASSERT_EQ (l[(size_t) i], 0.0f) << i;
    // AAC fills some bands with noise from a generator that runs with the
    // decoder, so a decode that starts mid-file matches to codec noise only.
    EXPECT_TRUE (landsOn (r.data() + 2400, original[1], 12000, 2400, 0.01f));

    // A frozen copy does not follow later edits.
    auto frozen = second->copy();
    ASSERT_TRUE (moved->insertTimeRange ({ Time::zero(), makeTime (1, 1) }, *audio, Time::zero()));
    EXPECT_EQ (frozen->getDuration(), makeTime (1500, 1000));
    EXPECT_EQ (second->getDuration(), makeTime (2500, 1000));
}
