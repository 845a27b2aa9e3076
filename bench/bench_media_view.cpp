// Painting the media view's waveform of an hour of stereo sound at
// 1920 x 1000 with the play head and the learning marker, as the window
// repaints it on every position message while playing. The application runs
// with its windows off the screen (an X display is needed: `xvfb-run -a`);
// the hour is made once with ffmpeg into a cached folder.
#include <benchmark/benchmark.h>

#include "BenchMediaFiles.h"

#include "engine/CVAudioProcessor.h"
#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoDocument.h"
#include "app/windows/DialogService.h"
#include "app/mediawindow/MediaWindow.h"

namespace
{
juce::File hourOfSound()
{
    const auto file = bench::mediaFolder ("clarivo-bench-media-view").getChildFile ("60-minutes.m4a");
    if (! file.existsAsFile())
    {
        const auto partial = file.getSiblingFile ("partial-" + file.getFileName());
        if (bench::ffmpeg ({ "-f", "lavfi", "-i",
                             "aevalsrc=0.3*sin(2*PI*440*t)+0.01*(random(0)-0.5)|0.3*sin(2*PI*523*t)+0.01*(random(1)-0.5):s=44100:d=3600",
                             "-c:a", "aac", "-b:a", "160k", partial.getFullPathName() }))
            partial.moveFileTo (file);
    }
    return file;
}

void BM_PaintHourWaveform (benchmark::State& state)
{
    auto app = std::make_unique<ClarivoApplication>();
    app->playerOptions.useNullDevice = true;
    app->showWindows = false;
    app->initialise ({});
    DialogService::get().setResponder ([] (const DialogService::Request&) { return DialogService::Answer {}; });

    auto& transport = app->getMediaWindow()->getTransport();
    auto& view = transport.getMediaContainer();
    const auto source = hourOfSound();
    if (! source.existsAsFile() || ! app->openMediaFile (source, false).wasOk())
    {
        state.SkipWithError ("the hour of sound could not be made or opened");
        return;
    }
    const auto deadline = juce::Time::getMillisecondCounter() + 600000;
    while (! (view.getThumbnail().isFullyLoaded() && view.getThumbnail().getTotalLength() > 3000.0)
           && juce::Time::getMillisecondCounter() < deadline)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);

    transport.setSize (1920, 1050);
    view.setVideoVisible (false);
    view.setPositionFraction (0.5);
    auto& region = app->getProcessor().learnRegion;
    region.start = (juce::int64) (0.25 * view.getPlayableDuration() * view.getMediaSampleRate());
    region.length = 12288;

    juce::Image image (juce::Image::ARGB, view.getWidth(), view.getHeight(), true);
    for (auto _ : state)
    {
        juce::Graphics g (image);
        view.paintEntireComponent (g, true);
        benchmark::DoNotOptimize (image.getPixelAt (960, 500));
    }
    state.counters["width"] = view.getWidth();
    state.counters["height"] = view.getHeight();

    app->getDocument().setChangedFlag (false);
    app->shutdown();
    app = nullptr;
    DialogService::get().setResponder ({});
}
} // namespace

BENCHMARK (BM_PaintHourWaveform)->Unit (benchmark::kMillisecond)->Iterations (200);

int main (int argc, char** argv)
{
    // As the program runs: JUCE installs its X error handlers only for a
    // standalone application.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
    juce::ScopedJuceInitialiser_GUI init;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
