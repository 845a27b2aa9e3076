#include "MediaAssetReaderWriter.h"
#include "MediaFileOutput.h"
#include "MediaTrackRender.h"

extern "C"
{
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace clarivo::media
{
bool LinearPCMSettings::isSupported() const noexcept
{
    const bool depthOk = isFloat ? bitDepth == 32 : (bitDepth == 16 || bitDepth == 24 || bitDepth == 32);
    return depthOk && sampleRate > 0 && numberOfChannels > 0 && numberOfChannels <= 16 && ! isNonInterleaved;
}

// ---------------------------------------------------------------------------
namespace
{
thread_local juce::String runningQueueName;
}

std::shared_ptr<SerialQueue> SerialQueue::create (const juce::String& name)
{
    return std::shared_ptr<SerialQueue> (new SerialQueue (name));
}

SerialQueue::SerialQueue (const juce::String& n) : state (std::make_shared<State> (n))
{
    thread = std::thread ([s = state] { run (s); });
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard<std::mutex> guard (state->lock);
        state->stopping = true;
    }
    state->changed.notify_all();
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // the last reference went inside one of its own blocks; the worker keeps the state
    else if (thread.joinable())
        thread.join();
}

void SerialQueue::async (std::function<void()> block)
{
    {
        std::lock_guard<std::mutex> guard (state->lock);
        state->blocks.push_back (std::move (block));
    }
    state->changed.notify_all();
}

void SerialQueue::waitUntilIdle()
{
    std::unique_lock<std::mutex> guard (state->lock);
    state->changed.wait (guard, [this] { return state->blocks.empty() && ! state->busy; });
}

juce::String SerialQueue::currentQueueName()
{
    return runningQueueName;
}

void SerialQueue::run (const std::shared_ptr<State>& state)
{
    auto& s = *state;
    runningQueueName = s.name;
    // The system limits thread names to 15 characters.
    juce::Thread::setCurrentThreadName (s.name.substring (0, 15));
    for (;;)
    {
        std::function<void()> block;
        {
            std::unique_lock<std::mutex> guard (s.lock);
            s.changed.wait (guard, [&s] { return s.stopping || ! s.blocks.empty(); });
            if (s.blocks.empty())
                return;
            block = std::move (s.blocks.front());
            s.blocks.pop_front();
            s.busy = true;
        }
        block();
        block = nullptr;
        {
            std::lock_guard<std::mutex> guard (s.lock);
            s.busy = false;
        }
        s.changed.notify_all();
    }
}

// ---------------------------------------------------------------------------
struct AssetReaderAudioMixOutput::Impl
{
    struct Track
    {
        std::unique_ptr<detail::TrackAudioSource> source;
        SwrContext* converter = nullptr;
        std::int64_t nextSource = 0;
        std::vector<std::vector<float>> in, pending;
        int pendingCount = 0;
        bool flushed = false;
    };

    std::vector<Track> tracks;
    std::int64_t start = 0, total = 0, produced = 0;
    std::vector<std::vector<float>> mix;
    std::vector<float*> pointers;
    static constexpr int chunk = 8192;

    ~Impl()
    {
        for (auto& t : tracks)
            swr_free (&t.converter);
    }
};

std::shared_ptr<AssetReaderAudioMixOutput> AssetReaderAudioMixOutput::create (std::vector<std::shared_ptr<AssetTrack>> audioTracks,
                                                                              const LinearPCMSettings& settings)
{
    auto output = std::shared_ptr<AssetReaderAudioMixOutput> (new AssetReaderAudioMixOutput());
    output->tracks = std::move (audioTracks);
    output->settings = settings;
    return output;
}

AssetReaderAudioMixOutput::~AssetReaderAudioMixOutput() = default;

bool AssetReaderAudioMixOutput::start (TimeRange range, juce::String& why)
{
    impl = std::make_unique<Impl>();
    const int rate = (int) settings.sampleRate;
    const int channels = settings.numberOfChannels;
    impl->start = std::max<std::int64_t> (0, range.start.toSamples (rate));
    impl->total = std::max<std::int64_t> (0, range.end().toSamples (rate) - impl->start);
    impl->mix.assign ((size_t) channels, std::vector<float> (Impl::chunk));

    for (auto& track : tracks)
    {
        Impl::Track t;
        t.source = std::make_unique<detail::TrackAudioSource> (*track);
        if (! t.source->isValid())
        {
            why = t.source->getError();
            return false;
        }
        const int srcRate = t.source->getSampleRate();
        const int srcChannels = t.source->getNumChannels();
        t.nextSource = std::max<std::int64_t> (0, range.start.toSamples (srcRate));
        t.in.assign ((size_t) srcChannels, std::vector<float> (Impl::chunk));
        if (srcRate != rate || srcChannels != channels)
        {
            AVChannelLayout inLayout {}, outLayout {};
            av_channel_layout_default (&inLayout, srcChannels);
            av_channel_layout_default (&outLayout, channels);
            swr_alloc_set_opts2 (&t.converter, &outLayout, AV_SAMPLE_FMT_FLTP, rate, &inLayout, AV_SAMPLE_FMT_FLTP, srcRate, 0,
                                 nullptr);
            if (t.converter == nullptr || swr_init (t.converter) < 0)
            {
                swr_free (&t.converter);
                why = "The audio cannot be converted to the requested format.";
                return false;
            }
            t.pending.assign ((size_t) channels, std::vector<float> ((size_t) Impl::chunk * 8 + 1024));
        }
        impl->tracks.push_back (std::move (t));
    }
    return true;
}

std::shared_ptr<SampleBuffer> AssetReaderAudioMixOutput::copyNextSampleBuffer()
{
    if (impl == nullptr || reader == nullptr || reader->getStatus() != ReaderStatus::reading)
        return nullptr;

    const int channels = settings.numberOfChannels;
    const int n = (int) std::min<std::int64_t> (Impl::chunk, impl->total - impl->produced);
    if (n <= 0)
    {
        reader->status.store (ReaderStatus::completed);
        return nullptr;
    }

    for (auto& ch : impl->mix)
        std::fill (ch.begin(), ch.begin() + n, 0.0f);

    for (auto& t : impl->tracks)
    {
        const int srcChannels = t.source->getNumChannels();
        std::vector<float*> in;
        for (auto& ch : t.in)
            in.push_back (ch.data());

        if (t.converter == nullptr)
        {
            if (! t.source->read (in.data(), t.nextSource, n))
            {
                reader->fail ("The audio could not be decoded completely.");
                return nullptr;
            }
            t.nextSource += n;
            for (int c = 0; c < channels && c < srcChannels; ++c)
                juce::FloatVectorOperations::add (impl->mix[(size_t) c].data(), in[(size_t) c], n);
            continue;
        }

        while (t.pendingCount < n)
        {
            std::vector<float*> outPointers;
            for (auto& ch : t.pending)
                outPointers.push_back (ch.data() + t.pendingCount);
            const int room = (int) t.pending[0].size() - t.pendingCount;
            int got;
            if (t.nextSource < t.source->getEndSample() + Impl::chunk)
            {
                if (! t.source->read (in.data(), t.nextSource, Impl::chunk))
                {
                    reader->fail ("The audio could not be decoded completely.");
                    return nullptr;
                }
                t.nextSource += Impl::chunk;
                got = swr_convert (t.converter, reinterpret_cast<uint8_t**> (outPointers.data()), room,
                                   (const uint8_t**) in.data(), Impl::chunk);
            }
            else
            {
                got = swr_convert (t.converter, reinterpret_cast<uint8_t**> (outPointers.data()), room, nullptr, 0);
                if (got <= 0)
                {
                    // Past the end of the track: silence.
                    for (auto* p : outPointers)
                        std::fill (p, p + (n - t.pendingCount), 0.0f);
                    got = n - t.pendingCount;
                }
            }
            if (got < 0)
            {
                reader->fail ("The audio could not be converted.");
                return nullptr;
            }
            t.pendingCount += got;
        }
        for (int c = 0; c < channels; ++c)
        {
            juce::FloatVectorOperations::add (impl->mix[(size_t) c].data(), t.pending[(size_t) c].data(), n);
            std::memmove (t.pending[(size_t) c].data(), t.pending[(size_t) c].data() + n,
                          (size_t) (t.pendingCount - n) * sizeof (float));
        }
        t.pendingCount -= n;
    }

    auto buffer = std::make_shared<SampleBuffer>();
    buffer->presentationTime = makeTime (impl->start + impl->produced, (std::int32_t) settings.sampleRate);
    buffer->numFrames = n;
    buffer->format = settings;
    buffer->data.setSize ((size_t) n * (size_t) settings.bytesPerFrame());
    auto* bytes = static_cast<unsigned char*> (buffer->data.getData());
    const int width = settings.bytesPerSample();
    // Worked out once: a libm call for each sample was a fifth of a long copy.
    const double scale = std::ldexp (1.0, settings.bitDepth - 1);

    for (int i = 0; i < n; ++i)
    {
        for (int c = 0; c < channels; ++c)
        {
            const float x = impl->mix[(size_t) c][(size_t) i];
            std::uint32_t word;
            if (settings.isFloat)
            {
                std::memcpy (&word, &x, 4);
            }
            else
            {
                const double v = std::clamp (std::nearbyint ((double) x * scale), -scale, scale - 1.0);
                word = (std::uint32_t) (std::int32_t) (std::int64_t) v;
            }
            for (int b = 0; b < width; ++b)
            {
                const int shift = settings.isBigEndian ? 8 * (width - 1 - b) : 8 * b;
                *bytes++ = (unsigned char) ((word >> shift) & 0xff);
            }
        }
    }

    impl->produced += n;
    return buffer;
}

// ---------------------------------------------------------------------------
std::shared_ptr<AssetReader> AssetReader::create (std::shared_ptr<Asset> asset, juce::String* error)
{
    if (asset == nullptr || asset->getTracks().empty())
    {
        if (error != nullptr)
            *error = asset == nullptr ? juce::String ("No asset.")
                   : (asset->getError().isNotEmpty() ? asset->getError() : juce::String ("The asset holds no tracks."));
        return nullptr;
    }
    return std::shared_ptr<AssetReader> (new AssetReader (std::move (asset)));
}

bool AssetReader::canAddOutput (const AssetReaderAudioMixOutput& output) const
{
    if (status.load() != ReaderStatus::unknown || output.reader != nullptr || ! output.settings.isSupported()
        || output.tracks.empty())
        return false;
    for (auto& t : output.tracks)
        if (t == nullptr || t->getMediaType() != MediaType::audio)
            return false;
    return true;
}

void AssetReader::addOutput (std::shared_ptr<AssetReaderAudioMixOutput> output)
{
    if (output == nullptr || ! canAddOutput (*output))
        return;
    output->reader = shared_from_this();
    outputs.push_back (output);
}

TimeRange AssetReader::getTimeRange() const
{
    const auto duration = asset->getDuration();
    auto range = timeRange.value_or (TimeRange { Time::zero(), duration });
    // Nothing past the asset's end.
    const auto end = minimum (range.end(), duration);
    range.duration = end > range.start ? end - range.start : makeTime (0, 1);
    return range;
}

bool AssetReader::startReading()
{
    if (status.load() != ReaderStatus::unknown)
        return false;
    if (outputs.empty())
    {
        fail ("The reader has no outputs.");
        return false;
    }
    const auto range = getTimeRange();
    for (auto& weakOutput : outputs)
    {
        auto o = weakOutput.lock();
        if (o == nullptr)
            continue; // nobody will read it
        juce::String why;
        if (! o->start (range, why))
        {
            fail (why);
            return false;
        }
    }
    status.store (ReaderStatus::reading);
    return true;
}

void AssetReader::cancelReading()
{
    status.store (ReaderStatus::cancelled);
}

void AssetReader::fail (const juce::String& why)
{
    {
        std::lock_guard<std::mutex> guard (errorLock);
        error = why;
    }
    status.store (ReaderStatus::failed);
}

juce::String AssetReader::getError() const
{
    std::lock_guard<std::mutex> guard (errorLock);
    return error;
}

// ---------------------------------------------------------------------------
std::shared_ptr<AssetWriterInput> AssetWriterInput::create (MediaType mediaType, const LinearPCMSettings& settings)
{
    auto input = std::shared_ptr<AssetWriterInput> (new AssetWriterInput());
    input->mediaType = mediaType;
    input->settings = settings;
    return input;
}

bool AssetWriterInput::isReadyForMoreMediaData() const noexcept
{
    if (finished.load())
        return false;
    auto w = writer.lock();
    return w != nullptr && w->getStatus() == WriterStatus::writing;
}

bool AssetWriterInput::appendSampleBuffer (const SampleBuffer& buffer)
{
    // Held for the call, so the writer cannot go half way through a write.
    auto w = writer.lock();
    if (finished.load() || w == nullptr || w->getStatus() != WriterStatus::writing)
        return false;
    if (! w->write (buffer))
        return false;
    appended.fetch_add (1);
    return true;
}

void AssetWriterInput::markAsFinished()
{
    finished.store (true);
}

void AssetWriterInput::requestMediaDataWhenReadyOnQueue (std::shared_ptr<SerialQueue> queue, std::function<void()> block)
{
    if (queue == nullptr || ! block)
        return;
    queue->async ([self = shared_from_this(), block = std::move (block)]
    {
        // This input is always ready while writing, so the block runs again
        // as long as it keeps supplying data and has not finished.
        while (self->isReadyForMoreMediaData())
        {
            const auto before = self->appended.load();
            block();
            if (self->appended.load() == before)
                break;
        }
    });
}

// ---------------------------------------------------------------------------
std::shared_ptr<AssetWriter> AssetWriter::create (const juce::File& file, FileType type, juce::String* error)
{
    const auto refuse = [error] (const char* why) -> std::shared_ptr<AssetWriter>
    {
        if (error != nullptr)
            *error = why;
        return nullptr;
    };
    if (type != FileType::wave && type != FileType::aiff)
        return refuse ("The writer writes WAV and AIFF files only.");
    if (! detail::mayWriteTo (file))
        return refuse ("The output file already exists.");
    if (! file.getParentDirectory().isDirectory())
        return refuse ("The output folder does not exist.");
    return std::shared_ptr<AssetWriter> (new AssetWriter (file, type));
}

AssetWriter::~AssetWriter()
{
    if (status.load() == WriterStatus::writing)
        cancelWriting();
}

bool AssetWriter::canAddInput (const AssetWriterInput& in) const
{
    if (input != nullptr || status.load() != WriterStatus::unknown || ! in.writer.expired())
        return false;
    const auto& s = in.settings;
    // WAV holds little-endian integers, AIFF big-endian ones.
    const bool orderOk = type == FileType::wave ? ! s.isBigEndian : s.isBigEndian;
    return in.mediaType == MediaType::audio && s.isSupported() && ! s.isFloat && (s.bitDepth == 16 || s.bitDepth == 24)
        && orderOk;
}

void AssetWriter::addInput (std::shared_ptr<AssetWriterInput> in)
{
    if (in == nullptr || ! canAddInput (*in))
        return;
    in->writer = weak_from_this();
    input = std::move (in);
}

bool AssetWriter::startWriting()
{
    if (status.load() != WriterStatus::unknown)
        return false;
    if (input == nullptr)
    {
        fail ("The writer has no input.");
        return false;
    }
    const auto& s = input->settings;
    juce::String why;
    partial = std::make_unique<detail::PartialFile> (file, why);
    if (! partial->isValid())
    {
        partial.reset();
        fail (why);
        return false;
    }
    // The format writer owns the stream and closes it when it goes, after
    // its last header update; the flag tells whether all of that reached the disk.
    streamFailed = std::make_shared<std::atomic<bool>> (false);
    auto stream = std::make_unique<detail::CheckedFileOutputStream> (partial->getFile(), streamFailed);
    if (! stream->openedOk())
    {
        partial.reset();
        fail ("The file cannot be created.");
        return false;
    }

    std::unique_ptr<juce::AudioFormat> format;
    if (type == FileType::wave)
        format = std::make_unique<juce::WavAudioFormat>();
    else
        format = std::make_unique<juce::AiffAudioFormat>();
    writer.reset (format->createWriterFor (stream.get(), s.sampleRate, (unsigned int) s.numberOfChannels, s.bitDepth, {}, 0));
    if (writer == nullptr)
    {
        stream.reset();
        partial.reset();
        fail ("The audio format cannot be written.");
        return false;
    }
    stream.release(); // the writer owns it now
    planar.assign ((size_t) s.numberOfChannels, std::vector<int>());
    status.store (WriterStatus::writing);
    return true;
}

bool AssetWriter::write (const SampleBuffer& buffer)
{
    std::lock_guard<std::mutex> guard (writeLock);
    if (writer == nullptr || status.load() != WriterStatus::writing)
        return false;
    const auto& s = input->settings;
    const auto& b = buffer.format;
    if (b.sampleRate != s.sampleRate || b.numberOfChannels != s.numberOfChannels || b.bitDepth != s.bitDepth
        || b.isFloat != s.isFloat || b.isBigEndian != s.isBigEndian
        || buffer.data.getSize() < (size_t) buffer.numFrames * (size_t) s.bytesPerFrame())
    {
        fail ("A sample buffer does not match the input's settings.");
        return false;
    }

    const int n = (int) buffer.numFrames;
    const int width = s.bytesPerSample();
    std::vector<const int*> pointers;
    for (auto& ch : planar)
    {
        ch.resize ((size_t) n);
        pointers.push_back (ch.data());
    }
    pointers.push_back (nullptr);

    const auto* bytes = static_cast<const unsigned char*> (buffer.data.getData());
    for (int i = 0; i < n; ++i)
    {
        for (int c = 0; c < s.numberOfChannels; ++c)
        {
            std::uint32_t word = 0;
            for (int k = 0; k < width; ++k)
            {
                const int shift = s.isBigEndian ? 8 * (width - 1 - k) : 8 * k;
                word |= (std::uint32_t) *bytes++ << shift;
            }
            // Left-justified 32-bit, as the format writers take integers.
            planar[(size_t) c][(size_t) i] = (int) (word << (32 - 8 * width));
        }
    }

    if (! writer->write (pointers.data(), n))
    {
        fail ("The file could not be written.");
        return false;
    }
    return true;
}

bool AssetWriter::finishWriting()
{
    if (input != nullptr)
        input->markAsFinished();
    std::lock_guard<std::mutex> guard (writeLock);
    if (status.load() != WriterStatus::writing)
    {
        writer = nullptr;
        partial.reset();
        return false;
    }
    writer = nullptr; // completes the header and closes the file
    juce::String why;
    if (streamFailed->load())
        why = "The file could not be written.";
    const bool placed = why.isEmpty() && partial != nullptr && partial->moveInto (file, why);
    partial.reset();
    if (! placed)
    {
        fail (why);
        return false;
    }
    status.store (WriterStatus::completed);
    return true;
}

void AssetWriter::cancelWriting()
{
    if (input != nullptr)
        input->markAsFinished();
    std::lock_guard<std::mutex> guard (writeLock);
    writer = nullptr;
    partial.reset();
    if (status.load() == WriterStatus::writing || status.load() == WriterStatus::unknown)
        status.store (WriterStatus::cancelled);
}

void AssetWriter::fail (const juce::String& why)
{
    {
        std::lock_guard<std::mutex> guard (errorLock);
        error = why;
    }
    status.store (WriterStatus::failed);
}

juce::String AssetWriter::getError() const
{
    std::lock_guard<std::mutex> guard (errorLock);
    return error;
}
} // namespace clarivo::media
