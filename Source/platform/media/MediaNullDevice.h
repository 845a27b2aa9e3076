#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace clarivo::media
{
// An output device without hardware: a thread calls the callback block by
// block, keeping real time (or a multiple of it, or no pace at all). Playback
// uses it when the machine has no sound card; it can keep what it was given.
class NullAudioDevice : public juce::AudioIODevice, private juce::Thread
{
public:
    NullAudioDevice (double sampleRate = 44100.0, int blockSize = 512, int numOutputs = 2);
    ~NullAudioDevice() override;

    // 1 keeps real time, 4 runs four times as fast, 0 runs as fast as the callback allows.
    void setSpeed (double factor) noexcept { speed.store (factor); }
    double getSpeed() const noexcept { return speed.load(); }
    // Renders no more than this many frames in all, then holds still until
    // the limit is raised: a hand on the player's clock for tests, which a
    // loaded machine cannot run ahead of. Negative lifts the limit.
    void setFrameLimit (std::int64_t frames) noexcept { frameLimit.store (frames); }

    // Keeps up to maxFrames output frames (allocated here, not on the device thread).
    void startCapture (int maxFrames);
    // The kept frames so far, one vector per output channel.
    std::vector<std::vector<float>> getCapturedAudio() const;
    std::int64_t getCapturedFrames() const noexcept { return captured.load(); }
    std::int64_t getFramesRendered() const noexcept { return rendered.load(); }

    // juce::AudioIODevice
    juce::StringArray getOutputChannelNames() override;
    juce::StringArray getInputChannelNames() override { return {}; }
    juce::Array<double> getAvailableSampleRates() override;
    juce::Array<int> getAvailableBufferSizes() override;
    int getDefaultBufferSize() override { return 512; }
    juce::String open (const juce::BigInteger& inputChannels, const juce::BigInteger& outputChannels, double sampleRate,
                       int bufferSizeSamples) override;
    void close() override;
    bool isOpen() override { return opened; }
    void start (juce::AudioIODeviceCallback* callback) override;
    void stop() override;
    bool isPlaying() override { return current.load() != nullptr; }
    juce::String getLastError() override { return {}; }
    int getCurrentBufferSizeSamples() override { return blockSize; }
    double getCurrentSampleRate() override { return rate; }
    int getCurrentBitDepth() override { return 32; }
    juce::BigInteger getActiveOutputChannels() const override;
    juce::BigInteger getActiveInputChannels() const override { return {}; }
    int getOutputLatencyInSamples() override { return 0; }
    int getInputLatencyInSamples() override { return 0; }

private:
    void run() override;

    double rate;
    int blockSize;
    int numOutputs;
    bool opened = true;
    std::atomic<juce::AudioIODeviceCallback*> current { nullptr };
    std::atomic<double> speed { 1.0 };
    std::atomic<std::int64_t> frameLimit { -1 };

    std::vector<std::vector<float>> output;
    std::vector<float*> outputPointers;
    mutable std::mutex captureLock;
    std::vector<std::vector<float>> capture;
    std::atomic<std::int64_t> captured { 0 };
    std::atomic<std::int64_t> rendered { 0 };
};
} // namespace clarivo::media
