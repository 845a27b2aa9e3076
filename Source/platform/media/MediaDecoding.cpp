#include "MediaDecoding.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace clarivo::media::detail
{
juce::String errorText (int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror (averror, text, sizeof (text));
    return juce::String (text);
}

// ---------------------------------------------------------------------------
namespace
{
std::mutex beforeOpenLock;
std::function<void (const char*)>& beforeOpen()
{
    static std::function<void (const char*)> hook;
    return hook;
}
} // namespace

void setBeforeOpenHook (std::function<void (const char* path)> hook)
{
    std::lock_guard<std::mutex> lock (beforeOpenLock);
    beforeOpen() = std::move (hook);
}

std::unique_ptr<RegularFileInputStream> RegularFileInputStream::open (const juce::File& file, juce::String& error)
{
    return open (file.getFullPathName().toRawUTF8(), error);
}

std::unique_ptr<RegularFileInputStream> RegularFileInputStream::open (const char* path, juce::String& error)
{
    std::function<void (const char*)> hook;
    {
        std::lock_guard<std::mutex> lock (beforeOpenLock);
        hook = beforeOpen();
    }
    if (hook)
        hook (path);

    // Without O_NONBLOCK the open itself would wait for a pipe's writer;
    // what was opened is then judged by its descriptor, not by its name.
    const int fd = ::open (path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
    {
        const int e = errno;
        error = e == ENOENT || e == ENOTDIR ? juce::String ("The file does not exist.")
                                            : "The file cannot be opened (" + juce::String (std::strerror (e)) + ").";
        return nullptr;
    }
    struct stat info {};
    if (::fstat (fd, &info) != 0 || ! S_ISREG (info.st_mode))
    {
        error = S_ISDIR (info.st_mode) ? "The file does not exist." : "The file is not a regular file.";
        ::close (fd);
        return nullptr;
    }
    if (const int flags = ::fcntl (fd, F_GETFL); flags >= 0)
        ::fcntl (fd, F_SETFL, flags & ~O_NONBLOCK);
    // Nested opens may hand on a relative name; only absolute ones name a juce::File.
    const auto name = path[0] == '/' ? juce::File (juce::CharPointer_UTF8 (path)) : juce::File();
    return std::unique_ptr<RegularFileInputStream> (new RegularFileInputStream (fd, name));
}

RegularFileInputStream::~RegularFileInputStream()
{
    ::close (fd);
}

std::unique_ptr<RegularFileInputStream> RegularFileInputStream::duplicate() const
{
    const int copy = ::fcntl (fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return nullptr;
    return std::unique_ptr<RegularFileInputStream> (new RegularFileInputStream (copy, file));
}

juce::String RegularFileInputStream::identity() const
{
    struct stat info {};
    if (::fstat (fd, &info) != 0)
        return {};
    return juce::String ((juce::uint64) info.st_dev) + ":" + juce::String ((juce::uint64) info.st_ino) + ":"
         + juce::String ((juce::int64) info.st_size) + ":" + juce::String ((juce::int64) info.st_mtim.tv_sec) + "."
         + juce::String ((juce::int64) info.st_mtim.tv_nsec) + ":" + juce::String ((juce::int64) info.st_ctim.tv_sec) + "."
         + juce::String ((juce::int64) info.st_ctim.tv_nsec);
}

juce::int64 RegularFileInputStream::getTotalLength()
{
    struct stat info {};
    return ::fstat (fd, &info) == 0 ? (juce::int64) info.st_size : -1;
}

bool RegularFileInputStream::isExhausted()
{
    return position >= getTotalLength();
}

int RegularFileInputStream::read (void* destBuffer, int maxBytesToRead)
{
    if (maxBytesToRead <= 0)
        return 0;
    ssize_t got;
    do
        got = ::pread (fd, destBuffer, (size_t) maxBytesToRead, (off_t) position);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        return 0;
    position += got;
    return (int) got;
}

bool RegularFileInputStream::setPosition (juce::int64 newPosition)
{
    if (newPosition < 0)
        return false;
    position = newPosition;
    return true;
}

namespace
{
// FFmpeg prints every oddity of a damaged file on stderr; the layer reports
// failures itself, so only real errors get through.
struct QuietLogging
{
    QuietLogging() { av_log_set_level (AV_LOG_FATAL); }
};

void quietLogging()
{
    static QuietLogging once;
}

int readInput (void* opaque, uint8_t* buffer, int size)
{
    auto* in = static_cast<juce::InputStream*> (opaque);
    const int got = in->read (buffer, size);
    return got > 0 ? got : AVERROR_EOF;
}

int64_t seekInput (void* opaque, int64_t offset, int whence)
{
    auto* in = static_cast<juce::InputStream*> (opaque);
    switch (whence & ~AVSEEK_FORCE)
    {
        case AVSEEK_SIZE: return in->getTotalLength();
        case SEEK_SET: break;
        case SEEK_CUR: offset += in->getPosition(); break;
        case SEEK_END:
        {
            const auto total = in->getTotalLength();
            if (total < 0)
                return -1;
            offset += total;
            break;
        }
        default: return -1;
    }
    return in->setPosition (offset) ? offset : -1;
}

std::int64_t rescale (std::int64_t value, AVRational from, AVRational to)
{
    return av_rescale_q_rnd (value, from, to, (AVRounding) (AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}
} // namespace

// ---------------------------------------------------------------------------
std::unique_ptr<Demuxer> Demuxer::openFile (const juce::File& file, juce::String& error)
{
    return openFile (RegularFileInputStream::open (file, error), error);
}

std::unique_ptr<Demuxer> Demuxer::openFile (std::unique_ptr<RegularFileInputStream> stream, juce::String& error)
{
    if (stream == nullptr)
    {
        if (error.isEmpty())
            error = "The file cannot be opened.";
        return nullptr;
    }
    if (stream->getTotalLength() == 0)
    {
        error = "The file is empty.";
        return nullptr;
    }
    const auto file = stream->getFile();
    const auto* regular = stream.get();
    auto d = openInput (std::move (stream), file, error);
    if (d != nullptr)
        d->regular = regular;
    return d;
}

std::unique_ptr<Demuxer> Demuxer::openStream (std::unique_ptr<juce::InputStream> stream, juce::String& error)
{
    if (stream == nullptr || stream->getTotalLength() == 0)
    {
        error = "The stream is empty.";
        return nullptr;
    }
    return openInput (std::move (stream), {}, error);
}

namespace
{
AVIOContext* readingContext (juce::InputStream& in)
{
    constexpr int bufferSize = 65536;
    auto* buffer = static_cast<unsigned char*> (av_malloc (bufferSize));
    if (buffer == nullptr)
        return nullptr;
    auto* io = avio_alloc_context (buffer, bufferSize, 0, &in, readInput, nullptr, seekInput);
    if (io == nullptr)
        av_free (buffer);
    return io;
}

void freeReadingContext (AVIOContext*& io)
{
    if (io == nullptr)
        return;
    av_freep (&io->buffer);
    avio_context_free (&io);
}
} // namespace

std::unique_ptr<Demuxer> Demuxer::openInput (std::unique_ptr<juce::InputStream> stream, const juce::File& file,
                                             juce::String& error)
{
    quietLogging();
    std::unique_ptr<Demuxer> d (new Demuxer());
    d->input = std::move (stream);
    d->file = file;
    d->io = readingContext (*d->input);
    if (d->io == nullptr)
    {
        error = "Out of memory.";
        return nullptr;
    }
    if (! d->open (error))
        return nullptr;
    return d;
}

bool looksLikeMedia (const juce::File& file)
{
    // By content alone: a name ending in ".mp4" says nothing about a file.
    juce::String why;
    const auto in = RegularFileInputStream::open (file, why);
    if (in == nullptr)
        return false;
    juce::MemoryBlock head;
    head.setSize (4096 + AVPROBE_PADDING_SIZE, true);
    const int got = in->read (head.getData(), 4096);
    if (got <= 0)
        return false;
    AVProbeData probe {};
    probe.filename = "";
    probe.buf = static_cast<unsigned char*> (head.getData());
    probe.buf_size = got;
    int score = 0;
    return av_probe_input_format3 (&probe, 1, &score) != nullptr && score > AVPROBE_SCORE_MAX / 4;
}

namespace
{
// A playlist or a movie's reference is a regular file to us, yet it may name
// a pipe or a device that the open would wait on forever, with the message
// thread inside it. Only regular files are opened, whoever asks, each by
// one descriptor judged as it is.
int openRegularFilesOnly (AVFormatContext*, AVIOContext** pb, const char* url, int flags, AVDictionary**)
{
    if ((flags & AVIO_FLAG_WRITE) != 0)
        return AVERROR (EPERM);
    const char* path = url;
    if (std::strncmp (path, "file:", 5) == 0)
        path += 5;
    // Anything else ("pipe:0", "fd:3", a name relative to wherever we run)
    // is no file beside the one being read.
    if (path[0] != '/')
        return AVERROR (EINVAL);
    juce::String why;
    auto in = RegularFileInputStream::open (path, why);
    if (in == nullptr)
        return AVERROR (EINVAL);
    *pb = readingContext (*in);
    if (*pb == nullptr)
        return AVERROR (ENOMEM);
    in.release(); // the context's now, until closeRegularFile
    return 0;
}

int closeRegularFile (AVFormatContext*, AVIOContext* pb)
{
    if (pb == nullptr)
        return 0;
    delete static_cast<juce::InputStream*> (pb->opaque);
    freeReadingContext (pb);
    return 0;
}

// No recording is a list of other files. The concat list opens what it
// names through a context of its own, past the guard above; a streaming
// playlist that names itself is reloaded for ever, reading all the while;
// the manifests' own contexts would close our files as FFmpeg's.
const char* demuxersOtherThanLists()
{
    static const std::string names = []
    {
        std::string joined;
        void* state = nullptr;
        while (const auto* format = av_demuxer_iterate (&state))
        {
            const std::string name (format->name);
            if (name == "concat" || name == "hls" || name == "dash" || name == "imf")
                continue;
            if (! joined.empty())
                joined += ',';
            joined += format->name;
        }
        return joined;
    }();
    return names.c_str();
}
} // namespace

bool Demuxer::open (juce::String& error)
{
    context = avformat_alloc_context();
    if (context == nullptr)
    {
        error = "Out of memory.";
        return false;
    }
    context->pb = io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    context->io_open = openRegularFilesOnly;
    context->io_close2 = closeRegularFile;
    // Nested opens inherit these: no pipe:, fd: or wrapping protocol reaches
    // past the guard to a descriptor or a file it did not check.
    context->protocol_whitelist = av_strdup ("file");
    context->format_whitelist = av_strdup (demuxersOtherThanLists());

    // The name guides the probe and places what a file refers to, while
    // the reading goes through the descriptor opened once.
    const auto url = file.getFullPathName();
    // avformat_open_input frees a caller-allocated context when it fails.
    int r = avformat_open_input (&context, file != juce::File() ? url.toRawUTF8() : nullptr, nullptr, nullptr);
    if (r < 0)
    {
        context = nullptr;
        error = "The file is not a media file that can be read (" + errorText (r) + ").";
        return false;
    }
    r = avformat_find_stream_info (context, nullptr);
    if (r < 0)
    {
        error = "The media file is damaged (" + errorText (r) + ").";
        return false;
    }
    if (context->nb_streams == 0)
    {
        error = "The media file holds no tracks.";
        return false;
    }
    return true;
}

bool Demuxer::reopen (juce::String& error)
{
    if (context != nullptr)
        avformat_close_input (&context);
    // The closed context left our I/O alone: start it over, on the same
    // descriptor, whatever the name stands for by now.
    if (avio_seek (io, 0, SEEK_SET) < 0)
    {
        error = "The stream cannot be read again from its start.";
        return false;
    }
    return open (error);
}

Demuxer::~Demuxer()
{
    if (context != nullptr)
        avformat_close_input (&context);
    freeReadingContext (io);
}

AVStream* Demuxer::stream (int index) const noexcept
{
    return index >= 0 && index < (int) context->nb_streams ? context->streams[index] : nullptr;
}

int Demuxer::numStreams() const noexcept
{
    return (int) context->nb_streams;
}

bool Demuxer::isQuickTimeFamily() const noexcept
{
    return context != nullptr && context->iformat != nullptr
        && juce::String (context->iformat->name).contains ("mov");
}

double Demuxer::startSeconds (const AVStream* st) const noexcept
{
    if (! isQuickTimeFamily() || st->start_time == AV_NOPTS_VALUE || st->start_time <= 0)
        return 0.0;
    const double start = (double) st->start_time * av_q2d (st->time_base);
    const auto movie = context->duration;
    return movie != AV_NOPTS_VALUE && start >= (double) movie / AV_TIME_BASE ? 0.0 : start;
}

bool isAttachedPicture (const AVStream* stream) noexcept
{
    return (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

bool isPcmCodec (int codecId) noexcept
{
    return codecId >= AV_CODEC_ID_PCM_S16LE && codecId < AV_CODEC_ID_ADPCM_IMA_QT;
}

int firstAudioStream (AVFormatContext* context) noexcept
{
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && ! isAttachedPicture (context->streams[i]))
            return (int) i;
    return -1;
}

// ---------------------------------------------------------------------------
namespace
{
struct CacheKey
{
    juce::String file; // the open file's identity, not its name
    int stream;
    bool operator< (const CacheKey& o) const { return std::tie (file, stream) < std::tie (o.file, o.stream); }
};

std::mutex cacheLock;
std::map<CacheKey, std::shared_ptr<const AudioStreamInfo>>& infoCache()
{
    static std::map<CacheKey, std::shared_ptr<const AudioStreamInfo>> cache;
    return cache;
}

// The packets of a stream follow one another without gaps, so where one
// starts is fixed by where the run it belongs to starts. A container whose
// clock is coarser than a sample (Matroska counts milliseconds, 44.1 samples
// at 44.1 kHz) only brackets each packet's start; the brackets of a whole run
// together pin its start down to the sample.
class PacketRuns
{
public:
    // priming: where the first packet starts when the codec says so (Opus).
    PacketRuns (std::vector<PacketIndexEntry>& entries, double samplesPerTick, std::int64_t priming)
        : index (entries), halfTick (std::max (samplesPerTick, 0.0) / 2.0 + 1.0e-6), firstStart (-priming)
    {
    }

    // start: the container's start of the packet in samples, if it has one.
    void add (std::int64_t position, std::optional<long double> start, std::int64_t timestamp, std::int64_t duration,
              bool durationExact, std::int64_t endTrim)
    {
        if (start)
        {
            // Where this packet's timestamp puts the run's start.
            const auto lo = [&] { return *start - (long double) offset - halfTick; };
            const auto hi = [&] { return *start - (long double) offset + halfTick; };
            if (open && std::max (low, lo()) <= std::min (high, hi()))
            {
                low = std::max (low, lo());
                high = std::min (high, hi());
            }
            else
            {
                // A jump: the timestamps say the stream continues elsewhere.
                close();
                begin();
                low = lo();
                high = hi();
            }
            if (firstPacket && firstStart < 0 && low <= firstStart && firstStart <= high)
                low = high = (long double) firstStart;
        }
        else if (! open)
            begin();
        firstPacket = false;

        if (position >= 0)
            index.push_back ({ position, offset, timestamp });
        offset += duration;
        trim = endTrim;
        // A duration only known to the container's precision would carry its
        // rounding into every packet after it: the next one starts a run.
        if (! durationExact)
            close();
    }

    // Where the stream ends, its last packet's trimmed padding excluded.
    std::int64_t finish()
    {
        close();
        return next - trim;
    }

private:
    void begin()
    {
        open = true;
        first = index.size();
        offset = 0;
        low = -std::numeric_limits<long double>::infinity();
        high = std::numeric_limits<long double>::infinity();
    }

    void close()
    {
        if (! open)
            return;
        // A run without timestamps goes on from where the last one ended.
        const auto start = std::isfinite (low) ? (std::int64_t) std::llround ((low + high) / 2) : next;
        for (auto i = first; i < index.size(); ++i)
            index[i].startSample += start;
        next = start + offset;
        open = false;
    }

    std::vector<PacketIndexEntry>& index;
    const long double halfTick;
    const std::int64_t firstStart;
    bool firstPacket = true;
    bool open = false;
    size_t first = 0;
    std::int64_t offset = 0; // samples from the start of the run
    long double low = 0, high = 0;
    std::int64_t next = 0;
    std::int64_t trim = 0;
};

// Whether a seek to a packet's byte offset lands on that packet. Demuxers
// that keep state between packets (Matroska's element nesting) lose their way.
// Matroska's "DURATION" tag, "H:MM:SS.nnnnnnnnn", in seconds. sscanf's %lf
// follows the locale the toolkit took from the user: under a decimal comma
// it stops at the point and the padding is never cut.
std::optional<double> taggedSeconds (const char* text)
{
    const char* const end = text + std::strlen (text);
    int h = 0, m = 0;
    double s = 0.0;
    auto r = std::from_chars (text, end, h);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':')
        return std::nullopt;
    r = std::from_chars (r.ptr + 1, end, m);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':')
        return std::nullopt;
    r = std::from_chars (r.ptr + 1, end, s, std::chars_format::fixed);
    if (r.ec != std::errc() || h < 0 || m < 0 || ! (s >= 0.0))
        return std::nullopt;
    return h * 3600.0 + m * 60.0 + s;
}

bool byteSeekLandsOnPackets (AVFormatContext* ctx, int streamIndex, const PacketIndexEntry& probe)
{
    if (av_seek_frame (ctx, streamIndex, probe.position, AVSEEK_FLAG_BYTE) < 0)
        return false;
    AVPacket* pkt = av_packet_alloc();
    bool lands = false;
    while (pkt != nullptr && av_read_frame (ctx, pkt) >= 0)
    {
        const bool ours = pkt->stream_index == streamIndex;
        lands = ours && pkt->pos == probe.position;
        av_packet_unref (pkt);
        if (ours)
            break;
    }
    av_packet_free (&pkt);
    return lands;
}

// Reads every packet of the stream once: exact length (priming and padding
// removed) and a packet index for exact seeking.
void scanPackets (Demuxer& demuxer, AudioStreamInfo& info)
{
    auto* ctx = demuxer.get();
    auto* st = ctx->streams[info.streamIndex];
    const AVRational samples { 1, info.sampleRate };
    const double samplesPerTick = info.sampleRate * av_q2d (st->time_base);
    // Each start is off by up to half a tick, so two of them by up to one.
    info.timestampSlack = samplesPerTick > 1.0 ? (int) std::ceil (samplesPerTick) : 0;

    std::vector<AVDiscard> saved;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
    {
        saved.push_back (ctx->streams[i]->discard);
        if ((int) i != info.streamIndex)
            ctx->streams[i]->discard = AVDISCARD_ALL;
    }

    PacketRuns runs (info.index, samplesPerTick, st->codecpar->initial_padding);
    AVPacket* pkt = av_packet_alloc();
    bool any = false;
    std::int64_t lastDuration = 0;
    while (av_read_frame (ctx, pkt) >= 0)
    {
        if (pkt->stream_index == info.streamIndex)
        {
            std::optional<long double> start;
            if (pkt->pts != AV_NOPTS_VALUE)
                start = (long double) pkt->pts * st->time_base.num * info.sampleRate / st->time_base.den - info.originSamples;

            // The codec's frame length is exact where the container's may be
            // rounded to its clock; a codec with frames of varying length
            // reports none, and a short last frame shows as a disagreement.
            const std::int64_t stated = pkt->duration > 0 ? rescale (pkt->duration, st->time_base, samples) : 0;
            const std::int64_t framed = av_get_audio_frame_duration2 (st->codecpar, pkt->size);
            const bool useFramed = framed > 0 && (stated == 0 || std::abs (framed - stated) <= samplesPerTick + 1.0);
            const std::int64_t duration = useFramed ? framed : stated;

            size_t size = 0;
            std::int64_t endTrim = 0;
            if (auto* skip = av_packet_get_side_data (pkt, AV_PKT_DATA_SKIP_SAMPLES, &size); skip != nullptr && size >= 8)
                endTrim = (std::int64_t) AV_RL32 (skip + 4);

            runs.add (pkt->pos, start, pkt->pts, duration, useFramed || samplesPerTick <= 1.0, endTrim);
            lastDuration = duration;
            any = true;
        }
        av_packet_unref (pkt);
    }
    av_packet_free (&pkt);

    if (any)
    {
        info.lengthInSamples = std::max<std::int64_t> (0, runs.finish());

        // Matroska has no field for a codec's padding, but the muxer records
        // where the track's sound ends; trusted only to cut padding from the
        // last frame, never to cut or add sound.
        if (auto* tag = av_dict_get (st->metadata, "DURATION", nullptr, 0))
        {
            if (const auto seconds = taggedSeconds (tag->value))
            {
                const auto tagged = (std::int64_t) std::llround (*seconds * info.sampleRate) - info.originSamples;
                if (tagged < info.lengthInSamples && tagged > info.lengthInSamples - lastDuration)
                    info.lengthInSamples = tagged;
            }
        }
    }

    // Positions must rise for the byte-offset look-up.
    info.usePacketIndex = info.index.size() > 1
        && std::is_sorted (info.index.begin(), info.index.end(),
                           [] (const PacketIndexEntry& a, const PacketIndexEntry& b) { return a.position < b.position; });
    info.seekByBytes = info.usePacketIndex && (ctx->iformat->flags & AVFMT_NO_BYTE_SEEK) == 0
                    && byteSeekLandsOnPackets (ctx, info.streamIndex, info.index[info.index.size() / 2]);
    if (! info.usePacketIndex)
        info.index.clear();

    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = saved[i];

    avformat_seek_file (ctx, -1, INT64_MIN, 0, INT64_MAX, 0);
}
// The packet table of a CAF file: FFmpeg reads it for packet sizes but keeps
// the encoder's priming and padding in the audio.
bool readCafPacketTable (const RegularFileInputStream& file, std::int64_t& priming, std::int64_t& valid, std::int64_t& packets,
                         int& remainder)
{
    // A reader of its own on the demuxer's file: not the name again, and
    // not the demuxer's position.
    const auto reader = file.duplicate();
    if (reader == nullptr)
        return false;
    auto& in = *reader;
    if (in.readIntBigEndian() != (int) 0x63616666) // "caff"
        return false;
    in.skipNextBytes (4);
    while (! in.isExhausted())
    {
        const auto type = (std::uint32_t) in.readIntBigEndian();
        const auto size = in.readInt64BigEndian();
        if (type == 0x70616b74) // "pakt"
        {
            packets = in.readInt64BigEndian();
            valid = in.readInt64BigEndian();
            priming = in.readIntBigEndian();
            remainder = in.readIntBigEndian();
            return valid >= 0 && priming >= 0;
        }
        if (size < 0 || ! in.setPosition (in.getPosition() + size))
            return false;
    }
    return false;
}
} // namespace

std::shared_ptr<const AudioStreamInfo> measureAudioStream (Demuxer& demuxer, int streamIndex, juce::String& error)
{
    auto* st = demuxer.stream (streamIndex);
    if (st == nullptr || st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
    {
        error = "The track holds no audio.";
        return nullptr;
    }
    if (st->codecpar->sample_rate <= 0 || st->codecpar->ch_layout.nb_channels <= 0)
    {
        error = "The audio format of the track is unknown.";
        return nullptr;
    }

    CacheKey key;
    const auto* regular = demuxer.getRegularFile();
    if (regular != nullptr)
        key = { regular->identity(), streamIndex };
    const bool cacheable = key.file.isNotEmpty();
    if (cacheable)
    {
        std::lock_guard<std::mutex> lock (cacheLock);
        if (auto it = infoCache().find (key); it != infoCache().end())
            return it->second;
    }

    auto info = std::make_shared<AudioStreamInfo>();
    auto* par = st->codecpar;
    info->streamIndex = streamIndex;
    info->sampleRate = par->sample_rate;
    info->numChannels = par->ch_layout.nb_channels;
    info->codecName = avcodec_get_name (par->codec_id);
    info->bitsPerSample = par->bits_per_raw_sample > 0 ? par->bits_per_raw_sample : par->bits_per_coded_sample;

    const AVRational samples { 1, info->sampleRate };
    const std::int64_t startTime = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const bool quickTime = demuxer.isQuickTimeFamily();
    // Other containers put their priming into the start time: after it where
    // the demuxer knows its length (MP3), before the timeline's zero where the
    // muxer placed it so (Matroska), and the sound proper starts at zero.
    info->originSamples = rescale (quickTime ? startTime : std::max<std::int64_t> (0, startTime), st->time_base, samples);
    // Only QuickTime files place a track later on purpose.
    info->startSeconds = demuxer.startSeconds (st);

    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        info->lengthInSamples = rescale (st->duration, st->time_base, samples);
    else if (demuxer.get()->duration != AV_NOPTS_VALUE && demuxer.get()->duration > 0)
        info->lengthInSamples = rescale (demuxer.get()->duration, AVRational { 1, AV_TIME_BASE }, samples);

    // QuickTime sample tables and raw PCM give exact lengths and seeks; the
    // others are measured packet by packet.
    std::int64_t priming = 0, valid = -1, packets = 0;
    int remainder = 0;
    const bool caf = juce::String (demuxer.get()->iformat->name) == "caf" && ! isPcmCodec (par->codec_id)
                  && regular != nullptr && readCafPacketTable (*regular, priming, valid, packets, remainder);
    if (caf)
        info->originSamples += priming;
    // A table that counts whole packets only (FFmpeg's own muxer writes it so)
    // cannot know how short the last one is.
    if (caf && priming == 0 && remainder == 0 && packets > 0 && valid > 0 && valid % packets == 0)
        info->lastPacketSlack = (int) std::min<std::int64_t> (valid / packets - 1, std::numeric_limits<int>::max());

    if (! quickTime && ! isPcmCodec (par->codec_id))
        scanPackets (demuxer, *info);
    if (caf)
        info->lengthInSamples = valid;

    if (cacheable)
    {
        std::lock_guard<std::mutex> lock (cacheLock);
        infoCache()[key] = info;
    }
    return info;
}

// ---------------------------------------------------------------------------
std::unique_ptr<AudioDecoder> AudioDecoder::open (const juce::File& file, int streamIndex, juce::String& error)
{
    auto demuxer = Demuxer::openFile (file, error);
    if (demuxer == nullptr)
        return nullptr;
    return open (std::move (demuxer), streamIndex, error);
}

std::unique_ptr<AudioDecoder> AudioDecoder::open (std::unique_ptr<Demuxer> demuxer, int streamIndex, juce::String& error)
{
    std::unique_ptr<AudioDecoder> d (new AudioDecoder());
    if (! d->init (std::move (demuxer), streamIndex, error))
        return nullptr;
    return d;
}

bool AudioDecoder::init (std::unique_ptr<Demuxer> dm, int streamIndex, juce::String& error)
{
    demuxer = std::move (dm);
    if (streamIndex < 0)
        streamIndex = firstAudioStream (demuxer->get());
    if (streamIndex < 0)
    {
        error = "The file holds no audio track.";
        return false;
    }

    streamInfo = measureAudioStream (*demuxer, streamIndex, error);
    if (streamInfo == nullptr)
        return false;

    auto* st = demuxer->stream (streamIndex);
    const AVCodec* decoder = avcodec_find_decoder (st->codecpar->codec_id);
    if (decoder == nullptr)
    {
        error = "No decoder for the audio format " + streamInfo->codecName + ".";
        return false;
    }
    codec = avcodec_alloc_context3 (decoder);
    if (codec == nullptr || avcodec_parameters_to_context (codec, st->codecpar) < 0)
    {
        error = "The audio decoder could not be set up.";
        return false;
    }
    // Positions come from the packets: priming is dropped by position, not by the decoder.
    codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    codec->pkt_timebase = AVRational { 1, streamInfo->sampleRate };
    if (const int r = avcodec_open2 (codec, decoder, nullptr); r < 0)
    {
        error = "The audio decoder could not be opened (" + errorText (r) + ").";
        return false;
    }

    discardOtherStreams();

    packet = av_packet_alloc();
    frame = av_frame_alloc();
    buffer.resize ((size_t) streamInfo->numChannels);
    convertPointers.resize ((size_t) streamInfo->numChannels);

    const auto id = st->codecpar->codec_id;
    // Transform codecs need the frames before a seek point to rebuild their
    // overlap; raw and lossless block codecs do not.
    preroll = (isPcmCodec (id) || id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_ALAC) ? 0 : 8192;
    return true;
}

AudioDecoder::~AudioDecoder()
{
    av_frame_free (&frame);
    av_packet_free (&packet);
    swr_free (&converter);
    avcodec_free_context (&codec);
}

void AudioDecoder::dropBefore (std::int64_t position)
{
    const auto drop = std::clamp<std::int64_t> (position - bufferStart, 0, bufferCount);
    bufferStart += drop;
    bufferHead += drop;
    bufferCount -= drop;
    if (bufferCount == 0)
        bufferHead = 0;
}

void AudioDecoder::discardOtherStreams()
{
    for (unsigned i = 0; i < demuxer->get()->nb_streams; ++i)
        if ((int) i != streamInfo->streamIndex)
            demuxer->get()->streams[i]->discard = AVDISCARD_ALL;
}

bool AudioDecoder::rewindToStart()
{
    seekEntry = -1;
    lastPacketPosition = -1;
    if (atStart)
        return true;
    juce::String why;
    const auto& inf = *streamInfo;
    if (! demuxer->reopen (why) || demuxer->stream (inf.streamIndex) == nullptr
        || demuxer->stream (inf.streamIndex)->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
    {
        failed = true;
        endOfStream = true;
        return false;
    }
    discardOtherStreams();
    atStart = true;
    return true;
}

std::ptrdiff_t AudioDecoder::indexEntryOf (const AVPacket& p)
{
    if (p.pos < 0)
        return -1;
    // Packets laced into one block share its position and come in order.
    lacedOrdinal = p.pos == lastPacketPosition ? lacedOrdinal + 1 : 0;
    lastPacketPosition = p.pos;
    const auto& idx = streamInfo->index;
    const auto it = std::lower_bound (idx.begin(), idx.end(), p.pos,
                                      [] (const PacketIndexEntry& e, std::int64_t v) { return e.position < v; });
    const auto k = std::distance (idx.begin(), it) + lacedOrdinal;
    return k < (std::ptrdiff_t) idx.size() && idx[(size_t) k].position == p.pos ? k : -1;
}

void AudioDecoder::seek (std::int64_t target)
{
    avcodec_flush_buffers (codec);
    bufferStart = target;
    bufferHead = 0;
    bufferCount = 0;
    sentFlush = false;
    endOfStream = false;
    positioned = true;
    seekEntry = -1;
    lastPacketPosition = -1;
    lastFrameEnd = noFrameYet;

    const auto& inf = *streamInfo;
    const std::int64_t from = target - preroll;
    auto* ctx = demuxer->get();
    if (ctx == nullptr)
    {
        // Reopening the file failed earlier.
        failed = true;
        endOfStream = true;
        return;
    }
    auto* st = ctx->streams[inf.streamIndex];

    if (inf.usePacketIndex)
    {
        const auto begin = inf.index.begin();
        auto it = std::upper_bound (begin, inf.index.end(), from,
                                    [] (std::int64_t v, const PacketIndexEntry& e) { return v < e.startSample; });
        if (it != begin)
            --it;
        if (inf.seekByBytes)
        {
            atStart = false;
            if (av_seek_frame (ctx, inf.streamIndex, it->position, AVSEEK_FLAG_BYTE) >= 0)
                return;
        }
        else
        {
            while (it != begin && it->timestamp == AV_NOPTS_VALUE)
                --it;
            // The container's seeking may not reach packets timed before its
            // first seek point (Matroska's priming before zero).
            if (it == begin)
            {
                rewindToStart();
                return;
            }
            atStart = false;
            if (av_seek_frame (ctx, inf.streamIndex, it->timestamp, AVSEEK_FLAG_BACKWARD) >= 0)
                seekEntry = std::distance (begin, it);
            else
                rewindToStart();
            return;
        }
    }

    atStart = false;
    if (from <= 0)
    {
        if (avformat_seek_file (ctx, inf.streamIndex, INT64_MIN, INT64_MIN, INT64_MIN, 0) >= 0)
            return;
    }
    const auto ts = rescale (from + inf.originSamples, AVRational { 1, inf.sampleRate }, st->time_base);
    if (av_seek_frame (ctx, inf.streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
        avformat_seek_file (ctx, inf.streamIndex, INT64_MIN, INT64_MIN, INT64_MIN, 0);
}

bool AudioDecoder::readPacket()
{
    const auto& inf = *streamInfo;

    for (;;)
    {
        auto* ctx = demuxer->get();
        if (ctx == nullptr)
            return false;
        const int r = av_read_frame (ctx, packet);
        if (r < 0)
            return false;
        atStart = false;
        if (packet->stream_index != inf.streamIndex)
        {
            av_packet_unref (packet);
            continue;
        }
        auto* st = ctx->streams[inf.streamIndex];

        if (inf.usePacketIndex)
        {
            // After a byte seek the container's own timestamps are guesses,
            // and coarse clocks round them; the index knows where each packet starts.
            const auto k = indexEntryOf (*packet);
            if (seekEntry >= 0)
            {
                // A seek by time that landed past the packet it aimed at has
                // lost the preroll: read from the start instead.
                const bool late = k < 0 || k > seekEntry;
                seekEntry = -1;
                if (late)
                {
                    av_packet_unref (packet);
                    if (! rewindToStart())
                        return false;
                    continue;
                }
            }
            packet->pts = k >= 0 ? inf.index[(size_t) k].startSample : AV_NOPTS_VALUE;
        }
        else if (packet->pts != AV_NOPTS_VALUE)
        {
            packet->pts = rescale (packet->pts, st->time_base, AVRational { 1, inf.sampleRate }) - inf.originSamples;
        }
        packet->dts = packet->pts;
        if (packet->duration > 0)
            packet->duration = rescale (packet->duration, st->time_base, AVRational { 1, inf.sampleRate });
        return true;
    }
}

void AudioDecoder::appendFrame (AVFrame* f)
{
    const int numChannels = streamInfo->numChannels;
    const int rate = streamInfo->sampleRate;
    const int count = f->nb_samples;
    if (count <= 0)
        return;

    // A frame without a time follows the one before it, even where that one
    // fell before the seek target and was dropped. A container clock coarser
    // than a sample misplaces packets by up to half a tick, while the decoded
    // frames follow one another without gaps: within that, they join.
    const bool follows = lastFrameEnd != noFrameYet;
    std::int64_t position = f->pts != AV_NOPTS_VALUE ? f->pts : (follows ? lastFrameEnd : bufferEnd());
    if (follows && std::abs (position - lastFrameEnd) <= streamInfo->timestampSlack)
        position = lastFrameEnd;

    // Room for the frame plus any gap in front of it.
    const std::int64_t end = bufferEnd();
    std::int64_t gap = position > end ? position - end : 0;
    if (gap > (std::int64_t) rate * 10)
        gap = 0; // a broken timestamp, not a real hole: play on from the buffer's end
    if (gap == 0 && position > end)
        position = end;

    const std::int64_t needed = bufferHead + bufferCount + gap + count;
    if ((std::int64_t) buffer[0].size() < needed)
    {
        // Compact first, then grow.
        if (bufferHead > 0)
        {
            for (auto& ch : buffer)
                std::memmove (ch.data(), ch.data() + bufferHead, (size_t) bufferCount * sizeof (float));
            bufferHead = 0;
        }
        const auto want = (size_t) (bufferCount + gap + count);
        if (buffer[0].size() < want)
            for (auto& ch : buffer)
                ch.resize (std::max (want, ch.size() * 2));
    }

    const auto writeAt = (size_t) (bufferHead + bufferCount);
    for (auto& ch : buffer)
        std::fill (ch.begin() + (std::ptrdiff_t) writeAt, ch.begin() + (std::ptrdiff_t) (writeAt + (size_t) gap), 0.0f);

    for (int c = 0; c < numChannels; ++c)
        convertPointers[(size_t) c] = buffer[(size_t) c].data() + writeAt + gap;

    int converted = 0;
    const bool direct = f->format == AV_SAMPLE_FMT_FLTP && f->ch_layout.nb_channels == numChannels && f->sample_rate == rate;
    if (direct)
    {
        for (int c = 0; c < numChannels; ++c)
            std::memcpy (convertPointers[(size_t) c], f->extended_data[c], (size_t) count * sizeof (float));
        converted = count;
    }
    else
    {
        if (converter == nullptr || converterFormat != f->format || converterRate != f->sample_rate
            || converterChannels != f->ch_layout.nb_channels)
        {
            swr_free (&converter);
            AVChannelLayout outLayout {};
            av_channel_layout_default (&outLayout, numChannels);
            // Zeroed: the copy first releases what the target held.
            AVChannelLayout inLayout {};
            if (av_channel_layout_copy (&inLayout, &f->ch_layout) < 0 || inLayout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default (&inLayout, f->ch_layout.nb_channels);
            swr_alloc_set_opts2 (&converter, &outLayout, AV_SAMPLE_FMT_FLTP, rate, &inLayout,
                                 (AVSampleFormat) f->format, f->sample_rate, 0, nullptr);
            av_channel_layout_uninit (&inLayout);
            av_channel_layout_uninit (&outLayout);
            if (converter == nullptr || swr_init (converter) < 0)
            {
                swr_free (&converter);
                failed = true;
                return;
            }
            converterFormat = f->format;
            converterRate = f->sample_rate;
            converterChannels = f->ch_layout.nb_channels;
        }
        if (f->sample_rate != rate)
        {
            // A rate change inside the stream: room for what the resampler gives.
            const int outMax = swr_get_out_samples (converter, count);
            if ((std::int64_t) buffer[0].size() < (std::int64_t) writeAt + gap + outMax)
                for (auto& ch : buffer)
                    ch.resize ((size_t) (writeAt + (size_t) gap + (size_t) outMax));
            for (int c = 0; c < numChannels; ++c)
                convertPointers[(size_t) c] = buffer[(size_t) c].data() + writeAt + gap;
            converted = swr_convert (converter, reinterpret_cast<uint8_t**> (convertPointers.data()), outMax,
                                     (const uint8_t**) f->extended_data, count);
        }
        else
        {
            converted = swr_convert (converter, reinterpret_cast<uint8_t**> (convertPointers.data()), count,
                                     (const uint8_t**) f->extended_data, count);
        }
        if (converted < 0)
        {
            failed = true;
            converted = 0;
        }
    }

    bufferCount += gap + converted;
    lastFrameEnd = position + converted;

    // A frame that overlaps what is held already (or starts before the seek
    // target) loses its head.
    if (position < end && gap == 0)
    {
        const auto overlap = std::min<std::int64_t> (end - position, converted);
        if (overlap > 0)
        {
            for (auto& ch : buffer)
                std::memmove (ch.data() + writeAt, ch.data() + writeAt + (size_t) overlap,
                              (size_t) (converted - overlap) * sizeof (float));
            bufferCount -= overlap;
        }
    }

    // Nothing past the end of the stream (the encoder's padding).
    if (bufferEnd() > streamInfo->lengthInSamples)
        bufferCount = std::max<std::int64_t> (0, streamInfo->lengthInSamples - bufferStart);
}

bool AudioDecoder::decodeMore()
{
    for (;;)
    {
        const int r = avcodec_receive_frame (codec, frame);
        if (r >= 0)
        {
            appendFrame (frame);
            av_frame_unref (frame);
            return true;
        }
        if (r == AVERROR_EOF)
        {
            endOfStream = true;
            return false;
        }
        if (r != AVERROR (EAGAIN))
        {
            failed = true;
            endOfStream = true;
            return false;
        }

        if (sentFlush)
        {
            endOfStream = true;
            return false;
        }
        if (! readPacket())
        {
            avcodec_send_packet (codec, nullptr);
            sentFlush = true;
            continue;
        }
        const int s = avcodec_send_packet (codec, packet);
        av_packet_unref (packet);
        if (s < 0 && s != AVERROR (EAGAIN))
            failed = true; // a damaged packet: skip it and go on
    }
}

bool AudioDecoder::read (float* const* dest, int numDestChannels, std::int64_t startSample, int numFrames)
{
    failed = false;
    const auto length = streamInfo->lengthInSamples;
    const int channels = streamInfo->numChannels;

    int done = 0;
    // Before the stream's first sample.
    if (startSample < 0)
    {
        const int lead = (int) std::min<std::int64_t> (numFrames, -startSample);
        for (int c = 0; c < numDestChannels; ++c)
            std::fill (dest[c], dest[c] + lead, 0.0f);
        done = lead;
    }

    while (done < numFrames)
    {
        const std::int64_t pos = startSample + done;
        if (pos >= length)
            break;

        // Far jumps and any step back seek; short hops forward decode through.
        if (! positioned || pos < bufferStart
            || (pos >= bufferEnd() && pos - bufferEnd() >= (std::int64_t) streamInfo->sampleRate))
            seek (pos);

        dropBefore (pos);
        if (bufferCount == 0 || bufferStart > pos)
        {
            if (endOfStream || ! decodeMore())
                break;
            continue;
        }

        const int take = (int) std::min<std::int64_t> ({ (std::int64_t) (numFrames - done), bufferCount, length - pos });
        for (int c = 0; c < numDestChannels; ++c)
        {
            if (c < channels)
                std::memcpy (dest[c] + done, buffer[(size_t) c].data() + bufferHead, (size_t) take * sizeof (float));
            else
                std::fill (dest[c] + done, dest[c] + done + take, 0.0f);
        }
        done += take;
        dropBefore (pos + take);
    }

    if (done < numFrames)
    {
        // Past the end, or the file ran out early (a truncated file). Where
        // the container's clock is coarser than a sample, the measured length
        // is only good to a tick: a clean end within that is no fault.
        const auto slack = std::max (streamInfo->timestampSlack, streamInfo->lastPacketSlack);
        if (startSample + done < length && ! (endOfStream && length - (startSample + done) <= slack))
            failed = true;
        for (int c = 0; c < numDestChannels; ++c)
            std::fill (dest[c] + done, dest[c] + numFrames, 0.0f);
    }
    return ! failed;
}

// ---------------------------------------------------------------------------
std::unique_ptr<VideoDecoder> VideoDecoder::open (const juce::File& file, int streamIndex, juce::String& error)
{
    std::unique_ptr<VideoDecoder> d (new VideoDecoder());
    d->demuxer = Demuxer::openFile (file, error);
    if (d->demuxer == nullptr)
        return nullptr;

    auto* st = d->demuxer->stream (streamIndex);
    if (st == nullptr || st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
    {
        error = "The track holds no video.";
        return nullptr;
    }
    const AVCodec* decoder = avcodec_find_decoder (st->codecpar->codec_id);
    if (decoder == nullptr)
    {
        error = juce::String ("No decoder for the video format ") + avcodec_get_name (st->codecpar->codec_id) + ".";
        return nullptr;
    }
    d->codec = avcodec_alloc_context3 (decoder);
    if (d->codec == nullptr || avcodec_parameters_to_context (d->codec, st->codecpar) < 0)
    {
        error = "The video decoder could not be set up.";
        return nullptr;
    }
    d->codec->pkt_timebase = st->time_base;
    // Small pictures decode fast enough on one thread; large ones get
    // FFmpeg's own frame threads to keep up with playback.
    d->codec->thread_count = (std::int64_t) st->codecpar->width * st->codecpar->height <= 1280 * 720 ? 1 : 0;
    if (const int r = avcodec_open2 (d->codec, decoder, nullptr); r < 0)
    {
        error = "The video decoder could not be opened (" + errorText (r) + ").";
        return nullptr;
    }

    for (unsigned i = 0; i < d->demuxer->get()->nb_streams; ++i)
        if ((int) i != streamIndex)
            d->demuxer->get()->streams[i]->discard = AVDISCARD_ALL;

    d->streamIndex = streamIndex;
    d->timeBase = av_q2d (st->time_base);
    const auto rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        d->frameSeconds = av_q2d (av_inv_q (rate));
    d->packet = av_packet_alloc();
    d->frame = av_frame_alloc();
    return d;
}

VideoDecoder::~VideoDecoder()
{
    releasePicture();
    av_frame_free (&frame);
    av_packet_free (&packet);
    sws_freeContext (scaler);
    avcodec_free_context (&codec);
}

namespace
{
void* allocatePicture (size_t bytes)
{
    return av_malloc (bytes);
}

void releasePictureBlock (void* block, size_t)
{
    av_free (block);
}

std::mutex pictureAllocatorLock;
PictureBufferAllocator pictureAllocatorInUse { allocatePicture, releasePictureBlock };
} // namespace

void setPictureBufferAllocator (PictureBufferAllocator allocator)
{
    if (allocator.allocate == nullptr || allocator.release == nullptr)
        allocator = { allocatePicture, releasePictureBlock };
    std::lock_guard<std::mutex> lock (pictureAllocatorLock);
    pictureAllocatorInUse = allocator;
}

void VideoDecoder::releasePicture() noexcept
{
    if (picture != nullptr)
        pictureAllocator.release (picture, pictureBytes);
    picture = nullptr;
    pictureBytes = 0;
}

bool VideoDecoder::convert (const AVFrame& source, juce::Image& image)
{
    const int w = source.width, h = source.height;
    scaler = sws_getCachedContext (scaler, w, h, (AVPixelFormat) source.format, w, h, AV_PIX_FMT_BGRA, SWS_BILINEAR,
                                   nullptr, nullptr, nullptr);
    if (scaler == nullptr)
        return false;

    // swscale's vector code stores whole blocks of pixels, so a row narrower
    // than a block would be overrun, and with it whatever lies after the
    // picture. It converts into rows of whole 64-byte blocks, with room for
    // a last block past the end, and only the visible pixels are copied on.
    constexpr int rowAlign = 64, tailPadding = 256;
    const int lineBytes = FFALIGN (w * 4, rowAlign);
    const auto bytes = (size_t) lineBytes * (size_t) h + tailPadding;
    if (picture == nullptr || pictureBytes != bytes)
    {
        releasePicture();
        {
            std::lock_guard<std::mutex> lock (pictureAllocatorLock);
            pictureAllocator = pictureAllocatorInUse;
        }
        picture = static_cast<std::uint8_t*> (pictureAllocator.allocate (bytes));
        if (picture == nullptr)
            return false;
        pictureBytes = bytes;
    }

    uint8_t* dst[4] = { picture, nullptr, nullptr, nullptr };
    int stride[4] = { lineBytes, 0, 0, 0 };
    if (sws_scale (scaler, source.data, source.linesize, 0, h, dst, stride) != h)
        return false;

    image = juce::Image (juce::Image::ARGB, w, h, false);
    juce::Image::BitmapData bits (image, juce::Image::BitmapData::writeOnly);
    for (int y = 0; y < h; ++y)
        std::memcpy (bits.getLinePointer (y), picture + (size_t) y * (size_t) lineBytes, (size_t) w * 4);
    return true;
}

void VideoDecoder::seek (double seconds)
{
    auto* ctx = demuxer->get();
    avcodec_flush_buffers (codec);
    sentFlush = false;
    endOfStream = false;
    hasHeld = false;
    held = {};
    skipBefore = seconds;
    const auto ts = (std::int64_t) std::floor (seconds / timeBase);
    if (av_seek_frame (ctx, streamIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
        avformat_seek_file (ctx, streamIndex, INT64_MIN, INT64_MIN, INT64_MIN, 0);
}

bool VideoDecoder::receive (VideoFrame& out)
{
    for (;;)
    {
        const int r = avcodec_receive_frame (codec, frame);
        if (r >= 0)
        {
            const auto ts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
            out.time = ts != AV_NOPTS_VALUE ? (double) ts * timeBase : 0.0;

            const int w = frame->width, h = frame->height;
            if (w <= 0 || h <= 0)
            {
                av_frame_unref (frame);
                continue;
            }
            const bool converted = convert (*frame, out.image);
            av_frame_unref (frame);
            if (! converted)
                return false;
            return true;
        }
        if (r == AVERROR_EOF || sentFlush)
        {
            endOfStream = true;
            return false;
        }
        if (r != AVERROR (EAGAIN))
        {
            endOfStream = true;
            return false;
        }

        bool sent = false;
        while (! sent)
        {
            if (av_read_frame (demuxer->get(), packet) < 0)
            {
                avcodec_send_packet (codec, nullptr);
                sentFlush = true;
                sent = true;
                break;
            }
            if (packet->stream_index == streamIndex)
            {
                avcodec_send_packet (codec, packet); // a damaged packet is skipped
                sent = true;
            }
            av_packet_unref (packet);
        }
    }
}

bool VideoDecoder::next (VideoFrame& out)
{
    const double eps = 1.0e-6;
    for (;;)
    {
        if (hasHeld && skipBefore < -1.0e299)
        {
            out = std::move (held);
            held = {};
            hasHeld = false;
            return true;
        }

        VideoFrame f;
        if (endOfStream || ! receive (f))
        {
            if (hasHeld)
            {
                out = std::move (held);
                held = {};
                hasHeld = false;
                return true;
            }
            return false;
        }

        if (f.time + eps < skipBefore)
        {
            held = std::move (f);
            hasHeld = true;
            continue;
        }

        const bool atTarget = f.time <= skipBefore + eps;
        skipBefore = -1.0e300;
        if (atTarget)
        {
            hasHeld = false;
            held = {};
        }
        if (hasHeld)
        {
            // The frame showing at the seek target came before it: hand that
            // out first and keep this one for the next call.
            std::swap (held, f);
            out = std::move (f);
            return true;
        }

        out = std::move (f);
        return true;
    }
}
} // namespace clarivo::media::detail
