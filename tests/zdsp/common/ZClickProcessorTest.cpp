#include "ZClickProcessor.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <memory>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;
constexpr size_t kDelay = 3848;

BlockRun runThrough (float rate, const std::vector<float>& in, float thresholdDb = 3.0f)
{
    std::unique_ptr<ZClickProcessor> p (ZClickProcessor::create (kBlock, rate));
    p->setThreshold (thresholdDb);
    p->reset();
    return runBlocks (in, kBlock, [&] (const ZBuffer& a, ZBuffer& b) { return p->process (a, b, kBlock); });
}

int medianHalfWidth (float rate)
{
    return std::unique_ptr<ZClickProcessor> (ZClickProcessor::create (kBlock, rate))->getMedianHalfWidth();
}
} // namespace

// The latency is checked with the crackle stage's, through the "Declick" bay.
TEST (ZClickProcessor, MedianSpan)
{
    EXPECT_EQ (medianHalfWidth (44100.0f), 3);
    EXPECT_EQ (medianHalfWidth (96000.0f), 6);
    EXPECT_EQ (medianHalfWidth (192000.0f), 6);
    EXPECT_EQ (medianHalfWidth (8000.0f), 1);
}

TEST (ZClickProcessor, OneSampleImpulseIsRedrawnAndTheRestPasses)
{
    const std::vector<float> clean = toneMixture (60 * kBlock, 0.5);
    std::vector<float> in = clean;
    const size_t at = 30 * kBlock + 77;
    in[at] += 0.8f;

    const BlockRun r = runThrough (44100.0f, in);
    EXPECT_LT (std::abs (r.out[at + kDelay] - clean[at]), 0.1f);
    // Away from the click and its two 132-sample fades: exactly the input.
    for (size_t i = 0; i + kDelay < r.out.size(); ++i)
    {
        if (i + 140 < at || i > at + 140)
        {
            ASSERT_EQ (r.out[i + kDelay], in[i]) << i;
        }
    }
}

TEST (ZClickProcessor, ClickFlagHoldsForATenthOfASecond)
{
    for (float rate : { 44100.0f, 8000.0f })
    {
        std::vector<float> in = toneMixture (80 * kBlock, 0.5, rate);
        in[20 * kBlock + 200] += 0.8f;
        const BlockRun r = runThrough (rate, in);

        // True from the repairing block while no more than 0.1 s has passed.
        const auto first = (size_t) (std::find (r.results.begin(), r.results.end(), true) - r.results.begin());
        ASSERT_LT (first, r.results.size());
        const size_t heldBlocks = (size_t) (0.1f * rate) / kBlock;
        for (size_t b = first; b < r.results.size(); ++b)
            EXPECT_EQ (r.results[b], b <= first + heldBlocks) << rate << " Hz, block " << b;
    }
}

TEST (ZClickProcessor, LongClicksAreRepairedInPieces)
{
    std::vector<float> in = toneMixture (60 * kBlock, 0.5);
    const size_t at = 30 * kBlock, length = 1300;
    for (size_t i = at; i < at + length; ++i)
        in[i] += 0.8f;
    const BlockRun r = runThrough (44100.0f, in);
    for (size_t i = at; i < at + length; ++i)
        ASSERT_LT (std::abs (r.out[i + kDelay]), 0.25f) << "click sample " << i - at;
}

TEST (ZClickProcessor, ThresholdFollowsTheMaterial)
{
    // A spike of 0.5 is a click in a quiet passage and music in a loud one.
    for (double scale : { 0.5, 2.2 })
    {
        std::vector<float> in = toneMixture (60 * kBlock, scale);
        in[30 * kBlock + 5] = 0.5f;
        EXPECT_EQ (runThrough (44100.0f, in).count (true) > 0, scale < 1.0) << scale;
    }
}

TEST (ZClickProcessor, ShortSoundInDigitalSilenceIsNotAClick)
{
    // A 2048-sample burst between stretches of digital silence: at 96 kHz the
    // median of the 13 block peaks around it is 0, and a limit of 0 used to
    // take the whole burst for clicks and erase it.
    for (float rate : { 44100.0f, 96000.0f })
    {
        std::vector<float> in (40 * kBlock, 0.0f);
        const std::vector<float> burst = toneMixture (2048, 1.0, rate);
        std::copy (burst.begin(), burst.end(), in.begin() + 10 * kBlock + 100);
        const BlockRun r = runThrough (rate, in, 30.0f);
        EXPECT_EQ (r.count (true), 0) << rate;
        for (size_t i = 0; i + kDelay < r.out.size(); ++i)
            ASSERT_EQ (r.out[i + kDelay], in[i]) << rate << " Hz, " << i;
    }
}
