#include <benchmark/benchmark.h>

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"

#include "BenchGuiMain.h"

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

int main (int argc, char** argv) { return bench::runWithPrivateConfig (argc, argv); }
