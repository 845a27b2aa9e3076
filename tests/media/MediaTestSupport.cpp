#include "MediaTestSupport.h"

extern "C"
{
#include <libavformat/avformat.h>
}

#include "platform/media/MediaDecoding.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string_view>

namespace mediatest
{
namespace
{
// Stereo test tones with a little noise, different in each channel.
juce::String stereoTone (int rate)
{
    return "aevalsrc=0.35*sin(2*PI*440*t)+0.15*sin(2*PI*1731*t)|"
        "0.3*sin(2*PI*660*t)+0.1*sin(2*PI*2950*t):s="
        + juce::String (rate) + ":d=2";
}

const juce::String pictures = "testsrc=size=320x240:rate=25:duration=2";

// Two seconds of test pictures in H.264, then the sound, if any, in AAC.
juce::StringArray h264Movie (const juce::String& sound = {}, const char* bitrate = "160k", const juce::StringArray& more = {})
{
    juce::StringArray args { "-f", "lavfi", "-i", pictures };
    if (sound.isNotEmpty())
        args.addArray ({ "-f", "lavfi", "-i", sound, "-map", "0:v", "-map", "1:a", "-c:a", "aac", "-b:a", bitrate });
    args.addArray ({ "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" });
    args.addArray (more);
    return args;
}

// A second and a half of small test pictures in the given codec, with the
// stereo tone at 48 kHz in the given sound codec.
juce::StringArray homeVideo (const char* picture, const char* sound, const juce::StringArray& more = {})
{
    juce::StringArray args { "-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=1.5", "-f", "lavfi", "-i",
                             "aevalsrc=0.35*sin(2*PI*440*t)+0.15*sin(2*PI*1731*t)|0.3*sin(2*PI*660*t)+0.1*sin(2*PI*2950*t):s=48000:d=1.5",
                             "-map", "0:v", "-map", "1:a", "-c:v", picture, "-pix_fmt", "yuvj420p", "-c:a", sound };
    if (juce::String (picture) != "mjpeg")
        args.set (args.indexOf ("yuvj420p"), "yuv420p");
    args.addArray (more);
    return args;
}

// Overwrites bytes at offset from the first place the tag appears, after the
// sample description box when there is one (where the entries' codes are).
bool patch (const juce::File& file, const char* tag, size_t offset, std::vector<unsigned char> bytes)
{
    juce::MemoryBlock data;
    if (! file.loadFileAsData (data))
        return false;
    const auto* begin = static_cast<const char*> (data.getData());
    const std::string_view all (begin, data.getSize());
    const auto descriptions = all.find ("stsd");
    const auto at = all.find (tag, descriptions == std::string_view::npos ? 0 : descriptions);
    if (at == std::string_view::npos || at + offset + bytes.size() > data.getSize())
    {
        ADD_FAILURE() << "cannot patch " << file.getFullPathName() << " at " << tag;
        return false;
    }
    data.copyFrom (bytes.data(), (int) (at + offset), bytes.size());
    return file.replaceWithData (data.getData(), data.getSize());
}

// The first part of another test file, as a download cut short leaves it.
bool firstPart (const char* source, int numerator, int denominator, const juce::File& out)
{
    juce::MemoryBlock data;
    return media (source).loadFileAsData (data) && out.replaceWithData (data.getData(), data.getSize() * (size_t) numerator / (size_t) denominator);
}

// 16-bit 44.1 kHz wave; sample (channel, time in seconds, noise of that channel).
bool writeWave (const juce::File& out, int channels, double seconds, const std::function<double (int, double, juce::Random&)>& sample)
{
    constexpr double rate = 44100.0;
    auto stream = std::make_unique<juce::FileOutputStream> (out);
    std::unique_ptr<juce::AudioFormatWriter> writer (
        juce::WavAudioFormat().createWriterFor (stream.get(), rate, (unsigned int) channels, 16, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release();
    const int length = (int) std::lround (seconds * rate);
    juce::AudioBuffer<float> buffer (channels, length);
    for (int c = 0; c < channels; ++c)
    {
        // A noise stream of its own per channel, the same in every file.
        juce::Random noise (1000 + c);
        for (int i = 0; i < length; ++i)
            buffer.setSample (c, i, (float) sample (c, i / rate, noise));
    }
    const bool written = writer->writeFromAudioSampleBuffer (buffer, 0, length);
    writer.reset();
    return written && out.getSize() > (std::int64_t) length * channels * 2;
}

// Uniform white noise at -45 dBFS RMS.
double hiss (juce::Random& noise)
{
    return 0.009740 * (2.0 * noise.nextDouble() - 1.0);
}

// A swelling A major chord, silent from 5 to 7 s; every partial has a whole
// number of cycles per second, so the cuts fall on zero crossings.
double chordWithGap (double t)
{
    if (t >= 5.0 && t < 7.0)
        return 0.0;
    const auto partial = [t] (double amplitude, double hz) { return amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * hz * t); };
    return (0.75 + 0.25 * std::sin (juce::MathConstants<double>::pi * t))
         * (partial (0.20, 220) + partial (0.12, 275) + partial (0.10, 330) + partial (0.06, 440));
}

using Maker = std::function<bool (const juce::File& out)>;

Maker ffmpeg (juce::StringArray args)
{
    return [args] (const juce::File& out)
    {
        auto all = args;
        all.add (out.getFullPathName());
        return runFFmpeg (all);
    };
}

// How each file is made. A recipe may ask media() for the file it is made from.
const std::map<juce::String, Maker>& recipes()
{
    static const std::map<juce::String, Maker> all {
        { "stereo.m4a", ffmpeg ({ "-f", "lavfi", "-i", stereoTone (44100), "-c:a", "aac", "-b:a", "192k" }) },
        { "movie.mp4", ffmpeg (h264Movie (stereoTone (48000))) },
        { "movie.mov", ffmpeg ({ "-f", "lavfi", "-i", pictures, "-f", "lavfi", "-i", stereoTone (44100), "-map", "0:v", "-map", "1:a", "-c:v",
                                 "mpeg4", "-vf", "setsar=4/3", "-c:a", "aac", "-b:a", "160k" }) },
        { "cover.png", ffmpeg ({ "-f", "lavfi", "-i", "color=c=red:size=64x64:duration=1", "-frames:v", "1" }) },
        { "song.mp3", [] (const juce::File& out)
          {
              return runFFmpeg ({ "-f", "lavfi", "-i", stereoTone (44100), "-i", media ("cover.png").getFullPathName(), "-map", "0:a", "-map", "1:v",
                                  "-c:a", "libmp3lame", "-b:a", "192k", "-c:v", "png", "-disposition:v", "attached_pic", "-id3v2_version", "3",
                                  out.getFullPathName() });
          } },
        { "six.wav", ffmpeg ({ "-f", "lavfi", "-i", "aevalsrc=0.1*sin(2*PI*100*t)|0.1*sin(2*PI*200*t)|0.1*sin(2*PI*300*t)|"
                               "0.1*sin(2*PI*400*t)|0.1*sin(2*PI*500*t)|0.1*sin(2*PI*600*t):s=44100:d=1", "-c:a", "pcm_s16le" }) },
        { "rate48k.wav", ffmpeg ({ "-f", "lavfi", "-i", stereoTone (48000), "-c:a", "pcm_s24le" }) },
        { "whole.m4a", ffmpeg ({ "-f", "lavfi", "-i", stereoTone (44100), "-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart" }) },
        { "truncated.mp4", [] (const juce::File& out) { return firstPart ("movie.mp4", 2, 5, out); } },
        { "cut.m4a", [] (const juce::File& out) { return firstPart ("whole.m4a", 3, 5, out); } },
        { "empty.mp4", [] (const juce::File& out) { return out.create().wasOk(); } },
        { "text.mp4", [] (const juce::File& out) { return out.replaceWithText ("This is not a movie, only a line of text.\n"); } },
        // Headers that lie: a sample rate of zero, and a picture of 65535 x 65535.
        { "zerorate.caf", [] (const juce::File& out)
          {
              return ffmpeg ({ "-f", "lavfi", "-i", stereoTone (44100), "-c:a", "pcm_s16le" }) (out)
                  && patch (out, "desc", 12, { 0, 0, 0, 0, 0, 0, 0, 0 });
          } },
        { "huge.mov", [] (const juce::File& out)
          {
              return ffmpeg ({ "-f", "lavfi", "-i", "testsrc=size=16x16:rate=25:duration=1", "-f", "lavfi", "-i", stereoTone (44100), "-c:v",
                               "rawvideo", "-pix_fmt", "rgb24", "-c:a", "aac" }) (out)
                  && patch (out, "raw ", 28, { 0xff, 0xff, 0xff, 0xff });
          } },
        { "six.mp4", ffmpeg (h264Movie ("aevalsrc=0.1*sin(2*PI*100*t)|0.1*sin(2*PI*200*t)|0.1*sin(2*PI*300*t)|0.1*sin(2*PI*400*t)|"
                                        "0.1*sin(2*PI*500*t)|0.1*sin(2*PI*600*t):s=48000:d=2:c=5.1",
                                        "384k")) },
        { "videoonly.mp4", ffmpeg (h264Movie()) },
        { "talk.MP3", ffmpeg ({ "-f", "lavfi", "-i", "aevalsrc=0.4*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*3*t)):s=22050:d=2", "-c:a", "libmp3lame",
                                "-b:a", "64k" }) },
        // The encoder's priming before zero, so picture and sound both start at zero.
        { "clip.mkv", ffmpeg (h264Movie (stereoTone (44100), "160k", { "-avoid_negative_ts", "disabled" })) },
        // Home videos as cameras, phones, browsers and screen recorders write
        // them: short, small pictures, each picture codec with the sound its
        // container usually carries.
        { "home-h264-vorbis.mkv", ffmpeg (homeVideo ("libx264", "libvorbis")) },
        { "home-h264-aac.mkv", ffmpeg (homeVideo ("libx264", "aac")) },
        { "home-hevc-opus.mkv", ffmpeg (homeVideo ("libx265", "libopus", { "-x265-params", "log-level=error" })) },
        { "home-vp9-opus.webm", ffmpeg (homeVideo ("libvpx-vp9", "libopus")) },
        { "home-vp8-vorbis.webm", ffmpeg (homeVideo ("libvpx", "libvorbis")) },
        { "home-h264-ac3.mts", ffmpeg (homeVideo ("libx264", "ac3")) },
        { "home-mpeg4-mp3.avi", ffmpeg (homeVideo ("mpeg4", "libmp3lame")) },
        { "home-h264-aac.3gp", ffmpeg (homeVideo ("libx264", "aac", { "-ac", "1", "-ar", "16000" })) },
        { "home-mjpeg-pcm.mov", ffmpeg (homeVideo ("mjpeg", "pcm_s16le")) },
        { "song.wav", [] (const juce::File& out)
          {
              return writeWave (out, 2, 3.0, [] (int c, double t, juce::Random& noise)
              {
                  const double w = 2.0 * juce::MathConstants<double>::pi * t;
                  const double tone = c == 0 ? 0.35 * std::sin (w * 440) + 0.15 * std::sin (w * 1731) : 0.3 * std::sin (w * 660) + 0.1 * std::sin (w * 2950);
                  return tone + 0.005 * (2.0 * noise.nextDouble() - 1.0);
              });
          } },
        { "quietgap.wav", [] (const juce::File& out)
          {
              return writeWave (out, 2, 9.0, [] (int, double t, juce::Random& noise) { return chordWithGap (t) + hiss (noise); });
          } },
        { "hissright.wav", [] (const juce::File& out)
          {
              return writeWave (out, 2, 9.0, [] (int c, double t, juce::Random& noise) { return c == 0 ? 0.0 : chordWithGap (t) + hiss (noise); });
          } },
    };
    return all;
}

juce::File mediaFolder()
{
    return juce::File (CLARIVO_TEST_MEDIA_DIR);
}

// The scratch folders of this process: ctest runs each test in a process of
// its own, side by side.
juce::File& scratchRoot()
{
    static juce::File dir;
    return dir;
}

class ScratchCleanUp : public ::testing::Environment
{
public:
    void TearDown() override
    {
        if (scratchRoot() != juce::File())
            scratchRoot().deleteRecursively();
    }
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment (new ScratchCleanUp());
} // namespace

juce::File media (const char* name)
{
    // Recursive: a recipe asks for the file it is made from.
    static std::recursive_mutex lock;
    static std::set<juce::String> failed;
    std::lock_guard<std::recursive_mutex> guard (lock);

    const auto file = mediaFolder().getChildFile (name);
    const auto recipe = recipes().find (name);
    if (file.existsAsFile() || recipe == recipes().end())
        return file;
    if (failed.count (name) > 0)
    {
        ADD_FAILURE() << name << " could not be generated";
        return file;
    }

    // Other test processes may make the same file at the same time: each
    // writes a name of its own and renames it into place, so a reader sees
    // a complete file or none.
    mediaFolder().createDirectory();
    const auto part = mediaFolder().getChildFile (".part-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()) + "-" + name);
    const bool made = recipe->second (part) && part.existsAsFile()
                   && std::rename (part.getFullPathName().toRawUTF8(), file.getFullPathName().toRawUTF8()) == 0;
    part.deleteFile();
    if (! made)
    {
        // Fails the tests that use the file rather than skipping them.
        failed.insert (name);
        ADD_FAILURE() << name << " could not be generated";
    }
    return file;
}

juce::File scratchFolder()
{
    if (scratchRoot() == juce::File())
    {
        juce::File dir;
        do
            dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile ("clarivo-media-tests-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));
        while (dir.exists());
        scratchRoot() = dir;
    }
    auto dir = scratchRoot();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (info != nullptr)
        dir = dir.getChildFile (juce::String (info->test_suite_name()) + "." + info->name());
    dir.createDirectory();
    return dir;
}

juce::File scratchFile (const juce::String& name)
{
    return scratchFolder().getNonexistentChildFile (juce::File::createLegalFileName (name).upToLastOccurrenceOf (".", false, false),
                                                    name.fromLastOccurrenceOf (".", true, false), false);
}

bool runFFmpeg (const juce::StringArray& args)
{
    juce::StringArray command { "ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y" };
    command.addArray (args);
    juce::ChildProcess process;
    if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return false;
    const auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish (60000);
    if (process.getExitCode() != 0)
    {
        ADD_FAILURE() << "ffmpeg failed: " << command.joinIntoString (" ") << "\n" << output;
        return false;
    }
    return true;
}

Planar decodeAll (const juce::File& file, int* sampleRate)
{
    juce::String error;
    auto decoder = clarivo::media::detail::AudioDecoder::open (file, -1, error);
    if (decoder == nullptr)
    {
        ADD_FAILURE() << "cannot decode " << file.getFullPathName() << ": " << error;
        return {};
    }
    if (sampleRate != nullptr)
        *sampleRate = decoder->getSampleRate();
    const auto length = (size_t) decoder->getLengthInSamples();
    Planar out ((size_t) decoder->getNumChannels(), std::vector<float> (length));
    std::vector<float*> pointers;
    for (auto& ch : out)
        pointers.push_back (ch.data());
    decoder->read (pointers.data(), (int) pointers.size(), 0, (int) length);
    return out;
}

Planar processOffline (const Planar& input, double sampleRate, const std::function<void (CVAudioProcessor&)>& setup)
{
    constexpr int slice = 4096;
    const int channels = (int) input.size();
    const int length = channels > 0 ? (int) input[0].size() : 0;

    CVAudioProcessor processor;
    processor.prepareToPlay (sampleRate, slice);
    processor.setPlayConfigDetails (channels, channels, sampleRate, slice);
    if (setup)
        setup (processor);

    Planar out ((size_t) channels, std::vector<float> ((size_t) length));
    juce::AudioBuffer<float> buffer (channels, slice);
    juce::MidiBuffer midi;
    for (int pos = 0; pos < length; pos += slice)
    {
        const int n = std::min (slice, length - pos);
        for (int c = 0; c < channels; ++c)
            buffer.copyFrom (c, 0, input[(size_t) c].data() + pos, n);
        processor.processBlockWithLength (buffer, midi, n);
        for (int c = 0; c < channels; ++c)
            std::copy (buffer.getReadPointer (c), buffer.getReadPointer (c) + n, out[(size_t) c].data() + pos);
    }
    return out;
}

bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (2);
    }
    return true;
}

double correlation (const float* a, const float* b, int n)
{
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < n; ++i)
    {
        ab += (double) a[i] * b[i];
        aa += (double) a[i] * a[i];
        bb += (double) b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt (aa * bb) : 0.0;
}

bool landsOn (const float* block, const std::vector<float>& whole, std::int64_t position, int length, float tolerance)
{
    const auto error = [&] (std::int64_t at)
    {
        double worst = 0;
        for (int i = 0; i < length; ++i)
        {
            const auto k = at + i;
            const float w = k >= 0 && k < (std::int64_t) whole.size() ? whole[(size_t) k] : 0.0f;
            worst = std::max (worst, (double) std::abs (block[i] - w));
        }
        return worst;
    };
    const double here = error (position);
    const double before = error (position - 1), after = error (position + 1);
    if (here > tolerance || before < 10 * here || after < 10 * here)
    {
        ADD_FAILURE() << "at " << position << ": error " << here << ", one before " << before << ", one after " << after;
        return false;
    }
    return true;
}

int findExact (const std::vector<float>& haystack, const float* needle, int needleLength, int from)
{
    for (int i = std::max (0, from); i + needleLength <= (int) haystack.size(); ++i)
        if (std::equal (needle, needle + needleLength, haystack.data() + i))
            return i;
    return -1;
}

std::vector<StoredPacket> storedPackets (const juce::File& file, bool video)
{
    std::vector<StoredPacket> packets;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input (&ctx, file.getFullPathName().toRawUTF8(), nullptr, nullptr) < 0)
        return packets;
    avformat_find_stream_info (ctx, nullptr);
    const int stream = av_find_best_stream (ctx, video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVPacket* pkt = av_packet_alloc();
    while (stream >= 0 && av_read_frame (ctx, pkt) >= 0)
    {
        if (pkt->stream_index == stream)
            packets.push_back ({ juce::MemoryBlock (pkt->data, (size_t) pkt->size), pkt->pos });
        av_packet_unref (pkt);
    }
    av_packet_free (&pkt);
    avformat_close_input (&ctx);
    return packets;
}

std::vector<juce::MemoryBlock> videoPackets (const juce::File& file)
{
    std::vector<juce::MemoryBlock> blocks;
    for (auto& p : storedPackets (file, true))
        blocks.push_back (p.data);
    return blocks;
}
} // namespace mediatest
