#pragma once

// A device type of our own for machines without a sound card. Its input
// names read "Fake <inputs> in <rate>" (0, 1 or 2 inputs, 44100 or 48000 Hz),
// and "Fake broken" fails to open;
// each delivers 512-frame blocks of exact 16-bit values, a ramp per channel,
// when the test pumps them.
#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>

namespace fakeaudio
{
// Kept for the callers that name it: blocks come only when pumped.
enum class Pace { pumped };

constexpr int blockSize = 512;
const juce::StringArray& inputNames();
const juce::String outputName = "Fake Out";

// Channel `channel`'s value at frame `frame` since the device opened.
float sample (int channel, juce::int64 frame) noexcept;

class Device : public juce::AudioIODevice
{
public:
    Device (const juce::String& inputName, Pace pace);
    ~Device() override;

    // Calls the started callback on this thread with `frames`
    // frames in 512-frame blocks, the last one shorter when they do not divide.
    void pump (juce::int64 frames);
    juce::int64 getFramesDelivered() const noexcept { return framesDelivered.load(); }

    juce::StringArray getOutputChannelNames() override { return { "Out 1", "Out 2" }; }
    juce::StringArray getInputChannelNames() override;
    juce::Array<double> getAvailableSampleRates() override { return { 44100.0, 48000.0 }; }
    juce::Array<int> getAvailableBufferSizes() override { return { blockSize }; }
    int getDefaultBufferSize() override { return blockSize; }
    juce::String open (const juce::BigInteger& inputs, const juce::BigInteger& outputs, double rate, int) override;
    void close() override;
    bool isOpen() override { return opened; }
    void start (juce::AudioIODeviceCallback* callback) override;
    void stop() override;
    bool isPlaying() override { return callback != nullptr; }
    juce::String getLastError() override { return {}; }
    int getCurrentBufferSizeSamples() override { return blockSize; }
    double getCurrentSampleRate() override { return rate; }
    int getCurrentBitDepth() override { return 16; }
    juce::BigInteger getActiveOutputChannels() const override { return activeOutputs; }
    juce::BigInteger getActiveInputChannels() const override { return activeInputs; }
    int getOutputLatencyInSamples() override { return 0; }
    int getInputLatencyInSamples() override { return 0; }

    // The outputs of the last block, to show the recorder keeps them silent.
    float lastOutputPeak() const noexcept { return outputPeak.load(); }

private:
    void deliver (int frames);

    const int numInputs;
    const double defaultRate;
    double rate = 0.0;
    bool opened = false;
    juce::BigInteger activeInputs, activeOutputs;
    juce::CriticalSection callbackLock;
    juce::AudioIODeviceCallback* callback = nullptr;
    juce::AudioBuffer<float> inputs { 2, blockSize }, outputs { 2, blockSize };
    std::atomic<juce::int64> framesDelivered { 0 };
    std::atomic<float> outputPeak { 0.0f };
};

class Type : public juce::AudioIODeviceType
{
public:
    explicit Type (Pace = Pace::pumped) : juce::AudioIODeviceType ("Fake") {}
    void scanForDevices() override {}
    juce::StringArray getDeviceNames (bool wantInputNames) const override
    {
        return wantInputNames ? inputNames() : juce::StringArray (outputName);
    }
    int getDefaultDeviceIndex (bool) const override { return 0; }
    int getIndexOfDevice (juce::AudioIODevice* device, bool asInput) const override
    {
        return device == nullptr ? -1 : getDeviceNames (asInput).indexOf (asInput ? device->getName() : outputName);
    }
    bool hasSeparateInputsAndOutputs() const override { return true; }
    juce::AudioIODevice* createDevice (const juce::String& output, const juce::String& input) override;
};

// Puts the fake type into a fresh manager and opens `inputName` (none: the
// output alone) with every input and output channel.
void openDevice (juce::AudioDeviceManager& manager, const juce::String& inputName, Pace pace = Pace::pumped,
                 double rate = 0.0);
Device* current (juce::AudioDeviceManager& manager);
} // namespace fakeaudio
