// The two stages of the "Declick" bay.
#include "ZClickProcessor.h"
#include "ZCrackleProcessor.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;
constexpr size_t kDelay = 3848;

BlockRun runThrough (float rate, const std::vector<float>& in, float thresholdDb = 3.0f)
{
    auto p = owned (ZClickProcessor::create (kBlock, rate));
    p->setThreshold (thresholdDb);
    p->reset();
    return runStage (*p, in, kBlock);
}

std::unique_ptr<ZCrackleProcessor> makeCrackle (float rate = 44100.0f, float thresholdDb = 10.0f)
{
    auto p = owned (ZCrackleProcessor::create (kBlock, rate));
    p->setThreshold (thresholdDb);
    p->reset();
    return p;
}
} // namespace

// The latencies are checked together, through the "Declick" bay.
TEST (ZClickAndCrackleProcessor, MedianSpanAndStepSizeFollowTheRate)
{
    for (auto [rate, halfWidth] : { std::pair { 44100.0f, 3 }, { 96000.0f, 6 }, { 192000.0f, 6 }, { 8000.0f, 1 } })
        EXPECT_EQ (owned (ZClickProcessor::create (kBlock, rate))->getMedianHalfWidth(), halfWidth) << rate;
    EXPECT_FLOAT_EQ (makeCrackle (44100.0f)->getStepSize(), 0.005f);
    EXPECT_FLOAT_EQ (makeCrackle (8000.0f)->getStepSize(), 0.005f);
    // 0.005 * 100^(1 - 96000/44100) = 0.005 * 100^-1.1769
    EXPECT_NEAR (makeCrackle (96000.0f)->getStepSize(), 0.0000221f, 0.0000001f);
}

TEST (ZClickProcessor, ClicksAreRedrawnTheRestPassesTheFlagHoldsAndTheThresholdFollowsTheMaterial)
{
    const std::vector<float> clean = toneMixture (60 * kBlock, 0.5);
    std::vector<float> in = clean;
    const size_t at = 30 * kBlock + 77;
    in[at] += 0.8f;
    const BlockRun r = runThrough (44100.0f, in);
    EXPECT_LT (std::abs (r.out[at + kDelay] - clean[at]), 0.1f);
    // Away from the click and its two 132-sample fades: exactly the input.
    for (size_t i = 0; i + kDelay < r.out.size(); ++i)
        ASSERT_TRUE (r.out[i + kDelay] == in[i] || (i + 140 >= at && i <= at + 140)) << i;

    // Longer than one repair: mended in pieces.
    in = clean;
    const size_t length = 1300;
    for (size_t i = 30 * kBlock; i < 30 * kBlock + length; ++i)
        in[i] += 0.8f;
    const BlockRun longRun = runThrough (44100.0f, in);
    for (size_t i = 30 * kBlock; i < 30 * kBlock + length; ++i)
        ASSERT_LT (std::abs (longRun.out[i + kDelay]), 0.25f) << "click sample " << i - 30 * kBlock;

    // The click flag holds for a tenth of a second.
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

    // A spike of 0.5 is a click in a quiet passage and music in a loud one.
    for (double scale : { 0.5, 2.2 })
    {
        std::vector<float> in = toneMixture (60 * kBlock, scale);
        in[30 * kBlock + 5] = 0.5f;
        EXPECT_EQ (runThrough (44100.0f, in).count (true) > 0, scale < 1.0) << scale;
    }

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

TEST (ZCrackleProcessor, CleanAudioPassesDelayedImpulsesAreRedrawnAndLongBurstsStayFinite)
{
    const std::vector<float> in = sine (200 * kBlock, 440.0, 0.5);
    const BlockRun r = runStage (*makeCrackle (44100.0f, 30.0f), in, kBlock);
    // Once the error envelope has settled the sine comes out untouched.
    for (size_t i = 44100; i + 291 < r.out.size(); ++i)
        ASSERT_EQ (r.out[i + 291], in[i]) << i;

    const std::vector<float> clean = sine (200 * kBlock, 200.0, 0.3);
    std::vector<float> clicked = clean;
    const size_t at = 150 * kBlock + 33;
    clicked[at] += 0.5f;
    const BlockRun repaired = runStage (*makeCrackle(), clicked, kBlock);
    EXPECT_LT (std::abs (repaired.out[at + 291] - clean[at]), 0.01f);
    EXPECT_GT (repaired.count (true), 0);

    // A burst longer than the longest impulse, and a NaN; a reset keeps the envelope.
    auto p = makeCrackle();
    std::mt19937 rng (4);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    std::vector<float> burst = sine (100 * kBlock, 200.0, 0.3);
    for (size_t i = 20000; i < 20700; ++i)
        burst[i] += u (rng);
    burst[30000] = std::numeric_limits<float>::quiet_NaN();

    EXPECT_EQ (firstBad (runStage (*p, burst, kBlock).out), -1);
    const float envelope = p->getEnvelope();
    EXPECT_TRUE (std::isfinite (envelope));
    p->reset();
    EXPECT_EQ (p->getEnvelope(), envelope);
}
