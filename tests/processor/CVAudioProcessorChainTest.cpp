#include <gtest/gtest.h>
#include "ChainTestSignals.h"

#include <limits>

using namespace chain_test;

namespace
{
void expectDelayEqualsLatency (CVAudioProcessor& p, int block, const char* when)
{
    const int latency = p.getLatencySamples();
    const auto in = noiseBurst ((size_t) latency + 6000, 1000, 2048);
    const auto out = process (p, in, block);
    EXPECT_EQ (measuredDelay (in, out[0], latency + 1000), latency) << when << ", block " << block;
    EXPECT_EQ (measuredDelay (in, out[1], latency + 1000), latency) << when << ", block " << block << ", right";
}
} // namespace

// The player delays the picture by the reported latency: the sound must be
// exactly that late at every moment.
TEST (CVAudioProcessorChain, DelayEqualsReportedLatencyAtEveryMoment)
{
    {
        CVAudioProcessor p;
        expectDelayEqualsLatency (p, 4096, "after construction");
    }

    for (double rate : { 44100.0, 48000.0, 96000.0 })
    {
        for (int block : { 64, 256, 512, 1024, 4096 })
        {
            CVAudioProcessor p;
            p.prepareToPlay (rate, block);
            expectDelayEqualsLatency (p, block, "after prepareToPlay");
            p.reset();
            expectDelayEqualsLatency (p, block, "after reset");
            // The media tap prepares again without a reset when a new use starts.
            p.prepareToPlay (rate, block);
            expectDelayEqualsLatency (p, block, "after a second prepareToPlay");
        }
    }

    // Learning a profile as the document does (reset the bay, start, two
    // blocks, stop, one more block, reset the processor) leaves it so too.
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    auto& bay = p.getNoiseReductionBay();
    const auto learnAudio = whiteNoise (3 * 512, 0.2f, 5);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    bay.reset();
    bay.startLearning();
    for (int block = 0; block < 3; ++block)
    {
        if (block == 2)
            bay.stopLearning();
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, learnAudio.data() + block * 512, 512);
        p.processBlockWithLength (buffer, midi, 512);
    }
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_EQ (bay.getMode(), 1);
    p.reset();
    expectDelayEqualsLatency (p, 512, "after learning");
}

TEST (CVAudioProcessorChain, WithEveryStageOffAMultitonePassesUnchanged)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    const int d = p.getLatencySamples();
    const auto in = multitone ((size_t) d + 44100, 44100.0);
    const auto out = runThrough (p, in);

    // Skip the first block after the delay: the "Enhance" bay may still be
    // crossfading out of its start-up state.
    const size_t start = (size_t) d + 1024;
    EXPECT_NEAR (db (rms (out, start, in.size()) / rms (in, 1024, in.size() - (size_t) d)), 0.0, 0.1);
    double error = 0.0;
    for (size_t i = start; i < in.size(); ++i)
        error = std::max (error, (double) std::abs (out[i] - in[i - (size_t) d]));
    EXPECT_LT (error, 1e-3);
}

TEST (CVAudioProcessorChain, DeclipperRedrawsClippedPeaks)
{
    const auto clean = sine (120 * 512, 200.0, 0.8);
    const auto clipped = clip (clean, 0.48f);

    auto clippedError = [&] (bool declip)
    {
        CVAudioProcessor p;
        p.prepareToPlay (44100.0, 512);
        setParameter (p, 9, declip ? 1.0f : 0.0f);
        const auto out = runThrough (p, clipped);
        const auto delay = (size_t) p.getLatencySamples();
        double error = 0.0;
        for (size_t i = 22050; i + delay < out.size(); ++i)
            if (std::abs (clean[i]) > 0.48f)
                error += std::pow (out[i + delay] - clean[i], 2.0);
        return error;
    };

    EXPECT_GE (10.0 * std::log10 (clippedError (false) / clippedError (true)), 10.0);
}

TEST (CVAudioProcessorChain, HostileInputStaysFiniteAndWithinFullScale)
{
    // Far beyond full scale and NaN, with every stage off.
    {
        CVAudioProcessor p;
        p.prepareToPlay (44100.0, 512);
        Signal in (8192);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = (i % 3 == 0) ? 3.0f : (i % 3 == 1 ? -2.5f : std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ (firstBad (runThrough (p, in), 1.0f), -1);
    }

    // With the restoration stages at work, at unusual rates, on clipped input
    // with silence, NaN, infinity and a click.
    for (double rate : { 8000.0, 44100.0, 192000.0 })
    {
        CVAudioProcessor p;
        p.prepareToPlay (rate, 512);
        for (auto [index, value] : { std::pair { 9, 1.0f }, { 0, 1.0f }, { 19, 1.0f }, { 8, 0.5f }, { 18, 1.0f } })
            setParameter (p, index, value);

        Signal in = clip (sine (80 * 512, 50.0, 1.5, rate), 0.3f);
        std::fill (in.begin() + 10000, in.begin() + 30000, 0.0f); // digital silence
        in[5000] = std::numeric_limits<float>::quiet_NaN();
        in[5001] = std::numeric_limits<float>::infinity();
        in[7000] += 0.9f;
        EXPECT_EQ (firstBad (runThrough (p, in), 1.0f), -1) << rate << " Hz";
        EXPECT_TRUE (std::isfinite (p.getExpanderMeter().level[0])) << rate;
    }
}
