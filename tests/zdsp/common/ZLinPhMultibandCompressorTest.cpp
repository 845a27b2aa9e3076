#include "ZLinPhMultibandCompressor.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr int kBlock = 512;

// A stereo signal long enough for several blocks, with the channels differing.
std::vector<Signal> makeSignal (int length, float amplitude, unsigned seed = 1)
{
    const auto n = (size_t) length;
    return { sine (n, 440.0, 0.5 * amplitude) + uniformNoise (n, 0.3f * amplitude, seed),
             sine (n, 3000.0, 0.4 * amplitude) + uniformNoise (n, 0.3f * amplitude, seed + 100) };
}

// Runs the signal through in calls of callLength samples and returns the output.
std::vector<Signal> run (ZLinPhMultibandCompressor& comp, const std::vector<Signal>& in, int callLength)
{
    return BayDriver<ZLinPhMultibandCompressor> (comp, callLength).run (in);
}

// Levels far below any threshold: every band at 0 dB.
void makeTransparent (ZLinPhMultibandCompressor& comp)
{
    for (int k = 0; k < comp.getNumBands(); ++k)
    {
        comp.threshold[k] = 60.0f;
        comp.makeup[k] = 0.0f;
    }
}

// The envelopes stay where reset put them (0 dB), so the band level is known.
void freezeEnvelopes (ZLinPhMultibandCompressor& comp)
{
    for (int k = 0; k < comp.getNumBands(); ++k)
        comp.attackCoefficient[k] = comp.releaseCoefficient[k] = 1.0f;
}

void processOneBlock (ZLinPhMultibandCompressor& comp)
{
    run (comp, makeSignal (comp.getBlockSize(), 0.1f), comp.getBlockSize());
}

void expectDelayedByOneBlock (const std::vector<Signal>& in, const std::vector<Signal>& out, int delay, float tolerance)
{
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < out[c].size(); ++i)
            ASSERT_NEAR (out[c][i], i < (size_t) delay ? 0.0f : in[c][i - (size_t) delay], tolerance) << "channel " << c << " sample " << i;
}
} // namespace

TEST (ZLinPhMultibandCompressor, GainComputerItsGainOnTheOutputLinkedChannelsAndTheBandSplitAt44100)
{
    ZLinPhMultibandCompressor comp (2, 3, kBlock, 44100.0f);
    freezeEnvelopes (comp);

    // 30 dB over the threshold at ratio 3 asks for -20 dB; the range cuts it to -18.
    comp.threshold[0] = -30.0f;
    comp.ratio[0] = 3.0f;
    comp.range[0] = 18.0f;
    // Exactly at the threshold: the soft knee of half-width 2 already reduces
    // by (1/3 - 1) * 2^2 / 8 = -1/3 dB ...
    comp.threshold[1] = 0.0f;
    comp.knee[1] = 2.0f;
    // ... while with no knee nothing happens at the threshold.
    comp.threshold[2] = 0.0f;
    comp.knee[2] = 0.0f;
    comp.makeup[2] = 4.0f;
    processOneBlock (comp);

    EXPECT_EQ (comp.getBandLevelDb (0), 0.0f);
    EXPECT_FLOAT_EQ (comp.getBandGainDb (0), -18.0f);
    EXPECT_FLOAT_EQ (comp.getBandGainDb (1), -1.0f / 3.0f);
    EXPECT_FLOAT_EQ (comp.getBandGainDb (2), 4.0f);

    // No knee: the reduction starts right above the threshold. A knee below
    // 0.01 dB is widened to 0.01.
    comp.threshold[1] = -0.5f;
    comp.knee[1] = 0.0f;
    comp.threshold[2] = 0.0f;
    comp.knee[2] = 0.001f;
    comp.makeup[2] = 0.0f;
    processOneBlock (comp);
    EXPECT_NEAR (comp.getBandGainDb (1), -1.0f / 3.0f, 1.0e-6f);
    EXPECT_NEAR (comp.getBandGainDb (2), -2.0f / 3.0f * 0.0001f / 0.04f, 1.0e-7f);

    // Solo: every other band drops to -200 dB, bypass or not. A bypassed
    // band gets 0 dB whatever its settings, make-up included.
    comp.solo[1] = true;
    comp.bypass[2] = true;
    comp.makeup[2] = 9.0f;
    comp.threshold[2] = -90.0f;
    processOneBlock (comp);
    EXPECT_EQ (comp.getBandGainDb (0), -200.0f);
    EXPECT_NEAR (comp.getBandGainDb (1), -1.0f / 3.0f, 1.0e-6f);
    EXPECT_EQ (comp.getBandGainDb (2), -200.0f);
    comp.solo[1] = false;
    processOneBlock (comp);
    EXPECT_EQ (comp.getBandGainDb (2), 0.0f);

    // Every band at the range limit: the whole signal comes out 18 dB down.
    ZLinPhMultibandCompressor limited (2, 3, kBlock, 44100.0f);
    freezeEnvelopes (limited);
    for (int k = 0; k < 3; ++k)
        limited.threshold[k] = -30.0f;
    const auto in = makeSignal (8 * kBlock, 0.5f);
    const auto out = run (limited, in, kBlock);
    const float gain = std::pow (10.0f, -18.0f / 20.0f);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 2 * kBlock; i < in[c].size(); ++i)
            ASSERT_NEAR (out[c][i], gain * in[c][i - kBlock], 2.0e-6f);

    ZLinPhMultibandCompressor linked (2, 3, kBlock, 44100.0f);
    for (int k = 0; k < 3; ++k)
    {
        linked.threshold[k] = -40.0f;
        linked.setAttack (k, 0.001f);
        linked.setRelease (k, 0.001f);
    }

    // The same waveform, 40 dB apart: linked gains keep the 40 dB.
    auto linkedIn = makeSignal (10 * kBlock, 0.5f);
    for (size_t i = 0; i < linkedIn[1].size(); ++i)
        linkedIn[1][i] = 0.01f * linkedIn[0][i];

    const auto linkedOut = run (linked, linkedIn, kBlock);
    for (int k = 0; k < 3; ++k)
    {
        EXPECT_LT (linked.getBandGainDb (k), -3.0f) << "band " << k << " compresses";
        EXPECT_EQ (linked.getBandLevelDb (k), std::max (linked.getEnvelopeDb (0, k), linked.getEnvelopeDb (1, k)));
        EXPECT_GT (linked.getEnvelopeDb (0, k), linked.getEnvelopeDb (1, k) + 30.0f);
    }
    for (size_t i = kBlock; i < linkedOut[0].size(); ++i)
        ASSERT_NEAR (linkedOut[1][i], 0.01f * linkedOut[0][i], 1.0e-6f);

    // The band split at 44.1 kHz.
    ZLinPhMultibandCompressor split (2, 3, kBlock, 44100.0f);
    const std::pair<unsigned, unsigned> bands[] = { { 0, 0 }, { 139, 139 }, { 384, 512 } }; // first and last bin
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ (std::make_pair (split.getFirstBin (k), split.getLastBin (k)), bands[k]) << "band " << k;

    // The first transition (bins 1..138) rises from about 0 to 1 and passes
    // one half at 1000 Hz: bin 23 is 990.5 Hz, bin 24 1033.6 Hz.
    const auto& mask = split.getTransitionMask (0);
    EXPECT_LT (mask[0], 0.01f);
    EXPECT_LT (mask[22], 0.5f);
    EXPECT_GT (mask[23], 0.5f);
    EXPECT_FLOAT_EQ (mask[137], 1.0f);
    for (unsigned i = 1; i < 138; ++i)
        ASSERT_GE (mask[i], mask[i - 1]);

    // The second (bins 140..383) passes one half at 11000 Hz (bin 255.4).
    const auto& mask1 = split.getTransitionMask (1);
    EXPECT_LT (mask1[254 - 140], 0.5f);
    EXPECT_NEAR (mask1[255 - 140], 0.5f, 0.01f);
    EXPECT_GT (mask1[256 - 140], 0.5f);

    // Moving a crossover takes effect at updateBands.
    split.crossover[0] = 500.0f;
    split.crossover[1] = 6000.0f;
    split.updateBands();
    EXPECT_EQ (split.getFirstBin (1), 75u);
    EXPECT_EQ (split.getFirstBin (2), 326u);
}

TEST (ZLinPhMultibandCompressor, CrossoversStayBelowHalfTheRateAtEveryRate)
{
    // Crossovers at and above half the rate (6000 Hz at 8 and 11.025 kHz,
    // 18000 Hz below 36 kHz, exactly half at 12 and 36 kHz) used to put the
    // last band past the 513-value spectrum or divide by zero.
    const float rates[] = { 8000.0f, 11025.0f, 12000.0f, 22050.0f, 36000.0f, 44100.0f, 96000.0f, 192000.0f };
    const float pairs[][2] = { { 200.0f, 6000.0f }, { 500.0f, 18000.0f }, { 1000.0f, 11000.0f }, { 4000.0f, 6000.0f } };
    // The delay does not depend on the call length: shorter calls, and longer
    // ones, which go block by block.
    const int callLengths[] = { kBlock, 256, 300, 2 * kBlock };
    const auto in = makeSignal (6 * kBlock, 0.5f);

    for (float rate : rates)
        for (int p = 0; p < 4; ++p)
        {
            const auto& pair = pairs[p];
            const int callLength = callLengths[p];
            SCOPED_TRACE (testing::Message() << rate << " Hz, crossovers " << pair[0] << ", " << pair[1] << ", calls of " << callLength);
            ZLinPhMultibandCompressor comp (2, 3, kBlock, rate);
            EXPECT_EQ (comp.getLatency(), kBlock);
            comp.crossover[0] = pair[0];
            comp.crossover[1] = pair[1];
            comp.updateBands();

            for (int k = 0; k < 2; ++k)
            {
                EXPECT_LT (comp.getEffectiveCrossover (k), rate / 2.0f);
                EXPECT_EQ (firstBad (comp.getTransitionMask (k)), -1);
            }
            for (int k = 0; k < 3; ++k)
                EXPECT_LE (std::max (comp.getFirstBin (k), comp.getLastBin (k)), 512u) << "band " << k;
            EXPECT_EQ (comp.getLastBin (2), 512u);

            // Transparent at 0 dB, and finite and bounded when compressing.
            makeTransparent (comp);
            expectDelayedByOneBlock (in, run (comp, in, callLength), kBlock, 2.0e-6f);

            for (int k = 0; k < 3; ++k)
            {
                comp.threshold[k] = -50.0f;
                comp.makeup[k] = 9.0f;
            }
            const auto out = run (comp, in, kBlock);
            for (const auto& ch : out)
                ASSERT_EQ (firstBad (ch, 4.0f), -1);
        }

    // Where the crossovers fit, nothing moves.
    ZLinPhMultibandCompressor comp (2, 3, kBlock, 96000.0f);
    comp.crossover[1] = 18000.0f;
    comp.updateBands();
    EXPECT_EQ (comp.getEffectiveCrossover (1), 18000.0f);
}

TEST (ZLinPhMultibandCompressor, InfiniteOrNaNInputDoesNotStickAndZeroSamplesChangeNothing)
{
    ZLinPhMultibandCompressor comp (2, 3, kBlock, 44100.0f);
    ZLinPhMultibandCompressor twin (2, 3, kBlock, 44100.0f);
    auto in = makeSignal (8 * kBlock, 0.5f);
    in[0][100] = INFINITY;
    in[1][700] = NAN;
    const auto out = run (comp, in, kBlock);
    run (twin, in, kBlock);

    // The bad blocks' tails are gone after the 2B-tap filter has passed them.
    for (const auto& ch : out)
        EXPECT_EQ (firstBad (ch.data() + 5 * kBlock, ch.size() - 5 * kBlock), -1);
    for (int k = 0; k < 3; ++k)
    {
        EXPECT_TRUE (std::isfinite (comp.getEnvelopeDb (0, k)));
        EXPECT_TRUE (std::isfinite (comp.getEnvelopeDb (1, k)));
        EXPECT_TRUE (std::isfinite (comp.getBandGainDb (k)));
    }

    ZBuffer a (kBlock, "a"), b (kBlock, "b");
    a[0] = 7.0f;
    b[0] = 9.0f;
    ZBuffer* ins[] = { &a, &a };
    ZBuffer* outs[] = { &b, &b };
    EXPECT_TRUE (comp.process (ins, outs, 0));
    EXPECT_EQ (b[0], 9.0f);
    const auto more = makeSignal (2 * kBlock, 0.5f, 7);
    EXPECT_EQ (run (comp, more, kBlock), run (twin, more, kBlock));
}

TEST (ZLinPhMultibandCompressor, CreationLimitsAndRebuild)
{
    ZLinPhMultibandCompressor wide (5, 12, 300, 44100.0f);
    EXPECT_EQ (wide.getNumChannels(), 2);
    EXPECT_EQ (wide.getNumBands(), 8);
    EXPECT_EQ (wide.getLatency(), 512); // 300 is raised to a power of two
    EXPECT_EQ (wide.crossover[0], 100.0f);
    EXPECT_EQ (wide.crossover[6], 12000.0f);

    ZLinPhMultibandCompressor comp (2, 3, kBlock, 44100.0f);
    EXPECT_FLOAT_EQ (comp.attackCoefficient[0], std::pow (0.33f, 512.0f / (44100.0f * 0.05f)));
    EXPECT_FLOAT_EQ (comp.releaseCoefficient[0], std::pow (0.33f, 512.0f / (44100.0f * 0.2f)));
    comp.threshold[1] = -33.0f;
    comp.crossover[0] = 500.0f;
    comp.setAttack (2, 5.0f);

    // A new size and rate: settings stay, the band split and the envelope
    // coefficients follow.
    EXPECT_TRUE (comp.setBlockSizeAndRate (1024, 96000.0f));
    EXPECT_EQ (comp.threshold[1], -33.0f);
    EXPECT_FLOAT_EQ (comp.attackCoefficient[2], std::pow (0.33f, 1024.0f / (96000.0f * 5.0f)));
    EXPECT_EQ (comp.getFirstBin (1), (unsigned) ((500.0f + 11000.0f) / 2.0f * 2048.0f / 96000.0f + 0.5f));
    EXPECT_EQ (comp.getLastBin (2), 1024u);

    const auto in = makeSignal (6 * 1024, 0.5f);
    makeTransparent (comp);
    expectDelayedByOneBlock (in, run (comp, in, 1024), 1024, 2.0e-6f);

    // A rate that is no rate keeps the one set before.
    comp.setBlockSizeAndRate (1024, 0.0f);
    EXPECT_EQ (comp.getSampleRate(), 96000.0f);
}
