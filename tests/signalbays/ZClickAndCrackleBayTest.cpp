#include "ZClickAndCrackleBay.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <tuple>

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
Signal runThrough (ZClickAndCrackleBay& bay, const Signal& in, bool* clickSeen = nullptr)
{
    return BayDriver<ZClickAndCrackleBay> (bay).run ({ in, Signal (in.size(), 0.0f) }, [&] {
        if (clickSeen != nullptr && bay.isClickActive())
            *clickSeen = true;
    })[0];
}
} // namespace

TEST (ZClickAndCrackleBay, AmountThresholdsLatencyRebuildAndClicksRemovedWhileMusicPasses)
{
    auto bay = makeBay (0.0f);
    for (const auto& [amount, click, crackle] : { std::tuple { 0.0f, 30.0, 30.0 }, { 0.5f, 16.5, 20.0 }, { 1.0f, 3.0, 10.0 } })
    {
        bay->setAmount (amount);
        EXPECT_DOUBLE_EQ (bay->getClickThreshold(), click) << amount;
        EXPECT_DOUBLE_EQ (bay->getCrackleThreshold(), crackle) << amount;
        // Both stages' latencies together, whatever the amount.
        EXPECT_EQ (bay->latency(), 4139);
    }

    // setBlockSize rebuilds the stages: nothing of the audio before remains.
    runThrough (*bay, toneMixture (20 * kBlock));
    bay->setBlockSize (kBlock);
    const Signal silence (10 * kBlock, 0.0f);
    EXPECT_EQ (runThrough (*bay, silence), silence);
    bay->setBlockSize (256);
    EXPECT_EQ (bay->latency(), 6 * 256 + 776 + 291);

    // 150 clicks of 1 to 40 samples, about 2000 samples apart, in a tone
    // mixture peaking near 0.2: pulses of 0.6 to 1.0 that sag by a fifth
    // across their length. At amount 1 at least 90 % of them must lose 10 dB
    // or more, and the audio away from them must pass with a
    // signal-to-difference ratio of at least 35 dB.
    const int numClicks = 150;
    const size_t spacing = 2048, lead = 10 * 44100;
    const size_t length = lead + (size_t) numClicks * spacing + 3 * 44100;
    const Signal clean = toneMixture (length);
    Signal in = clean;

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

    bay = makeBay (1.0f);
    bool clickSeen = false;
    const Signal out = runThrough (*bay, in, &clickSeen);
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
}
