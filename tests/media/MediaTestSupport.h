#pragma once

#include "CVAudioProcessor.h"

#include <gtest/gtest.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <functional>
#include <vector>

namespace mediatest
{
using Planar = std::vector<std::vector<float>>;

// One of the generated test files, made on the first call for it and shared
// by the test processes of the build tree: stereo.m4a, movie.mp4 (video
// first, 48 kHz audio), movie.mov (anamorphic 4:3 pixels), song.mp3 (with
// cover art), six.wav, rate48k.wav (24-bit), truncated.mp4, cut.m4a (its data
// cut short), empty.mp4, text.mp4, zerorate.caf (0 Hz in its header),
// huge.mov (raw pictures declared 65535 x 65535), six.mp4 (video first, 5.1
// AAC), videoonly.mp4, talk.MP3 (mono 22.05 kHz), clip.mkv (H.264 and AAC),
// song.wav (3 s), quietgap.wav (9 s of chord and -45 dBFS hiss, hiss only
// from 5 to 7 s) and hissright.wav (its right channel alone, the left all
// zero). Other names give a file that does not exist.
juce::File media (const char* name);
// A fresh, not yet existing file in a scratch folder emptied for each test.
juce::File scratchFile (const juce::String& name);
juce::File scratchFolder();

bool runFFmpeg (const juce::StringArray& args);

// The whole first audio track of a file, decoded by the media layer.
Planar decodeAll (const juce::File& file, int* sampleRate = nullptr);

// What the restoration chain makes of the audio when run offline, in the
// slice size the media layer prepares its taps for.
Planar processOffline (const Planar& input, double sampleRate, const std::function<void (CVAudioProcessor&)>& setup = {});

// Runs the message loop until the condition holds or the time is up.
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs);

// The packets of a file's first video or audio stream, as stored, and where
// each starts in the file.
struct StoredPacket
{
    juce::MemoryBlock data;
    std::int64_t position;
};
std::vector<StoredPacket> storedPackets (const juce::File& file, bool video);
std::vector<juce::MemoryBlock> videoPackets (const juce::File& file);

double correlation (const float* a, const float* b, int n);
// True when block matches whole from position within codec noise, and
// clearly better there than one sample to either side.
bool landsOn (const float* block, const std::vector<float>& whole, std::int64_t position, int length, float tolerance = 1.0e-4f);

// The offset into haystack at which needle appears sample for sample, or -1.
int findExact (const std::vector<float>& haystack, const float* needle, int needleLength, int from = 0);

// While alive, files of this process cannot grow past the limit, as on a
// full disk: writes past it fail instead of raising a signal.
class FileSizeLimit
{
public:
    explicit FileSizeLimit (std::int64_t bytes);
    ~FileSizeLimit();

private:
    std::int64_t previousSoft = -1;
    void (*previousHandler) (int) = nullptr;
};

// Collects the lines written to the log while alive.
class LogCapture : public juce::Logger
{
public:
    LogCapture();
    ~LogCapture() override;
    int count (const juce::String& line) const;

private:
    void logMessage (const juce::String& message) override;
    juce::Logger* previous;
    mutable std::mutex lock;
    juce::StringArray captured;
};
} // namespace mediatest
