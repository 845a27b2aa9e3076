#include "ZEnhancementBay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace quarn;

namespace
{
constexpr int kBlock = 512;

// Feeds 512-sample stereo blocks the way the processor does (A -> B).
struct Driver
{
    ZBuffer inL { kBlock, "ZBuffer" }, inR { kBlock, "ZBuffer" };
    ZBuffer outL { kBlock, "ZBuffer" }, outR { kBlock, "ZBuffer" };
    ZBuffer* ins[2] = { &inL, &inR };
    ZBuffer* outs[2] = { &outL, &outR };
    std::mt19937 rng { 5 };
    long long position = 0;

    // Next block of the test signal: a tone and noise, different per channel.
    void fill (float amplitude)
    {
        std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
        for (int i = 0; i < kBlock; ++i, ++position)
        {
            const float t = (float) position / 44100.0f;
            inL[(unsigned) i] = amplitude * (0.6f * std::sin (2.0f * (float) M_PI * 220.0f * t) + 0.2f * noise (rng));
            inR[(unsigned) i] = amplitude * (0.5f * std::sin (2.0f * (float) M_PI * 7000.0f * t) + 0.2f * noise (rng));
        }
    }

    void silence()
    {
        inL.clear();
        inR.clear();
        position += kBlock;
    }

    void run (ZEnhancementBay& bay) { bay.process (ins, outs, kBlock); }

    std::vector<float> input (int c) const { return copyOf (*ins[c]); }
    std::vector<float> output (int c) const { return copyOf (*outs[c]); }

    static std::vector<float> copyOf (const ZBuffer& b) { return { b.getData(), b.getData() + b.getLength() }; }
};

// As the processor's prepareToPlay leaves it.
void prepareAt (ZEnhancementBay& bay, float rate)
{
    bay.prepare();
    bay.setSampleRate (rate);
    bay.setBlockSize (kBlock);
}

float peak (const std::vector<float>& v)
{
    float p = 0.0f;
    for (float x : v)
        p = std::max (p, std::abs (x));
    return p;
}
} // namespace

TEST (ZEnhancementBay, AmountZeroIsTheInputDelayedByExactly512Samples)
{
    ZEnhancementBay bay ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    EXPECT_EQ (bay.latency(), 512);
    EXPECT_STREQ (bay.getName(), "Enhance");

    bay.setAmount (0.0f);
    bay.setMode (0);
    EXPECT_FALSE (bay.isRunning());

    Driver d;
    std::vector<float> previous[2] = { std::vector<float> (kBlock, 0.0f), std::vector<float> (kBlock, 0.0f) };
    for (int block = 0; block < 6; ++block)
    {
        d.fill (0.8f);
        d.run (bay);
        for (int c = 0; c < 2; ++c)
        {
            EXPECT_EQ (d.output (c), previous[c]) << "block " << block;
            previous[c] = d.input (c);
        }
    }
}

TEST (ZEnhancementBay, AmountSetsTheCommonThreshold)
{
    ZEnhancementBay bay ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    Driver d;
    d.fill (0.5f);

    const std::pair<float, float> cases[] = { { 1.0f, -16.5f }, { 0.5f, -58.25f }, { 0.25f, -79.125f } };
    for (const auto& [amount, threshold] : cases)
    {
        bay.setAmount (amount);
        EXPECT_EQ (bay.getAmount(), amount);
        d.run (bay);
        EXPECT_TRUE (bay.isRunning());
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ (bay.getCompressor()->threshold[k], threshold) << "amount " << amount;
    }

    bay.setAmount (0.0f);
    d.run (bay);
    EXPECT_FALSE (bay.isRunning());
}

TEST (ZEnhancementBay, ModesSetTheirBandsFromTheTable)
{
    ZEnhancementBay bay ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    const auto& comp = *bay.getCompressor();

    bay.setMode (0);
    EXPECT_EQ (comp.crossover[0], 200.0f);
    EXPECT_EQ (comp.crossover[1], 6000.0f);
    EXPECT_FALSE (comp.bypass[0]);
    EXPECT_TRUE (comp.bypass[1]);
    EXPECT_EQ (comp.ratio[2], 3.0f);
    EXPECT_EQ (comp.range[2], 9.0f);
    EXPECT_EQ (comp.makeup[2], 9.0f);
    EXPECT_EQ (comp.attack[2], 5.0f);
    EXPECT_FLOAT_EQ (comp.attackCoefficient[2], std::pow (0.33f, 512.0f / (44100.0f * 5.0f)));
    // A zero time means an envelope that follows the level at once.
    EXPECT_EQ (comp.attackCoefficient[1], 0.0f);

    // Mode 6 after mode 2 keeps the low/mid crossover at 500 Hz.
    bay.setMode (2);
    bay.setMode (6);
    EXPECT_EQ (bay.getMode(), 6);
    EXPECT_EQ (comp.crossover[0], 500.0f);
    EXPECT_EQ (comp.crossover[1], 18000.0f);
    EXPECT_EQ (comp.ratio[0], 0.1f);
    EXPECT_EQ (comp.range[0], 18.0f);
    EXPECT_EQ (comp.makeup[0], 0.0f);
    EXPECT_TRUE (comp.bypass[2]);
    EXPECT_EQ (comp.getFirstBin (2), (unsigned) ((18000.0f + 22050.0f) / 2.0f * 1024.0f / 44100.0f + 0.5f));

    // Mode 7 resets the bay and leaves every band as it was.
    Driver d;
    bay.setAmount (1.0f);
    for (int block = 0; block < 4; ++block)
    {
        d.fill (0.5f);
        d.run (bay);
    }
    EXPECT_NE (comp.getEnvelopeDb (0, 0), 0.0f);
    bay.setMode (7);
    EXPECT_EQ (bay.getMode(), 7);
    EXPECT_EQ (comp.getEnvelopeDb (0, 0), 0.0f);
    EXPECT_EQ (comp.crossover[0], 500.0f);
    EXPECT_EQ (comp.crossover[1], 18000.0f);
    EXPECT_EQ (comp.ratio[0], 0.1f);
    EXPECT_TRUE (comp.bypass[1]);

    // The mode survives a new block size or rate.
    prepareAt (bay, 48000.0f);
    EXPECT_EQ (bay.getMode(), 7);
    bay.setMode (3);
    prepareAt (bay, 48000.0f);
    EXPECT_EQ (bay.getCompressor()->crossover[0], 250.0f);
}

TEST (ZEnhancementBay, SwitchingOnIsSeamless)
{
    // The bay switched on after a stretch off, against a twin that was on
    // from the start of the same blocks.
    ZEnhancementBay bay ("Enhance", 2), twin ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    prepareAt (twin, 44100.0f);
    bay.setAmount (0.0f);
    bay.setMode (1);
    twin.setAmount (0.5f);
    twin.setMode (1);

    Driver d, t;
    for (int block = 0; block < 3; ++block)
    {
        d.fill (0.5f);
        d.run (bay);
    }

    std::vector<float> lastInput[2] = { d.input (0), d.input (1) };
    bay.setAmount (0.5f);
    for (int block = 0; block < 4; ++block)
    {
        d.fill (0.5f);
        t.inL.copy (d.inL);
        t.inR.copy (d.inR);
        d.run (bay);
        t.run (twin);

        for (int c = 0; c < 2; ++c)
        {
            if (block == 0)
                EXPECT_EQ (d.output (c), lastInput[c]) << "the first latency samples are the delayed input";
            else
                EXPECT_EQ (d.output (c), t.output (c)) << "block " << block;
        }
    }
}

TEST (ZEnhancementBay, SwitchingOffIsSeamless)
{
    ZEnhancementBay bay ("Enhance", 2), twin ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    prepareAt (twin, 44100.0f);
    for (auto* b : { &bay, &twin })
    {
        b->setAmount (0.5f);
        b->setMode (2);
    }

    Driver d, t;
    auto step = [&] {
        d.fill (0.5f);
        t.inL.copy (d.inL);
        t.inR.copy (d.inR);
        d.run (bay);
        t.run (twin);
    };
    for (int block = 0; block < 3; ++block)
        step();

    bay.setAmount (0.0f);
    step();
    // The compressor's output plays out for one latency...
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ (d.output (c), t.output (c));
    // ... then the delayed input follows without a gap.
    std::vector<float> lastInput[2] = { d.input (0), d.input (1) };
    step();
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ (d.output (c), lastInput[c]);
}

TEST (ZEnhancementBay, ReEnablingReleasesNoStaleAudio)
{
    ZEnhancementBay bay ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    bay.setAmount (1.0f);
    bay.setMode (0);
    // A +9 dB low shelf: a filter with long ringing on both sides of its centre.
    bay.setBand (0, false, 0.0f, 0.0f, 1.0f, 0.0f, 9.0f, 0.0f, 0.0f);

    Driver d;
    for (int block = 0; block < 5; ++block)
    {
        d.fill (0.9f);
        d.run (bay);
    }

    // Off while loud audio still rings in the compressor, then a long silence.
    bay.setAmount (0.0f);
    d.fill (0.9f);
    d.run (bay);
    for (int block = 0; block < 20; ++block)
    {
        d.silence();
        d.run (bay);
    }
    EXPECT_EQ (peak (d.output (0)), 0.0f);

    // Back on with silence coming in: silence must come out.
    bay.setAmount (1.0f);
    for (int block = 0; block < 4; ++block)
    {
        d.silence();
        d.run (bay);
        EXPECT_EQ (peak (d.output (0)), 0.0f) << "block " << block;
        EXPECT_EQ (peak (d.output (1)), 0.0f) << "block " << block;
    }
}

TEST (ZEnhancementBay, EveryModeRunsFiniteAtEverySampleRate)
{
    for (float rate : { 8000.0f, 22050.0f, 44100.0f, 96000.0f, 192000.0f })
    {
        ZEnhancementBay bay ("Enhance", 2);
        bay.prepare();
        prepareAt (bay, rate);
        EXPECT_EQ (bay.latency(), 512);

        Driver d;
        for (int mode : { 0, 1, 2, 3, 4, 5, 6, 2, 6 })
        {
            SCOPED_TRACE (testing::Message() << rate << " Hz, mode " << mode);
            bay.setMode (mode);
            const auto& comp = *bay.getCompressor();
            for (int k = 0; k < 2; ++k)
                EXPECT_LT (comp.getEffectiveCrossover (k), rate / 2.0f);
            for (int k = 0; k < 3; ++k)
                EXPECT_LE (comp.getFirstBin (k), 512u);

            for (float amount : { 1.0f, 0.5f, 0.0f, 0.75f })
            {
                bay.setAmount (amount);
                for (int block = 0; block < 3; ++block)
                {
                    d.fill (0.5f);
                    d.run (bay);
                    for (int c = 0; c < 2; ++c)
                        for (float x : d.output (c))
                            ASSERT_TRUE (std::isfinite (x) && std::abs (x) < 8.0f);
                }
            }
        }
    }
}

TEST (ZEnhancementBay, LongerCallsThanTheBlockAreCut)
{
    ZEnhancementBay bay ("Enhance", 2);
    prepareAt (bay, 44100.0f);
    bay.setAmount (0.0f);
    bay.setMode (0);

    ZBuffer inL (2 * kBlock, "in"), inR (2 * kBlock, "in"), outL (2 * kBlock, "out"), outR (2 * kBlock, "out");
    for (unsigned i = 0; i < 2 * kBlock; ++i)
        inL[i] = inR[i] = 1.0f;
    outL[kBlock] = outR[kBlock] = 5.0f;
    ZBuffer* ins[] = { &inL, &inR };
    ZBuffer* outs[] = { &outL, &outR };
    bay.process (ins, outs, 2 * kBlock);

    // Only one block is taken; the rest of the output is left alone.
    EXPECT_EQ (outL[0], 0.0f);
    EXPECT_EQ (outL[kBlock], 5.0f);
    EXPECT_EQ (outR[kBlock], 5.0f);
}
