#include "ZMaximizer.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <limits>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;
const float kTrim = 0.9998849f;
const float kCeiling = std::pow (10.0f, -0.3f / 20.0f);

Signal runThrough (ZMaximizer& m, const Signal& in)
{
    return runBlocks (in, kBlock, [&] (const ZBuffer& a, ZBuffer& b) { m.process (a, b); }).out;
}

// As the processor sets it up; parameter 8 = v gives threshold -40 v dB.
std::unique_ptr<ZMaximizer> makeBoost (bool enabled, float thresholdDb = 0.0f)
{
    auto m = std::make_unique<ZMaximizer> (kBlock);
    m->init();
    m->setCeiling (-0.3f);
    m->setThreshold (thresholdDb);
    m->enabled = enabled;
    return m;
}

float peakDb (const Signal& v, size_t from, size_t to)
{
    return 20.0f * std::log10 (peakOf ({ v.begin() + (long) from, v.begin() + (long) to }));
}
} // namespace

TEST (ZMaximizer, DisabledIsOneBlockOfDelayTimesTheTrim)
{
    auto m = makeBoost (false);
    EXPECT_EQ (m->getLatency(), (int) kBlock);
    const Signal in = sine (20 * kBlock, 300.0, 1.5);
    const Signal out = runThrough (*m, in);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR (out[i], i < kBlock ? 0.0f : in[i - kBlock] * kTrim, 1.0e-6f) << i;
}

TEST (ZMaximizer, QuietBlocksGetTheMakeupLoudOnesEndAtTheCeiling)
{
    // Threshold 0 dB, ceiling -0.3 dB: quiet blocks are scaled by ceiling * trim
    // and blocks peaking at 2.0 come out peaking at ceiling * trim.
    auto m = makeBoost (true);
    const Signal quiet = sine (8 * kBlock, 441.0, 0.5);
    const Signal out = runThrough (*m, quiet);
    for (size_t i = 3 * kBlock; i < out.size(); ++i)
        ASSERT_NEAR (out[i], quiet[i - kBlock] * kCeiling * kTrim, 1.0e-6f);

    m->reset();
    const Signal loud = runThrough (*m, sine (8 * kBlock, 441.0, 2.0));
    EXPECT_NEAR (peakOf ({ loud.begin() + 3 * kBlock, loud.end() }), kCeiling * kTrim, 1.0e-5f);
}

TEST (ZMaximizer, MakeupAndMeter)
{
    auto m = makeBoost (true, -6.0f);
    EXPECT_NEAR (m->getMakeup(), 1.9275f, 1.0e-4f);

    // The meter moves 5 % of the way towards each block's required gain.
    EXPECT_FLOAT_EQ (m->getMeter(), 0.0f);
    runThrough (*m, Signal (kBlock, 0.1f));
    EXPECT_NEAR (m->getMeter(), 20.0f * std::log10 (0.05f * m->getMakeup() * kTrim + 0.95f), 1.0e-5f);
}

TEST (ZMaximizer, BoostLiftsQuietAudioAndHoldsBursts)
{
    // Parameter 8 at 0.5 (threshold -20 dB): a -30 dBFS tone comes up by
    // 19.7 dB less the trim, and bursts up to 3.0 stay under ceiling * trim.
    auto m = makeBoost (true, -40.0f * 0.5f);
    Signal in = sine (80 * kBlock, 440.0, std::pow (10.0, -30.0 / 20.0));
    const auto bursts = uniformNoise (80 * kBlock, 3.0f, 9);
    for (size_t burst = 30 * kBlock; burst < 50 * kBlock; burst += 10 * kBlock)
        std::copy_n (bursts.begin() + (long) burst, 1500, in.begin() + (long) burst);

    const Signal out = runThrough (*m, in);
    EXPECT_LE (peakOf (out), kCeiling * kTrim * 1.000001f);
    // Before the bursts and again after them.
    EXPECT_NEAR (peakDb (out, 10 * kBlock, 30 * kBlock) - peakDb (in, 9 * kBlock, 29 * kBlock), 19.699f, 0.01f);
    EXPECT_NEAR (peakDb (out, 60 * kBlock, 80 * kBlock) - peakDb (in, 59 * kBlock, 79 * kBlock), 19.699f, 0.01f);
}

TEST (ZMaximizer, HostileInputAndSettingsStayFinite)
{
    // Parameter values outside [0, 1] pass unclamped: -4000 dB underflowed to
    // a threshold of 0, an infinite makeup, and silence times it was NaN.
    auto m = makeBoost (true, -40.0f * 100.0f);
    EXPECT_TRUE (std::isfinite (m->getMakeup()));
    m->setThreshold (std::numeric_limits<float>::quiet_NaN()); // refused
    EXPECT_TRUE (std::isfinite (m->getMakeup()));

    Signal in (10 * kBlock, 0.0f);
    in[3000] = std::numeric_limits<float>::quiet_NaN();
    in[4000] = std::numeric_limits<float>::infinity();
    in[4500] = 1.0e-30f;
    EXPECT_EQ (firstBad (runThrough (*m, in), kCeiling * kTrim * 1.000001f), -1);
}
