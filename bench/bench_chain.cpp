// The whole processor with every stage at work.

#include "BenchSupport.h"
#include "engine/CVAudioProcessor.h"

#include <cmath>

namespace
{
void set (CVAudioProcessor& p, int index, float value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

// Noisy music-like material with hum, some clipping and a few clicks, so that
// every stage has real work to do.
juce::AudioBuffer<float> material (int numSamples)
{
    juce::AudioBuffer<float> b (2, numSamples);
    juce::Random random (3);
    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < numSamples; ++i)
        {
            const double t = (double) i / 44100.0;
            float x = 0.5f * (float) (std::sin (2 * juce::MathConstants<double>::pi * 220.0 * t)
                                      * (0.6 + 0.4 * std::sin (2 * juce::MathConstants<double>::pi * 0.5 * t)))
                    + 0.2f * (float) std::sin (2 * juce::MathConstants<double>::pi * 1234.0 * t + c)
                    + 0.02f * (float) std::sin (2 * juce::MathConstants<double>::pi * 60.0 * t)
                    + 0.01f * (random.nextFloat() - 0.5f);
            if (i % 9973 == 0)
                x += 0.6f;
            b.setSample (c, i, juce::jlimit (-0.55f, 0.55f, x));
        }
    }
    return b;
}
} // namespace

// The whole chain on stereo 44.1 kHz 512-sample blocks with every stage on:
// declipper, Declick at 1, noise reduction in mode 1 with hum, rumble and
// low-pass, expander, Enhance at 0.5, boost at 0.5.
static void BM_WholeChainEveryStageOn (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI init;
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    set (p, 9, 1.0f);      // declipper
    set (p, 0, 1.0f);      // Declick
    set (p, 7, 0.5f);      // noise reduction: reduce
    set (p, 6, 0.5f);      // hum 60 Hz
    set (p, 5, 1.0f);      // rumble
    set (p, 13, 0.6f);
    set (p, 14, 0.6f);     // low-pass
    set (p, 19, 0.5f);     // expander
    set (p, 1, 0.5f);      // Enhance
    set (p, 8, 0.5f);      // boost

    const auto source = material (44100 * 4);
    juce::MidiBuffer midi;
    bench::runProcessorBlocks (state, p, source, midi);
}
BENCHMARK (BM_WholeChainEveryStageOn)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
