#include <benchmark/benchmark.h>

#include "CVAudioProcessor.h"
#include "CVUIEditor.h"

#include <cstdlib>

namespace
{
// A whole-editor picture, as the window's first paint or a screenshot would
// draw it; panel 3 is the controls panel, 1 the information panel.
void BM_EditorSnapshot (benchmark::State& state)
{
    CVAudioProcessor processor;
    double progress = 0.3;
    CVUIEditor editor (processor, progress);
    editor.showPanel ((int) state.range (0));

    for (auto _ : state)
    {
        auto image = editor.createComponentSnapshot (editor.getLocalBounds());
        benchmark::DoNotOptimize (image.getPixelAt (390, 200));
    }
}
BENCHMARK (BM_EditorSnapshot)->Arg (3)->Arg (1)->Unit (benchmark::kMillisecond);
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
