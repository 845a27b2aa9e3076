#include "MediaTestSupport.h"

#include "platform/media/MediaDecoding.h"

#include <cmath>
#include <csignal>
#include <string_view>
#include <sys/resource.h>

namespace mediatest
{
namespace
{
juce::File& root()
{
    static juce::File dir;
    return dir;
}

// Set once every file was made. A failure here fails the tests that use the
// media instead of skipping them.
bool generated = false;

juce::String tool()
{
    for (auto candidate : { "/usr/bin/ffmpeg", "/usr/local/bin/ffmpeg" })
        if (juce::File (candidate).existsAsFile())
            return candidate;
    return "ffmpeg";
}

// Stereo test tones with a little noise, different in each channel.
juce::String stereoTone (int rate)
{
    return "aevalsrc=0.35*sin(2*PI*440*t)+0.15*sin(2*PI*1731*t)|"
        "0.3*sin(2*PI*660*t)+0.1*sin(2*PI*2950*t):s="
        + juce::String (rate) + ":d=2";
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

class MediaEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // ctest runs each test in a process of its own, side by side: every
        // process gets a folder of its own.
        juce::File dir;
        do
            dir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                      .getChildFile ("clarivo-media-tests-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));
        while (dir.exists());
        dir.createDirectory();
        root() = dir;
        generated = dir.isDirectory();

        const auto f = [&] (const char* name) { return dir.getChildFile (name).getFullPathName(); };
        const juce::String pictures = "testsrc=size=320x240:rate=25:duration=2";
        const juce::StringArray commands[] = {
            { "-f", "lavfi", "-i", stereoTone (44100), "-c:a", "aac", "-b:a", "192k", f ("stereo.m4a") },
            { "-f", "lavfi", "-i", pictures, "-f", "lavfi", "-i", stereoTone (48000), "-map", "0:v", "-map", "1:a", "-c:v", "libx264",
              "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "160k", f ("movie.mp4") },
            { "-f", "lavfi", "-i", pictures, "-f", "lavfi", "-i", stereoTone (44100), "-map", "0:v", "-map", "1:a", "-c:v", "mpeg4",
              "-vf", "setsar=4/3", "-c:a", "aac", "-b:a", "160k", f ("movie.mov") },
            { "-f", "lavfi", "-i", "color=c=red:size=64x64:duration=1", "-frames:v", "1", f ("cover.png") },
            { "-f", "lavfi", "-i", stereoTone (44100), "-i", f ("cover.png"), "-map", "0:a", "-map", "1:v", "-c:a", "libmp3lame",
              "-b:a", "192k", "-c:v", "png", "-disposition:v", "attached_pic", "-id3v2_version", "3", f ("song.mp3") },
            { "-f", "lavfi", "-i", "aevalsrc=0.1*sin(2*PI*100*t)|0.1*sin(2*PI*200*t)|0.1*sin(2*PI*300*t)|"
              "0.1*sin(2*PI*400*t)|0.1*sin(2*PI*500*t)|0.1*sin(2*PI*600*t):s=44100:d=1", "-c:a", "pcm_s16le", f ("six.wav") },
            { "-f", "lavfi", "-i", stereoTone (48000), "-c:a", "pcm_s24le", f ("rate48k.wav") },
            { "-f", "lavfi", "-i", stereoTone (44100), "-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart", f ("whole.m4a") },
            // To be made to lie about their sample rate and picture size below.
            { "-f", "lavfi", "-i", stereoTone (44100), "-c:a", "pcm_s16le", f ("zerorate.caf") },
            { "-f", "lavfi", "-i", "testsrc=size=16x16:rate=25:duration=1", "-f", "lavfi", "-i", stereoTone (44100), "-c:v", "rawvideo",
              "-pix_fmt", "rgb24", "-c:a", "aac", f ("huge.mov") },
        };
        for (const auto& args : commands)
            generated = runFFmpeg (args) && generated;

        // Damaged and false files.
        juce::MemoryBlock movie;
        dir.getChildFile ("movie.mp4").loadFileAsData (movie);
        dir.getChildFile ("truncated.mp4").replaceWithData (movie.getData(), movie.getSize() * 2 / 5);
        juce::MemoryBlock whole;
        dir.getChildFile ("whole.m4a").loadFileAsData (whole);
        dir.getChildFile ("cut.m4a").replaceWithData (whole.getData(), whole.getSize() * 3 / 5);
        dir.getChildFile ("empty.mp4").create();

        // Headers that lie: a sample rate of zero, and a picture of 65535 x 65535.
        generated = patch (dir.getChildFile ("zerorate.caf"), "desc", 12, { 0, 0, 0, 0, 0, 0, 0, 0 }) && generated;
        generated = patch (dir.getChildFile ("huge.mov"), "raw ", 28, { 0xff, 0xff, 0xff, 0xff }) && generated;
        dir.getChildFile ("text.mp4").replaceWithText ("This is not a movie, only a line of text.\n");
    }

    void TearDown() override
    {
        root().deleteRecursively();
    }
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment (new MediaEnvironment());
} // namespace

juce::File media (const char* name)
{
    if (! generated)
        ADD_FAILURE() << "the test media could not be generated";
    return root().getChildFile (name);
}

juce::File scratchFolder()
{
    auto dir = root().getChildFile ("scratch");
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
    juce::StringArray command { tool(), "-hide_banner", "-nostdin", "-loglevel", "error", "-y" };
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

FileSizeLimit::FileSizeLimit (std::int64_t bytes)
{
    previousHandler = std::signal (SIGXFSZ, SIG_IGN);
    rlimit limit {};
    getrlimit (RLIMIT_FSIZE, &limit);
    previousSoft = (std::int64_t) limit.rlim_cur;
    limit.rlim_cur = (rlim_t) bytes;
    setrlimit (RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit {};
    getrlimit (RLIMIT_FSIZE, &limit);
    limit.rlim_cur = (rlim_t) previousSoft;
    setrlimit (RLIMIT_FSIZE, &limit);
    std::signal (SIGXFSZ, previousHandler);
}

LogCapture::LogCapture() : previous (juce::Logger::getCurrentLogger())
{
    juce::Logger::setCurrentLogger (this);
}

LogCapture::~LogCapture()
{
    juce::Logger::setCurrentLogger (previous);
}

void LogCapture::logMessage (const juce::String& message)
{
    std::lock_guard<std::mutex> guard (lock);
    captured.add (message);
}

int LogCapture::count (const juce::String& line) const
{
    std::lock_guard<std::mutex> guard (lock);
    int n = 0;
    for (auto& l : captured)
        n += l == line ? 1 : 0;
    return n;
}
} // namespace mediatest
