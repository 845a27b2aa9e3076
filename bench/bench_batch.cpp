// The batch processor and the audio-writer exports against the command-line
// tools doing the plainest version of the same work:
// - a batch of ten stereo 30 s M4A files (each loaded, analysed and saved
//   processed as M4A) beside ffmpeg transcoding the same files to AAC;
// - ten minutes exported to FLAC and to MP3 through the application beside
//   `ffmpeg -c:a flac` and `lame -V 0` on the same WAV;
// - on the wall clock, settling waits included: twenty half-second stereo
//   WAVs beside twenty thirty-second ones, seconds per file. A short file
//   should cost little more than its load, its one-second wait and its save.
// Sources are made once with ffmpeg into a cached folder. The application
// needs an X display (run under `xvfb-run -a`).
#include <benchmark/benchmark.h>

#include "BenchApp.h"

#include <iostream>

using bench::cachedMedia;
using bench::Clock;
using bench::HeadlessApp;
using bench::secondsSince;

namespace
{
juce::File workFolder()
{
    static const juce::File dir = bench::mediaFolder ("clarivo-bench-batch");
    return dir;
}

// A tone over hiss with a stretch of hiss alone, so the analysis has
// something to learn on every file.
juce::String sound (int seconds, int frequency)
{
    const auto f = juce::String (frequency);
    return "aevalsrc=0.3*sin(2*PI*" + f + "*t)*lt(mod(t\\,10)\\,8)+0.01*(random(0)-0.5)|0.3*sin(2*PI*" + f
         + "*1.5*t)*lt(mod(t\\,10)\\,8)+0.01*(random(1)-0.5):s=44100:d=" + juce::String (seconds);
}

juce::Array<juce::File> batchInputs()
{
    juce::Array<juce::File> files;
    for (int i = 0; i < 10; ++i)
        files.add (cachedMedia (workFolder().getChildFile ("in").getChildFile ("take" + juce::String (i) + ".m4a"),
                           { "-f", "lavfi", "-i", sound (30, 200 + 40 * i), "-c:a", "aac", "-b:a", "192k" }));
    return files;
}

juce::File emptied (const juce::String& name)
{
    auto f = workFolder().getChildFile (name);
    f.deleteRecursively();
    return f;
}

bool run (const juce::StringArray& command)
{
    juce::ChildProcess p;
    if (! p.start (command))
        return false;
    p.readAllProcessOutput();
    return p.waitForProcessToFinish (3600000) && p.getExitCode() == 0;
}

} // namespace

static void BM_BatchTenFilesBesideFFmpegAac (benchmark::State& state)
{
    const auto inputs = batchInputs();
    HeadlessApp headless;
    headless.app->escapeHeldDown = [] { return false; };
    for (auto _ : state)
    {
        const auto out = emptied ("out");
        DialogService::get().answerWithFile (workFolder().getChildFile ("in"));
        DialogService::get().answerWithFile (out);
        auto start = Clock::now();
        headless.app->runBatchProcessor();
        const double batch = secondsSince (start);
        const int written = out.getNumberOfChildFiles (juce::File::findFiles);

        const auto cliOut = emptied ("ffmpeg-out");
        cliOut.createDirectory();
        bool ok = true;
        start = Clock::now();
        for (const auto& f : inputs)
            ok = ok && bench::ffmpeg ({ "-i", f.getFullPathName(), "-c:a", "aac", "-b:a", "192k", cliOut.getChildFile (f.getFileName()).getFullPathName() });
        const double cli = secondsSince (start);
        if (written != inputs.size() || ! ok)
        {
            state.SkipWithError ("the batch or ffmpeg did not write every file");
            return;
        }
        state.SetIterationTime (batch);
        state.counters["batch_s_per_file"] = batch / inputs.size();
        state.counters["ffmpeg_s_per_file"] = cli / inputs.size();
        state.counters["extra_s_per_file"] = (batch - cli) / inputs.size();
    }
}
BENCHMARK (BM_BatchTenFilesBesideFFmpegAac)->UseManualTime()->Iterations (1)->Unit (benchmark::kSecond);

// Argument: the length of each file in tenths of a second (5 or 300).
static void BM_BatchTwentyWavsOnTheWallClock (benchmark::State& state)
{
    const double seconds = (double) state.range (0) / 10.0;
    const auto input = workFolder().getChildFile ("wav-" + juce::String (state.range (0)) + "ds");
    for (int i = 0; i < 20; ++i)
        cachedMedia (input.getChildFile ("take" + juce::String (i).paddedLeft ('0', 2) + ".wav"),
                     { "-f", "lavfi", "-i", sound (1, 200 + 40 * i).upToLastOccurrenceOf ("d=", true, false) + juce::String (seconds),
                       "-c:a", "pcm_s16le" });
    HeadlessApp headless { HeadlessApp::ExportClock::wall };
    headless.app->escapeHeldDown = [] { return false; };
    for (auto _ : state)
    {
        const auto out = emptied ("wav-out");
        DialogService::get().answerWithFile (input);
        DialogService::get().answerWithFile (out);
        const auto start = Clock::now();
        headless.app->runBatchProcessor();
        const double batch = secondsSince (start);
        if (out.getNumberOfChildFiles (juce::File::findFiles) != 20)
        {
            state.SkipWithError ("the batch did not write every file");
            return;
        }
        state.SetIterationTime (batch);
        state.counters["s_per_file"] = batch / 20.0;
    }
}
BENCHMARK (BM_BatchTwentyWavsOnTheWallClock)->Arg (5)->Arg (300)->UseManualTime()->Iterations (1)->Unit (benchmark::kSecond);

// Argument: 7 (.flac) or 8 (.mp3).
static void BM_ExportTenMinutesBesideTheTool (benchmark::State& state)
{
    const bool flac = state.range (0) == 7;
    const auto source = cachedMedia (workFolder().getChildFile ("10-minutes.wav"), { "-f", "lavfi", "-i", sound (600, 440), "-c:a", "pcm_s16le" });
    HeadlessApp headless;
    for (auto _ : state)
    {
        const auto ours = emptied (flac ? "ours.flac" : "ours.mp3");
        auto start = Clock::now();
        const bool exported = headless.app->exportWithAudioFormat (source, ours, 9);
        const double export_ = secondsSince (start);

        const auto theirs = emptied (flac ? "tool.flac" : "tool.mp3");
        start = Clock::now();
        const bool ok = flac ? bench::ffmpeg ({ "-i", source.getFullPathName(), "-c:a", "flac", theirs.getFullPathName() })
                             : run ({ "lame", "--quiet", "-V", "0", source.getFullPathName(), theirs.getFullPathName() });
        const double tool = secondsSince (start);
        // Quality 9 asks libFLAC for its strongest level, 8; ffmpeg's default is 5.
        double sameLevel = 0.0;
        if (flac)
        {
            start = Clock::now();
            bench::ffmpeg ({ "-i", source.getFullPathName(), "-c:a", "flac", "-compression_level", "8", theirs.getFullPathName() });
            sameLevel = secondsSince (start);
        }
        if (! exported || ! ok)
        {
            state.SkipWithError (! exported ? "the export failed" : "the tool failed");
            return;
        }
        state.SetIterationTime (export_);
        state.counters["export_s"] = export_;
        state.counters["tool_s"] = tool;
        state.counters["x_tool"] = export_ / tool;
        if (flac)
            state.counters["x_tool_level_8"] = export_ / sameLevel;
    }
}
BENCHMARK (BM_ExportTenMinutesBesideTheTool)->Arg (7)->Arg (8)->UseManualTime()->Iterations (1)->Unit (benchmark::kSecond);

int main (int argc, char** argv)
{
    bench::GuiWithoutApplication gui;
    if (! gui.hasDisplay())
        return 1;
    return bench::runBenchmarks (argc, argv);
}
