#include "app/recorder/AudioRecorder.h"

#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaFileOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <vector>
#include <thread>

namespace
{
// After a failed write the writer's header counts bytes that never reached
// the disk (they sat in the stream's buffer). Cut the data chunk back to the
// whole frames the file really holds and make both sizes say so.
juce::int64 trimToWholeFrames (const juce::File& file, int frameBytes)
{
    juce::int64 dataSizeAt = -1, dataStart = 0;
    {
        juce::String error;
        const auto in = clarivo::media::detail::RegularFileInputStream::open (file, error);
        if (in == nullptr || in->readInt() != (int) juce::ByteOrder::littleEndianInt ("RIFF"))
            return -1;
        in->setPosition (12);
        while (! in->isExhausted())
        {
            const auto id = in->readInt();
            const auto size = (juce::uint32) in->readInt();
            if (id == (int) juce::ByteOrder::littleEndianInt ("data"))
            {
                dataSizeAt = in->getPosition() - 4;
                dataStart = in->getPosition();
                break;
            }
            in->setPosition (in->getPosition() + size + (size & 1));
        }
    }
    if (dataSizeAt < 0)
        return -1;

    const auto frames = juce::jmax ((juce::int64) 0, file.getSize() - dataStart) / frameBytes;
    const auto dataBytes = frames * frameBytes;
    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const auto putSize = [fd] (juce::int64 at, juce::int64 value)
    {
        const auto le = juce::ByteOrder::swapIfBigEndian ((juce::uint32) value);
        return ::pwrite (fd, &le, sizeof (le), (off_t) at) == (ssize_t) sizeof (le);
    };
    const bool ok = ::ftruncate (fd, (off_t) (dataStart + dataBytes)) == 0 && putSize (4, dataStart + dataBytes - 8)
                    && putSize (dataSizeAt, dataBytes);
    return ::close (fd) == 0 && ok ? frames : -1;
}
} // namespace

//==============================================================================
class AudioRecorder::Recording : private juce::TimeSliceClient
{
public:
    Recording (std::unique_ptr<juce::AudioFormatWriter> writerToUse, std::unique_ptr<PartialFile> partialToUse,
               const juce::File& target, int capacity, juce::TimeSliceThread& threadToUse)
        : writer (std::move (writerToUse)),
          partial (std::move (partialToUse)),
          file (target),
          thread (threadToUse),
          channels ((int) writer->getNumChannels()),
          bitsPerSample (writer->getBitsPerSample()),
          frameBytes (channels * bitsPerSample / 8),
          fifo (capacity + 1),
          buffer (channels, capacity + 1)
    {
        for (auto& block : scratch)
            block.resize (scratchFrames);
        thread.addTimeSliceClient (this);
    }

    ~Recording() override { thread.removeTimeSliceClient (this); }

    // Audio thread. A missing or null input channel records silence, so a
    // stereo recording from a one-input device reads past no array.
    bool push (const float* const* in, int numIn, int numSamples) noexcept
    {
        int start1, size1, start2, size2;
        fifo.prepareToWrite (numSamples, start1, size1, start2, size2);
        if (size1 + size2 < numSamples)
        {
            framesLost.fetch_add (numSamples, std::memory_order_relaxed);
            return false;
        }
        for (int c = 0; c < channels; ++c)
        {
            const float* source = c < numIn ? in[c] : nullptr;
            if (source == nullptr)
            {
                buffer.clear (c, start1, size1);
                buffer.clear (c, start2, size2);
                continue;
            }
            buffer.copyFrom (c, start1, source, size1);
            buffer.copyFrom (c, start2, source + size1, size2);
        }
        fifo.finishedWrite (size1 + size2);
        return true;
    }

    int getFreeSpace() const noexcept { return fifo.getFreeSpace(); }

    // Message thread: the audio thread has let go of this recording.
    StopReport finish()
    {
        thread.removeTimeSliceClient (this);
        drain();
        writer.reset(); // writes the final header

        const auto taken = framesWritten + framesUnwritten;
        if (writeFailed)
            if (const auto held = trimToWholeFrames (partial->getFile(), frameBytes); held >= 0)
                framesWritten = juce::jmin (framesWritten, held);

        StopReport report;
        // What was recorded is kept, whole or not, and under another name
        // when something took the take's name meanwhile.
        juce::String why;
        report.file = partial->commit (file, clarivo::media::detail::IfTaken::keepBeside, why);
        if (report.file == juce::File())
            framesWritten = 0;
        report.wasRecording = true;
        report.framesWritten = framesWritten;
        report.framesLost = framesLost.load() + taken - framesWritten;
        report.writeFailed = writeFailed;
        return report;
    }

private:
    int useTimeSlice() override
    {
        drain();
        return 5;
    }

    void drain()
    {
        for (;;)
        {
            int start1, size1, start2, size2;
            fifo.prepareToRead (fifo.getNumReady(), start1, size1, start2, size2);
            if (size1 + size2 == 0)
                return;
            write (start1, size1);
            write (start2, size2);
            fifo.finishedRead (size1 + size2);
        }
    }

    void write (int start, int size)
    {
        for (int done = 0; done < size;)
        {
            const int n = juce::jmin (size - done, scratchFrames);
            if (writeFailed)
            {
                framesUnwritten += n;
            }
            else
            {
                const int* channelData[3] {};
                for (int c = 0; c < channels; ++c)
                {
                    const float* source = buffer.getReadPointer (c, start + done);
                    if (bitsPerSample == 32)
                    {
                        // 32 bits are written as floats, taken as they are.
                        channelData[c] = reinterpret_cast<const int*> (source);
                        continue;
                    }
                    toInts (source, scratch[(size_t) c].data(), n);
                    channelData[c] = scratch[(size_t) c].data();
                }
                writeFailed = ! writer->write (channelData, n);
                (writeFailed ? framesUnwritten : framesWritten) += n;
            }
            done += n;
        }
    }

    // The integer writers take left-justified 32-bit values. Rounding at the
    // file's own depth (rather than at 32 bits, then truncated) keeps a sample
    // that is exact at that depth exact, and the reader's 1/2^31 gives it back.
    void toInts (const float* source, int* dest, int n) const noexcept
    {
        const int shift = 32 - bitsPerSample;
        const double scale = std::ldexp (1.0, bitsPerSample - 1);
        const double top = scale - 1.0;
        for (int i = 0; i < n; ++i)
        {
            const double x = std::isfinite (source[i]) ? std::round ((double) source[i] * scale) : 0.0;
            const auto v = (juce::int64) juce::jlimit (-scale, top, x);
            dest[i] = (int) (juce::uint32) ((juce::uint64) v << shift);
        }
    }

    static constexpr int scratchFrames = 4096;
    std::unique_ptr<juce::AudioFormatWriter> writer;
    std::unique_ptr<PartialFile> partial;
    const juce::File file;
    juce::TimeSliceThread& thread;
    const int channels, bitsPerSample, frameBytes;
    std::array<std::vector<int>, 2> scratch;
    juce::AbstractFifo fifo;
    juce::AudioBuffer<float> buffer;
    std::atomic<juce::int64> framesLost { 0 };
    // The writer thread's, then the message thread's once the client is removed.
    juce::int64 framesWritten = 0, framesUnwritten = 0;
    bool writeFailed = false;
};

//==============================================================================
AudioRecorder::AudioRecorder()
{
    recorderThread.startThread();
}

AudioRecorder::~AudioRecorder()
{
    stop();
    recorderThread.stopThread (4000);
}

AudioRecorder::StartResult AudioRecorder::startRecording (const juce::File& file, int channels, int bitsPerSample)
{
    stop();

    const double rate = deviceSampleRate.load();
    if (rate <= 0.0 || deviceInputs.load() <= 0)
        return StartResult::noInput;

    channels = sanitiseChannels (channels);
    bitsPerSample = sanitiseBits (bitsPerSample);

    // The take has its name only when it is finished: a crash leaves none
    // of it there, and a file at the name is never touched.
    juce::String why;
    auto partial = std::make_unique<PartialFile> (file, why);
    if (! partial->isValid())
        return StartResult::cannotCreateFile;
    auto stream = std::make_unique<clarivo::media::detail::CheckedFileOutputStream> (partial->getFile());
    if (! stream->openedOk())
        return StartResult::cannotCreateFile;

    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), rate, (unsigned int) channels, bitsPerSample, {}, 0));
    if (writer == nullptr)
        return StartResult::cannotCreateFile;
    stream.release(); // the writer owns it now

    const int capacity = (int) std::ceil (rate * bufferSeconds);
    ownedWriter = std::make_unique<Recording> (std::move (writer), std::move (partial), file, capacity, recorderThread);
    liveWriter.store (ownedWriter.get());
    return StartResult::started;
}

AudioRecorder::StopReport AudioRecorder::stop()
{
    liveWriter.store (nullptr);
    while (callbacksInside.load() != 0)
        std::this_thread::yield();
    samplesRecorded.store (0);

    if (ownedWriter == nullptr)
        return {};
    auto report = ownedWriter->finish();
    ownedWriter.reset();
    return report;
}

int AudioRecorder::getFreeSpace() const noexcept
{
    return ownedWriter != nullptr ? ownedWriter->getFreeSpace() : 0;
}

void AudioRecorder::audioDeviceIOCallbackWithContext (const float* const* in, int numIn, float* const* out,
                                                      int numOut, int numSamples,
                                                      const juce::AudioIODeviceCallbackContext&)
{
    callbacksInside.fetch_add (1);
    if (auto* recording = liveWriter.load(); recording != nullptr && in != nullptr && numIn > 0 && numSamples > 0)
        if (recording->push (in, numIn, numSamples))
            samplesRecorded.fetch_add (numSamples, std::memory_order_relaxed);
    callbacksInside.fetch_sub (1, std::memory_order_release);

    if (out != nullptr)
        for (int c = 0; c < numOut; ++c)
            if (out[c] != nullptr)
                juce::FloatVectorOperations::clear (out[c], numSamples);
}

void AudioRecorder::audioDeviceAboutToStart (juce::AudioIODevice* device)
{
    deviceInputs.store (device != nullptr ? device->getActiveInputChannels().countNumberOfSetBits() : 0);
    deviceSampleRate.store (device != nullptr ? device->getCurrentSampleRate() : 0.0);
}

void AudioRecorder::audioDeviceStopped()
{
    deviceSampleRate.store (0.0);
}
