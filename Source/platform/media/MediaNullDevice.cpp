#include "MediaNullDevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace clarivo::media
{
NullAudioDevice::NullAudioDevice (double sampleRate, int bufferSize, int outputs)
    : juce::AudioIODevice ("No Output", "Null"),
      juce::Thread ("Null Audio Device"),
      rate (sampleRate),
      blockSize (std::max (16, bufferSize)),
      numOutputs (std::max (1, outputs))
{
}

NullAudioDevice::~NullAudioDevice()
{
    stop();
}

juce::StringArray NullAudioDevice::getOutputChannelNames()
{
    juce::StringArray names;
    for (int i = 0; i < numOutputs; ++i)
        names.add ("Output " + juce::String (i + 1));
    return names;
}

juce::Array<double> NullAudioDevice::getAvailableSampleRates()
{
    return { 8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0 };
}

juce::Array<int> NullAudioDevice::getAvailableBufferSizes()
{
    return { 64, 128, 256, 512, 1024, 2048, 4096 };
}

juce::String NullAudioDevice::open (const juce::BigInteger&, const juce::BigInteger& outputChannels, double sampleRate,
                                    int bufferSizeSamples)
{
    const bool wasRunning = current.load() != nullptr;
    auto* callback = current.load();
    if (wasRunning)
        stop();
    if (sampleRate > 0)
        rate = sampleRate;
    if (bufferSizeSamples > 0)
        blockSize = bufferSizeSamples;
    if (outputChannels.countNumberOfSetBits() > 0)
        numOutputs = outputChannels.getHighestBit() + 1;
    opened = true;
    if (wasRunning)
        start (callback);
    return {};
}

void NullAudioDevice::close()
{
    stop();
    opened = false;
}

juce::BigInteger NullAudioDevice::getActiveOutputChannels() const
{
    juce::BigInteger bits;
    bits.setRange (0, numOutputs, true);
    return bits;
}

void NullAudioDevice::startCapture (int maxFrames)
{
    std::lock_guard<std::mutex> lock (captureLock);
    capture.assign ((size_t) numOutputs, std::vector<float> ((size_t) std::max (0, maxFrames), 0.0f));
    captured.store (0);
}

std::vector<std::vector<float>> NullAudioDevice::getCapturedAudio() const
{
    std::lock_guard<std::mutex> lock (captureLock);
    auto result = capture;
    for (auto& ch : result)
        ch.resize ((size_t) std::min<std::int64_t> ((std::int64_t) ch.size(), captured.load()));
    return result;
}

void NullAudioDevice::start (juce::AudioIODeviceCallback* callback)
{
    if (callback == nullptr)
        return;
    stop();

    output.assign ((size_t) numOutputs, std::vector<float> ((size_t) blockSize, 0.0f));
    outputPointers.resize ((size_t) numOutputs);
    for (int c = 0; c < numOutputs; ++c)
        outputPointers[(size_t) c] = output[(size_t) c].data();

    callback->audioDeviceAboutToStart (this);
    current.store (callback);
    startThread (juce::Thread::Priority::high);
}

void NullAudioDevice::stop()
{
    auto* callback = current.exchange (nullptr);
    stopThread (4000);
    if (callback != nullptr)
        callback->audioDeviceStopped();
}

void NullAudioDevice::run()
{
    using clock = std::chrono::steady_clock;
    auto origin = clock::now();
    std::int64_t framesSinceOrigin = 0;
    double lastSpeed = speed.load();

    while (! threadShouldExit())
    {
        auto* callback = current.load();
        if (callback == nullptr)
            break;

        const auto limit = frameLimit.load();
        if (limit >= 0 && rendered.load() + blockSize > limit)
        {
            // Held: the pace starts afresh once the limit is raised.
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
            origin = clock::now();
            framesSinceOrigin = 0;
            continue;
        }

        for (auto& ch : output)
            std::fill (ch.begin(), ch.end(), 0.0f);
        callback->audioDeviceIOCallbackWithContext (nullptr, 0, outputPointers.data(), numOutputs, blockSize, {});
        rendered.fetch_add (blockSize);

        {
            std::unique_lock<std::mutex> lock (captureLock, std::try_to_lock);
            if (lock.owns_lock() && ! capture.empty())
            {
                const auto at = captured.load();
                const auto room = (std::int64_t) capture[0].size() - at;
                const int n = (int) std::clamp<std::int64_t> (room, 0, blockSize);
                for (int c = 0; c < numOutputs && n > 0; ++c)
                    std::memcpy (capture[(size_t) c].data() + at, output[(size_t) c].data(), (size_t) n * sizeof (float));
                captured.store (at + n);
            }
        }

        const double s = speed.load();
        if (s != lastSpeed)
        {
            origin = clock::now();
            framesSinceOrigin = 0;
            lastSpeed = s;
        }
        if (s <= 0.0)
        {
            std::this_thread::yield();
            continue;
        }
        framesSinceOrigin += blockSize;
        const auto due = origin + std::chrono::duration_cast<clock::duration> (
                                      std::chrono::duration<double> ((double) framesSinceOrigin / (rate * s)));
        const auto now = clock::now();
        if (due > now)
        {
            // In short steps: a block of a slow stream can last seconds, and
            // neither stop() nor a new speed must wait that long.
            for (auto t = now; t < due && ! threadShouldExit() && speed.load() == s; t = clock::now())
                std::this_thread::sleep_until (std::min (due, t + std::chrono::milliseconds (5)));
        }
        else if (now - due > std::chrono::milliseconds (200))
        {
            // Fell far behind (a stalled machine): keep the pace from here
            // rather than bursting to catch up.
            origin = now;
            framesSinceOrigin = 0;
        }
    }
}
} // namespace clarivo::media
