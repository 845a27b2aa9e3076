#include <benchmark/benchmark.h>

#include "engine/CVAudioProcessor.h"
#include "app/editor/CVPlusEditor.h"
#include "app/editor/CVUIEditor.h"

#include "BenchGuiMain.h"

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
// controls set again, the display reconnected, the band mapped back. With
// argument 1 the knobs and the preset move every time (the write included).
void BM_PanelRefresh (benchmark::State& state)
{
    PanelRig rig;
    const bool moving = state.range (0) != 0;
    int n = 0;
    for (auto _ : state)
    {
        if (moving)
        {
            const float v = (float) (++n & 1);
            for (int index : { 0, 1, 2, 3, 8, 13, 14, 19 })
                rig.processor.setParameter (index, 0.25f + 0.5f * v);
            rig.processor.setParameter (17, v / 6.0f);
        }
        rig.panel.changeListenerCallback (&rig.processor);
    }
}
BENCHMARK (BM_PanelRefresh)->Arg (0)->Arg (1)->Unit (benchmark::kMicrosecond);

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

int main (int argc, char** argv) { return bench::runWithPrivateConfig (argc, argv); }
