#include <benchmark/benchmark.h>

#include "CVAudioProcessor.h"
#include "CVPlusEditor.h"
#include "CVUIEditor.h"

#include <cstdlib>

namespace
{
struct PanelRig
{
    PanelRig()
    {
        processor.setRateAndBufferSizeDetails (44100.0, 512);
        processor.prepareToPlay (44100.0, 512);
        editor.showPanel (CVUIEditor::controlsPanel);
    }

    CVAudioProcessor processor;
    double progress = 0.0;
    CVUIEditor editor { processor, progress };
    CVPlusEditor& panel = editor.getControlsPanel();
};

// What every change message of the processor costs the message thread: all
// controls set again, the display reconnected, the band mapped back.
void BM_PanelRefresh (benchmark::State& state)
{
    PanelRig rig;
    for (auto _ : state)
        rig.panel.changeListenerCallback (&rig.processor);
}
BENCHMARK (BM_PanelRefresh)->Unit (benchmark::kMicrosecond);

// The whole panel drawn once, background picture and every child.
void BM_PanelPaint (benchmark::State& state)
{
    PanelRig rig;
    for (auto _ : state)
    {
        auto image = rig.panel.createComponentSnapshot (rig.panel.getLocalBounds());
        benchmark::DoNotOptimize (image.getPixelAt (390, 200));
    }
}
BENCHMARK (BM_PanelPaint)->Unit (benchmark::kMillisecond);
} // namespace

int main (int argc, char** argv)
{
    // The editor reads and writes the preferences: keep them off the user's own.
    const auto config = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("clarivo-bench-config", {}, false);
    config.createDirectory();
    ::setenv ("XDG_CONFIG_HOME", config.getFullPathName().toRawUTF8(), 1);

    {
        juce::ScopedJuceInitialiser_GUI init;
        benchmark::Initialize (&argc, argv);
        if (benchmark::ReportUnrecognizedArguments (argc, argv))
            return 1;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    config.deleteRecursively();
    return 0;
}
