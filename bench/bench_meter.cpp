// One paint of the controls panel's level meter (176 x 14, two channels,
// its translucent style) into an image, with a fresh peak every paint as
// while media plays. Target: under 0.2 ms.
#include <benchmark/benchmark.h>

#include "app/editor/MeterComponent.h"

namespace
{
void BM_MeterPaint (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    MeterLevels record;
    record.numChannels = 2;
    MeterComponent meter (&record);
    meter.setSize (176, 14);
    meter.style = 1;
    juce::Image image (juce::Image::ARGB, 176, 14, true);
    juce::Graphics g (image);

    float peak = 0.0f;
    for (auto _ : state)
    {
        peak = peak > 0.95f ? 0.05f : peak + 0.013f;
        record.raise (0, peak);
        record.raise (1, 1.0f - peak);
        meter.paint (g);
        benchmark::DoNotOptimize (image.getPixelData());
    }
}
BENCHMARK (BM_MeterPaint)->Unit (benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
