#include "ZEnhancementBay.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr int kBlock = 512;
using Stereo = std::vector<Signal>;
using Driver = BayDriver<ZEnhancementBay>;

// A tone and noise, different per channel.
Stereo material (int numBlocks, float amplitude, unsigned seed = 5)
{
    const size_t n = (size_t) numBlocks * kBlock;
    return { sine (n, 220.0, 0.6 * amplitude) + uniformNoise (n, 0.2f * amplitude, seed),
             sine (n, 7000.0, 0.5 * amplitude) + uniformNoise (n, 0.2f * amplitude, seed + 100) };
}

Stereo block (const Stereo& s, int b)
{
    Stereo out;
    for (const auto& channel : s)
        out.emplace_back (channel.begin() + b * kBlock, channel.begin() + (b + 1) * kBlock);
    return out;
}

// As the processor's prepareToPlay leaves it.
void prepareAt (ZEnhancementBay& bay, float rate)
{
    bay.prepare();
    bay.setSampleRate (rate);
    bay.setBlockSize (kBlock);
}

std::unique_ptr<ZEnhancementBay> makeBay (float amount, int mode)
{
    auto bay = std::make_unique<ZEnhancementBay> ("Enhance", 2);
    prepareAt (*bay, 44100.0f);
    bay->setAmount (amount);
    bay->setMode (mode);
    return bay;
}
} // namespace

TEST (ZEnhancementBay, AmountZeroIsTheInputDelayedByExactly512SamplesUntilAnotherThreadSwitchesItOn)
{
    auto owner = makeBay (0.0f, 0);
    auto& bay = *owner;
    EXPECT_FALSE (bay.isRunning());

    const auto in = material (6, 0.8f);
    const auto out = Driver (bay).run (in);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < out[c].size(); ++i)
            ASSERT_EQ (out[c][i], i < kBlock ? 0.0f : in[c][i - kBlock]) << c << " " << i;

    // Longer calls than the block are cut: only one block is taken and the
    // rest of the output is left alone.
    ZBuffer inL (2 * kBlock, "in"), inR (2 * kBlock, "in"), outL (2 * kBlock, "out"), outR (2 * kBlock, "out");
    outL[kBlock] = outR[kBlock] = 5.0f;
    ZBuffer* ins[] = { &inL, &inR };
    ZBuffer* outs[] = { &outL, &outR };
    bay.process (ins, outs, 2 * kBlock);
    EXPECT_EQ (outL[kBlock], 5.0f);
    EXPECT_EQ (outR[kBlock], 5.0f);

    // The same block over and over: bypassed, the output is that block (one
    // block late); once the amount, set on another thread, switches the
    // compressor in, it is not.
    const auto one = material (1, 0.5f);
    Driver d (bay);
    d.run (one);
    ASSERT_EQ (d.run (one), one);
    int changedBlocks = 0;
    std::thread audio ([&] {
        for (int b = 0; b < 100000 && changedBlocks < 4; ++b)
            if (d.run (one) != one)
                ++changedBlocks;
    });
    bay.setMode (2);
    bay.setAmount (1.0f);
    audio.join();
    EXPECT_EQ (changedBlocks, 4);
    EXPECT_EQ (bay.getCompressor()->threshold[1], -16.5f);
    EXPECT_EQ (bay.getCompressor()->crossover[0], 500.0f);
}

TEST (ZEnhancementBay, SwitchingOnAndOffIsSeamlessAndReEnablingReleasesNoStaleAudio)
{
    const auto in = material (7, 0.5f);

    // On after three blocks off, against a twin that is on from then on: the
    // first latency samples are the delayed input, then the compressor's
    // output follows without a gap.
    auto bay = makeBay (0.0f, 1), twin = makeBay (0.5f, 1);
    Driver d (*bay), t (*twin);
    for (int b = 0; b < 3; ++b)
        d.run (block (in, b));
    bay->setAmount (0.5f);
    for (int b = 3; b < 7; ++b)
    {
        const auto expected = t.run (block (in, b));
        EXPECT_EQ (d.run (block (in, b)), b == 3 ? block (in, 2) : expected) << b;
    }

    // Off after three blocks on, against a twin that stays on: the
    // compressor's output plays out for one latency, then the delayed input
    // follows without a gap.
    bay = makeBay (0.5f, 2);
    twin = makeBay (0.5f, 2);
    Driver d2 (*bay), t2 (*twin);
    for (int b = 0; b < 5; ++b)
    {
        if (b == 3)
            bay->setAmount (0.0f);
        const auto expected = t2.run (block (in, b));
        EXPECT_EQ (d2.run (block (in, b)), b <= 3 ? expected : block (in, b - 1)) << b;
    }

    // Re-enabling releases no stale audio.
    auto owner = makeBay (1.0f, 0);
    auto& ringing = *owner;
    ringing.reset(); // takes the mode over now, so that the band below stays
    // A +9 dB low shelf: a filter with long ringing on both sides of its centre.
    ringing.setBand (0, false, 0.0f, 0.0f, 1.0f, 0.0f, 9.0f, 0.0f, 0.0f);
    Driver driver (ringing);
    driver.run (material (5, 0.9f));

    // Off while loud audio still rings in the compressor, then a long silence.
    ringing.setAmount (0.0f);
    driver.run (material (1, 0.9f, 6));
    const Stereo silence (2, Signal (kBlock, 0.0f));
    Stereo last;
    for (int b = 0; b < 20; ++b)
        last = driver.run (silence);
    EXPECT_EQ (last, silence);

    // Back on with silence coming in: silence must come out.
    ringing.setAmount (1.0f);
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ (driver.run (silence), silence) << "block " << b;
}

TEST (ZEnhancementBay, EveryModeRunsFiniteAtEveryRateAndAmountSetsTheThresholdAndEachModeItsWholeRow)
{
    const auto in = material (3, 0.5f);
    for (float rate : { 8000.0f, 22050.0f, 44100.0f, 96000.0f, 192000.0f })
    {
        ZEnhancementBay bay ("Enhance", 2);
        prepareAt (bay, rate);
        EXPECT_EQ (bay.latency(), 512);
        Driver d (bay);

        for (int mode : { 0, 1, 2, 3, 4, 5, 6, 2, 6 })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, mode " << mode);
            bay.setMode (mode);
            for (float amount : { 1.0f, 0.5f, 0.0f, 0.75f })
            {
                bay.setAmount (amount);
                for (const auto& channel : d.run (in))
                    ASSERT_EQ (firstBad (channel, 8.0f), -1);
            }
        }
    }

// The amount's threshold, and every field of every band for the seven modes,
// with the band split and envelope coefficients that follow (a zero time
// follows the level at once).
// Mode 6 moves only the mid/high crossover (0: unchanged), so its low/mid one
// stays where the previous mode left it: 500 Hz after mode 5, 250 Hz after 3.
    struct Band { bool bypass; float ratio, range, makeup, attack, release; };
    const struct { float crossover[2]; Band band[3]; } table[] = {
        { { 200, 6000 }, { { false, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 } } },
        { { 250, 6000 }, { { false, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 }, { true, 3, 0, 0, 0, 0 } } },
        { { 500, 6000 }, { { true, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 }, { false, 3, 9, 9, 5, 5 } } },
        { { 250, 6000 }, { { false, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { true, 1, 0, 0, 0, 0 } } },
        { { 500, 6000 }, { { true, 3, 9, 9, 5, 5 }, { false, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 } } },
        { { 500, 6000 }, { { true, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 } } },
        { { 0, 18000 }, { { false, 0.1f, 18, 0, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { true, 3, 9, 9, 5, 5 } } },
    };

    ZEnhancementBay bay ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    const auto& comp = *bay.getCompressor();
    Driver d (bay);
    const auto one = material (1, 0.5f);

    // The amount sets one threshold for all three bands; 0 stops the compressor.
    for (const auto& [amount, threshold] : { std::pair { 1.0f, -16.5f }, { 0.5f, -58.25f }, { 0.25f, -79.125f } })
    {
        bay.setAmount (amount);
        d.run (one);
        EXPECT_TRUE (bay.isRunning());
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ (comp.threshold[k], threshold) << "amount " << amount;
    }
    bay.setAmount (0.0f);
    d.run (one);
    EXPECT_FALSE (bay.isRunning());

    float lowMid = 0.0f;
    auto split = [&] { return std::make_tuple (comp.crossover[0], comp.crossover[1], comp.bypass[0], comp.bypass[1], comp.bypass[2]); };
    for (int mode : { 0, 1, 2, 3, 4, 5, 6, 3, 6 })
    {
        // A mode is reported at once and taken over at the next block.
        const auto before = split();
        bay.setMode (mode);
        EXPECT_EQ (bay.getMode(), mode);
        EXPECT_EQ (split(), before) << "mode " << mode;
        d.run (Signal (512, 0.0f));
        const auto& row = table[mode];
        lowMid = row.crossover[0] != 0.0f ? row.crossover[0] : lowMid;
        EXPECT_EQ (comp.crossover[0], lowMid) << "mode " << mode;
        EXPECT_EQ (comp.crossover[1], row.crossover[1]) << "mode " << mode;
        EXPECT_EQ (comp.getFirstBin (2), (unsigned) ((row.crossover[1] + 22050.0f) / 2.0f * 1024.0f / 44100.0f + 0.5f)) << "mode " << mode;
        for (int b = 0; b < 3; ++b)
        {
            SCOPED_TRACE (testing::Message() << "mode " << mode << ", band " << b << " (bypass, ratio, range, makeup, attack, release)");
            const auto& e = row.band[b];
            EXPECT_EQ (std::make_tuple (comp.bypass[b], comp.ratio[b], comp.range[b], comp.makeup[b], comp.attack[b], comp.release[b]),
                       std::make_tuple (e.bypass, e.ratio, e.range, e.makeup, e.attack, e.release));
            EXPECT_FLOAT_EQ (comp.attackCoefficient[b], e.attack == 0.0f ? 0.0f : std::pow (0.33f, 512.0f / (44100.0f * e.attack)));
        }
    }

    // Mode 7 resets the bay and leaves every band as it was (a reset takes a
    // waiting mode over at once).
    bay.setMode (2);
    bay.setAmount (1.0f);
    d.run (material (4, 0.5f));
    EXPECT_NE (comp.getEnvelopeDb (0, 0), 0.0f);
    bay.setMode (7);
    bay.reset();
    EXPECT_EQ (comp.getEnvelopeDb (0, 0), 0.0f);
    EXPECT_EQ (std::make_tuple (comp.crossover[0], comp.crossover[1], comp.bypass[0]), std::make_tuple (500.0f, 6000.0f, true));

    // The mode survives a new block size or rate.
    prepareAt (bay, 48000.0f);
    EXPECT_EQ (bay.getMode(), 7);
    bay.setMode (3);
    prepareAt (bay, 48000.0f);
    EXPECT_EQ (bay.getCompressor()->crossover[0], 250.0f);
}
