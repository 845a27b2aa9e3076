#pragma once

// Writes the audio device's input to a WAV file. The device thread only
// copies each block into a buffer made when the recording starts; a thread of
// the recorder's own writes that buffer to disk.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <atomic>
#include <memory>

namespace clarivo::media::detail
{
class PartialFile;
}

class AudioRecorder : public juce::AudioIODeviceCallback
{
public:
    using PartialFile = clarivo::media::detail::PartialFile;
    enum class StartResult
    {
        started,
        noInput,         // no running device, or one without input channels
        cannotCreateFile // the file or its writer could not be made; no file is left
    };

    struct StopReport
    {
        bool wasRecording = false;
        juce::int64 framesWritten = 0; // what the file holds
        juce::int64 framesLost = 0;    // taken from the device but not in the file
        bool writeFailed = false;
        juce::File file; // where the take went; nothing when it could not be kept
        bool isComplete() const noexcept { return framesLost == 0 && ! writeFailed; }
    };

    // Seconds of audio the buffer holds, so that a slow disk or a busy
    // machine can hold the writer up that long without losing anything.
    static constexpr double bufferSeconds = 12.0;

    AudioRecorder();
    ~AudioRecorder() override;

    // Finishes any running recording first. Channel counts other than 1 and
    // 2 record 1; bit depths other than 16, 24 and 32 record 16.
    StartResult startRecording (const juce::File& file, int channels, int bitsPerSample);
    // The file is complete when this returns. With nothing running it only
    // zeroes the count.
    StopReport stop();

    juce::int64 getSamplesRecorded() const noexcept { return samplesRecorded.load(); }
    bool isRecording() const noexcept { return ownedWriter != nullptr; }
    // Frames the buffer can still take (0 when idle): lets a driver that runs
    // faster than any device wait for the disk instead of losing audio.
    int getFreeSpace() const noexcept;
    juce::TimeSliceThread& getWriterThread() noexcept { return recorderThread; }

    static int sanitiseChannels (int channels) noexcept { return channels == 2 ? 2 : 1; }
    static int sanitiseBits (int bits) noexcept { return bits == 24 || bits == 32 ? bits : 16; }

    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels,
                                           int numSamples,
                                           const juce::AudioIODeviceCallbackContext& context) override;
    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;
    void audioDeviceStopped() override;

private:
    class Recording;

    juce::TimeSliceThread recorderThread { "Audio Recorder Thread" };
    std::unique_ptr<Recording> ownedWriter;
    std::atomic<double> deviceSampleRate { 0.0 };
    std::atomic<int> deviceInputs { 0 };
    std::atomic<juce::int64> samplesRecorded { 0 };
    // What the audio thread writes to. The message thread withdraws it and
    // then waits for `callbacksInside` to reach 0 before deleting it, so the
    // audio thread never locks and never sees a deleted recording.
    std::atomic<Recording*> liveWriter { nullptr };
    std::atomic<int> callbacksInside { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AudioRecorder)
};
