#include <benchmark/benchmark.h>

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"
#include "app/editor/WashWindowComponent.h"

#include <vector>

namespace
{
juce::int64 benchNow = 0;
// Every render is due: the clock moves a second per call.
juce::int64 steppingClock() { return benchNow += 1000; }

struct Display
{
    juce::ScopedJuceInitialiser_GUI gui;
    CVAudioProcessor processor;
    double progress = 0.0;
    CVUIEditor editor { processor, progress };
    WashWindowComponent wash { editor, true };
    std::vector<float> bins;

    Display() : bins ((size_t) ProcessorFeeds::kSpectrumBins)
    {
        WashWindowComponent::setClock (&steppingClock);
        wash.setWaveformMode (false);
        wash.setStatusText ("Reducing");
        auto& bay = processor.getNoiseReductionBay();
        bay.setMode (1);
        wash.connectToProcessor (512);
        wash.stopTimer();
        for (size_t i = 0; i < bins.size(); ++i)
            bins[i] = -90.0f + (float) (i % 90);
        wash.setSpectrumSource (bins.data(), (int) bins.size());
    }
    ~Display() { WashWindowComponent::setClock (nullptr); }
};
} // namespace

// One frame: a pushed row, the render and the paint of the whole display
// (the wash, its range box and the round overlay).
static void BM_WashRenderAndPaint (benchmark::State& state)
{
    Display d;
    juce::Image frame (juce::Image::ARGB, 196, 196, true);
    for (auto _ : state)
    {
        d.wash.pushSpectrum (false);
        d.wash.renderWash();
        juce::Graphics g (frame);
        d.wash.paintEntireComponent (g, false);
        benchmark::DoNotOptimize (frame.getPixelAt (10, 10));
    }
}
BENCHMARK (BM_WashRenderAndPaint)->Unit (benchmark::kMillisecond);

static void BM_WashPushSpectrum (benchmark::State& state)
{
    Display d;
    for (auto _ : state)
    {
        d.wash.pushSpectrum (false);
        benchmark::ClobberMemory();
    }
}
BENCHMARK (BM_WashPushSpectrum)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
