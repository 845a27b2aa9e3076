#pragma once

// Copying sound between the framework's readers and writers under the
// progress overlay: the import of media that only the audio readers
// understand, and the ".flac" and ".mp3" exports.
#include <juce_audio_formats/juce_audio_formats.h>

#include <functional>

namespace AudioFileExport
{
// The progress overlay, as the application shows it.
struct Progress
{
    virtual ~Progress() = default;
    virtual void show (const juce::String& text) = 0;
    virtual void set (double fraction) = 0;
    virtual void hide() = 0;
    // Keeps the interface alive between blocks.
    virtual void runMessageLoop (int milliseconds) = 0;
};

// Copies frames [start, start + numFrames) of the reader into the writer in
// 8192-frame blocks, reporting progress every 5 %. Only real frames are
// written. The writer's channels come from the reader's first ones (a mono
// reader fills both of a stereo writer); make the writer with at most two.
// False when a read or a write fails. Shows nothing itself: the caller
// brackets it with show and hide.
bool copyFrames (juce::AudioFormatReader& reader, juce::AudioFormatWriter& writer, juce::int64 start,
                 juce::int64 numFrames, Progress& progress);

struct Request
{
    juce::File source;
    juce::File destination; // ".flac" or ".mp3"; must not exist
    int quality = 9;        // 0-9, 9 the best
    juce::int64 startFrame = 0;
    juce::int64 numFrames = -1; // to the end of the source
    juce::File lameProgram { "/usr/bin/lame" };
    // Opens the LAME download page when the user asks for it; empty means
    // the default browser.
    std::function<void (const juce::URL&)> openPage;
};

// Writes the request's frames at 16 bits. True only when the whole file is
// written; otherwise nothing is left at the destination. Without the lame
// program an ".mp3" is refused after offering the user its download page.
// What stopped a failed export: the encoder, or the system's error number
// of the write that failed (0 where none was given).
struct Outcome
{
    bool encoderFailed = false;
    int error = 0;
};
bool exportWithAudioFormat (juce::AudioFormatManager& formats, const Request& request, Progress& progress,
                            Outcome* outcome = nullptr);

// libFLAC's compression level and LAME's VBR quality for a quality index
// 0-9 (9 the best): levels 1-8, and -V 9 down to -V 0.
int flacCompressionLevel (int qualityIndex) noexcept;
int lameVbrQuality (int qualityIndex) noexcept;
} // namespace AudioFileExport
