#include "media/MediaTestSupport.h"

#include "engine/CVAudioTapProcessor.h"
#include "platform/media/MediaAsset.h"

#include <gmock/gmock.h>

using namespace clarivo::media;
using namespace mediatest;

namespace
{
Planar testSignal (int channels, int length, int seed = 7)
{
    juce::Random random (seed);
    Planar out ((size_t) channels, std::vector<float> ((size_t) length));
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < length; ++i)
            out[(size_t) c][(size_t) i] = 0.3f * std::sin (0.031f * (float) (i * (c + 1))) + 0.1f * (random.nextFloat() - 0.5f);
    return out;
}

// Runs the signal through a tap the way the layer does: one use, slices of
// varying length up to the prepared maximum.
Planar runThroughTap (AudioProcessingTap& tap, const Planar& input, double rate, int maxFrames, const ProcessingFormat* format = nullptr)
{
    const int channels = (int) input.size();
    const auto f = format != nullptr ? *format : ProcessingFormat::floatNonInterleaved (rate, channels);
    EXPECT_TRUE (tap.beginUse (maxFrames, f));
    Planar output = input;
    juce::Random random (99);
    const int length = (int) input[0].size();
    std::vector<const float*> in ((size_t) channels);
    std::vector<float*> out ((size_t) channels);
    for (int pos = 0; pos < length;)
    {
        const int n = std::min (length - pos, 1 + random.nextInt (maxFrames));
        for (int c = 0; c < channels; ++c)
        {
            in[(size_t) c] = input[(size_t) c].data() + pos;
            out[(size_t) c] = output[(size_t) c].data() + pos;
        }
        tap.process (in.data(), out.data(), n, pos, 0);
        pos += n;
    }
    tap.endUse();
    return output;
}
} // namespace

TEST (CVAudioTapProcessor, RunsEverySliceAsOfflineProcessingDoesWithStorageThatOutlivesEachUse)
{
    CVAudioProcessor processor;
    auto tapProcessor = std::make_unique<CVAudioTapProcessor> (URLAsset::assetWithURL (media ("stereo.m4a"))->getTracks()[0], processor);
    EXPECT_EQ (tapProcessor->getTap(), nullptr);
    auto mix = tapProcessor->getAudioMix();
    ASSERT_NE (mix, nullptr);
    EXPECT_EQ (tapProcessor->getAudioMix(), mix); // built once
    auto tap = mix->tapForTrack (tapProcessor->getAudioAssetTrack()->getTrackID());
    ASSERT_NE (tap, nullptr);
    EXPECT_EQ (tap.get(), tapProcessor->getTap());
    ASSERT_NE (tap->getStorage(), nullptr);

    // A playback use, then export uses of the same tap with other sizes,
    // rates and channels: the storage of the first must still be there for
    // the others, which process exactly as offline processing does.
    const auto input = testSignal (2, 30000);
    runThroughTap (*tap, input, 44100.0, 1024);
    EXPECT_FALSE (tap->isInUse());
    for (auto [signal, rate] : { std::pair { input, 48000.0 }, std::pair { input, 44100.0 }, std::pair { testSignal (1, 30000), 44100.0 } })
    {
        SCOPED_TRACE (juce::String (signal.size()) + " channels at " + juce::String (rate));
        tapProcessor->reset();
        const auto processed = runThroughTap (*tap, signal, rate, 4096);
        EXPECT_EQ (processed, processOffline (signal, rate));
        EXPECT_NE (processed, signal);
    }

    // One use at a time: a second user is refused until the first ends.
    // A reset within a use leaves the chain holding none of what came before.
    ASSERT_TRUE (tap->beginUse (4096, ProcessingFormat::floatNonInterleaved (44100.0, 2)));
    EXPECT_FALSE (tap->beginUse (4096, ProcessingFormat::floatNonInterleaved (44100.0, 2)));
    const auto first = testSignal (2, 9000, 1), next = testSignal (2, 9000, 2);
    Planar result = next;
    for (const auto* pass : { &first, &next })
    {
        for (int pos = 0; pos < 9000; pos += 3000)
        {
            std::vector<const float*> in { (*pass)[0].data() + pos, (*pass)[1].data() + pos };
            std::vector<float*> out { result[0].data() + pos, result[1].data() + pos };
            tap->process (in.data(), out.data(), 3000, pos, 0);
        }
        tapProcessor->reset();
    }
    tap->endUse();
    EXPECT_EQ (result, processOffline (next, 44100.0));

    // The object goes while a mix still holds the tap: the tap and its
    // storage stay usable until the last holder lets go.
    tapProcessor = nullptr;
    const auto third = runThroughTap (*tap, input, 44100.0, 4096);
    EXPECT_EQ (third.size(), 2u);
    mix = nullptr;
    tap = nullptr;
}

TEST (CVAudioTapProcessor, LeavesTheSourceAudioPlayingWhenItDoesNotProcessAndRefusesTracksWithoutAudio)
{
    CVAudioProcessor processor;
    CVAudioTapProcessor tapProcessor (URLAsset::assetWithURL (media ("stereo.m4a"))->getTracks()[0], processor);
    auto* tap = tapProcessor.getAudioMix() != nullptr ? tapProcessor.getTap() : nullptr;
    ASSERT_NE (tap, nullptr);
    const auto input = testSignal (2, 12000);
    LogCapture log;

    // A 16-bit integer format: complained about once per prepare, and the
    // audio plays as it came, however many calls follow.
    auto integer = ProcessingFormat::floatNonInterleaved (44100.0, 2);
    integer.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    integer.bitsPerChannel = 16;
    EXPECT_EQ (runThroughTap (*tap, input, 44100.0, 512, &integer), input);
    EXPECT_EQ (log.count ("Unsupported audio format flag for audioProcessingTap. Float only."), 1);
    EXPECT_EQ (log.count ("Unsupported tap processing format."), 1);
    EXPECT_EQ (runThroughTap (*tap, input, 44100.0, 512, &integer), input);
    EXPECT_EQ (log.count ("Unsupported audio format flag for audioProcessingTap. Float only."), 2);
    EXPECT_EQ (log.count ("Unsupported tap processing format."), 2);

    auto notPcm = ProcessingFormat::floatNonInterleaved (44100.0, 2);
    notPcm.formatID = fourCharCode ("aac ");
    EXPECT_EQ (runThroughTap (*tap, input, 44100.0, 512, &notPcm), input);
    EXPECT_EQ (log.count ("Unsupported audio format ID for audioProcessingTap. LinearPCM only."), 1);

    // Six channels never reach a processor built for two.
    auto six = testSignal (6, 5000);
    EXPECT_EQ (runThroughTap (*tap, six, 44100.0, 4096), six);
    EXPECT_LE (processor.getTotalNumInputChannels(), 2);
    EXPECT_EQ (log.count ("Unsupported channel count for audioProcessingTap. Mono or stereo only."), 1);
    EXPECT_EQ (log.count ("Unsupported tap processing format."), 4);

    // A track without audio, or none, is refused outright.
    auto video = URLAsset::assetWithURL (media ("movie.mp4"))->getTracksWithMediaType (MediaType::video).front();
    EXPECT_THAT ([&] { CVAudioTapProcessor refused (video, processor); },
                 testing::ThrowsMessage<std::invalid_argument> (testing::StartsWith ("Invalid parameter not satisfying: ")));
    EXPECT_THROW (CVAudioTapProcessor (nullptr, processor), std::invalid_argument);
}
