#include <gtest/gtest.h>
#include "AllocationCounter.h"
#include "app/recorder/AudioRecorder.h"
#include "app/recorder/LiveAudioInputDisplayComp.h"
#include "app/support/FakeAudioDevice.h"

// The device thread's work while recording: the recorder and both displays,
// a one-input device recorded in stereo, with the writer draining beside it.
TEST (Realtime, RecorderAndDisplaysNeitherAllocateNorLock)
{
    fakeaudio::Device device ("Fake 1 in 48000", fakeaudio::Pace::pumped);
    device.open (1, 3, 48000.0, fakeaudio::blockSize);
    AudioRecorder recorder;
    LiveAudioInputDisplayComp first (true), second (false);
    juce::AudioIODeviceCallback* const callbacks[] = { &recorder, &first, &second };
    for (auto* c : callbacks)
        c->audioDeviceAboutToStart (&device);

    const auto file = juce::File::createTempFile (".wav");
    ASSERT_EQ (recorder.startRecording (file, 2, 24), AudioRecorder::StartResult::started);
    juce::AudioBuffer<float> in (1, fakeaudio::blockSize), out (2, fakeaudio::blockSize);
    in.applyGain (0.0f);
    in.setSample (0, 7, 0.5f);
    const auto counts = clarivo_test::countRealtimeFaults ([&]
    {
        for (int block = 0; block < 1000; ++block)
            for (auto* c : callbacks)
                c->audioDeviceIOCallbackWithContext (in.getArrayOfReadPointers(), 1, out.getArrayOfWritePointers(), 2,
                                                     fakeaudio::blockSize, {});
    });
    EXPECT_EQ (counts.allocations, 0);
    EXPECT_EQ (counts.locks, 0);
    EXPECT_EQ (recorder.getSamplesRecorded(), 1000 * fakeaudio::blockSize);
    EXPECT_TRUE (recorder.stop().isComplete());
    file.deleteFile();
}
