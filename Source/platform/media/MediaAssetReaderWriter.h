#pragma once

#include "MediaAsset.h"
#include "MediaExportSession.h"
#include "MediaFileOutput.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <condition_variable>
#include <deque>
#include <thread>

namespace clarivo::media
{
// Linear PCM as a reader delivers it and a writer takes it: interleaved,
// integer (16, 24 or 32 bits, packed) or 32-bit float, either byte order.
struct LinearPCMSettings
{
    double sampleRate = 44100.0;
    int numberOfChannels = 2;
    int bitDepth = 24;
    bool isFloat = false;
    bool isBigEndian = false;
    bool isNonInterleaved = false;

    int bytesPerSample() const noexcept { return bitDepth / 8; }
    int bytesPerFrame() const noexcept { return bytesPerSample() * numberOfChannels; }
    bool isSupported() const noexcept;
};

// A run of interleaved PCM frames.
struct SampleBuffer
{
    Time presentationTime;
    std::int64_t numFrames = 0;
    LinearPCMSettings format;
    juce::MemoryBlock data;
};

// A worker thread that runs blocks one after another, in order.
class SerialQueue
{
public:
    static std::shared_ptr<SerialQueue> create (const juce::String& name);
    ~SerialQueue(); // runs what is queued, then stops

    const juce::String& getName() const noexcept { return state->name; }
    void async (std::function<void()> block);
    // Waits until every block queued so far has run.
    void waitUntilIdle();
    // The name of the queue running the calling code, or empty.
    static juce::String currentQueueName();

private:
    // Shared with the worker, which may outlive the queue: when a block lets
    // go of the last reference, the worker finishes that block (and any
    // queued after it) on its own.
    struct State
    {
        explicit State (const juce::String& n) : name (n) {}
        const juce::String name;
        std::mutex lock;
        std::condition_variable changed;
        std::deque<std::function<void()>> blocks;
        bool busy = false;
        bool stopping = false;
    };

    explicit SerialQueue (const juce::String& name);
    static void run (const std::shared_ptr<State>& state);

    std::shared_ptr<State> state;
    std::thread thread;
};

enum class ReaderStatus
{
    unknown = 0,
    reading = 1,
    completed = 2,
    failed = 3,
    cancelled = 4,
};

class AssetReader;

// Mixes the given audio tracks into PCM with the requested settings.
class AssetReaderAudioMixOutput
{
public:
    static std::shared_ptr<AssetReaderAudioMixOutput> create (std::vector<std::shared_ptr<AssetTrack>> audioTracks,
                                                              const LinearPCMSettings& settings);
    ~AssetReaderAudioMixOutput();

    const LinearPCMSettings& getSettings() const noexcept { return settings; }
    // The next run of frames, or null at the end (or after a failure: see the reader's status).
    std::shared_ptr<SampleBuffer> copyNextSampleBuffer();

private:
    struct Impl;
    AssetReaderAudioMixOutput() = default;
    bool start (TimeRange range, juce::String& why);

    std::vector<std::shared_ptr<AssetTrack>> tracks;
    LinearPCMSettings settings;
    std::unique_ptr<Impl> impl;
    // The output keeps its reader: a copy queued to run later holds the
    // output, and the caller that set it up may be gone by then.
    std::shared_ptr<AssetReader> reader;

    friend class AssetReader;
};

class AssetReader : public std::enable_shared_from_this<AssetReader>
{
public:
    // Null (with the reason) when the asset cannot be read.
    static std::shared_ptr<AssetReader> create (std::shared_ptr<Asset> asset, juce::String* error = nullptr);

    std::shared_ptr<Asset> getAsset() const { return asset; }
    bool canAddOutput (const AssetReaderAudioMixOutput& output) const;
    void addOutput (std::shared_ptr<AssetReaderAudioMixOutput> output);
    // The part of the asset to read; the whole asset unless set.
    void setTimeRange (TimeRange range) { timeRange = range; }
    TimeRange getTimeRange() const;

    bool startReading();
    void cancelReading();
    ReaderStatus getStatus() const noexcept { return status.load(); }
    juce::String getError() const;

private:
    explicit AssetReader (std::shared_ptr<Asset> a) : asset (std::move (a)) {}
    void fail (const juce::String& why);

    std::shared_ptr<Asset> asset;
    // Weak, as the outputs hold the reader.
    std::vector<std::weak_ptr<AssetReaderAudioMixOutput>> outputs;
    std::optional<TimeRange> timeRange;
    std::atomic<ReaderStatus> status { ReaderStatus::unknown };
    mutable std::mutex errorLock;
    juce::String error;

    friend class AssetReaderAudioMixOutput;
};

enum class WriterStatus
{
    unknown = 0,
    writing = 1,
    completed = 2,
    failed = 3,
    cancelled = 4,
};

class AssetWriter;

class AssetWriterInput : public std::enable_shared_from_this<AssetWriterInput>
{
public:
    static std::shared_ptr<AssetWriterInput> create (MediaType mediaType, const LinearPCMSettings& settings);

    const LinearPCMSettings& getSettings() const noexcept { return settings; }
    MediaType getMediaType() const noexcept { return mediaType; }
    void setExpectsMediaDataInRealTime (bool realTime) noexcept { expectsRealTime = realTime; }
    bool getExpectsMediaDataInRealTime() const noexcept { return expectsRealTime; }

    bool isReadyForMoreMediaData() const noexcept;
    // False when the buffer does not match the settings or the writer failed.
    bool appendSampleBuffer (const SampleBuffer& buffer);
    void markAsFinished();

    // Runs block on the queue whenever the input wants data, until the input
    // is finished or the block stops supplying any.
    void requestMediaDataWhenReadyOnQueue (std::shared_ptr<SerialQueue> queue, std::function<void()> block);

private:
    AssetWriterInput() = default;

    MediaType mediaType = MediaType::audio;
    LinearPCMSettings settings;
    bool expectsRealTime = false;
    std::atomic<bool> finished { false };
    std::atomic<std::int64_t> appended { 0 };
    // Weak, as the writer holds its input; a writer let go while its queue
    // still copies cancels, and the input then takes no more.
    std::weak_ptr<AssetWriter> writer;

    friend class AssetWriter;
};

// Writes PCM audio into a WAV or AIFF file. The file appears when writing
// finishes; a failed or cancelled writer leaves nothing behind.
class AssetWriter : public std::enable_shared_from_this<AssetWriter>
{
public:
    // Null (with the reason) for file types other than WAV and AIFF or an existing file.
    static std::shared_ptr<AssetWriter> create (const juce::File& file, FileType type, juce::String* error = nullptr);
    ~AssetWriter();

    bool canAddInput (const AssetWriterInput& input) const;
    void addInput (std::shared_ptr<AssetWriterInput> input);
    // Tags for the file, named as fileMetadata gives them; set before
    // writing starts. A WAV file keeps a broadcast wave's description,
    // originator, date, time and time reference, and the title and the like.
    void setMetadata (const juce::StringPairArray& tags) { metadata = tags; }
    bool startWriting();
    // Buffers are written one after another whatever their time stamps; the
    // session start is kept for reference.
    void startSessionAtSourceTime (Time time) { sessionStart = time; }
    // True when the file is complete and in place.
    bool finishWriting();
    void cancelWriting();

    WriterStatus getStatus() const noexcept { return status.load(); }
    juce::String getError() const;
    juce::File getOutputURL() const { return file; }

private:
    AssetWriter (const juce::File& f, FileType t) : file (f), type (t) {}
    bool write (const SampleBuffer& buffer);
    void fail (const juce::String& why);

    const juce::File file;
    const FileType type;
    std::unique_ptr<detail::PartialFile> partial;
    std::shared_ptr<AssetWriterInput> input;
    std::unique_ptr<juce::AudioFormatWriter> writer;
    std::shared_ptr<std::atomic<int>> streamFailed;
    std::mutex writeLock;
    std::vector<std::vector<int>> planar;
    Time sessionStart = Time::zero();
    juce::StringPairArray metadata;
    std::atomic<WriterStatus> status { WriterStatus::unknown };
    mutable std::mutex errorLock;
    juce::String error;

    friend class AssetWriterInput;
};
} // namespace clarivo::media
