#include "MediaTestSupport.h"
#include "TestSignals.h"

#include "engine/CVAudioTapProcessor.h"
#include "platform/media/MediaComposition.h"
#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaExportSession.h"
#include "platform/media/MediaFileOutput.h"
#include "platform/media/MediaPlayer.h"

#include <cerrno>

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace clarivo::media;
using namespace mediatest;

namespace
{
struct Outcome
{
    ExportStatus status = ExportStatus::unknown;
    juce::String error;
    ExportFailure failure = ExportFailure::none;
    int failureErrno = 0;
};

// Runs the export to its end, which it reports once, off the message thread.
Outcome runExport (std::shared_ptr<AssetExportSession> session)
{
    auto completions = std::make_shared<std::atomic<int>> (0);
    auto onMessage = std::make_shared<std::atomic<bool>> (false);
    session->exportAsynchronously ([completions, onMessage]
    {
        *onMessage = juce::MessageManager::getInstance()->isThisTheMessageThread();
        ++*completions;
    });
    EXPECT_TRUE (pumpUntil ([&] { return completions->load() > 0; }, 60000));
    juce::Thread::sleep (10);
    EXPECT_EQ (completions->load(), 1);
    EXPECT_FALSE (onMessage->load());
    return { session->getStatus(), session->getError(), session->getFailure(), session->getFailureErrno() };
}

std::shared_ptr<AssetExportSession> makeSession (std::shared_ptr<Asset> asset, const juce::String& preset, const juce::File& target,
                                                FileType type, std::shared_ptr<AudioMix> mix = {})
{
    auto session = AssetExportSession::exportSessionWithAsset (std::move (asset), preset);
    if (session != nullptr)
    {
        session->setOutputURL (target);
        session->setOutputFileType (type);
        session->setAudioMix (std::move (mix));
    }
    return session;
}

Outcome exportTo (const char* source, const juce::String& preset, const juce::File& target, FileType type)
{
    return runExport (makeSession (URLAsset::assetWithURL (media (source)), preset, target, type));
}

// The first audio track of stereo.m4a, `times` times over.
std::shared_ptr<MutableComposition> repeatedSong (int times)
{
    auto source = URLAsset::assetWithURL (media ("stereo.m4a"));
    auto composition = MutableComposition::composition();
    auto track = composition->addMutableTrack (MediaType::audio);
    for (int i = 0; i < times; ++i)
        track->insertTimeRange ({ Time::zero(), source->getDuration() }, *source->getTracks()[0], composition->getDuration());
    return composition;
}

// The composition the player builds: the video delayed by the chain's
// latency, the first audio track at zero.
std::shared_ptr<MutableComposition> playbackComposition (std::shared_ptr<Asset> source, Time latency)
{
    auto composition = MutableComposition::composition();
    if (auto video = source->getTracksWithMediaType (MediaType::video); ! video.empty())
    {
        auto track = composition->addMutableTrack (MediaType::video, 0);
        track->insertTimeRange ({ Time::zero(), source->getDuration() }, *video[0], latency);
        track->setPreferredTransform (video[0]->getPreferredTransform());
    }
    auto audio = composition->addMutableTrack (MediaType::audio, 0);
    audio->insertTimeRange ({ Time::zero(), source->getDuration() }, *source->getTracksWithMediaType (MediaType::audio)[0],
                            Time::zero());
    return composition;
}


juce::StringArray filesIn (const juce::File& dir)
{
    juce::StringArray names;
    for (auto& f : dir.findChildFiles (juce::File::findFiles, false, "*", juce::File::FollowSymlinks::no))
        names.add (f.getFileName());
    names.sort (false);
    return names;
}

void expectCleanCompletion (const Outcome& outcome, const AssetExportSession& session, const CVAudioTapProcessor& tap)
{
    ASSERT_EQ (outcome.status, ExportStatus::completed) << outcome.error;
    EXPECT_EQ (session.getProgress(), 1.0f);
    EXPECT_FALSE (tap.getTap()->isInUse());
}
} // namespace

TEST (MediaExportSession, RendersTheSoundThroughTheTapThenCopiesItWithThePicturesUnchangedIntoEachContainer)
{
    auto source = URLAsset::assetWithURL (media ("movie.mp4"));
    CVAudioProcessor processor;
    const auto latency = makeTime ((std::int64_t) std::floor (processor.getLatencySamples() / 44100.0 * 1000.0), 1000);
    auto composition = playbackComposition (source, latency);

    CVAudioTapProcessor tap (composition->getTracksWithMediaType (MediaType::audio)[0], processor);
    const auto renderFile = scratchFile ("render.m4a");
    auto session = makeSession (composition, kExportPresetAppleM4A, renderFile, FileType::appleM4A, tap.getAudioMix());
    ASSERT_NE (session, nullptr);
    expectCleanCompletion (runExport (session), *session, tap);

    // The render covers the whole composition: the sound and, after it, the
    // chain's tail under the delayed picture.
    const auto length = (size_t) composition->getDuration().toSamples (48000);
    auto input = decodeAll (media ("movie.mp4"));
    for (auto& ch : input)
        ch.resize (length, 0.0f);
    const auto reference = processOffline (input, 48000.0);
    const auto renderedAudio = decodeAll (renderFile);
    ASSERT_EQ (renderedAudio[0].size(), length);
    for (int c = 0; c < 2; ++c)
    {
        EXPECT_GE (correlation (renderedAudio[(size_t) c].data(), reference[(size_t) c].data(), (int) length), 0.99) << c;
        // Neither late nor early.
        EXPECT_EQ (clarivo_test::measuredDelay (reference[(size_t) c], renderedAudio[(size_t) c], 600), 0) << c;
        EXPECT_EQ (clarivo_test::measuredDelay (renderedAudio[(size_t) c], reference[(size_t) c], 600), 0) << c;
    }
    // Processed, not the plain sound: the chain's delay is in it.
    EXPECT_LT (correlation (renderedAudio[0].data(), input[0].data(), (int) length), 0.9);

    // The processed sound, trimmed by the latency, goes into the final file
    // beside the source's pictures, turned.
    auto processed = URLAsset::assetWithURL (renderFile);
    auto final = MutableComposition::composition();
    auto video = final->addMutableTrack (MediaType::video);
    video->insertTimeRange ({ Time::zero(), source->getDuration() }, *source->getTracksWithMediaType (MediaType::video)[0], Time::zero());
    video->setPreferredTransform (juce::AffineTransform::rotation (juce::MathConstants<float>::halfPi).translated (240.0f, 0.0f));
    auto audio = final->addMutableTrack (MediaType::audio);
    audio->insertTimeRange ({ latency, processed->getDuration() }, *processed->getTracks()[0], Time::zero());

    const auto sourcePackets = videoPackets (media ("movie.mp4"));
    ASSERT_EQ (sourcePackets.size(), 50u);
    const auto trimmed = (size_t) (processed->getDuration().toSamples (48000) - latency.toSamples (48000));

    // Sound-only containers take the sound only, AAC in CAF included.
    auto soundOnly = MutableComposition::composition();
    soundOnly->addMutableTrack (MediaType::audio)->insertTimeRange ({ latency, processed->getDuration() }, *processed->getTracks()[0], Time::zero());
    for (auto type : { FileType::quickTimeMovie, FileType::mpeg4, FileType::appleM4V, FileType::appleM4A, FileType::coreAudioFormat })
    {
        SCOPED_TRACE (fileExtension (type).toStdString());
        const bool withVideo = type != FileType::appleM4A && type != FileType::coreAudioFormat;
        const auto target = scratchFile ("final" + fileExtension (type));
        const auto outcome = runExport (makeSession (withVideo ? final : soundOnly, kExportPresetPassthrough, target, type));
        ASSERT_EQ (outcome.status, ExportStatus::completed) << outcome.error;

        // The sound starts at the latency of the render, to the sample.
        const auto sound = decodeAll (target);
        const size_t c = withVideo ? 0 : 1;
        ASSERT_EQ (sound[c].size(), trimmed);
        EXPECT_TRUE (landsOn (sound[c].data() + 4800, renderedAudio[c], latency.toSamples (48000) + 4800, 20000, 0.01f));
        if (! withVideo)
        {
            // Other readers take the file too.
            EXPECT_TRUE (runFFmpeg ({ "-i", target.getFullPathName(), "-f", "null", "-" }));
            continue;
        }

        const auto packets = videoPackets (target);
        ASSERT_EQ (packets.size(), sourcePackets.size());
        for (size_t i = 0; i < packets.size(); ++i)
            ASSERT_EQ (packets[i], sourcePackets[i]) << i;
        auto copiedVideo = URLAsset::assetWithURL (target)->getTracksWithMediaType (MediaType::video);
        ASSERT_EQ (copiedVideo.size(), 1u);
        EXPECT_NEAR (copiedVideo[0]->getPreferredTransform().mat01, -1.0f, 1e-4f);
        EXPECT_NEAR (copiedVideo[0]->getPreferredTransform().mat10, 1.0f, 1e-4f);
        EXPECT_NEAR (copiedVideo[0]->getPreferredTransform().mat02, 240.0f, 1e-3f);
    }

    // Lossless, over a range a second past the end: the chain's output to
    // the sample, its tail included, and exactly the range's frames.
    auto song = URLAsset::assetWithURL (media ("stereo.m4a"));
    CVAudioProcessor songProcessor;
    CVAudioTapProcessor songTap (song->getTracks()[0], songProcessor);
    const auto wav = scratchFile ("render.wav");
    auto lossless = makeSession (song, kExportPresetLinearPCM, wav, FileType::wave, songTap.getAudioMix());
    ASSERT_NE (lossless, nullptr);
    lossless->setTimeRange ({ Time::zero(), song->getDuration() + makeTime (1, 1) });
    expectCleanCompletion (runExport (lossless), *lossless, songTap);
    std::unique_ptr<juce::AudioFormatReader> header (juce::WavAudioFormat().createReaderFor (new juce::FileInputStream (wav), true));
    ASSERT_NE (header, nullptr);
    EXPECT_TRUE (header->usesFloatingPointData && header->bitsPerSample == 32);

    auto plain = decodeAll (media ("stereo.m4a"));
    const auto songLength = plain[0].size() + 44100;
    for (auto& ch : plain)
        ch.resize (songLength, 0.0f);
    const auto expected = processOffline (plain, 44100.0);
    const auto exact = decodeAll (wav);
    ASSERT_EQ (exact.size(), 2u);
    for (size_t c = 0; c < 2; ++c)
    {
        ASSERT_EQ (exact[c].size(), songLength);
        for (size_t i = 0; i < songLength; ++i)
            ASSERT_NEAR (exact[c][i], expected[c][i], 1.0e-6f) << c << " " << i;
    }
    // The tail past the end is the chain's, not cut to silence.
    EXPECT_GT (std::abs (exact[0][songLength - 44100 + 100]), 1.0e-4f);
}

TEST (MediaExportSession, AnotherTapPassesItsAudioUntouchedWhileAProcessedExportRuns)
{
    // The export renders sixty seconds so that it is still running while the second item plays.
    auto composition = repeatedSong (30);
    CVAudioProcessor exportProcessor;
    CVAudioTapProcessor exportTap (composition->getTracks()[0], exportProcessor);
    auto session = makeSession (composition, kExportPresetAppleM4A, scratchFile ("long.m4a"), FileType::appleM4A, exportTap.getAudioMix());
    CVAudioTapProcessor::setActiveTap (exportTap.getTap());
    std::atomic<bool> done { false };
    session->exportAsynchronously ([&] { done = true; });

    CVAudioProcessor playProcessor;
    auto other = URLAsset::assetWithURL (media ("rate48k.wav"));
    CVAudioTapProcessor playTap (other->getTracks()[0], playProcessor);
    auto item = PlayerItem::playerItemWithAsset (other);
    item->setAudioMix (playTap.getAudioMix());
    Player player ({ nullptr, true, 8.0 });
    player.replaceCurrentItemWithPlayerItem (item);
    player.getNullDevice()->startCapture (48000 * 3);
    player.play();
    ASSERT_TRUE (pumpUntil ([&] { return player.getCurrentTime().seconds() > 1.0; }, 10000));
    const bool exportStillRunning = session->getStatus() == ExportStatus::exporting;
    player.pause();

    ASSERT_TRUE (pumpUntil ([&] { return done.load(); }, 60000));
    CVAudioTapProcessor::setActiveTap (nullptr);
    EXPECT_EQ (session->getStatus(), ExportStatus::completed) << session->getError();
    EXPECT_TRUE (exportStillRunning);

    const auto plain = decodeAll (media ("rate48k.wav"));
    const auto captured = player.getNullDevice()->getCapturedAudio();
    const int at = findExact (captured[0], plain[0].data(), 4096);
    ASSERT_GE (at, 0);
    for (int i = 0; i < 40000; ++i)
        ASSERT_EQ (captured[1][(size_t) (at + i)], plain[1][(size_t) i]) << i;
    EXPECT_EQ (playProcessor.getPeakMeter().level[0], 0.0f); // the chain never saw it
}

TEST (MediaExportSession, RefusedFailedOrCancelledExportsLeaveNoFile)
{
    const auto dir = scratchFolder();
    EXPECT_EQ (AssetExportSession::exportSessionWithAsset (URLAsset::assetWithURL (media ("stereo.m4a")), "NoSuchPreset"), nullptr);
    struct Case
    {
        const char* source;
        const char* preset;
        FileType type;
        const char* why = "";
    };
    // AAC in a wave file, a picture in a sound-only file, PCM in MPEG-4, raw
    // pictures of a size no decoder takes; the lossless render writes wave
    // files only; files that are not media, or whose data stops early (of
    // the file cut short, the packets that are there copy fine).
    const auto pass = kExportPresetPassthrough, pcm = kExportPresetLinearPCM;
    std::vector<Case> refused { { "stereo.m4a", pass, FileType::wave }, { "movie.mp4", pass, FileType::appleM4A },
                                { "movie.mp4", pass, FileType::coreAudioFormat }, { "rate48k.wav", pass, FileType::mpeg4 },
                                { "huge.mov", pass, FileType::quickTimeMovie }, { "stereo.m4a", pcm, FileType::appleM4A, "WAVE" },
                                { "stereo.m4a", pcm, FileType::aiff, "WAVE" }, { "stereo.m4a", pcm, FileType::coreAudioFormat, "WAVE" },
                                { "stereo.m4a", pcm, FileType::quickTimeMovie, "WAVE" }, { "cut.m4a", kExportPresetAppleM4A, FileType::appleM4A } };
    for (auto name : { "text.mp4", "empty.mp4", "truncated.mp4", "zerorate.caf" })
        for (auto preset : { kExportPresetAppleM4A, pass })
            refused.push_back ({ name, preset, FileType::appleM4A });
    for (const auto& c : refused)
    {
        SCOPED_TRACE (std::string (c.source) + " " + c.preset + " -> " + fileExtension (c.type).toStdString());
        const auto outcome = exportTo (c.source, c.preset, dir.getChildFile ("refused" + fileExtension (c.type)), c.type);
        EXPECT_EQ (outcome.status, ExportStatus::failed);
        EXPECT_TRUE (outcome.error.isNotEmpty() && outcome.error.contains (c.why)) << outcome.error;
    }
    EXPECT_EQ (exportTo ("cut.m4a", pass, dir.getChildFile ("cut.m4a"), FileType::appleM4A).status, ExportStatus::completed);

    // Raw samples go into a wave file cut to the sample.
    auto part = MutableComposition::composition();
    part->addMutableTrack (MediaType::audio)->insertTimeRange ({ makeTime (12345, 48000), makeTime (30000, 48000) },
                                                              *URLAsset::assetWithURL (media ("rate48k.wav"))->getTracks()[0], Time::zero());
    const auto partFile = dir.getChildFile ("part.wav");
    ASSERT_EQ (runExport (makeSession (part, pass, partFile, FileType::wave)).status, ExportStatus::completed);
    const auto whole = decodeAll (media ("rate48k.wav"));
    const auto cut = decodeAll (partFile);
    ASSERT_EQ (cut[0].size(), 30000u);
    for (int i = 0; i < 30000; ++i)
        ASSERT_EQ (cut[0][(size_t) i], whole[0][(size_t) (12345 + i)]) << i;

    // An existing file is never replaced.
    const auto existing = dir.getChildFile ("existing.m4a");
    existing.replaceWithText ("keep me");
    EXPECT_EQ (exportTo ("stereo.m4a", kExportPresetAppleM4A, existing, FileType::appleM4A).status, ExportStatus::failed);
    EXPECT_EQ (existing.loadFileAsString(), "keep me");

    // A range without an end is refused, not written as an empty render.
    auto endless = makeSession (URLAsset::assetWithURL (media ("stereo.m4a")), pcm, dir.getChildFile ("endless.wav"), FileType::wave);
    endless->setTimeRange ({ Time::zero(), Time::infinity() });
    EXPECT_EQ (runExport (endless).status, ExportStatus::failed);

    // Cancelled half way through a long render.
    const auto longer = repeatedSong (60);
    auto session = makeSession (longer, kExportPresetAppleM4A, dir.getChildFile ("cancelled.m4a"), FileType::appleM4A);
    std::atomic<bool> finished { false };
    session->exportAsynchronously ([&] { finished = true; });
    ASSERT_TRUE (pumpUntil ([&] { return session->getProgress() > 0.05f; }, 20000));
    session->cancelExport();
    ASSERT_TRUE (pumpUntil ([&] { return finished.load(); }, 20000));
    EXPECT_EQ (session->getStatus(), ExportStatus::cancelled);
    EXPECT_EQ (session->getFailure(), ExportFailure::cancelled);

    // The disk fills up half way: the render's encoder stops, the session
    // fails rather than waiting on it, and the part written goes.
    {
        FileSizeLimit diskFull (200 * 1024);
        for (auto preset : { kExportPresetAppleM4A, pass })
        {
            SCOPED_TRACE (preset);
            const auto outcome = runExport (makeSession (longer, preset, dir.getChildFile ("full.m4a"), FileType::appleM4A));
            EXPECT_EQ (outcome.status, ExportStatus::failed);
            EXPECT_TRUE (outcome.error.contains ("written")) << outcome.error;
            EXPECT_EQ (outcome.failure, ExportFailure::writeFailed);
        }
    }

    // The disk fills up with ten bytes to go: no export of a file one bit
    // short reports success.
    for (auto c : { Case { "stereo.m4a", pass, FileType::coreAudioFormat }, Case { "stereo.m4a", pass, FileType::appleM4A },
                    Case { "rate48k.wav", pass, FileType::wave }, Case { "stereo.m4a", kExportPresetAppleM4A, FileType::appleM4A },
                    Case { "stereo.m4a", pcm, FileType::wave } })
    {
        SCOPED_TRACE (std::string (c.source) + " " + c.preset + " -> " + fileExtension (c.type).toStdString());
        const auto target = dir.getChildFile ("short" + fileExtension (c.type));
        ASSERT_EQ (exportTo (c.source, c.preset, target, c.type).status, ExportStatus::completed);
        const auto size = target.getSize();
        target.deleteFile();
        FileSizeLimit almostFull (size - 10);
        const auto outcome = exportTo (c.source, c.preset, target, c.type);
        EXPECT_EQ (outcome.status, ExportStatus::failed);
        EXPECT_TRUE (outcome.error.isNotEmpty());
        // Every writer says it was the write, with the system's reason.
        EXPECT_EQ (outcome.failure, ExportFailure::writeFailed) << outcome.error;
        EXPECT_EQ (outcome.failureErrno, EFBIG) << outcome.error;
    }

    EXPECT_EQ (filesIn (dir), juce::StringArray ({ "cut.m4a", "existing.m4a", "part.wav" }));
}

TEST (MediaExportSession, ExportsToOneNameNeitherMixNorReplaceAFile)
{
    const auto dir = scratchFolder();
    const auto target = dir.getChildFile ("same.wav");

    // Two sources mapped onto one output name, exported side by side: one
    // wins whole, the other fails, and the file holds the winner's sound.
    const char* sources[] = { "rate48k.wav", "six.wav" };
    for (int round = 0; round < 4; ++round)
    {
        SCOPED_TRACE (round);
        std::shared_ptr<AssetExportSession> sessions[2];
        std::atomic<int> done { 0 };
        for (int i = 0; i < 2; ++i)
            sessions[i] = makeSession (URLAsset::assetWithURL (media (sources[i])), kExportPresetPassthrough, target, FileType::wave);
        for (auto& s : sessions)
            s->exportAsynchronously ([&] { ++done; });
        ASSERT_TRUE (pumpUntil ([&] { return done.load() == 2; }, 20000));
        const bool first = sessions[0]->getStatus() == ExportStatus::completed;
        const bool second = sessions[1]->getStatus() == ExportStatus::completed;
        ASSERT_NE (first, second) << sessions[0]->getError() << " / " << sessions[1]->getError();
        EXPECT_TRUE (sessions[first ? 1 : 0]->getError().contains ("exists")) << sessions[first ? 1 : 0]->getError();
        const auto expected = decodeAll (media (sources[first ? 0 : 1]));
        const auto written = decodeAll (target);
        EXPECT_EQ (written, expected);
        EXPECT_EQ (filesIn (dir), juce::StringArray ("same.wav"));
        target.deleteFile();
    }

    // A file the user saves at the target while the export runs is kept, and
    // the export fails.
    const auto saved = dir.getChildFile ("saved.m4a");
    auto session = makeSession (repeatedSong (30), kExportPresetAppleM4A, saved, FileType::appleM4A);
    std::atomic<bool> finished { false };
    session->exportAsynchronously ([&] { finished = true; });
    ASSERT_TRUE (pumpUntil ([&] { return session->getProgress() > 0.05f; }, 20000));
    ASSERT_FALSE (finished.load());
    saved.replaceWithText ("saved meanwhile");
    ASSERT_TRUE (pumpUntil ([&] { return finished.load(); }, 60000));
    EXPECT_EQ (session->getStatus(), ExportStatus::failed);
    EXPECT_TRUE (session->getError().contains ("exists")) << session->getError();
    EXPECT_EQ (saved.loadFileAsString(), "saved meanwhile");
    EXPECT_EQ (filesIn (dir), juce::StringArray ("saved.m4a"));

    // So it is where the filesystem offers no such rename and a hard link
    // stands in for it.
    detail::PartialFile::useNamedFilesOnly (true);
    detail::FileCalls calls;
    calls.rename = [] (int fromDir, const char* from, int toDir, const char* to, unsigned int flags)
    {
        if (flags != 0)
            return errno = EINVAL, -1;
        return ::renameat (fromDir, from, toDir, to);
    };
    detail::setFileCalls (calls);
    juce::String why;
    for (const auto& name : { "saved.m4a", "moved" })
    {
        detail::PartialFile complete (dir.getChildFile (name), why);
        detail::CheckedFileOutputStream out (complete.getFile());
        ASSERT_TRUE (out.write ("new", 3) && out.close());
        EXPECT_EQ (complete.moveInto (dir.getChildFile (name), why), juce::String (name) == "moved");
    }
    detail::setFileCalls ({});
    detail::PartialFile::useNamedFilesOnly (false);
    EXPECT_TRUE (why.contains ("exists")) << why;
    EXPECT_EQ (saved.loadFileAsString(), "saved meanwhile");
    EXPECT_EQ (dir.getChildFile ("moved").loadFileAsString(), "new");
    EXPECT_EQ (filesIn (dir), juce::StringArray ({ "moved", "saved.m4a" }));
}

// Which movie type carries which picture is FFmpeg's answer, not a list of
// ours: every picture this FFmpeg can make is copied into each movie type
// said to carry it, and must come back as that picture.
TEST (MediaExportSession, EveryPictureAMovieTypeIsSaidToCarryIsWrittenAndReadsBack)
{
    struct Known
    {
        const char* codec;
        bool mov, mp4, m4v;
    };
    // Tape and disc transfers, phones and the web; the writers refuse VP8
    // outright and VP9 and AV1 outside MP4, whatever they answer when asked.
    for (const auto& k : { Known { "mpeg2video", true, true, false }, { "mpeg1video", true, true, false },
                           { "dvvideo", true, false, false }, { "hevc", true, true, false }, { "h264", true, true, true },
                           { "mpeg4", true, true, true }, { "vp9", false, true, false }, { "av1", false, true, false },
                           { "vp8", false, false, false }, { "theora", false, false, false } })
    {
        SCOPED_TRACE (k.codec);
        EXPECT_EQ (carriesPicture (FileType::quickTimeMovie, k.codec), k.mov);
        EXPECT_EQ (carriesPicture (FileType::mpeg4, k.codec), k.mp4);
        EXPECT_EQ (carriesPicture (FileType::appleM4V, k.codec), k.m4v);
        EXPECT_FALSE (carriesPicture (FileType::appleM4A, k.codec));
    }
    EXPECT_FALSE (carriesPicture (FileType::quickTimeMovie, "aac"));
    EXPECT_FALSE (carriesPicture (FileType::mpeg4, "no such codec"));
    EXPECT_EQ (pictureCodecTitle ("mpeg2video"), "MPEG-2 video");
    EXPECT_EQ (pictureCodecTitle ("dvvideo"), "DV (Digital Video)");

    const FileType movies[] = { FileType::quickTimeMovie, FileType::mpeg4, FileType::appleM4V };
    struct Sample
    {
        const AVCodecDescriptor* codec;
        juce::File file;
        std::unique_ptr<juce::ChildProcess> maker;
    };
    std::vector<Sample> samples;
    const auto dir = scratchFolder();
    for (const AVCodecDescriptor* d = nullptr; (d = avcodec_descriptor_next (d)) != nullptr;)
        if (d->type == AVMEDIA_TYPE_VIDEO && avcodec_find_encoder (d->id) != nullptr
            && std::any_of (std::begin (movies), std::end (movies), [d] (FileType t) { return carriesPicture (t, d->name); }))
            samples.push_back ({ d, dir.getChildFile (juce::String (d->name) + (carriesPicture (FileType::quickTimeMovie, d->name) ? ".mov" : ".mkv")), {} });
    ASSERT_GT (samples.size(), 20u);

    // A few frames of each, made side by side; some encoders take only
    // the picture sizes of their tape or broadcast format.
    const auto start = [] (Sample& s)
    {
        const juce::String name (s.codec->name);
        juce::StringArray args { "ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i" };
        const bool tapeSize = name == "dvvideo" || name == "avui";
        args.add ("testsrc=rate=25:duration=0.12:size=" + juce::String (tapeSize ? "720x576" : name == "dnxhd" ? "1280x720" : "176x144"));
        args.addArray ({ "-c:v", name });
        if (name == "avui")
            args.addArray ({ "-strict", "-2" });
        if (name == "dvvideo")
            args.addArray ({ "-pix_fmt", "yuv420p" });
        if (name == "dnxhd")
            args.addArray ({ "-profile:v", "dnxhr_lb", "-pix_fmt", "yuv422p" });
        args.add (s.file.getFullPathName());
        s.maker = std::make_unique<juce::ChildProcess>();
        EXPECT_TRUE (s.maker->start (args, juce::ChildProcess::wantStdErr)) << name;
    };
    for (size_t first = 0; first < samples.size(); first += 8)
    {
        const auto last = std::min (samples.size(), first + 8);
        for (size_t i = first; i < last; ++i)
            start (samples[i]);
        for (size_t i = first; i < last; ++i)
        {
            const auto errors = samples[i].maker->readAllProcessOutput();
            EXPECT_TRUE (samples[i].maker->waitForProcessToFinish (120000) && samples[i].maker->getExitCode() == 0)
                << samples[i].codec->name << ": " << errors;
        }
    }

    for (const auto& s : samples)
        for (auto type : movies)
        {
            if (! carriesPicture (type, s.codec->name) || ! s.file.existsAsFile())
                continue;
            SCOPED_TRACE (std::string (s.codec->name) + " in " + fileExtension (type).toStdString());
            const auto copy = dir.getChildFile (juce::String ("copy-") + s.codec->name + fileExtension (type));
            const auto outcome = runExport (makeSession (URLAsset::assetWithURL (s.file), kExportPresetPassthrough, copy, type));
            ASSERT_EQ (outcome.status, ExportStatus::completed) << outcome.error;
            juce::String why;
            auto written = detail::Demuxer::openFile (copy, why);
            ASSERT_NE (written, nullptr) << why;
            ASSERT_EQ (written->numStreams(), 1);
            EXPECT_EQ (written->stream (0)->codecpar->codec_id, s.codec->id);
            EXPECT_EQ (videoPackets (copy).size(), videoPackets (s.file).size());
        }
}

TEST (MediaExportSession, SoundFarBelowTheEncodersRatesIsResampledWhole)
{
    // AAC takes 7350 Hz at the least: sound at 1000 Hz comes out with more
    // than seven times as many samples as went in, all of them.
    const auto source = scratchFile ("slow.wav");
    ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*50*t):s=1000:d=30", "-ac", "2", "-c:a", "pcm_s16le",
                              source.getFullPathName() }));
    const auto target = scratchFile ("slow.m4a");
    const auto outcome = runExport (makeSession (URLAsset::assetWithURL (source), kExportPresetAppleM4A, target, FileType::appleM4A));
    ASSERT_EQ (outcome.status, ExportStatus::completed) << outcome.error;
    int rate = 0;
    const auto sound = decodeAll (target, &rate);
    ASSERT_EQ (rate, 7350);
    ASSERT_EQ (sound.size(), 2u);
    EXPECT_NEAR ((double) sound[0].size(), 30.0 * 7350, 10.0);
    // Sound to its very end, not silence after whatever fitted in one go.
    EXPECT_GT (*std::max_element (sound[0].end() - 7350, sound[0].end() - 100), 0.3f);
}
