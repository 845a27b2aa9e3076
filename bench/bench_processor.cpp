#include "BenchSupport.h"
#include "engine/CVAudioProcessor.h"

#include <cmath>

namespace
{
juce::AudioBuffer<float> testSignal (int numSamples)
{
    juce::AudioBuffer<float> b (2, numSamples);
    juce::Random random (3);
    for (int i = 0; i < numSamples; ++i)
    {
        const float tone = 0.4f * std::sin (2.0f * juce::MathConstants<float>::pi * 440.0f * (float) i / 44100.0f);
        b.setSample (0, i, tone + 0.01f * (random.nextFloat() - 0.5f));
        b.setSample (1, i, tone + 0.01f * (random.nextFloat() - 0.5f));
    }
    return b;
}
} // namespace

// The frame with the processor's default settings: stereo 512-sample blocks.
static void BM_ProcessBlockStereo512 (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI init;
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    const auto source = testSignal (512 * 64);
    juce::MidiBuffer midi;
    bench::runProcessorBlocks (state, p, source, midi);
    state.SetItemsProcessed (state.iterations() * 512);
}
BENCHMARK (BM_ProcessBlockStereo512);

BENCHMARK_MAIN();
