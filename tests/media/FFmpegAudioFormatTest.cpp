#include "MediaTestSupport.h"
#include "TestLocale.h"

#include "platform/media/FFmpegAudioFormat.h"
#include "platform/media/MediaDecoding.h"

using namespace clarivo::media;
using namespace mediatest;

namespace
{
// What the ffmpeg command line decodes the file to, as planar float.
Planar decodeWithCommandLine (const juce::File& file, int channels)
{
    auto raw = scratchFile ("decoded.f32");
    if (! runFFmpeg ({ "-i", file.getFullPathName(), "-map", "0:a:0", "-f", "f32le", "-acodec", "pcm_f32le", raw.getFullPathName() }))
        return {};
    juce::MemoryBlock data;
    raw.loadFileAsData (data);
    const auto frames = data.getSize() / sizeof (float) / (size_t) channels;
    Planar out ((size_t) channels, std::vector<float> (frames));
    const auto* f = static_cast<const float*> (data.getData());
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            out[(size_t) c][i] = f[i * (size_t) channels + (size_t) c];
    return out;
}
} // namespace

TEST (FFmpegAudioFormat, ComesAfterTheBasicFormatsAndTakesTheMediaFiles)
{
    auto manager = std::make_unique<juce::AudioFormatManager>();
    manager->registerBasicFormats();
    registerMediaFormats (*manager);
    EXPECT_EQ (manager->findFormatForFileExtension (".wav")->getFormatName(), juce::WavAudioFormat().getFormatName());
    for (auto ext : { ".m4a", ".mp4", ".mov", ".m4v", ".caf", ".mp3", ".mkv", ".mka", ".webm" })
        EXPECT_EQ (manager->findFormatForFileExtension (ext)->getFormatName(), "FFmpeg media") << ext;

    // The wave file is still read by the wave reader.
    std::unique_ptr<juce::AudioFormatReader> wav (manager->createReaderFor (media ("rate48k.wav")));
    ASSERT_NE (wav, nullptr);
    EXPECT_EQ (wav->getFormatName(), juce::WavAudioFormat().getFormatName());

    for (auto name : { "truncated.mp4", "empty.mp4", "text.mp4", "zerorate.caf" })
        EXPECT_EQ (std::unique_ptr<juce::AudioFormatReader> (manager->createReaderFor (media (name))), nullptr) << name;

    // A file whose data stops short reads what it holds and says the rest is missing.
    std::unique_ptr<juce::AudioFormatReader> cut (manager->createReaderFor (media ("cut.m4a")));
    ASSERT_NE (cut, nullptr);
    juce::AudioBuffer<float> all (2, (int) cut->lengthInSamples);
    EXPECT_FALSE (cut->read (&all, 0, all.getNumSamples(), 0, true, true));
}

TEST (FFmpegAudioFormat, ReadsWhatTheCommandLineDecodesToTheExactLengthAndLandsOnTheRequestedSampleAnywhere)
{
    struct Case
    {
        const char* file;
        int rate;
        juce::int64 length;
        int primed; // samples the command line keeps before the sound
        float tolerance;
    };
    // Matroska puts the AAC priming before the timeline's zero in
    // milliseconds; the command line keeps it, the sound starts after it.
    // AAC fills empty bands with noise from a generator that runs along with
    // the decoder, so a decode that starts mid-file differs by that noise.
    juce::Random random (1234);
    for (auto c : { Case { "stereo.m4a", 44100, 88200, 0, 0.01f }, Case { "song.mp3", 44100, 88200, 0, 0.0f },
                    Case { "movie.mp4", 48000, 96000, 0, 0.01f }, Case { "movie.mov", 44100, 88200, 0, 0.01f },
                    Case { "clip.mkv", 44100, 88200, 1024, 0.01f } })
    {
        SCOPED_TRACE (c.file);
        // Straight from the media format, not whatever a manager picks by name.
        const std::unique_ptr<juce::AudioFormatReader> reader (FFmpegAudioFormat().createReaderFor (new juce::FileInputStream (media (c.file)), true));
        ASSERT_NE (reader, nullptr);
        EXPECT_EQ (reader->sampleRate, c.rate);
        EXPECT_EQ ((int) reader->numChannels, 2);
        EXPECT_EQ (reader->lengthInSamples, c.length);
        EXPECT_TRUE (reader->usesFloatingPointData);

        juce::AudioBuffer<float> all (2, (int) reader->lengthInSamples);

        // The decoder under the reader finds every block of the track whole.
        juce::String error;
        const auto decoder = detail::AudioDecoder::open (media (c.file), -1, error);
        ASSERT_NE (decoder, nullptr) << error;
        for (juce::int64 pos = 0; pos < c.length; pos += 4096)
            EXPECT_TRUE (decoder->read (all.getArrayOfWritePointers(), 2, pos, (int) std::min<juce::int64> (4096, c.length - pos))) << pos;

        ASSERT_TRUE (reader->read (&all, 0, (int) reader->lengthInSamples, 0, true, true));

        // The command line keeps the encoder's padding at the end; the
        // samples up to the real end are the same decoder's.
        const auto reference = decodeWithCommandLine (media (c.file), 2);
        ASSERT_GE ((juce::int64) reference[0].size(), c.primed + c.length);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < (int) c.length; ++i)
                ASSERT_EQ (all.getSample (ch, i), reference[(size_t) ch][(size_t) (c.primed + i)]) << ch << " " << i;

        // Jumps back and forth, as a waveform display does.
        const auto whole = decodeAll (media (c.file));
        for (int k = 0; k < 12; ++k)
        {
            const auto start = (juce::int64) random.nextInt ((int) reader->lengthInSamples - 3000);
            juce::AudioBuffer<float> block (2, 2048);
            reader->read (&block, 0, 2048, start, true, true);
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_TRUE (landsOn (block.getReadPointer (ch), whole[(size_t) ch], start, 2048, c.tolerance)) << ch << " at " << start;
        }

        // Reading across the end gives silence past it, and a mono request
        // of a stereo file still works.
        juce::AudioBuffer<float> tail (1, 1000);
        tail.clear();
        reader->read (&tail, 0, 1000, reader->lengthInSamples - 500, true, false);
        EXPECT_TRUE (landsOn (tail.getReadPointer (0), whole[0], reader->lengthInSamples - 500, 500, c.tolerance));
        EXPECT_EQ (tail.getMagnitude (500, 500), 0.0f);
    }
}

// Matroska gives a track's end as text ("00:00:01.503000000"); the program
// runs in the user's locale, and a German user's must cut the same padding.
TEST (FFmpegAudioFormat, TheEndAMatroskaFileGivesIsReadTheSameUnderADecimalCommaLocale)
{
    CLARIVO_SKIP_WITHOUT_DECIMAL_COMMA_LOCALE();
    for (const char* name : { "home-h264-vorbis.mkv", "home-vp8-vorbis.webm" })
    {
        SCOPED_TRACE (name);
        // Copies of their own: the layer keeps what it measured of a file.
        const auto c = scratchFile (juce::String ("c-") + name), german = scratchFile (juce::String ("de-") + name);
        ASSERT_TRUE (media (name).copyFileTo (c) && media (name).copyFileTo (german));
        const auto lengthOf = [] (const juce::File& f)
        {
            const std::unique_ptr<juce::AudioFormatReader> reader (FFmpegAudioFormat().createReaderFor (new juce::FileInputStream (f), true));
            return reader != nullptr ? reader->lengthInSamples : (juce::int64) -1;
        };
        juce::int64 underGerman = 0;
        {
            const clarivo_test::ScopedDecimalCommaLocale locale;
            underGerman = lengthOf (german);
        }
        EXPECT_EQ (underGerman, lengthOf (c));
        EXPECT_EQ (underGerman, 72144); // 1.503 s at 48 kHz
    }
}
