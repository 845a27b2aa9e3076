// Export of ten minutes of stereo 44.1 kHz AAC through the processing tap with
// the processor's default settings (the processed render every save makes),
// beside the same export without the tap, the chain alone on the same audio,
// and the ffmpeg command line transcoding the file to AAC. "realtime_x" is
// seconds of audio per second of wall time.
#include <benchmark/benchmark.h>

#include "BenchMediaFiles.h"

#include "engine/CVAudioProcessor.h"
#include "engine/CVAudioTapProcessor.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaExportSession.h"

#include <future>

using namespace clarivo::media;

namespace
{
constexpr double kSeconds = 600.0;

juce::File workFolder()
{
    static const juce::File dir = bench::mediaFolder ("clarivo-bench-media");
    return dir;
}

juce::File sourceFile()
{
    static const juce::File file = []
    {
        auto f = workFolder().getChildFile ("ten-minutes.m4a");
        if (! f.existsAsFile())
            bench::ffmpeg ({ "-f", "lavfi", "-i",
                      "aevalsrc=0.3*sin(2*PI*440*t)+0.05*(random(0)-0.5)|0.3*sin(2*PI*523*t)+0.05*(random(1)-0.5):s=44100:d=600",
                      "-c:a", "aac", "-b:a", "192k", f.getFullPathName() });
        return f;
    }();
    return file;
}

double exportOnce (bool withTap)
{
    auto asset = URLAsset::assetWithURL (sourceFile());
    CVAudioProcessor processor;
    CVAudioTapProcessor tap (asset->getTracksWithMediaType (MediaType::audio).front(), processor);
    auto session = AssetExportSession::exportSessionWithAsset (asset, kExportPresetAppleM4A);
    auto target = workFolder().getChildFile (withTap ? "processed.m4a" : "plain.m4a");
    target.deleteFile();
    session->setOutputURL (target);
    session->setOutputFileType (FileType::appleM4A);
    if (withTap)
        session->setAudioMix (tap.getAudioMix());

    std::promise<void> done;
    const auto start = std::chrono::steady_clock::now();
    session->exportAsynchronously ([&] { done.set_value(); });
    done.get_future().wait();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (session->getStatus() != ExportStatus::completed)
        return -1.0;
    return elapsed.count();
}

void report (benchmark::State& state, double seconds)
{
    if (seconds <= 0)
    {
        state.SkipWithError ("the export failed");
        return;
    }
    state.SetIterationTime (seconds);
    state.counters["realtime_x"] = kSeconds / seconds;
}
} // namespace

static void BM_ExportTenMinutesThroughTap (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI init;
    sourceFile();
    for (auto _ : state)
        report (state, exportOnce (true));
}
BENCHMARK (BM_ExportTenMinutesThroughTap)->UseManualTime()->Iterations (2)->Unit (benchmark::kSecond);

static void BM_ExportTenMinutesWithoutTap (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI init;
    sourceFile();
    for (auto _ : state)
        report (state, exportOnce (false));
}
BENCHMARK (BM_ExportTenMinutesWithoutTap)->UseManualTime()->Iterations (2)->Unit (benchmark::kSecond);

// The chain's own cost on the same ten minutes, in the slices the export uses.
static void BM_ChainAloneTenMinutes (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI init;
    constexpr int slice = AssetExportSession::maxFramesPerSlice;
    juce::AudioBuffer<float> buffer (2, slice);
    juce::Random random (5);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < slice; ++i)
            buffer.setSample (c, i, 0.3f * std::sin (0.0627f * (float) i) + 0.05f * (random.nextFloat() - 0.5f));
    juce::MidiBuffer midi;
    for (auto _ : state)
    {
        CVAudioProcessor processor;
        processor.prepareToPlay (44100.0, slice);
        processor.setPlayConfigDetails (2, 2, 44100.0, slice);
        const auto start = std::chrono::steady_clock::now();
        for (std::int64_t done = 0; done < (std::int64_t) (kSeconds * 44100.0); done += slice)
        {
            processor.processBlockWithLength (buffer, midi, slice);
            benchmark::DoNotOptimize (buffer.getReadPointer (0));
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        report (state, elapsed.count());
    }
}
BENCHMARK (BM_ChainAloneTenMinutes)->UseManualTime()->Iterations (2)->Unit (benchmark::kSecond);

static void BM_FFmpegCommandLineTenMinutesToAac (benchmark::State& state)
{
    sourceFile();
    const auto target = workFolder().getChildFile ("cli.m4a");
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = bench::ffmpeg ({ "-i", sourceFile().getFullPathName(), "-c:a", "aac", "-b:a", "256k", target.getFullPathName() });
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        report (state, ok ? elapsed.count() : -1.0);
    }
}
BENCHMARK (BM_FFmpegCommandLineTenMinutesToAac)->UseManualTime()->Iterations (2)->Unit (benchmark::kSecond);

BENCHMARK_MAIN();
