#include <gtest/gtest.h>
#include "ChainTestSignals.h"

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

// Every stage at work, with settings under which no two of them commute: the
// processor must give what its stages give one after another in the order
// of the chain, behind the rings' delay of one block. The stages run by hand
// are a twin processor's, so they are built, prepared and set by the same
// code as the processor's own.
TEST (CVAudioProcessorOrder, OutputIsTheSixStagesInTurnBehindTheRings)
{
    CVAudioProcessor p, twin;
    // Declipper; declick 0.8; reduction against a set profile at threshold
    // -4 dB and 21 dB; expander at ratio 4 below 0.04, just above the quiet
    // passages; "Enhance" mode 1 at 1.0, which lifts the middle band; boost
    // to a -12 dB threshold.
    const std::pair<int, float> settings[] = { { 9, 1.0f }, { 0, 0.8f }, { 7, 0.5f }, { 2, 0.4f }, { 3, 0.7f },
                                               { 18, 0.96f }, { 19, 1.0f }, { 1, 1.0f }, { 17, 0.2f }, { 8, 0.3f } };
    for (auto* x : { &p, &twin })
    {
        x->prepareToPlay (44100.0, kBlock);
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
TEST (CVAudioProcessorOrder, ExpanderMeterIsTheMeanGainOverMinus96)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, kBlock);
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
