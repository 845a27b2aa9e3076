#include "app/recorder/LiveAudioInputDisplayComp.h"

#include <cmath>

namespace
{
constexpr juce::uint32 barColour = 0xff1070d0;
constexpr juce::uint32 frameColour = 0x801070d0;
constexpr int samplesPerLevel = 100;
constexpr float maxSample = 1.0e6f;
} // namespace

LiveAudioInputDisplayComp::LiveAudioInputDisplayComp (bool firstChannel) : useFirstChannel (firstChannel)
{
    clearLevels();
    startTimer (20);
}

LiveAudioInputDisplayComp::~LiveAudioInputDisplayComp()
{
    stopTimer();
}

void LiveAudioInputDisplayComp::setStatusText (const juce::String& text)
{
    statusText = text;
}

float LiveAudioInputDisplayComp::getLevel (int age) const noexcept
{
    const int index = (writeIndex.load (std::memory_order_relaxed) - 1 - age) & (historySize - 1);
    return levels[(size_t) index].load (std::memory_order_relaxed);
}

void LiveAudioInputDisplayComp::clearLevels() noexcept
{
    for (auto& level : levels)
        level.store (0.0f, std::memory_order_relaxed);
}

void LiveAudioInputDisplayComp::timerCallback()
{
    repaint();
}

void LiveAudioInputDisplayComp::audioDeviceAboutToStart (juce::AudioIODevice*)
{
    clearLevels();
}

void LiveAudioInputDisplayComp::audioDeviceStopped()
{
    clearLevels();
}

void LiveAudioInputDisplayComp::audioDeviceIOCallbackWithContext (const float* const* in, int numIn,
                                                                  float* const* out, int numOut, int numSamples,
                                                                  const juce::AudioIODeviceCallbackContext&)
{
    audioDeviceIOCallback (in, numIn, out, numOut, numSamples);
}

void LiveAudioInputDisplayComp::audioDeviceIOCallback (const float* const* in, int numIn, float* const* out,
                                                       int numOut, int numSamples) noexcept
{
    const float* source = nullptr;
    if (in != nullptr)
        source = useFirstChannel && numIn > 0 ? in[0] : numIn > 1 ? in[1] : nullptr;

    int index = writeIndex.load (std::memory_order_relaxed);
    for (int i = 0; i < numSamples; ++i)
    {
        // One NaN or infinity would stick in the sum and blank the chart for
        // a hundred samples, or paint a bar the height of the screen; huge
        // finite samples would overflow the sum to infinity.
        if (source != nullptr && std::isfinite (source[i]))
            levelSum += juce::jmin (std::abs (source[i]), maxSample);

        if (samplesToNextLevel != 0)
        {
            --samplesToNextLevel;
            continue;
        }
        levels[(size_t) index].store (levelSum / (float) samplesPerLevel, std::memory_order_relaxed);
        index = (index + 1) & (historySize - 1);
        writeIndex.store (index, std::memory_order_relaxed);
        samplesToNextLevel = samplesPerLevel;
        levelSum = 0.0f;
    }

    if (out != nullptr)
        for (int c = 0; c < numOut; ++c)
            if (out[c] != nullptr)
                juce::FloatVectorOperations::clear (out[c], numSamples);
}

void LiveAudioInputDisplayComp::paint (juce::Graphics& g)
{
    const int w = getWidth(), h = getHeight();
    const int n = juce::jmin (w, historySize);

    juce::RectangleList<float> bars;
    if (n > 0)
    {
        bars.ensureStorageAllocated (n);
        const float mid = (float) h * 0.5f;
        const float scale = mid - 20.0f;
        const int newest = writeIndex.load (std::memory_order_relaxed) - 1;
        for (int k = 0; k < n; ++k)
        {
            // Louder than the strip shows is its full height, not a rectangle
            // far outside it.
            const float v = juce::jmin (mid, levels[(size_t) ((newest - k) & (historySize - 1))].load (std::memory_order_relaxed)
                                                 * scale * gain);
            if (2.0f * v > 0.0f)
                bars.addWithoutMerging ({ (float) (n - 1 - k), mid - v, 1.0f, 2.0f * v });
        }
    }

    g.fillAll (juce::Colours::black);
    g.setColour (juce::Colour (barColour));
    g.fillRectList (bars);

    g.setColour (juce::Colour (frameColour));
    g.drawRect (0, 0, w, h, 1);
    // One crisp pixel row rather than an antialiased line across two.
    g.fillRect (0, h / 2, w, 1);

    g.setColour (juce::Colours::white.withAlpha (0.6f));
    g.setFont (juce::Font ("Trebuchet MS", 22.0f, juce::Font::bold));
    g.drawText (statusText, 0, 48, 200, 32, juce::Justification::horizontallyCentred, true);
}
