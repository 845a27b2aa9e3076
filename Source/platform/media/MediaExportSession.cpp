#include "MediaExportSession.h"
#include "MediaDecoding.h"
#include "MediaFileOutput.h"
#include "MediaTrackRender.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

namespace clarivo::media
{
namespace detail
{
// A failure as it happened: its kind and system error number for the
// application, and the text for the log.
struct ExportFault
{
    ExportFailure kind = ExportFailure::other;
    int error = 0;
    juce::String text;

    bool fail (ExportFailure k, const juce::String& t, int e = 0)
    {
        kind = k;
        text = t;
        error = e;
        return false;
    }
};
} // namespace detail
using detail::ExportFault;

juce::String fileExtension (FileType type)
{
    switch (type)
    {
        case FileType::quickTimeMovie: return ".mov";
        case FileType::mpeg4: return ".mp4";
        case FileType::appleM4V: return ".m4v";
        case FileType::appleM4A: return ".m4a";
        case FileType::coreAudioFormat: return ".caf";
        case FileType::wave: return ".wav";
        case FileType::aiff: return ".aif";
    }
    return {};
}

std::optional<FileType> fileTypeForExtension (const juce::String& extension)
{
    auto e = extension.toLowerCase();
    if (! e.startsWithChar ('.'))
        e = "." + e;
    if (e == ".aiff" || e == ".aifc")
        return FileType::aiff;
    for (auto t : { FileType::quickTimeMovie, FileType::mpeg4, FileType::appleM4V, FileType::appleM4A,
                    FileType::coreAudioFormat, FileType::wave, FileType::aiff })
        if (fileExtension (t) == e)
            return t;
    return std::nullopt;
}

bool isAudioOnly (FileType type)
{
    return type == FileType::appleM4A || type == FileType::coreAudioFormat || type == FileType::wave
        || type == FileType::aiff;
}

namespace
{
// FFmpeg passes the system's errors on as AVERROR (e), that is -e; its
// own codes lie far below.
int systemErrorOf (int averror)
{
    return averror < 0 && averror > -4096 ? -averror : 0;
}

bool writeFailed (ExportFault& why, const juce::String& what, int averror)
{
    return why.fail (ExportFailure::writeFailed, what + " (" + detail::errorText (averror) + ").", systemErrorOf (averror));
}

const char* muxerName (FileType type)
{
    switch (type)
    {
        case FileType::quickTimeMovie: return "mov";
        case FileType::mpeg4: return "mp4";
        case FileType::appleM4V: return "ipod";
        case FileType::appleM4A: return "ipod";
        case FileType::coreAudioFormat: return "caf";
        case FileType::wave: return "wav";
        case FileType::aiff: return "aiff";
    }
    return "mov";
}
} // namespace

bool carriesPicture (FileType type, const juce::String& codec)
{
    const auto* descriptor = avcodec_descriptor_get_by_name (codec.toRawUTF8());
    if (isAudioOnly (type) || descriptor == nullptr || descriptor->type != AVMEDIA_TYPE_VIDEO)
        return false;
    // The QuickTime writer answers from the tag table it shares with the
    // reader, but refuses VP8 outright, and VP9 and AV1 outside MP4, when
    // the file is started.
    const auto id = descriptor->id;
    if (type == FileType::quickTimeMovie && (id == AV_CODEC_ID_VP8 || id == AV_CODEC_ID_VP9 || id == AV_CODEC_ID_AV1))
        return false;
    const auto* muxer = av_guess_format (muxerName (type), nullptr, nullptr);
    return muxer != nullptr && avformat_query_codec (muxer, id, FF_COMPLIANCE_NORMAL) == 1;
}

juce::String pictureCodec (Asset& asset)
{
    if (auto video = asset.getFirstTrackWithMediaType (MediaType::video))
        for (const auto& format : video->getFormatDescriptions())
            if (format.codec.isNotEmpty())
                return format.codec;
    return {};
}

juce::String pictureCodecTitle (const juce::String& codec)
{
    const auto* descriptor = avcodec_descriptor_get_by_name (codec.toRawUTF8());
    return descriptor != nullptr && descriptor->long_name != nullptr ? juce::String (descriptor->long_name) : codec;
}

juce::StringPairArray fileMetadata (const juce::File& file)
{
    juce::StringPairArray tags;
    juce::String why;
    if (auto demuxer = detail::Demuxer::openFile (file, why))
    {
        const AVDictionaryEntry* tag = nullptr;
        while ((tag = av_dict_get (demuxer->get()->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)) != nullptr)
            tags.set (juce::String::fromUTF8 (tag->key), juce::String::fromUTF8 (tag->value));
    }
    return tags;
}

namespace
{
// An output file being written; closes and frees whatever was opened.
struct OutputContainer
{
    AVFormatContext* context = nullptr;

    ~OutputContainer()
    {
        if (context != nullptr)
        {
            if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0)
                avio_closep (&context->pb);
            avformat_free_context (context);
        }
    }

    bool create (FileType type, const juce::File& file, ExportFault& why)
    {
        const int r = avformat_alloc_output_context2 (&context, nullptr, muxerName (type), file.getFullPathName().toRawUTF8());
        if (r < 0 || context == nullptr)
            return why.fail (ExportFailure::other, "The container cannot be written (" + detail::errorText (r) + ").");
        // Byte-identical output for identical input: no encoder tags or dates.
        context->flags |= AVFMT_FLAG_BITEXACT;
        return true;
    }

    bool open (const juce::File& file, ExportFault& why)
    {
        const int r = avio_open (&context->pb, file.getFullPathName().toRawUTF8(), AVIO_FLAG_WRITE);
        return r >= 0 || writeFailed (why, "The file cannot be created", r);
    }

    // After the trailer: the last of the buffer goes out and the file closes.
    bool close (ExportFault& why)
    {
        const int error = context->pb != nullptr ? context->pb->error : 0;
        const int r = avio_closep (&context->pb);
        return (error >= 0 && r >= 0) || writeFailed (why, "The file could not be written", error < 0 ? error : r);
    }
};

struct Encoder
{
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVAudioFifo* fifo = nullptr;
    SwrContext* resampler = nullptr;

    ~Encoder()
    {
        swr_free (&resampler);
        if (fifo != nullptr)
            av_audio_fifo_free (fifo);
        av_packet_free (&packet);
        av_frame_free (&frame);
        avcodec_free_context (&context);
    }
};

bool pcmFits (FileType type, AVCodecID id)
{
    if (type == FileType::wave)
        return id == AV_CODEC_ID_PCM_U8 || id == AV_CODEC_ID_PCM_S16LE || id == AV_CODEC_ID_PCM_S24LE
            || id == AV_CODEC_ID_PCM_S32LE || id == AV_CODEC_ID_PCM_F32LE || id == AV_CODEC_ID_PCM_F64LE;
    if (type == FileType::aiff)
        return id == AV_CODEC_ID_PCM_S8 || id == AV_CODEC_ID_PCM_S16BE || id == AV_CODEC_ID_PCM_S24BE
            || id == AV_CODEC_ID_PCM_S32BE || id == AV_CODEC_ID_PCM_F32BE || id == AV_CODEC_ID_PCM_F64BE;
    return true;
}

void setDisplayMatrix (AVStream* st, const juce::AffineTransform& t)
{
    if (t.isIdentity())
        return;
    auto* m = reinterpret_cast<int32_t*> (av_stream_new_side_data (st, AV_PKT_DATA_DISPLAYMATRIX, sizeof (int32_t) * 9));
    if (m == nullptr)
        return;
    const auto fx = [] (float v) { return (int32_t) std::lround ((double) v * 65536.0); };
    m[0] = fx (t.mat00);
    m[1] = fx (t.mat10);
    m[2] = 0;
    m[3] = fx (t.mat01);
    m[4] = fx (t.mat11);
    m[5] = 0;
    m[6] = fx (t.mat02);
    m[7] = fx (t.mat12);
    m[8] = 1 << 30;
}

// Copies the source's tags that a copy keeps into dict: not what the source
// container says of itself (brands, the library that wrote it), nor the
// copy per language the QuickTime reader adds beside a tag ("location-eng").
// True when one is a reverse-DNS key ("com.apple.quicktime.make"), which the
// QuickTime family holds only in a key list of its own.
bool carryTags (const juce::StringPairArray& tags, AVDictionary*& dict)
{
    static const juce::StringArray containersOwn { "major_brand", "minor_version", "compatible_brands", "encoder" };
    bool reverseDns = false;
    for (int i = 0; i < tags.size(); ++i)
    {
        const auto key = tags.getAllKeys()[i];
        const int dash = key.lastIndexOfChar ('-');
        if (containersOwn.contains (key, true) || (dash > 0 && key.length() - dash == 4 && tags.containsKey (key.substring (0, dash))))
            continue;
        av_dict_set (&dict, key.toRawUTF8(), tags.getAllValues()[i].toRawUTF8(), 0);
        reverseDns = reverseDns || key.containsChar ('.');
    }
    // A broadcast wave gives the day and the time of day apart; a writer
    // given the time alone would date it today.
    const auto moment = tags["creation_time"], day = tags["date"];
    if (moment.length() == 8 && moment[2] == ':')
        av_dict_set (&dict, "creation_time", day.length() == 10 && day[4] == '-' ? (day + "T" + moment).toRawUTF8() : nullptr, 0);
    return reverseDns;
}
} // namespace

// ---------------------------------------------------------------------------
std::shared_ptr<AssetExportSession> AssetExportSession::exportSessionWithAsset (std::shared_ptr<Asset> asset,
                                                                               const juce::String& presetName)
{
    if (asset == nullptr
        || (presetName != kExportPresetAppleM4A && presetName != kExportPresetLinearPCM && presetName != kExportPresetPassthrough))
        return nullptr;
    return std::shared_ptr<AssetExportSession> (new AssetExportSession (std::move (asset), presetName));
}

AssetExportSession::AssetExportSession (std::shared_ptr<Asset> a, const juce::String& p)
    : asset (std::move (a)), preset (p)
{
}

AssetExportSession::~AssetExportSession() = default;

juce::String AssetExportSession::getError() const
{
    std::lock_guard<std::mutex> lock (errorLock);
    return error;
}

void AssetExportSession::exportAsynchronously (std::function<void()> done)
{
    ExportStatus expected = ExportStatus::unknown;
    if (! status.compare_exchange_strong (expected, ExportStatus::waiting))
    {
        // A session exports once.
        if (done)
            std::thread (std::move (done)).detach();
        return;
    }
    completion = std::move (done);
    std::thread ([self = shared_from_this()] { self->run(); }).detach();
}

void AssetExportSession::run()
{
    juce::Thread::setCurrentThreadName ("Media Export");
    status.store (ExportStatus::exporting);

    ExportFault why;
    bool ok = true;
    std::unique_ptr<detail::PartialFile> partial;

    if (outputURL == juce::File())
        ok = why.fail (ExportFailure::other, "No output file was given.");
    else if (! fileType)
        ok = why.fail (ExportFailure::other, "No output file type was given.");
    else if (! detail::mayWriteTo (outputURL))
        ok = why.fail (ExportFailure::writeFailed, "The output file already exists.", EEXIST);
    else if (! outputURL.getParentDirectory().isDirectory())
        ok = why.fail (ExportFailure::writeFailed, "The output folder does not exist.", ENOENT);

    if (ok)
    {
        // Written unnamed (or under a hidden name) beside the target and
        // given its name only when complete, and only while the name is
        // free: a file that appeared there meanwhile (another export's, or
        // one the user saved) is kept.
        // Each leaves errno as its failing call set it.
        partial = std::make_unique<detail::PartialFile> (outputURL, why.text);
        ok = partial->isValid() || why.fail (ExportFailure::writeFailed, why.text, errno);
        if (ok)
            ok = preset == kExportPresetPassthrough ? passthrough (partial->getFile(), why) : render (partial->getFile(), why);
        if (ok && cancelRequested.load())
            ok = false;
        if (ok)
            ok = partial->moveInto (outputURL, why.text) || why.fail (ExportFailure::writeFailed, why.text, errno);
    }

    partial.reset();

    if (ok)
    {
        progress.store (1.0f);
        status.store (ExportStatus::completed);
    }
    else
    {
        const bool cancelled = cancelRequested.load();
        {
            std::lock_guard<std::mutex> lock (errorLock);
            error = cancelled ? juce::String ("The export was cancelled.") : why.text;
        }
        failure.store (cancelled ? ExportFailure::cancelled : why.kind);
        failureErrno.store (cancelled ? 0 : why.error);
        status.store (cancelled ? ExportStatus::cancelled : ExportStatus::failed);
    }

    auto done = std::move (completion);
    completion = nullptr;
    if (done)
        done();
}

// ---------------------------------------------------------------------------
bool AssetExportSession::render (const juce::File& target, ExportFault& why)
{
    // The two rendering presets differ only in what they write: AAC in M4A,
    // or the chain's float output untouched in a wave file.
    const bool lossless = preset == kExportPresetLinearPCM;
    const FileType containerType = lossless ? FileType::wave : FileType::appleM4A;
    const juce::String fileName = lossless ? "WAVE" : "M4A";
    const juce::String codecName = lossless ? "PCM" : "AAC";
    if (*fileType != containerType)
    {
        return why.fail (ExportFailure::other, "The " + fileName + " preset writes " + fileName + " files only.");
    }
    auto audioTracks = asset->getTracksWithMediaType (MediaType::audio);
    if (audioTracks.empty())
    {
        return why.fail (ExportFailure::other, "The asset holds no audio.");
    }
    const TimeRange range = timeRange.value_or (TimeRange { Time::zero(), asset->getDuration() });
    if (! range.start.isNumeric() || ! range.duration.isNumeric() || range.duration < Time::zero())
    {
        // Would otherwise come out as an empty file that reads as a finished render.
        return why.fail (ExportFailure::other, "The time range to render is not a finite span.");
    }
    const auto& track = audioTracks.front();
    detail::TrackAudioSource source (*track);
    if (! source.isValid())
    {
        return why.fail (ExportFailure::sourceUnreadable, source.getError());
    }

    const int rate = source.getSampleRate();
    const int channels = source.getNumChannels();
    // The output holds exactly the range's frames: silence where the range
    // reaches before or past the track (the chain's tail plays out there).
    const std::int64_t first = range.start.toSamples (rate);
    const std::int64_t last = std::max (first, range.end().toSamples (rate));

    // FFmpeg's own AAC at the source rate when it can, else the nearest it
    // offers; PCM takes any rate.
    const AVCodec* codec = lossless ? avcodec_find_encoder (AV_CODEC_ID_PCM_F32LE) : avcodec_find_encoder_by_name ("aac");
    if (codec == nullptr)
    {
        return why.fail (ExportFailure::encoderFailed, "No " + codecName + " encoder is available.");
    }
    const AVSampleFormat sampleFormat = lossless ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    int encodeRate = rate;
    if (codec->supported_samplerates != nullptr)
    {
        int best = 0;
        for (const int* r = codec->supported_samplerates; *r != 0; ++r)
        {
            if (*r == rate)
            {
                best = rate;
                break;
            }
            if (best == 0 || std::abs (*r - rate) < std::abs (best - rate))
                best = *r;
        }
        encodeRate = best;
    }

    Encoder enc;
    enc.context = avcodec_alloc_context3 (codec);
    enc.frame = av_frame_alloc();
    enc.packet = av_packet_alloc();
    if (enc.context == nullptr || enc.frame == nullptr || enc.packet == nullptr)
    {
        return why.fail (ExportFailure::other, "Out of memory.");
    }
    auto* ctx = enc.context;
    ctx->sample_fmt = sampleFormat;
    ctx->sample_rate = encodeRate;
    av_channel_layout_default (&ctx->ch_layout, channels);
    if (! lossless)
        ctx->bit_rate = std::min<std::int64_t> (128000 * channels, 512000);
    ctx->time_base = AVRational { 1, encodeRate };

    OutputContainer out;
    if (! out.create (containerType, target, why))
        return false;
    if (out.context->oformat->flags & AVFMT_GLOBALHEADER)
        ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int r = avcodec_open2 (ctx, codec, nullptr); r < 0)
    {
        return why.fail (ExportFailure::encoderFailed, "The " + codecName + " encoder could not be opened (" + detail::errorText (r) + ").");
    }

    AVStream* st = avformat_new_stream (out.context, nullptr);
    if (st == nullptr || avcodec_parameters_from_context (st->codecpar, ctx) < 0)
    {
        return why.fail (ExportFailure::other, "The audio track could not be added.");
    }
    st->time_base = ctx->time_base;
    if (! out.open (target, why))
        return false;
    AVDictionary* muxerOptions = nullptr;
    if (lossless)
        av_dict_set (&muxerOptions, "rf64", "auto", 0); // past 4 GiB of data a plain wave header overflows
    const int started = avformat_write_header (out.context, &muxerOptions);
    // An option left over is one the muxer does not know: a long render would
    // overflow its header.
    const bool optionsTaken = av_dict_count (muxerOptions) == 0;
    av_dict_free (&muxerOptions);
    if (started < 0 || ! optionsTaken)
    {
        return why.fail (started < 0 && systemErrorOf (started) != 0 ? ExportFailure::writeFailed : ExportFailure::other,
                         "The " + fileName + " file could not be started ("
                             + (started < 0 ? detail::errorText (started) : juce::String ("the writer cannot grow past 4 GiB")) + ").",
                         systemErrorOf (started));
    }

    // Resamples for an encoder that lacks the source rate, and interleaves
    // for one that takes interleaved samples (float to float stays exact).
    if (encodeRate != rate || sampleFormat != AV_SAMPLE_FMT_FLTP)
    {
        swr_alloc_set_opts2 (&enc.resampler, &ctx->ch_layout, sampleFormat, encodeRate, &ctx->ch_layout,
                             AV_SAMPLE_FMT_FLTP, rate, 0, nullptr);
        if (enc.resampler == nullptr || swr_init (enc.resampler) < 0)
        {
            return why.fail (ExportFailure::encoderFailed, "The audio could not be converted for the encoder.");
        }
    }
    enc.fifo = av_audio_fifo_alloc (sampleFormat, channels, maxFramesPerSlice * 4);
    if (enc.fifo == nullptr)
    {
        return why.fail (ExportFailure::other, "Out of memory.");
    }

    // One use of the tap, for this render only.
    std::shared_ptr<AudioProcessingTap> tap;
    if (audioMix != nullptr)
        tap = audioMix->tapForTrack (track->getTrackID());
    if (tap != nullptr && ! tap->beginUse (maxFramesPerSlice, ProcessingFormat::floatNonInterleaved (rate, channels)))
    {
        return why.fail (ExportFailure::other, "The audio tap is in use by playback or another export.");
    }
    struct TapUse
    {
        std::shared_ptr<AudioProcessingTap>& t;
        ~TapUse()
        {
            if (t != nullptr)
                t->endUse();
        }
    } tapUse { tap };

    const bool planar = av_sample_fmt_is_planar (sampleFormat) != 0;
    std::vector<std::vector<float>> converted ((size_t) (planar ? channels : 1),
                                               std::vector<float> (((size_t) maxFramesPerSlice * 4 + 256) * (size_t) (planar ? 1 : channels)));
    std::vector<float*> convertedPointers;
    for (auto& ch : converted)
        convertedPointers.push_back (ch.data());

    std::int64_t encoded = 0;
    const auto writePackets = [&]() -> bool
    {
        for (;;)
        {
            const int r = avcodec_receive_packet (ctx, enc.packet);
            if (r == AVERROR (EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
            {
                return why.fail (ExportFailure::encoderFailed, codecName + " encoding failed (" + detail::errorText (r) + ").");
            }
            av_packet_rescale_ts (enc.packet, ctx->time_base, st->time_base);
            enc.packet->stream_index = st->index;
            if (const int w = av_interleaved_write_frame (out.context, enc.packet); w < 0)
            {
                return writeFailed (why, "The " + fileName + " file could not be written", w);
            }
        }
    };
    const auto encodeFrames = [&] (bool flush) -> bool
    {
        const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : maxFramesPerSlice;
        while (av_audio_fifo_size (enc.fifo) >= frameSize || (flush && av_audio_fifo_size (enc.fifo) > 0))
        {
            const int n = std::min (frameSize, av_audio_fifo_size (enc.fifo));
            av_frame_unref (enc.frame);
            enc.frame->nb_samples = n;
            enc.frame->format = sampleFormat;
            enc.frame->sample_rate = encodeRate;
            av_channel_layout_copy (&enc.frame->ch_layout, &ctx->ch_layout);
            if (av_frame_get_buffer (enc.frame, 0) < 0)
            {
                return why.fail (ExportFailure::other, "Out of memory.");
            }
            av_audio_fifo_read (enc.fifo, reinterpret_cast<void**> (enc.frame->extended_data), n);
            enc.frame->pts = encoded;
            encoded += n;
            if (const int r = avcodec_send_frame (ctx, enc.frame); r < 0)
            {
                return why.fail (ExportFailure::encoderFailed, codecName + " encoding failed (" + detail::errorText (r) + ").");
            }
            if (! writePackets())
                return false;
        }
        return true;
    };

    // Decoding and the chain run on this thread and encoding beside them, so
    // the render takes about as long as the slower of the two.
    struct Slice
    {
        std::vector<std::vector<float>> data;
        std::vector<float*> pointers;
        int frames = 0;
    };
    std::vector<Slice> pool (8);
    std::deque<Slice*> freeSlices, filled;
    for (auto& slice : pool)
    {
        slice.data.assign ((size_t) channels, std::vector<float> ((size_t) maxFramesPerSlice));
        for (auto& ch : slice.data)
            slice.pointers.push_back (ch.data());
        freeSlices.push_back (&slice);
    }
    std::mutex queueLock;
    std::condition_variable queueChanged;
    bool producerDone = false, stopEncoder = false;
    std::atomic<bool> encoderFailed { false };

    std::thread encoder ([&]
    {
        juce::Thread::setCurrentThreadName ("Media Export Encoder");
        const auto fail = [&]
        {
            {
                // Under the lock, or the producer could test the flag, miss
                // this wake-up and wait for a free slice for ever.
                std::lock_guard<std::mutex> lock (queueLock);
                encoderFailed.store (true);
            }
            queueChanged.notify_all();
        };
        for (;;)
        {
            Slice* slice = nullptr;
            {
                std::unique_lock<std::mutex> lock (queueLock);
                queueChanged.wait (lock, [&] { return ! filled.empty() || producerDone || stopEncoder; });
                if (stopEncoder)
                    return;
                if (filled.empty())
                    break;
                slice = filled.front();
                filled.pop_front();
            }
            if (enc.resampler != nullptr)
            {
                const int got = swr_convert (enc.resampler, reinterpret_cast<uint8_t**> (convertedPointers.data()),
                                             maxFramesPerSlice * 4, (const uint8_t**) slice->pointers.data(), slice->frames);
                if (got > 0)
                    av_audio_fifo_write (enc.fifo, reinterpret_cast<void**> (convertedPointers.data()), got);
            }
            else
            {
                av_audio_fifo_write (enc.fifo, reinterpret_cast<void**> (slice->pointers.data()), slice->frames);
            }
            {
                std::lock_guard<std::mutex> lock (queueLock);
                freeSlices.push_back (slice);
            }
            queueChanged.notify_all();
            if (! encodeFrames (false))
                return fail();
        }

        // A rate raised more than fourfold leaves more in the resampler than
        // one call gives back: drain it all.
        for (int got = 1; enc.resampler != nullptr && got > 0;)
        {
            got = swr_convert (enc.resampler, reinterpret_cast<uint8_t**> (convertedPointers.data()), maxFramesPerSlice * 4,
                               nullptr, 0);
            if (got > 0)
                av_audio_fifo_write (enc.fifo, reinterpret_cast<void**> (convertedPointers.data()), got);
        }
        if (! encodeFrames (true))
            return fail();
        avcodec_send_frame (ctx, nullptr);
        if (! writePackets())
            return fail();
        if (const int r = av_write_trailer (out.context); r < 0)
        {
            writeFailed (why, "The " + fileName + " file could not be finished", r);
            return fail();
        }
    });

    bool sourceOk = true;
    for (std::int64_t pos = first; pos < last && ! cancelRequested.load() && ! encoderFailed.load();)
    {
        Slice* slice = nullptr;
        {
            std::unique_lock<std::mutex> lock (queueLock);
            queueChanged.wait (lock, [&] { return ! freeSlices.empty() || encoderFailed.load(); });
            if (encoderFailed.load())
                break;
            slice = freeSlices.front();
            freeSlices.pop_front();
        }
        const int n = (int) std::min<std::int64_t> (maxFramesPerSlice, last - pos);
        sourceOk = source.read (slice->pointers.data(), pos, n) && sourceOk;
        if (tap != nullptr)
            tap->process (slice->pointers.data(), slice->pointers.data(), n, pos - first, 0);
        slice->frames = n;
        {
            std::lock_guard<std::mutex> lock (queueLock);
            filled.push_back (slice);
        }
        queueChanged.notify_all();
        pos += n;
        progress.store ((float) ((double) (pos - first) / (double) std::max<std::int64_t> (1, last - first)) * 0.999f);
    }

    {
        std::lock_guard<std::mutex> lock (queueLock);
        producerDone = true;
        stopEncoder = cancelRequested.load();
    }
    queueChanged.notify_all();
    encoder.join();

    if (cancelRequested.load() || encoderFailed.load())
        return false;
    if (! sourceOk)
    {
        return why.fail (ExportFailure::sourceUnreadable, "The source audio could not be decoded completely.");
    }
    return out.close (why);
}

// ---------------------------------------------------------------------------
namespace
{
// The packets of one track, read segment by segment and moved onto the
// output track's timeline.
struct PacketFeed
{
    AVRational outBase { 1, 1 };
    int outIndex = 0;
    MediaType type = MediaType::audio;
    std::vector<TrackSegment> segments;
    size_t segment = 0;
    std::unique_ptr<detail::Demuxer> demuxer;
    juce::File openFile;
    AVPacket* packet = nullptr;
    AVPacket* held = nullptr; // the packet before the range, kept as decoder preroll
    bool havePacket = false;
    bool finished = false;
    double nextTime = 0.0; // output dts of the waiting packet, in seconds
    AVRational inBase { 1, 1 };
    bool prerollPending = false;
    bool pcm = false;
    int bytesPerFrame = 0;
    int reorderDelay = 0;                   // frames a decoder holds back before the first picture comes out
    std::int64_t origin = 0;                // where the asset's zero lies in the packets' times, in inBase
    std::int64_t lastDts = AV_NOPTS_VALUE;  // in inBase, before the segment's offset

    ~PacketFeed()
    {
        av_packet_free (&packet);
        av_packet_free (&held);
    }

    bool startSegment (juce::String& why)
    {
        while (segment < segments.size())
        {
            const auto& s = segments[segment];
            // From the very start, the packets are read from the file's start:
            // a seek to the start of an MPEG-TS file lands past its first
            // picture, which the rest cannot be decoded without.
            const bool fromStart = s.sourceStart <= Time::zero();
            const bool opened = demuxer == nullptr || openFile != s.file;
            if (opened || fromStart)
            {
                if (opened)
                    demuxer = detail::Demuxer::openFile (s.file, why);
                else if (! demuxer->reopen (why))
                    demuxer = nullptr;
                if (demuxer == nullptr)
                    return false;
                openFile = s.file;
                for (int i = 0; i < demuxer->numStreams(); ++i)
                    demuxer->stream (i)->discard = i == s.streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
            }
            auto* st = demuxer->stream (s.streamIndex);
            inBase = st->time_base;
            reorderDelay = std::clamp (st->codecpar->video_delay, 0, 16);
            lastDts = AV_NOPTS_VALUE;
            // Outside the QuickTime family the sound's zero is where the file
            // starts (an MPEG-TS camcorder clip starts at 1.4 s or later), and
            // the pictures keep their place beside it.
            const auto fileStart = demuxer->get()->start_time;
            origin = type == MediaType::video && ! demuxer->isQuickTimeFamily() && fileStart != AV_NOPTS_VALUE && fileStart > 0
                       ? av_rescale_q (fileStart, AV_TIME_BASE_Q, inBase)
                       : 0;
            const auto ts = (std::int64_t) std::floor (s.sourceStart.seconds() / av_q2d (inBase)) + origin;
            // Back to the sync sample before the start (video) or one packet
            // early (audio preroll); the packets before the range are sorted out below.
            if (! fromStart && av_seek_frame (demuxer->get(), s.streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
                avformat_seek_file (demuxer->get(), s.streamIndex, INT64_MIN, INT64_MIN, INT64_MIN, 0);
            av_packet_unref (held);
            prerollPending = ! pcm && type == MediaType::audio;
            return true;
        }
        finished = true;
        return true;
    }

    // Fetches the next packet that belongs in the output; false with why on failure.
    bool fetch (juce::String& why)
    {
        havePacket = false;
        while (! finished)
        {
            if (segment >= segments.size())
            {
                finished = true;
                break;
            }
            const auto& s = segments[segment];
            const int r = av_read_frame (demuxer->get(), packet);
            if (r < 0)
            {
                ++segment;
                if (! startSegment (why))
                    return false;
                continue;
            }
            if (packet->stream_index != s.streamIndex)
            {
                av_packet_unref (packet);
                continue;
            }
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts -= origin;
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts -= origin;

            const double tb = av_q2d (inBase);
            const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const double start = (double) pts * tb;
            const double duration = (double) packet->duration * tb;
            const double from = s.sourceStart.seconds();
            const double to = from + s.target.duration.seconds();
            const double eps = 0.5 * tb;

            if (start >= to - eps && (type != MediaType::video || packet->dts == AV_NOPTS_VALUE || (double) packet->dts * tb >= to - eps))
            {
                // Past the segment: on to the next one.
                av_packet_unref (packet);
                ++segment;
                if (! startSegment (why))
                    return false;
                continue;
            }

            if (type == MediaType::audio && start + duration <= from + eps)
            {
                // Before the range: the last such packet is kept for codecs
                // that need the one before to decode the first.
                if (prerollPending)
                {
                    av_packet_unref (held);
                    av_packet_move_ref (held, packet);
                }
                else
                {
                    av_packet_unref (packet);
                }
                continue;
            }

            if (type == MediaType::video)
                fillDecodingTime();

            if (type == MediaType::audio && pcm && bytesPerFrame > 0)
            {
                // Raw samples are cut to the sample.
                const double rate = 1.0 / tb;
                const auto frames = packet->size / bytesPerFrame;
                const auto skip = (int) std::clamp<std::int64_t> ((std::int64_t) std::llround ((from - start) * rate), 0, frames);
                const auto keep = (int) std::clamp<std::int64_t> ((std::int64_t) std::llround ((to - start) * rate), 0, frames) - skip;
                if (keep <= 0)
                {
                    av_packet_unref (packet);
                    continue;
                }
                if (skip > 0 || keep < frames)
                {
                    AVPacket* cut = av_packet_alloc();
                    if (cut == nullptr || av_new_packet (cut, keep * bytesPerFrame) < 0)
                    {
                        av_packet_free (&cut);
                        why = "Out of memory.";
                        return false;
                    }
                    std::memcpy (cut->data, packet->data + skip * bytesPerFrame, (size_t) (keep * bytesPerFrame));
                    av_packet_copy_props (cut, packet);
                    cut->pts = pts + skip;
                    cut->dts = cut->pts;
                    cut->duration = keep;
                    av_packet_unref (packet);
                    av_packet_move_ref (packet, cut);
                    av_packet_free (&cut);
                }
            }

            if (prerollPending && held->size > 0)
            {
                // Send the preroll packet first; this one waits in 'held'.
                std::swap (packet, held);
                prerollPending = false;
                placeOnTimeline (s);
                havePacket = true;
                return true;
            }
            prerollPending = false;

            if (type == MediaType::audio && ! pcm && start + duration > to + eps)
            {
                // Trim the last packet's length so the track ends on the range's end.
                packet->duration = std::max<std::int64_t> (1, (std::int64_t) std::llround ((to - start) / tb));
            }
            placeOnTimeline (s);
            havePacket = true;
            return true;
        }
        return true;
    }

    // Matroska and WebM store no decoding time for the pictures a decoder
    // holds back at the start of reordered video; taking the display time in
    // its place would make the times go backwards, which MP4 and MOV refuse.
    // The missing times are laid out one frame apart before the first
    // picture shown, as a decoder with that delay would take them.
    void fillDecodingTime()
    {
        if (packet->dts == AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE)
        {
            const std::int64_t step = std::max<std::int64_t> (1, packet->duration);
            packet->dts = lastDts == AV_NOPTS_VALUE ? packet->pts - reorderDelay * step : lastDts + step;
            packet->dts = std::min (packet->dts, packet->pts);
        }
        if (lastDts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE && packet->dts <= lastDts)
            packet->dts = lastDts + 1;
        if (packet->dts != AV_NOPTS_VALUE)
            lastDts = packet->dts;
    }

    // After a preroll packet has gone out, the packet it displaced.
    bool takeHeld()
    {
        if (held == nullptr || held->size <= 0)
            return false;
        std::swap (packet, held);
        av_packet_unref (held);
        placeOnTimeline (segments[std::min (segment, segments.size() - 1)]);
        havePacket = true;
        return true;
    }

    void placeOnTimeline (const TrackSegment& s)
    {
        const double tb = av_q2d (inBase);
        const auto offset = (std::int64_t) std::llround ((s.target.start.seconds() - s.sourceStart.seconds()) / tb);
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts += offset;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts += offset;
        else
            packet->dts = packet->pts;
        nextTime = (double) packet->dts * tb;
        av_packet_rescale_ts (packet, inBase, outBase);
        packet->stream_index = outIndex;
        packet->pos = -1;
    }
};
} // namespace

namespace
{
// FFmpeg's CAF muxer does not take AAC, so AAC packets go into a CAF file
// written here: description, magic cookie (an MPEG-4 elementary stream
// descriptor, as in an esds box), the packets, then the packet table with the
// encoder's priming and padding.
struct CafWriter
{
    juce::OutputStream& out;

    void u8 (int v) { out.writeByte ((char) v); }
    void u16 (int v) { out.writeShortBigEndian ((short) v); }
    void u32 (std::uint32_t v) { out.writeIntBigEndian ((int) v); }
    void u64 (std::int64_t v) { out.writeInt64BigEndian (v); }
    void tag (const char* t) { out.write (t, 4); }

    void variableLength (std::uint64_t v)
    {
        unsigned char bytes[10];
        int n = 0;
        do
        {
            bytes[n++] = (unsigned char) (v & 0x7f);
            v >>= 7;
        } while (v != 0);
        while (n > 0)
        {
            --n;
            out.writeByte ((char) (bytes[n] | (n > 0 ? 0x80 : 0)));
        }
    }
};

juce::MemoryBlock elementaryStreamDescriptor (const AVCodecParameters& p)
{
    const auto descriptor = [] (juce::MemoryOutputStream& m, int tagByte, const juce::MemoryBlock& body)
    {
        m.writeByte ((char) tagByte);
        const auto size = (std::uint32_t) body.getSize();
        m.writeByte ((char) (0x80 | ((size >> 21) & 0x7f)));
        m.writeByte ((char) (0x80 | ((size >> 14) & 0x7f)));
        m.writeByte ((char) (0x80 | ((size >> 7) & 0x7f)));
        m.writeByte ((char) (size & 0x7f));
        m.write (body.getData(), body.getSize());
    };

    juce::MemoryBlock specific (p.extradata, (size_t) p.extradata_size);
    juce::MemoryOutputStream config;
    config.writeByte (0x40); // MPEG-4 audio
    config.writeByte (0x15); // audio stream
    config.writeByte (0);
    config.writeShortBigEndian (0); // buffer size
    config.writeIntBigEndian ((int) p.bit_rate);
    config.writeIntBigEndian ((int) p.bit_rate);
    descriptor (config, 0x05, specific);

    juce::MemoryOutputStream es;
    es.writeShortBigEndian (0); // ES_ID
    es.writeByte (0);           // flags
    descriptor (es, 0x04, config.getMemoryBlock());
    juce::MemoryBlock sl;
    sl.append ("\x02", 1);
    descriptor (es, 0x06, sl);

    juce::MemoryOutputStream box;
    box.writeIntBigEndian (0); // version and flags
    descriptor (box, 0x03, es.getMemoryBlock());
    return box.getMemoryBlock();
}

bool writeCafAac (PacketFeed& feed, const AVCodecParameters& params, const AVDictionary* tags, const juce::File& target,
                  const std::atomic<bool>& cancelRequested, ExportFault& why)
{
    if (params.extradata == nullptr || params.extradata_size < 2 || params.sample_rate <= 0)
        return why.fail (ExportFailure::pictureRefused, "The AAC track has no decoder configuration to store.");
    // Every write checked, the last flush and the close included: a full
    // disk must not leave a file one packet short that reads as complete.
    detail::CheckedFileOutputStream stream (target);
    if (! stream.openedOk())
        return why.fail (ExportFailure::writeFailed, "The file cannot be created.", stream.getError());
    CafWriter w { stream };
    const int framesPerPacket = params.frame_size > 0 ? params.frame_size : 1024;

    w.tag ("caff");
    w.u16 (1);
    w.u16 (0);

    w.tag ("desc");
    w.u64 (32);
    w.out.writeDoubleBigEndian ((double) params.sample_rate);
    w.tag ("aac ");
    w.u32 ((std::uint32_t) (params.extradata[0] >> 3)); // the MPEG-4 audio object type
    w.u32 (0);
    w.u32 ((std::uint32_t) framesPerPacket);
    w.u32 ((std::uint32_t) params.ch_layout.nb_channels);
    w.u32 (0);

    const auto cookie = elementaryStreamDescriptor (params);
    w.tag ("kuki");
    w.u64 ((std::int64_t) cookie.getSize());
    stream.write (cookie.getData(), cookie.getSize());

    // The tags as FFmpeg's CAF writer stores them: a count, then each key
    // and value as a string with its terminating zero.
    if (const int count = av_dict_count (tags); count > 0)
    {
        juce::MemoryOutputStream info;
        info.writeIntBigEndian (count);
        for (const AVDictionaryEntry* t = nullptr; (t = av_dict_get (tags, "", t, AV_DICT_IGNORE_SUFFIX)) != nullptr;)
            for (const char* text : { t->key, t->value })
                info.write (text, std::strlen (text) + 1);
        w.tag ("info");
        w.u64 ((std::int64_t) info.getDataSize());
        stream.write (info.getData(), info.getDataSize());
    }

    w.tag ("data");
    const auto dataSizeAt = stream.getPosition();
    w.u64 (0);
    w.u32 (0); // edit count

    feed.outBase = AVRational { 1, params.sample_rate };
    if (! feed.startSegment (why.text) || ! feed.fetch (why.text))
        return why.fail (ExportFailure::sourceUnreadable, why.text);

    std::vector<std::uint32_t> sizes;
    std::int64_t firstStart = 0, frames = 0, bytes = 0;
    while (feed.havePacket)
    {
        if (cancelRequested.load())
            return false;
        if (sizes.empty())
            firstStart = feed.packet->pts;
        if (! stream.write (feed.packet->data, (size_t) feed.packet->size))
            return why.fail (ExportFailure::writeFailed, "The file could not be written.", stream.getError());
        sizes.push_back ((std::uint32_t) feed.packet->size);
        bytes += feed.packet->size;
        frames = feed.packet->pts + feed.packet->duration - firstStart;
        av_packet_unref (feed.packet);
        if (! feed.takeHeld() && ! feed.fetch (why.text))
            return why.fail (ExportFailure::sourceUnreadable, why.text);
    }
    if (sizes.empty())
        return why.fail (ExportFailure::other, "The track holds no packets.");

    // Samples before zero are the encoder's priming; whatever the packets hold
    // past the track's end is padding.
    const std::int64_t priming = std::max<std::int64_t> (0, -firstStart);
    const std::int64_t valid = std::max<std::int64_t> (0, frames - priming);
    const std::int64_t remainder = (std::int64_t) sizes.size() * framesPerPacket - priming - valid;

    w.tag ("pakt");
    const auto tableStart = stream.getPosition();
    w.u64 (0);
    w.u64 ((std::int64_t) sizes.size());
    w.u64 (valid);
    w.u32 ((std::uint32_t) priming);
    w.u32 ((std::uint32_t) std::max<std::int64_t> (0, remainder));
    for (auto size : sizes)
        w.variableLength (size);
    const auto tableEnd = stream.getPosition();

    if (stream.setPosition (tableStart))
        w.u64 (tableEnd - tableStart - 8);
    if (stream.setPosition (dataSizeAt))
        w.u64 (bytes + 4);
    if (! stream.close())
        return why.fail (ExportFailure::writeFailed, "The file could not be written.", stream.getError());
    return true;
}
} // namespace

bool AssetExportSession::passthrough (const juce::File& target, ExportFault& why)
{
    const auto type = *fileType;
    OutputContainer out;
    if (! out.create (type, target, why))
        return false;

    const TimeRange range = timeRange.value_or (TimeRange { Time::zero(), asset->getDuration() });
    std::vector<std::unique_ptr<PacketFeed>> feeds;
    std::map<juce::String, std::unique_ptr<detail::Demuxer>> probes;

    for (auto& track : asset->getTracks())
    {
        // Segments of the asked-for range, moved so the range starts at zero.
        std::vector<TrackSegment> segments;
        for (auto s : track->getSegments())
        {
            const auto part = s.target.intersection (range);
            if (part.isEmpty())
                continue;
            s.sourceStart = s.sourceStart + (part.start - s.target.start);
            s.target = { part.start - range.start, part.duration };
            segments.push_back (s);
        }
        if (segments.empty())
            continue;

        if (isAudioOnly (type) && track->getMediaType() != MediaType::audio)
        {
            return why.fail (ExportFailure::pictureRefused, "The " + fileExtension (type) + " container holds sound only; the asset has a "
                                                                + toString (track->getMediaType()) + " track.");
        }

        // Every segment must carry the same kind of packets as the first.
        AVCodecParameters* params = nullptr;
        AVDictionary* sourceTags = nullptr;
        AVRational inBase { 1, 1 }, frameRate { 0, 1 };
        for (const auto& s : segments)
        {
            auto& probe = probes[s.file.getFullPathName()];
            if (probe == nullptr)
            {
                probe = detail::Demuxer::openFile (s.file, why.text);
                if (probe == nullptr)
                    return why.fail (ExportFailure::sourceUnreadable, why.text);
            }
            auto* st = probe->stream (s.streamIndex);
            if (st == nullptr)
                return why.fail (ExportFailure::sourceUnreadable, "A source track is missing.");
            if (params == nullptr)
            {
                params = st->codecpar;
                sourceTags = st->metadata;
                inBase = st->time_base;
                frameRate = st->avg_frame_rate;
            }
            else if (st->codecpar->codec_id != params->codec_id || st->codecpar->sample_rate != params->sample_rate
                     || st->codecpar->ch_layout.nb_channels != params->ch_layout.nb_channels
                     || st->codecpar->width != params->width || st->codecpar->height != params->height)
            {
                return why.fail (ExportFailure::other, "The parts of a track differ in format; they cannot be copied into one track.");
            }
        }

        const auto codecId = params->codec_id;
        const bool accepted = track->getMediaType() == MediaType::video
                                ? carriesPicture (type, avcodec_get_name (codecId))
                                : pcmFits (type, codecId)
                                      && (type == FileType::wave ? detail::isPcmCodec (codecId)
                                                                 : avformat_query_codec (out.context->oformat, codecId, FF_COMPLIANCE_NORMAL) == 1);
        if (! accepted)
        {
            return why.fail (ExportFailure::pictureRefused, "The " + fileExtension (type) + " container cannot hold "
                                                                + avcodec_get_name (codecId) + " " + toString (track->getMediaType()) + ".");
        }

        AVStream* st = avformat_new_stream (out.context, nullptr);
        if (st == nullptr || avcodec_parameters_copy (st->codecpar, params) < 0)
        {
            return why.fail (ExportFailure::other, "A track could not be added.");
        }
        // The phones that record HEVC play it only as 'hvc1', with the
        // parameter sets in the sample entry; the writer's default is 'hev1'.
        st->codecpar->codec_tag = codecId == AV_CODEC_ID_HEVC && ! isAudioOnly (type) ? MKTAG ('h', 'v', 'c', '1') : 0;
        st->time_base = params->codec_type == AVMEDIA_TYPE_AUDIO && params->sample_rate > 0
                          ? AVRational { 1, params->sample_rate }
                          : inBase;
        if (track->getMediaType() == MediaType::video)
        {
            setDisplayMatrix (st, track->getPreferredTransform());
            // The picture's own tags, its timecode among them: the writers
            // that hold one make a timecode track from it, counted in frames
            // at the picture's rate.
            av_dict_copy (&st->metadata, sourceTags, 0);
            st->avg_frame_rate = frameRate;
            av_dict_set (&st->metadata, "rotate", nullptr, 0);
        }

        auto feed = std::make_unique<PacketFeed>();
        feed->outIndex = st->index;
        feed->type = track->getMediaType();
        feed->segments = std::move (segments);
        feed->packet = av_packet_alloc();
        feed->held = av_packet_alloc();
        feed->pcm = detail::isPcmCodec (codecId);
        feed->bytesPerFrame = params->block_align > 0
                                ? params->block_align
                                : params->ch_layout.nb_channels * av_get_bits_per_sample (codecId) / 8;
        feeds.push_back (std::move (feed));
    }
    probes.clear();

    if (feeds.empty())
    {
        return why.fail (ExportFailure::other, "The asset holds nothing to export.");
    }
    const bool reverseDnsKeys = carryTags (metadata, out.context->metadata);
    if (type == FileType::coreAudioFormat && feeds.size() == 1
        && out.context->streams[feeds[0]->outIndex]->codecpar->codec_id == AV_CODEC_ID_AAC)
        return writeCafAac (*feeds[0], *out.context->streams[feeds[0]->outIndex]->codecpar, out.context->metadata, target,
                            cancelRequested, why);

    AVDictionary* muxerOptions = nullptr;
    const bool quickTimeFamily = type != FileType::coreAudioFormat && type != FileType::wave && type != FileType::aiff;
    if (reverseDnsKeys && quickTimeFamily)
        av_dict_set (&muxerOptions, "movflags", "+use_metadata_tags", 0);
    if (! out.open (target, why))
    {
        av_dict_free (&muxerOptions);
        return false;
    }
    // A header that could not be written out is a write failure; one the
    // muxer would not make, a refusal of the tracks.
    const int started = avformat_write_header (out.context, &muxerOptions);
    av_dict_free (&muxerOptions);
    if (started < 0)
        return why.fail (systemErrorOf (started) != 0 ? ExportFailure::writeFailed : ExportFailure::pictureRefused,
                         "The " + fileExtension (type) + " container refused the tracks (" + detail::errorText (started) + ").",
                         systemErrorOf (started));

    for (auto& f : feeds)
    {
        f->outBase = out.context->streams[f->outIndex]->time_base;
        if (! f->startSegment (why.text) || ! f->fetch (why.text))
            return why.fail (ExportFailure::sourceUnreadable, why.text);
    }

    const double total = std::max (1.0e-9, range.duration.seconds());
    for (;;)
    {
        if (cancelRequested.load())
            return false;
        // The packet that comes first in time goes next, so tracks interleave.
        PacketFeed* next = nullptr;
        for (auto& f : feeds)
            if (f->havePacket && (next == nullptr || f->nextTime < next->nextTime))
                next = f.get();
        if (next == nullptr)
            break;

        const double t = next->nextTime;
        if (const int w = av_interleaved_write_frame (out.context, next->packet); w < 0)
            return writeFailed (why, "The file could not be written", w);
        progress.store ((float) std::clamp (t / total, 0.0, 0.999));

        if (! next->takeHeld() && ! next->fetch (why.text))
            return why.fail (ExportFailure::sourceUnreadable, why.text);
    }

    if (const int r = av_write_trailer (out.context); r < 0)
        return writeFailed (why, "The file could not be finished", r);
    return out.close (why);
}
} // namespace clarivo::media
