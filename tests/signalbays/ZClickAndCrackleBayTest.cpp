#include "ZClickAndCrackleBay.h"
#include "zdsp/common/BlockSignals.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr int kBlock = 512;

std::unique_ptr<ZClickAndCrackleBay> makeBay (float amount)
{
    auto bay = std::make_unique<ZClickAndCrackleBay> ("Declick", 2);
    bay->prepare();
    bay->setSampleRate (44100.0f);
    bay->setBlockSize (kBlock);
    bay->setAmount (amount);
    return bay;
}

// Channel 0 carries the signal, channel 1 silence; returns channel 0.
std::vector<float> runThrough (ZClickAndCrackleBay& bay, const std::vector<float>& in, bool* clickSeen = nullptr)
{
    ZBuffer right (kBlock, "ZBuffer"), rightOut (kBlock, "ZBuffer");
    return runBlocks (in, kBlock, [&] (const ZBuffer& a, ZBuffer& b)
    {
        ZBuffer* ins[] = { const_cast<ZBuffer*> (&a), &right };
        ZBuffer* outs[] = { &b, &rightOut };
        bay.process (ins, outs, kBlock);
        if (clickSeen != nullptr && bay.isClickActive())
            *clickSeen = true;
    }).out;
}
} // namespace

TEST (ZClickAndCrackleBay, AmountSetsBothThresholds)
{
    ZClickAndCrackleBay bay ("Declick", 2);
    const struct { float amount; double click, crackle; } cases[] = {
        { 0.0f, 30.0, 30.0 }, { 0.5f, 16.5, 20.0 }, { 1.0f, 3.0, 10.0 }
    };
    for (const auto& c : cases)
    {
        bay.setAmount (c.amount);
        EXPECT_FLOAT_EQ (bay.getAmount(), c.amount);
        EXPECT_DOUBLE_EQ (bay.getClickThreshold(), c.click) << c.amount;
        EXPECT_DOUBLE_EQ (bay.getCrackleThreshold(), c.crackle) << c.amount;
    }
}

TEST (ZClickAndCrackleBay, LatencyIsBothStagesTogether)
{
    auto bay = makeBay (0.0f);
    EXPECT_EQ (bay->latency(), 4139);
    bay->setAmount (1.0f);
    EXPECT_EQ (bay->latency(), 4139);
    bay->setBlockSize (256);
    EXPECT_EQ (bay->latency(), 6 * 256 + 776 + 291);
}

TEST (ZClickAndCrackleBay, SetBlockSizeStartsAfresh)
{
    // Rebuilt processors hold nothing of the audio that went before.
    auto bay = makeBay (0.0f);
    runThrough (*bay, toneMixture (20 * kBlock));
    bay->setBlockSize (kBlock);
    const std::vector<float> silence (10 * kBlock, 0.0f);
    EXPECT_EQ (runThrough (*bay, silence), silence);
}

TEST (ZClickAndCrackleBay, ClicksAreRemovedAndMusicPasses)
{
    // 150 clicks of 1 to 40 samples, about 2000 samples apart, in a tone
    // mixture peaking near 0.2: pulses of 0.6 to 1.0 that sag by a fifth
    // across their length. At amount 1 at least 90 % of them must lose 10 dB
    // or more, and the audio away from them must pass with a
    // signal-to-difference ratio of at least 35 dB.
    const int numClicks = 150;
    const size_t spacing = 2048, lead = 10 * 44100;
    const size_t length = lead + (size_t) numClicks * spacing + 3 * 44100;
    const std::vector<float> clean = toneMixture (length);
    std::vector<float> in = clean;

    std::mt19937 rng (2024);
    std::uniform_int_distribution<int> width (1, 40), jitter (0, 600);
    std::uniform_real_distribution<float> height (0.6f, 1.0f);
    struct Click { size_t start, length; };
    std::vector<Click> clicks;
    for (int k = 0; k < numClicks; ++k)
    {
        const Click c { lead + (size_t) k * spacing + (size_t) jitter (rng), (size_t) width (rng) };
        const float h = height (rng) * (k % 2 == 0 ? 1.0f : -1.0f);
        for (size_t i = 0; i < c.length; ++i)
            in[c.start + i] += h * (1.0f - 0.2f * (float) i / (float) c.length);
        clicks.push_back (c);
    }

    auto bay = makeBay (1.0f);
    bool clickSeen = false;
    const std::vector<float> out = runThrough (*bay, in, &clickSeen);
    EXPECT_TRUE (clickSeen);

    const size_t delay = (size_t) bay->latency();
    int reduced = 0;
    std::vector<bool> nearClick (length, false);
    for (const auto& c : clicks)
    {
        double before = 0.0, after = 0.0;
        for (size_t i = c.start; i < c.start + c.length; ++i)
        {
            before += std::pow (in[i] - clean[i], 2.0);
            after += std::pow (out[i + delay] - clean[i], 2.0);
        }
        reduced += 10.0 * std::log10 (before / std::max (after, 1.0e-20)) >= 10.0 ? 1 : 0;
        // The repair fades in and out over 132 samples either side.
        std::fill (nearClick.begin() + (long) (c.start - 200), nearClick.begin() + (long) (c.start + c.length + 200), true);
    }
    EXPECT_GE (reduced, numClicks * 9 / 10);

    double signal = 0.0, difference = 0.0;
    for (size_t i = lead; i + delay < out.size(); ++i)
        if (! nearClick[i])
        {
            signal += (double) clean[i] * clean[i];
            difference += std::pow (out[i + delay] - clean[i], 2.0);
        }
    EXPECT_GE (10.0 * std::log10 (signal / difference), 35.0);
    RecordProperty ("clicksReduced", reduced);
    RecordProperty ("signalToDifferenceDb", (int) (10.0 * std::log10 (signal / difference)));
}
