#pragma once

// Local stand-in so that the noise display compiles before the live input
// display lands: the feed call, the status text and a plain strip chart.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cmath>

class LiveAudioInputDisplayComp : public juce::Component,
                                  public juce::AudioIODeviceCallback,
                                  public juce::Timer
{
public:
    explicit LiveAudioInputDisplayComp (bool firstChannel) : useFirstChannel (firstChannel) { startTimer (20); }

    void setStatusText (const juce::String& text) { statusText = text; }
    const juce::String& getStatusText() const noexcept { return statusText; }

    void timerCallback() override { repaint(); }
    void audioDeviceAboutToStart (juce::AudioIODevice*) override { levels.fill (0.0f); }
    void audioDeviceStopped() override { levels.fill (0.0f); }

    void audioDeviceIOCallbackWithContext (const float* const* in, int numIn, float* const* out, int numOut,
                                           int numSamples, const juce::AudioIODeviceCallbackContext&) override
    {
        const float* source = useFirstChannel && numIn > 0 ? in[0] : numIn > 1 ? in[1] : nullptr;
        for (int i = 0; i < numSamples; ++i)
        {
            if (source != nullptr)
                levelSum += std::abs (source[i]);
            if (samplesToNextLevel != 0)
                --samplesToNextLevel;
            else
            {
                levels[(size_t) writeIndex] = levelSum / 100.0f;
                writeIndex = (writeIndex + 1) % (int) levels.size();
                samplesToNextLevel = 100;
                levelSum = 0.0f;
            }
        }
        for (int c = 0; c < numOut; ++c)
            if (out[c] != nullptr)
                juce::FloatVectorOperations::clear (out[c], numSamples);
    }

    void paint (juce::Graphics& g) override
    {
        const int w = getWidth(), h = getHeight();
        const int n = juce::jmin (w, (int) levels.size());
        const float mid = (float) h * 0.5f, scale = mid - 20.0f;
        juce::RectangleList<float> bars;
        for (int k = 0; k < n; ++k)
        {
            const float v = levels[(size_t) ((writeIndex - 1 - k + (int) levels.size()) % (int) levels.size())] * scale * gain;
            if (2.0f * v > 0.0f)
                bars.addWithoutMerging ({ (float) (n - 1 - k), mid - v, 1.0f, 2.0f * v });
        }
        g.fillAll (juce::Colours::black);
        g.setColour (juce::Colour (0xff1070d0));
        g.fillRectList (bars);
        g.setColour (juce::Colour (0x801070d0));
        g.drawRect (0, 0, w, h, 1);
        g.drawLine (0.0f, (float) (h / 2), (float) w, (float) (h / 2));
        g.setColour (juce::Colours::white.withAlpha (0.6f));
        g.setFont (juce::Font ("Trebuchet MS", 22.0f, juce::Font::bold));
        g.drawText (statusText, 0, 48, 200, 32, juce::Justification::horizontallyCentred, true);
    }

private:
    std::array<float, 8192> levels {};
    int writeIndex = 0;
    int samplesToNextLevel = 0;
    float levelSum = 0.0f;
    bool useFirstChannel;
    float gain = 2.0f;
    juce::String statusText;
};
