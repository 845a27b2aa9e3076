#pragma once

// FFmpeg underneath the media services: opening containers, exact-position
// audio decoding to planar float and video decoding to images. Used only
// inside the media layer.
#include <juce_core/juce_core.h>
#include <juce_graphics/juce_graphics.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVStream;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct SwsContext;

namespace clarivo::media::detail
{
juce::String errorText (int averror);

// A regular file opened once and read through that descriptor. Whatever
// stands under the name, now or after any earlier look at it, a pipe or a
// device is refused at once instead of waited on.
class RegularFileInputStream : public juce::InputStream
{
public:
    // Null with the reason in error when the name is no readable regular file.
    static std::unique_ptr<RegularFileInputStream> open (const juce::File& file, juce::String& error);
    static std::unique_ptr<RegularFileInputStream> open (const char* path, juce::String& error);
    ~RegularFileInputStream() override;

    const juce::File& getFile() const noexcept { return file; }
    // A second reader of the same open file, with a position of its own.
    std::unique_ptr<RegularFileInputStream> duplicate() const;
    // Which file and which state of it: device, inode, size and change time.
    juce::String identity() const;

    juce::int64 getTotalLength() override;
    bool isExhausted() override;
    int read (void* destBuffer, int maxBytesToRead) override;
    juce::int64 getPosition() override { return position; }
    bool setPosition (juce::int64 newPosition) override;

    RegularFileInputStream (const RegularFileInputStream&) = delete;
    RegularFileInputStream& operator= (const RegularFileInputStream&) = delete;

private:
    RegularFileInputStream (int descriptor, const juce::File& name) : fd (descriptor), file (name) {}

    const int fd;
    const juce::File file;
    juce::int64 position = 0;
};

// What opens a name for FFmpeg, nested opens included, before it opens.
// Tests swap the name here to meet the open with something else.
void setBeforeOpenHook (std::function<void (const char* path)> hook);

// An open container, read from a file or from any seekable juce::InputStream.
class Demuxer
{
public:
    static std::unique_ptr<Demuxer> openFile (const juce::File& file, juce::String& error);
    static std::unique_ptr<Demuxer> openStream (std::unique_ptr<juce::InputStream> stream, juce::String& error);
    // The file the stream has open, read by descriptor; measurements of it
    // are cached under its name.
    static std::unique_ptr<Demuxer> openFile (std::unique_ptr<RegularFileInputStream> stream, juce::String& error);
    ~Demuxer();

    AVFormatContext* get() const noexcept { return context; }
    AVStream* stream (int index) const noexcept;
    int numStreams() const noexcept;
    // QuickTime and MPEG-4 files: timestamps come from sample tables and edit
    // lists, so they are exact and a stream can start later than zero.
    bool isQuickTimeFamily() const noexcept;
    // Where a stream starts on the file's timeline, in seconds: zero but in
    // QuickTime files, and there zero too when the start lies past the
    // movie's own end (a broken edit list), not weeks of silence.
    double startSeconds (const AVStream* stream) const noexcept;
    const juce::File& getFile() const noexcept { return file; }
    // The open file underneath, for other readers of it; null for a stream.
    const RegularFileInputStream* getRegularFile() const noexcept { return regular; }
    // Opens the container again, positioned before its first packet: some
    // demuxers cannot seek back to packets timed before their first seek point.
    bool reopen (juce::String& error);

    Demuxer (const Demuxer&) = delete;
    Demuxer& operator= (const Demuxer&) = delete;

private:
    Demuxer() = default;
    static std::unique_ptr<Demuxer> openInput (std::unique_ptr<juce::InputStream> stream, const juce::File& file,
                                               juce::String& error);
    bool open (juce::String& error);

    AVFormatContext* context = nullptr;
    AVIOContext* io = nullptr;
    std::unique_ptr<juce::InputStream> input;
    const RegularFileInputStream* regular = nullptr;
    juce::File file;
};

// Whether the file's first bytes are those of a container FFmpeg knows,
// whatever its name says and whether or not it opens.
bool looksLikeMedia (const juce::File& file);

bool isAttachedPicture (const AVStream* stream) noexcept;
bool isPcmCodec (int codecId) noexcept;
// The first audio stream that is not cover art, or -1.
int firstAudioStream (AVFormatContext* context) noexcept;

// Where each compressed packet of an audio stream starts, for exact seeking
// in containers whose own seeking is approximate (MP3, ADTS, ...), and exact
// positions where the container's clock is coarser than a sample (Matroska).
struct PacketIndexEntry
{
    std::int64_t position = 0;    // byte offset in the file (packets laced into one block share it)
    std::int64_t startSample = 0; // first sample the packet decodes to (negative while priming)
    std::int64_t timestamp = 0;   // the container's own, for seeking by time; AV_NOPTS_VALUE if none
};

// The facts about one audio stream that decoding needs, measured once.
struct AudioStreamInfo
{
    int streamIndex = -1;
    int sampleRate = 0;
    int numChannels = 0;
    juce::String codecName;
    int bitsPerSample = 0;
    // Sample 0 of the stream sits at this many samples on the stream's own
    // clock (priming excluded).
    std::int64_t originSamples = 0;
    // Where the track starts on the file's timeline, in seconds.
    double startSeconds = 0.0;
    std::int64_t lengthInSamples = 0;
    bool usePacketIndex = false;
    // Whether a seek to an indexed byte offset lands on that packet; where it
    // does not (Matroska), seeks go by the container's timestamps.
    bool seekByBytes = false;
    // One tick of the container's clock in samples where that is coarser than
    // a sample, else 0: how far two packets' timestamps may be out against
    // each other.
    int timestampSlack = 0;
    // How far short of the length the stream may end cleanly, where the
    // length counts the last packet as whole.
    int lastPacketSlack = 0;
    std::vector<PacketIndexEntry> index;
};

// Measures the stream; the result for a file is cached while the file is unchanged.
std::shared_ptr<const AudioStreamInfo> measureAudioStream (Demuxer& demuxer, int streamIndex, juce::String& error);

// Decodes one audio stream to planar float at its own rate and channel count,
// landing on any requested sample exactly.
class AudioDecoder
{
public:
    // streamIndex -1 takes the first audio stream that is not cover art.
    static std::unique_ptr<AudioDecoder> open (const juce::File& file, int streamIndex, juce::String& error);
    static std::unique_ptr<AudioDecoder> open (std::unique_ptr<Demuxer> demuxer, int streamIndex, juce::String& error);
    ~AudioDecoder();

    const AudioStreamInfo& info() const noexcept { return *streamInfo; }
    int getSampleRate() const noexcept { return streamInfo->sampleRate; }
    int getNumChannels() const noexcept { return streamInfo->numChannels; }
    std::int64_t getLengthInSamples() const noexcept { return streamInfo->lengthInSamples; }

    // Fills numFrames samples of each destination channel from startSample.
    // Channels the stream lacks, positions outside it and stretches that fail
    // to decode come out as zeros. Returns false when decoding failed somewhere.
    bool read (float* const* dest, int numDestChannels, std::int64_t startSample, int numFrames);

    AudioDecoder (const AudioDecoder&) = delete;
    AudioDecoder& operator= (const AudioDecoder&) = delete;

private:
    AudioDecoder() = default;
    bool init (std::unique_ptr<Demuxer> demuxer, int streamIndex, juce::String& error);
    void seek (std::int64_t target);
    bool rewindToStart();
    void discardOtherStreams();
    std::ptrdiff_t indexEntryOf (const AVPacket& p);
    bool decodeMore();
    bool readPacket();
    void appendFrame (AVFrame* frame);
    void dropBefore (std::int64_t position);
    std::int64_t bufferEnd() const noexcept { return bufferStart + bufferCount; }

    std::unique_ptr<Demuxer> demuxer;
    std::shared_ptr<const AudioStreamInfo> streamInfo;
    AVCodecContext* codec = nullptr;
    SwrContext* converter = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int converterFormat = -1, converterRate = 0, converterChannels = 0;

    std::vector<std::vector<float>> buffer; // planar, capacity grows as needed
    std::vector<float*> convertPointers;
    std::int64_t bufferStart = 0;
    std::int64_t bufferHead = 0; // offset of bufferStart inside the vectors
    std::int64_t bufferCount = 0;
    // Packet index look-up after a seek: the entry the seek aimed at (-1 when
    // the landing needs no check), and the run of packets sharing a position.
    std::ptrdiff_t seekEntry = -1;
    std::int64_t lastPacketPosition = -1;
    std::ptrdiff_t lacedOrdinal = 0;
    bool atStart = false; // the demuxer was just opened and nothing read since
    static constexpr std::int64_t noFrameYet = std::numeric_limits<std::int64_t>::min();
    std::int64_t lastFrameEnd = noFrameYet; // where the last decoded frame ended, since the seek
    bool sentFlush = false;
    bool endOfStream = false;
    bool positioned = false;
    bool failed = false;
    int preroll = 0;
};

// Where pictures are converted before they are copied into images. Tests
// put each block against an unreadable page to catch a conversion that
// writes past its end; an allocator without functions restores FFmpeg's.
struct PictureBufferAllocator
{
    void* (*allocate) (size_t bytes) = nullptr;
    void (*release) (void* block, size_t bytes) = nullptr;
};
void setPictureBufferAllocator (PictureBufferAllocator allocator);

struct VideoFrame
{
    double time = 0.0; // seconds on the file's timeline
    juce::Image image;
};

// Decodes one video stream to ARGB images in presentation order.
class VideoDecoder
{
public:
    static std::unique_ptr<VideoDecoder> open (const juce::File& file, int streamIndex, juce::String& error);
    ~VideoDecoder();

    // The next decoded frames start with the last frame at or before seconds.
    void seek (double seconds);
    bool next (VideoFrame& out);
    double frameDuration() const noexcept { return frameSeconds; }

    VideoDecoder (const VideoDecoder&) = delete;
    VideoDecoder& operator= (const VideoDecoder&) = delete;

private:
    VideoDecoder() = default;
    bool receive (VideoFrame& out);
    bool convert (const AVFrame& source, juce::Image& image);
    void releasePicture() noexcept;

    std::unique_ptr<Demuxer> demuxer;
    int streamIndex = -1;
    AVCodecContext* codec = nullptr;
    SwsContext* scaler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    // The conversion's destination, kept while pictures keep their size.
    std::uint8_t* picture = nullptr;
    size_t pictureBytes = 0;
    PictureBufferAllocator pictureAllocator;
    double timeBase = 0.0;
    double frameSeconds = 1.0 / 30.0;
    double skipBefore = -1.0e300;
    bool sentFlush = false;
    bool endOfStream = false;
    VideoFrame held; // the newest frame before skipBefore, kept until a later one arrives
    bool hasHeld = false;
};
} // namespace clarivo::media::detail
