#include <gtest/gtest.h>
#include "engine/ChainTestSignals.h"

#include <atomic>
#include <thread>

using namespace chain_test;

namespace
{
constexpr int kBlock = 512;

// The six stages of `twin` run by hand, one after another in the order of
// the chain, channel by channel where a stage is per channel.
std::vector<Signal> runStagesInTurn (CVAudioProcessor& twin, const Signal& in)
{
    quarn::ZBuffer buffers[4] = { { kBlock, "ZBuffer" }, { kBlock, "ZBuffer" }, { kBlock, "ZBuffer" }, { kBlock, "ZBuffer" } };
    quarn::ZBuffer* a[2] = { &buffers[0], &buffers[1] };
    quarn::ZBuffer* b[2] = { &buffers[2], &buffers[3] };
    std::vector<Signal> out (2);
    for (size_t start = 0; start + kBlock <= in.size(); start += kBlock)
    {
        for (int c = 0; c < 2; ++c)
        {
            std::copy_n (in.begin() + (long) start, kBlock, a[c]->getData());
            twin.getDeclipper (c).process (*a[c], *b[c], kBlock);
        }
        twin.getDeclickBay().process (b, a, kBlock);
        twin.getNoiseReductionBay().process (a, b, kBlock);
        for (int c = 0; c < 2; ++c)
            twin.getExpander (c).process (*b[c], *a[c]);
        twin.getEnhancementBay().process (a, b, kBlock);
        for (int c = 0; c < 2; ++c)
        {
            twin.getMaximizer (c).process (*b[c], *a[c]);
            out[(size_t) c].insert (out[(size_t) c].end(), a[c]->getData(), a[c]->getData() + kBlock);
        }
    }
    return out;
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
            PreparedProcessor p (rate, block);
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
    PreparedProcessor p;
    auto& bay = p.getNoiseReductionBay();
    const auto learnAudio = whiteNoise (3 * kBlock, 0.2f, 5);
    bay.reset();
    bay.startLearning();
    process (p, Signal (learnAudio.begin(), learnAudio.begin() + 2 * kBlock), kBlock);
    bay.stopLearning();
    process (p, Signal (learnAudio.begin() + 2 * kBlock, learnAudio.end()), kBlock);
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_EQ (bay.getMode(), 1);
    p.reset();
    expectDelayEqualsLatency (p, kBlock, "after learning");
}

TEST (CVAudioProcessorChain, DeclipperRedrawsClippedPeaksAndHostileInputStaysFiniteAndWithinFullScale)
{
    const auto clean = sine (120 * kBlock, 200.0, 0.8);
    const auto clipped = clip (clean, 0.48f);

    auto clippedError = [&] (bool declip)
    {
        PreparedProcessor p;
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

    // Far beyond full scale and NaN, with every stage off.
    {
        PreparedProcessor p;
        Signal in (8192);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = (i % 3 == 0) ? 3.0f : (i % 3 == 1 ? -2.5f : std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ (firstBad (runThrough (p, in), 1.0f), -1);
    }

    // With the restoration stages at work, at unusual rates, on clipped input
    // with silence, NaN, infinity and a click.
    for (double rate : { 8000.0, 44100.0, 192000.0 })
    {
        PreparedProcessor p (rate, kBlock);
        for (auto [index, value] : { std::pair { 9, 1.0f }, { 0, 1.0f }, { 19, 1.0f }, { 8, 0.5f }, { 18, 1.0f } })
            setParameter (p, index, value);

        Signal in = clip (sine (80 * kBlock, 50.0, 1.5, rate), 0.3f);
        std::fill (in.begin() + 10000, in.begin() + 30000, 0.0f); // digital silence
        in[5000] = std::numeric_limits<float>::quiet_NaN();
        in[5001] = std::numeric_limits<float>::infinity();
        in[7000] += 0.9f;
        EXPECT_EQ (firstBad (runThrough (p, in), 1.0f), -1) << rate << " Hz";
        EXPECT_TRUE (std::isfinite (p.getExpanderMeter().level[0])) << rate;
    }
}

// The message thread does all a user and a preset can do, as fast as it can,
// while the tap's thread plays: nothing the audio thread reads may tear, and
// once the changes stop the chain must be exactly as late as it says.
TEST (CVAudioProcessorChain, SettingsStatesAndLearningDuringPlayback)
{
    PreparedProcessor p;
    juce::MemoryBlock defaults;
    p.getStateInformation (defaults);

    std::atomic<bool> done { false }, outOfRange { false };
    std::atomic<long> blocks { 0 };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, kBlock);
        juce::MidiBuffer midi;
        juce::Random random (3);
        while (! done)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < kBlock; ++i)
                    buffer.setSample (c, i, 0.8f * (random.nextFloat() - 0.5f));
            p.processBlock (buffer, midi);
            for (int c = 0; c < 2; ++c)
                if (firstBad (buffer.getReadPointer (c), kBlock, 1.0f) >= 0)
                    outOfRange = true;
            ++blocks;
        }
    });

    juce::Random random (99);
    auto& bay = p.getNoiseReductionBay();
    for (int round = 0; round < 4000; ++round)
    {
        for (int i = 0; i < 20; ++i)
            setParameter (p, random.nextInt (20), random.nextFloat());
        setParameter (p, 17, (float) random.nextInt (7) / 6.0f); // Enhance mode switch
        setParameter (p, 7, 0.5f * (float) random.nextInt (3));   // noise reduction mode

        if (round % 50 == 10)
            bay.startLearning();
        if (round % 50 == 30)
            bay.stopLearning();
        if (round % 40 == 20)
            loadState (p, *stateXml (p));
        if (round % 60 == 0)
            p.setStateInformation (defaults.getData(), (int) defaults.getSize());
        if (round % 10 == 0)
            pumpMessages (1);
    }

    done = true;
    audio.join();
    EXPECT_FALSE (outOfRange.load());
    EXPECT_GT (blocks.load(), 100);

    // Every stage back to passing: the delay of a noise burst is the latency.
    p.setStateInformation (defaults.getData(), (int) defaults.getSize());
    setParameter (p, 11, 0.0f);
    pumpMessages (20);
    expectDelayEqualsLatency (p, kBlock, "after the changes", 12000, 4000);
}

// Every stage at work, with settings under which no two of them commute: the
// processor must give what its stages give one after another in the order
// of the chain, behind the rings' delay of one block. The stages run by hand
// are a twin processor's, so they are built, prepared and set by the same
// code as the processor's own.
TEST (CVAudioProcessorChain, OutputIsTheSixStagesInTurnBehindTheRings)
{
    PreparedProcessor p, twin;
    // Declipper; declick 0.8; reduction against a set profile at threshold
    // -4 dB and 21 dB; expander at ratio 4 below 0.04, just above the quiet
    // passages; "Enhance" mode 1 at 1.0, which lifts the middle band; boost
    // to a -12 dB threshold.
    const std::pair<int, float> settings[] = { { 9, 1.0f }, { 0, 0.8f }, { 7, 0.5f }, { 2, 0.4f }, { 3, 0.7f },
                                               { 18, 0.96f }, { 19, 1.0f }, { 1, 1.0f }, { 17, 0.2f }, { 8, 0.3f } };
    for (auto* x : { &p, &twin })
    {
        for (auto [index, v] : settings)
            setParameter (*x, index, v);
        auto& bay = x->getNoiseReductionBay();
        for (int c = 0; c < 2; ++c)
            for (unsigned k = 0; k < 513; ++k)
                (*bay.getChannelProfile (c))[k] = -62.0f - 0.04f * (float) k + 2.0f * (float) c;
        bay.pushProfiles();
    }

    // Hard-clipped tones with clicks and hiss, loud and quiet by turns.
    const size_t n = 70 * kBlock;
    Signal in = sine (n, 220.0, 0.9) + sine (n, 1330.0, 0.3) + whiteNoise (n, 0.02f, 1);
    for (size_t i = 0; i < n; ++i)
        in[i] = (i / 6000) % 2 == 0 ? std::clamp (in[i], -0.5f, 0.5f) : 0.05f * in[i];
    for (size_t i = 3000; i < n; i += 4111)
        in[i] += 0.6f;

    const auto expected = runStagesInTurn (twin, in);
    const auto out = process (p, in, kBlock);
    // The same calls on both sides give the same numbers; the tolerance only
    // leaves room for sums taken in another order. Swapping two stages costs
    // 1e-2 and more.
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < n; ++i)
            ASSERT_NEAR (out[c][i], i < kBlock ? 0.0f : expected[c][i - kBlock], 1e-5f) << "channel " << c << ", sample " << i;
}

// The expander meter shows channel 0's mean gain over -96 dB: ratio 4 takes
// a square wave 10 dB under the threshold 30 dB down, a reading of 30 / 96.
TEST (CVAudioProcessorChain, ExpanderMeterIsTheMeanGainOverMinus96)
{
    PreparedProcessor p;
    setParameter (p, 18, 0.85f);
    setParameter (p, 19, 1.0f);

    const float amplitude = 0.15f * std::pow (10.0f, -10.0f / 20.0f);
    Signal in (200 * kBlock);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = (i / 220) % 2 == 0 ? amplitude : -amplitude;
    const auto out = runThrough (p, in);

    const float meanGain = p.getExpander (0).getMeanGain();
    EXPECT_NEAR (meanGain, -30.0f, 0.1f);
    EXPECT_EQ (p.getExpanderMeter().level[0].load(), meanGain / -96.0f);
    const size_t from = 100 * kBlock;
    EXPECT_NEAR (db (rms (out, from, out.size()) / rms (in, from, in.size())), -30.0, 0.2);
}
