// The recorder on the device thread: the recorder and both live input
// displays for one 512-frame stereo block (target: at most 5 us), and whole
// 48 kHz stereo 24-bit recordings from the fake device as fast as the writer
// takes them (target: at least 50 times real time, peak memory the same for
// one and for ten minutes).
#include <benchmark/benchmark.h>

#include "app/recorder/AudioRecorder.h"
#include "app/recorder/LiveAudioInputDisplayComp.h"
#include "app/support/FakeAudioDevice.h"

#include <sys/resource.h>
#include <thread>

namespace
{
void waitForRoom (AudioRecorder& recorder)
{
    while (recorder.getFreeSpace() < fakeaudio::blockSize)
        std::this_thread::yield();
}

void BM_RecorderAndDisplaysPerBlock (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    fakeaudio::Device device ("Fake 2 in 48000", fakeaudio::Pace::pumped);
    device.open (3, 3, 48000.0, fakeaudio::blockSize);
    AudioRecorder recorder;
    LiveAudioInputDisplayComp first (true), second (false);
    juce::AudioIODeviceCallback* callbacks[] { &recorder, &first, &second };
    for (auto* c : callbacks)
        c->audioDeviceAboutToStart (&device);

    juce::AudioBuffer<float> in (2, fakeaudio::blockSize), out (2, fakeaudio::blockSize);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < fakeaudio::blockSize; ++i)
            in.setSample (c, i, fakeaudio::sample (c, i));
    const auto file = juce::File::createTempFile (".wav");
    recorder.startRecording (file, 2, 24);

    for (auto _ : state)
    {
        if (recorder.getFreeSpace() < fakeaudio::blockSize)
        {
            state.PauseTiming();
            waitForRoom (recorder);
            state.ResumeTiming();
        }
        for (auto* c : callbacks)
            c->audioDeviceIOCallbackWithContext (in.getArrayOfReadPointers(), 2, out.getArrayOfWritePointers(), 2,
                                                 fakeaudio::blockSize, {});
    }
    state.counters["lost"] = (double) recorder.stop().framesLost;
    file.deleteFile();
}
BENCHMARK (BM_RecorderAndDisplaysPerBlock)->Unit (benchmark::kMicrosecond);

void BM_WholeRecording (benchmark::State& state)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const juce::int64 frames = state.range (0) * 60 * 48000;
    AudioRecorder::StopReport report;
    for (auto _ : state)
    {
        fakeaudio::Device device ("Fake 2 in 48000", fakeaudio::Pace::pumped);
        device.open (3, 3, 48000.0, fakeaudio::blockSize);
        AudioRecorder recorder;
        device.start (&recorder);
        const auto file = juce::File::createTempFile (".wav");
        recorder.startRecording (file, 2, 24);
        for (juce::int64 done = 0; done < frames; done += fakeaudio::blockSize)
        {
            waitForRoom (recorder);
            device.pump (fakeaudio::blockSize);
        }
        report = recorder.stop();
        device.stop();
        state.PauseTiming();
        file.deleteFile();
        state.ResumeTiming();
    }
    rusage usage {};
    getrusage (RUSAGE_SELF, &usage);
    state.counters["realtime"] = benchmark::Counter ((double) frames / 48000.0 * (double) state.iterations(),
                                                     benchmark::Counter::kIsRate);
    state.counters["lost"] = (double) report.framesLost;
    state.counters["peak_rss_MB"] = (double) usage.ru_maxrss / 1024.0;
}
BENCHMARK (BM_WholeRecording)->Arg (1)->Arg (10)->Iterations (1)->Unit (benchmark::kMillisecond)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
