#include "ZCrackleProcessor.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <random>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;

std::unique_ptr<ZCrackleProcessor> makeCrackle (float rate = 44100.0f, float thresholdDb = 10.0f)
{
    std::unique_ptr<ZCrackleProcessor> p (ZCrackleProcessor::create (kBlock, rate));
    p->setThreshold (thresholdDb);
    p->reset();
    return p;
}

BlockRun runThrough (ZCrackleProcessor& p, const std::vector<float>& in)
{
    return runBlocks (in, kBlock, [&] (const ZBuffer& a, ZBuffer& b) { return p.process (a, b, kBlock); });
}
} // namespace

TEST (ZCrackleProcessor, StepSize)
{
    EXPECT_FLOAT_EQ (makeCrackle (44100.0f)->getStepSize(), 0.005f);
    EXPECT_FLOAT_EQ (makeCrackle (8000.0f)->getStepSize(), 0.005f);
    // 0.005 * 100^(1 - 96000/44100) = 0.005 * 100^-1.1769
    EXPECT_NEAR (makeCrackle (96000.0f)->getStepSize(), 0.0000221f, 0.0000001f);
}

TEST (ZCrackleProcessor, CleanAudioPassesDelayed)
{
    auto p = makeCrackle (44100.0f, 30.0f);
    const std::vector<float> in = sine (200 * kBlock, 440.0, 0.5);
    const BlockRun r = runThrough (*p, in);
    // Once the error envelope has settled the sine comes out untouched.
    for (size_t i = 44100; i + 291 < r.out.size(); ++i)
        ASSERT_EQ (r.out[i + 291], in[i]) << i;
}

TEST (ZCrackleProcessor, OneSampleImpulseIsRedrawnFromItsNeighbours)
{
    auto p = makeCrackle();
    const std::vector<float> clean = sine (200 * kBlock, 200.0, 0.3);
    std::vector<float> in = clean;
    const size_t at = 150 * kBlock + 33;
    in[at] += 0.5f;

    const BlockRun r = runThrough (*p, in);
    EXPECT_LT (std::abs (r.out[at + 291] - clean[at]), 0.01f);
    EXPECT_GT (r.count (true), 0);
}

TEST (ZCrackleProcessor, LongBurstsStayFiniteAndResetKeepsTheEnvelope)
{
    auto p = makeCrackle();
    std::mt19937 rng (4);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    std::vector<float> in = sine (100 * kBlock, 200.0, 0.3);
    for (size_t i = 20000; i < 20700; ++i) // longer than the longest impulse
        in[i] += u (rng);
    in[30000] = std::numeric_limits<float>::quiet_NaN();

    for (float x : runThrough (*p, in).out)
        ASSERT_TRUE (std::isfinite (x));
    const float envelope = p->getEnvelope();
    EXPECT_TRUE (std::isfinite (envelope));
    p->reset();
    EXPECT_EQ (p->getEnvelope(), envelope);
}
