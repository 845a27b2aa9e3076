#include "media/MediaTestSupport.h"

#include "TestSignals.h"
#include "platform/media/MediaAsset.h"

#include <cmath>

using namespace clarivo::media;
using namespace mediatest;

namespace
{
// Each track as "kind codec [rate x channels [/ bits]]", then the length.
juce::String describe (const char* name)
{
    auto asset = URLAsset::assetWithURL (media (name));
    juce::StringArray parts;
    for (auto& track : asset->getTracks())
    {
        const auto& format = track->getFormatDescriptions().at (0);
        auto text = toString (track->getMediaType()) + " " + format.codec;
        if (format.audio)
            text << " " << (int) format.audio->sampleRate << "x" << format.audio->channelsPerFrame
                 << (format.audio->bitsPerChannel > 0 ? "/" + juce::String (format.audio->bitsPerChannel) : juce::String());
        parts.add (text);
    }
    parts.add (juce::String (asset->getDuration().seconds(), 2) + " s");
    return parts.joinIntoString (", ");
}

double rmsDecibels (const std::vector<float>& x, double fromSeconds, double toSeconds)
{
    return clarivo_test::db (clarivo_test::rms (x, (size_t) (fromSeconds * 44100), (size_t) (toSeconds * 44100)));
}
} // namespace

TEST (PlayerTestMedia, HoldWhatTheirNamesPromise)
{
    EXPECT_EQ (describe ("six.mp4"), "video h264, audio aac 48000x6, 2.00 s");
    EXPECT_EQ (describe ("videoonly.mp4"), "video h264, 2.00 s");
    EXPECT_EQ (describe ("talk.MP3"), "audio mp3 22050x1, 2.00 s");
    // The AAC priming before zero and the padding after the end are not sound.
    EXPECT_EQ (describe ("clip.mkv"), "video h264, audio aac 44100x2, 2.00 s");
    EXPECT_EQ (describe ("song.wav"), "audio pcm_s16le 44100x2/16, 3.00 s");
    EXPECT_EQ (describe ("quietgap.wav"), "audio pcm_s16le 44100x2/16, 9.00 s");
    EXPECT_EQ (describe ("hissright.wav"), "audio pcm_s16le 44100x2/16, 9.00 s");
    EXPECT_FALSE (media ("no such file.wav").exists());

    // The chord stops from 5 to 7 s and the hiss plays on alone at -45 dBFS;
    // beside hissright.wav's silent left channel its right is quietgap.wav's.
    const auto gap = decodeAll (media ("quietgap.wav"));
    const auto right = decodeAll (media ("hissright.wav"));
    ASSERT_EQ (gap.size(), 2u);
    ASSERT_EQ (right.size(), 2u);
    for (size_t c = 0; c < 2; ++c)
    {
        EXPECT_NEAR (rmsDecibels (gap[c], 5.0, 7.0), -45.0, 0.3) << c;
        EXPECT_GT (rmsDecibels (gap[c], 0.0, 5.0), -20.0) << c;
        EXPECT_GT (rmsDecibels (gap[c], 7.0, 9.0), -20.0) << c;
    }
    EXPECT_NE (gap[0], gap[1]);
    EXPECT_EQ (right[1], gap[1]);
    EXPECT_TRUE (std::all_of (right[0].begin(), right[0].end(), [] (float s) { return s == 0.0f; }));
}
