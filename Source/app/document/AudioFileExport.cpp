#include "app/document/AudioFileExport.h"

#include "app/document/ClarivoTempFolder.h"
#include "app/windows/DialogService.h"
#include "platform/media/FFmpegAudioFormat.h"
#include "platform/media/MediaFileOutput.h"
#include "platform/process/ProgramLauncher.h"
#include "platform/update/UpdateChecker.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <sys/wait.h>
#include <vector>

namespace AudioFileExport
{
namespace
{
constexpr int blockFrames = 8192;
constexpr double progressStep = 0.05;

using clarivo::media::detail::CheckedFileOutputStream;

// A writer whose file is known to be complete only once the writer is gone:
// it closes its stream out of sight, so the stream reports through a flag.
struct FileWriter
{
    std::unique_ptr<juce::AudioFormatWriter> writer;
    // The error number of the stream's first failure, 0 while none.
    std::shared_ptr<std::atomic<int>> failed = std::make_shared<std::atomic<int>> (0);

    // Writes what the encoder still holds and closes the file.
    bool finish()
    {
        writer.reset();
        return failed->load() == 0;
    }
};

// file must be new and empty: the stream writes it from the start.
FileWriter openWriter (juce::AudioFormat& format, const juce::File& file, double sampleRate, int channels, int option)
{
    FileWriter out;
    auto stream = std::make_unique<CheckedFileOutputStream> (file, out.failed);
    if (! stream->openedOk())
        return out;
    out.writer.reset (format.createWriterFor (stream.get(), sampleRate, (unsigned int) channels, 16, {}, option));
    // Without a writer the stream stays ours to delete.
    if (out.writer != nullptr)
        stream.release();
    return out;
}

void offerLameDownload (const Request& request)
{
    const int answer = DialogService::get().ask (
        juce::MessageBoxIconType::QuestionIcon, "Missing LAME Encoder",
        "Clarivo was unable to locate the LAME encoder.  Would you like to download the LAME installer?",
        { "OK", "Cancel" });
    if (answer != 0)
        return;
    const juce::URL page ("https://lame.sourceforge.io/download.php");
    if (request.openPage)
        request.openPage (page);
    else
        clarivo::update::openInBrowser (page);
}

// Runs lame on the finished WAV, keeping the interface alive until it ends.
// Only a clean exit counts: lame reports a failed write by its exit status.
bool runLame (const juce::File& program, int quality, const juce::File& wav, const juce::File& mp3, Progress& progress)
{
    int error = 0;
    const pid_t pid = clarivo::process::startProgram (
        program, { "--quiet", "-V", juce::String (lameVbrQuality (quality)), wav.getFullPathName(), mp3.getFullPathName() }, error);
    if (pid < 0)
        return false;

    int status = 0;
    for (;;)
    {
        const pid_t ended = ::waitpid (pid, &status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0 && errno != EINTR)
            return false;
        progress.runMessageLoop (20);
    }
    return WIFEXITED (status) && WEXITSTATUS (status) == 0;
}
} // namespace

int flacCompressionLevel (int qualityIndex) noexcept
{
    // JUCE passes its option index on as the level, except 0, which it
    // leaves at libFLAC's default; 1-8 are always levels.
    return 1 + juce::roundToInt (7.0 * juce::jlimit (0, 9, qualityIndex) / 9.0);
}

int lameVbrQuality (int qualityIndex) noexcept
{
    return 9 - juce::jlimit (0, 9, qualityIndex);
}

bool copyFrames (juce::AudioFormatReader& reader, juce::AudioFormatWriter& writer, juce::int64 start,
                 juce::int64 numFrames, Progress& progress)
{
    const int channels = writer.getNumChannels();
    const int fromReader = juce::jmin (channels, (int) reader.numChannels);
    if (fromReader <= 0 || start < 0 || numFrames < 0)
        return false;

    juce::AudioBuffer<float> buffer (channels, blockFrames);
    double reported = 0.0;
    for (juce::int64 done = 0; done < numFrames; done += blockFrames)
    {
        const double fraction = (double) done / (double) numFrames;
        if (fraction > reported + progressStep)
        {
            reported = fraction;
            progress.set (fraction);
            progress.runMessageLoop (1);
        }

        const int n = (int) juce::jmin<juce::int64> (blockFrames, numFrames - done);
        if (! reader.read (buffer.getArrayOfWritePointers(), fromReader, start + done, n))
            return false;
        for (int ch = fromReader; ch < channels; ++ch)
            buffer.copyFrom (ch, 0, buffer, fromReader - 1, 0, n);
        if (! writer.writeFromAudioSampleBuffer (buffer, 0, n))
            return false;
    }
    return true;
}

bool exportWithAudioFormat (juce::AudioFormatManager& formats, const Request& request, Progress& progress, Outcome* outcome)
{
    Outcome ignored;
    auto& why = outcome != nullptr ? *outcome : ignored;
    why = {};
    const auto& destination = request.destination;
    const bool mp3 = destination.hasFileExtension ("mp3");
    if (! clarivo::media::detail::mayWriteTo (destination) || ! (mp3 || destination.hasFileExtension ("flac")))
        return false;

    auto reader = clarivo::media::createReaderForFile (formats, request.source);
    if (reader == nullptr || reader->sampleRate <= 0.0)
        return false;
    const auto length = reader->lengthInSamples;
    const auto start = request.startFrame;
    if (start < 0 || start > length)
        return false;
    const auto numFrames = request.numFrames < 0 ? length - start : juce::jmin (request.numFrames, length - start);

    if (mp3 && ! request.lameProgram.existsAsFile())
    {
        offerLameDownload (request);
        return false;
    }

    // The file takes the destination's name only when complete, so a
    // failure never leaves a file there, and a file that appeared there
    // meanwhile is not replaced.
    juce::String whyNot;
    clarivo::media::detail::PartialFile pending (destination, whyNot);
    if (! pending.isValid())
    {
        why.error = pending.getError();
        return false;
    }
    const auto& partial = pending.getFile();
    // MP3 goes through a 16-bit WAV in our own folder, for lame to encode.
    const auto wav = mp3 ? ClarivoTempFolder::createTempFile (".wav", &why.error) : juce::File();

    juce::WavAudioFormat wavFormat;
    juce::FlacAudioFormat flacFormat;
    const int channels = juce::jmin (2, (int) reader->numChannels);
    FileWriter out;
    if (mp3 && wav != juce::File())
        out = openWriter (wavFormat, wav, reader->sampleRate, channels, 0);
    else if (! mp3)
        out = openWriter (flacFormat, partial, reader->sampleRate, channels, flacCompressionLevel (request.quality));

    const bool shown = out.writer != nullptr;
    bool ok = shown;
    if (shown)
    {
        progress.show ("Exporting...");
        ok = copyFrames (*reader, *out.writer, start, numFrames, progress);
        ok = out.finish() && ok;
        why.error = out.failed->load();
        if (ok && mp3)
            why.encoderFailed = ! (ok = runLame (request.lameProgram, request.quality, wav, partial, progress) && partial.getSize() > 0);
        if (ok && ! (ok = pending.moveInto (destination, whyNot)))
            why.error = pending.getError();
    }
    else if (why.error == 0)
        why.error = out.failed->load();

    out.writer.reset();
    if (wav != juce::File())
        wav.deleteFile();
    if (shown)
        progress.hide();
    return ok;
}
} // namespace AudioFileExport
