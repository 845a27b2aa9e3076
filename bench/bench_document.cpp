// The document's long jobs as the user meets them, through the application
// object with its window kept off the screen:
// - opening an hour of MP3 (the analysis copy, the analysis and the learning)
//   beside the ffmpeg command line decoding the same file to WAV;
// - saving ten minutes as WAV and as MP4 beside the chain alone over the same
//   decoded sound plus the encoding the format needs (the 24-bit write, or
//   the AAC encode of the media layer's M4A export);
// - the peak memory a save adds, ten minutes against sixty, each save in a
//   process of its own so that neither inherits the other's heap.
// The sources are made once with ffmpeg into a cached folder. The
// application needs an X display (run under `xvfb-run -a`).
#include <benchmark/benchmark.h>

#include "BenchApp.h"

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaExportSession.h"

#include <fstream>
#include <future>
#include <iostream>
#include <string>

using namespace clarivo::media;
using bench::Clock;
using bench::HeadlessApp;
using bench::secondsSince;

namespace
{
juce::File workFolder()
{
    static const juce::File dir = bench::mediaFolder ("clarivo-bench-document");
    return dir;
}

// A fresh name in the work folder for what a run writes.
juce::File output (const juce::String& name)
{
    auto f = workFolder().getChildFile ("out").getChildFile (name);
    f.getParentDirectory().createDirectory();
    f.deleteFile();
    return f;
}

// Two tones over a little hiss, with two seconds of hiss alone every ten,
// so that the analysis finds noise to learn from.
juce::String sound (int minutes)
{
    return "aevalsrc=0.3*sin(2*PI*440*t)*lt(mod(t\\,10)\\,8)+0.01*(random(0)-0.5)|"
           "0.3*sin(2*PI*523*t)*lt(mod(t\\,10)\\,8)+0.01*(random(1)-0.5):s=44100:d="
        + juce::String (minutes * 60);
}

juce::File cached (const juce::String& name, const juce::StringArray& recipe)
{
    return bench::cachedMedia (workFolder().getChildFile (name), recipe);
}

juce::File mp3 (int minutes)
{
    return cached (juce::String (minutes) + "-minutes.mp3", { "-f", "lavfi", "-i", sound (minutes), "-c:a", "libmp3lame", "-b:a", "192k" });
}

juce::File m4a (int minutes)
{
    return cached (juce::String (minutes) + "-minutes.m4a", { "-f", "lavfi", "-i", sound (minutes), "-c:a", "aac", "-b:a", "192k" });
}

// 320x240 H.264 pictures with the sound in AAC.
juce::File movie (int minutes)
{
    return cached (juce::String (minutes) + "-minutes.mp4",
                   { "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=" + juce::String (minutes * 60), "-f", "lavfi", "-i",
                     sound (minutes), "-map", "0:v", "-map", "1:a", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                     "-c:a", "aac", "-b:a", "160k" });
}

// The source each save format is measured on: the sound alone for WAV, a
// movie for MP4.
juce::File saveSource (int format, int minutes)
{
    return format == 5 ? m4a (minutes) : movie (minutes);
}

//==============================================================================
// The chain alone over the decoded sound, in the slices the export gives
// the tap, with the application's settings (and learned profile), on through
// the latency as the save's render goes: seconds, and the output in buffer.
double chainAlone (CVAudioProcessor& settingsFrom, juce::AudioBuffer<float>& buffer, double rate)
{
    juce::MemoryBlock state;
    settingsFrom.getStateInformation (state);
    constexpr int slice = AssetExportSession::maxFramesPerSlice;
    const int channels = buffer.getNumChannels();
    CVAudioProcessor processor;
    processor.prepareToPlay (rate, slice);
    processor.setPlayConfigDetails (channels, channels, rate, slice);
    processor.setStateInformation (state.getData(), (int) state.getSize());

    juce::AudioBuffer<float> block (channels, slice);
    juce::MidiBuffer midi;
    const int length = buffer.getNumSamples() + processor.getLatencySamples();
    const auto start = Clock::now();
    for (int pos = 0; pos < length; pos += slice)
    {
        const int n = std::min (slice, length - pos);
        const int fromSource = juce::jlimit (0, n, buffer.getNumSamples() - pos);
        block.clear();
        for (int c = 0; c < channels && fromSource > 0; ++c)
            block.copyFrom (c, 0, buffer, c, pos, fromSource);
        processor.processBlockWithLength (block, midi, n);
        for (int c = 0; c < channels && fromSource > 0; ++c)
            buffer.copyFrom (c, pos, block, c, 0, fromSource);
    }
    return secondsSince (start);
}

juce::AudioBuffer<float> decode (ClarivoApplication& app, const juce::File& file, double& rate)
{
    std::unique_ptr<juce::AudioFormatReader> reader (app.getFormatManager().createReaderFor (file));
    if (reader == nullptr)
        return {};
    rate = reader->sampleRate;
    juce::AudioBuffer<float> buffer ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&buffer, 0, buffer.getNumSamples(), 0, true, true);
    return buffer;
}

// Writes the buffer as a WAV file of 24-bit integers or (32) floats:
// seconds, or -1.
double writeWave (const juce::AudioBuffer<float>& buffer, double rate, int bits, const juce::File& target)
{
    auto stream = std::make_unique<juce::FileOutputStream> (target);
    const auto start = Clock::now();
    std::unique_ptr<juce::AudioFormatWriter> writer (
        juce::WavAudioFormat().createWriterFor (stream.get(), rate, (unsigned) buffer.getNumChannels(), bits, {}, 0));
    if (writer == nullptr)
        return -1.0;
    stream.release();
    const bool ok = writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples());
    writer.reset();
    return ok ? secondsSince (start) : -1.0;
}

// The media layer's M4A export of a file's sound without a tap: seconds, or -1.
double encodeAac (const juce::File& source)
{
    auto session = AssetExportSession::exportSessionWithAsset (URLAsset::assetWithURL (source), kExportPresetAppleM4A);
    if (session == nullptr)
        return -1.0;
    const auto target = output ("encoded.m4a");
    session->setOutputURL (target);
    session->setOutputFileType (FileType::appleM4A);
    std::promise<void> done;
    const auto start = Clock::now();
    session->exportAsynchronously ([&] { done.set_value(); });
    done.get_future().wait();
    const double seconds = secondsSince (start);
    target.deleteFile();
    return session->getStatus() == ExportStatus::completed ? seconds : -1.0;
}

//==============================================================================
// Peak memory: the child process opens the source, then measures how far
// its resident set peaks above where it stood when the save began.
constexpr const char* kPeakFlag = "--save-peak";
constexpr const char* kPeakLine = "save-peak-kB ";

long statusKb (const char* field)
{
    std::ifstream status ("/proc/self/status");
    std::string line;
    const std::string key = std::string (field) + ":";
    while (std::getline (status, line))
        if (line.rfind (key, 0) == 0)
            return std::stol (line.substr (key.size()));
    return -1;
}

int savePeakChild (const juce::File& source, int format)
{
    HeadlessApp headless;
    if (! headless.open (source))
        return 2;
    const auto target = output ("peak" + ClarivoDocument::extensionForFormat (format));
    {
        std::ofstream clear ("/proc/self/clear_refs");
        clear << "5";
    }
    const long before = statusKb ("VmRSS");
    const bool saved = headless.saveAs (target, format);
    const long peak = statusKb ("VmHWM");
    target.deleteFile();
    if (! saved || before < 0 || peak < 0)
        return 3;
    std::cout << kPeakLine << (peak - before) << std::endl;
    return 0;
}

// The growth in MB, or -1.
double savePeakInChild (const juce::File& source, int format)
{
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    juce::ChildProcess child;
    if (! child.start (juce::StringArray { self.getFullPathName(), kPeakFlag, source.getFullPathName(), juce::String (format) }))
        return -1.0;
    const auto out = child.readAllProcessOutput();
    if (! child.waitForProcessToFinish (3600000) || child.getExitCode() != 0)
        return -1.0;
    const auto line = out.fromLastOccurrenceOf (kPeakLine, false, false);
    return line.isEmpty() ? -1.0 : line.getLargeIntValue() / 1024.0;
}
} // namespace

//==============================================================================
static void BM_OpenOneHourMp3BesideFFmpeg (benchmark::State& state)
{
    const auto source = mp3 (60);
    HeadlessApp headless;
    for (auto _ : state)
    {
        auto start = Clock::now();
        const bool opened = headless.open (source);
        const double open = secondsSince (start);
        const bool learned = headless.app->getProcessor().learnRegion.length > 0;
        headless.app->closeMedia();

        const auto decoded = output ("ffmpeg.wav");
        start = Clock::now();
        const bool ok = bench::ffmpeg ({ "-i", source.getFullPathName(), decoded.getFullPathName() });
        const double cli = secondsSince (start);
        decoded.deleteFile();
        if (! opened || ! ok)
        {
            state.SkipWithError ("the open or the ffmpeg decode failed");
            return;
        }
        state.SetIterationTime (open);
        state.counters["open_s"] = open;
        state.counters["ffmpeg_s"] = cli;
        state.counters["x_ffmpeg"] = open / cli;
        state.counters["learned"] = learned ? 1 : 0;
    }
}
BENCHMARK (BM_OpenOneHourMp3BesideFFmpeg)->UseManualTime()->Iterations (1)->Unit (benchmark::kSecond);

// Argument: the format index, 5 (.wav) or 1 (.mp4).
static void BM_SaveTenMinutesBesideChainAndEncode (benchmark::State& state)
{
    const int format = (int) state.range (0);
    const auto source = saveSource (format, 10);
    HeadlessApp headless;
    if (! headless.open (source))
    {
        state.SkipWithError ("the source did not open");
        return;
    }
    for (auto _ : state)
    {
        const auto target = output ("saved" + ClarivoDocument::extensionForFormat (format));
        auto start = Clock::now();
        const bool saved = headless.saveAs (target, format);
        const double save = secondsSince (start);
        target.deleteFile();

        double rate = 0.0;
        auto buffer = decode (*headless.app, source, rate);
        const double chain = chainAlone (headless.app->getProcessor(), buffer, rate);
        // The AAC encoder's pace depends on the sound, so it is given the
        // processed sound the save encodes, not the source.
        const auto written = output (format == 5 ? "write24.wav" : "processed.wav");
        double encode = writeWave (buffer, rate, format == 5 ? 24 : 32, written);
        if (format != 5 && encode >= 0.0)
            encode = encodeAac (written);
        written.deleteFile();
        if (! saved || buffer.getNumSamples() == 0 || encode < 0.0)
        {
            state.SkipWithError (! saved ? "the save failed" : encode < 0.0 ? "the encode failed" : "the decode failed");
            return;
        }
        state.SetIterationTime (save);
        state.counters["save_s"] = save;
        state.counters["chain_s"] = chain;
        state.counters["encode_s"] = encode;
        state.counters["x_chain_encode"] = save / (chain + encode);
    }
}
BENCHMARK (BM_SaveTenMinutesBesideChainAndEncode)->Arg (5)->Arg (1)->UseManualTime()->Iterations (1)->Unit (benchmark::kSecond);

// Argument: the format index, 5 (.wav) or 1 (.mp4).
static void BM_SavePeakMemoryTenAgainstSixtyMinutes (benchmark::State& state)
{
    const int format = (int) state.range (0);
    const auto ten = saveSource (format, 10), sixty = saveSource (format, 60);
    for (auto _ : state)
    {
        const auto start = Clock::now();
        const double tenMb = savePeakInChild (ten, format);
        const double sixtyMb = savePeakInChild (sixty, format);
        state.SetIterationTime (secondsSince (start));
        if (tenMb < 0.0 || sixtyMb < 0.0)
        {
            state.SkipWithError ("a save in the child process failed");
            return;
        }
        state.counters["ten_min_MB"] = tenMb;
        state.counters["sixty_min_MB"] = sixtyMb;
        state.counters["extra_MB"] = sixtyMb - tenMb;
    }
}
BENCHMARK (BM_SavePeakMemoryTenAgainstSixtyMinutes)->Arg (5)->Arg (1)->UseManualTime()->Iterations (1)->Unit (benchmark::kSecond);

int main (int argc, char** argv)
{
    bench::GuiWithoutApplication gui;
    if (! gui.hasDisplay())
        return 1;
    if (argc == 4 && std::string (argv[1]) == kPeakFlag)
        return savePeakChild (juce::File (argv[2]), std::atoi (argv[3]));
    return bench::runBenchmarks (argc, argv);
}
