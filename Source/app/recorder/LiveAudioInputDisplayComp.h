#pragma once

// A scrolling strip chart of the level of one input channel. It is fed on an
// audio thread (the recorder's device, or the processing thread through the
// noise display) and painted on the message thread, with no lock between them.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <atomic>

class LiveAudioInputDisplayComp : public juce::Component,
                                  public juce::AudioIODeviceCallback,
                                  public juce::Timer
{
public:
    static constexpr int historySize = 8192;

    explicit LiveAudioInputDisplayComp (bool useFirstChannel);
    ~LiveAudioInputDisplayComp() override;

    void setStatusText (const juce::String& text);
    const juce::String& getStatusText() const noexcept { return statusText; }

    // The level value `age` entries before the newest (0: the newest).
    float getLevel (int age) const noexcept;

    void paint (juce::Graphics& g) override;
    void timerCallback() override;

    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;
    void audioDeviceStopped() override;
    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels,
                                           int numSamples,
                                           const juce::AudioIODeviceCallbackContext& context) override;
    // The noise display's direct feed: the same work without a device context.
    void audioDeviceIOCallback (const float* const* inputChannelData, int numInputChannels,
                                float* const* outputChannelData, int numOutputChannels, int numSamples) noexcept;

private:
    void clearLevels() noexcept;

    // The painter may read an entry while the audio thread writes it; relaxed
    // atomics make that race defined, and a frame shows at worst a mix of
    // older and newer values.
    std::array<std::atomic<float>, historySize> levels;
    std::atomic<int> writeIndex { 0 };
    // Only the audio side touches these two.
    int samplesToNextLevel = 0;
    float levelSum = 0.0f;
    const bool useFirstChannel;
    float gain = 2.0f;
    juce::String statusText;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LiveAudioInputDisplayComp)
};
