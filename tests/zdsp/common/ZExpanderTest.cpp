#include "ZExpander.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;

Signal runThrough (ZExpander& e, const Signal& in)
{
    return runBlocks (in, kBlock, [&] (const ZBuffer& a, ZBuffer& b) { e.process (a, b); }).out;
}

// As the processor sets it up, with a ratio below (parameter 19).
void setUp (ZExpander& e, float ratioBelow, float thresholdLinear = 0.15f)
{
    e.setThresholdLinear (thresholdLinear);
    e.setMaxGain (0.0f);
    e.setRelease (30.0f);
    e.setRatioBelow (ratioBelow);
    e.reset();
    e.enabled = true;
}
} // namespace

TEST (ZExpander, CoefficientsAndThresholds)
{
    ZExpander e;
    EXPECT_NEAR (e.getAttackCoefficient(), 0.0044990f, 1.0e-6f);
    EXPECT_NEAR (e.getReleaseCoefficient(), 0.00045079f, 1.0e-7f);
    e.setSampleRate (96000.0f);
    EXPECT_NEAR (e.getAttackCoefficient(), 1.0f - std::pow (0.37f, 1.0f / 480.0f), 1.0e-7f);
    e.setRelease (-5.0f); // follows at once instead of swinging the envelope negative
    EXPECT_EQ (e.getReleaseCoefficient(), 1.0f);

    e.setThresholdLinear (0.15f);
    EXPECT_NEAR (e.getThresholdDb(), -16.478f, 1.0e-3f);
    e.setThresholdDb (-20.0f);
    EXPECT_NEAR (e.getThresholdLinear(), 0.01f, 1.0e-7f);
}

TEST (ZExpander, NeverRaisesTheLevelWithMaximumGainZero)
{
    std::mt19937 rng (11);
    std::normal_distribution<float> noise (0.0f, 1.0f);
    Signal in (300 * kBlock);
    for (size_t i = 0; i < in.size(); ++i) // levels across 40 dB, and digital silence
        in[i] = (i / 20000) % 4 == 3 ? 0.0f : 0.3f * std::pow (10.0f, -(float) ((i / 7000) % 3)) * noise (rng);

    for (float below : { 0.5f, 1.0f, 4.0f })
        for (float above : { 0.5f, 1.0f, 3.0f })
            for (float threshold : { 0.0f, 0.001f, 0.15f, 1.0f })
            {
                ZExpander e;
                setUp (e, below, threshold);
                e.setRatioAbove (above);
                const Signal out = runThrough (e, in);
                for (size_t i = 0; i < out.size(); ++i)
                    ASSERT_TRUE (std::abs (out[i]) <= std::abs (in[i]))
                        << "ratios " << below << "/" << above << ", threshold " << threshold << ", sample " << i;
                ASSERT_LE (e.getMeanGain(), 0.0f);
            }
}

TEST (ZExpander, HostileInputAndSettingsStayFinite)
{
    // Parameter 18 at 1.0 gives a linear threshold of 0 (-infinity dB), and
    // digital silence drives the envelope towards 0; the gain law then gave
    // infinity - infinity = NaN, which no later clamp catches.
    ZExpander e;
    setUp (e, 4.0f, 0.0f);
    Signal in (2000 * kBlock, 0.0f);
    const Signal tone = sine (20 * kBlock, 440.0, 0.5);
    std::copy (tone.begin(), tone.end(), in.end() - (long) tone.size());
    const Signal out = runThrough (e, in);
    EXPECT_EQ (firstBad (out), -1);
    // Nothing lies below a threshold of -infinity: the tone passes unchanged.
    EXPECT_NEAR (out.back(), in.back(), 1.0e-6f);

    // Long silence against the usual threshold keeps the envelope a normal number.
    e.setThresholdLinear (0.15f);
    runThrough (e, Signal (2000 * kBlock, 0.0f));
    EXPECT_TRUE (std::isfinite (e.getMeanGain()));
    EXPECT_TRUE (std::isnormal (e.getEnvelope()));

    // Non-finite and huge samples, and ratios that are not numbers.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Signal hostile = sine (40 * kBlock, 440.0, 0.05);
    hostile[100] = nan;
    hostile[2000] = inf;
    hostile[3000] = 3.0e38f;
    EXPECT_EQ (firstBad (runThrough (e, hostile)), -1);
    for (float ratio : { nan, inf, 1.0e30f })
    {
        e.setRatioBelow (ratio);
        e.setRatioAbove (ratio);
        e.setMaxGain (nan); // refused: the ceiling stays at 0 dB
        EXPECT_EQ (firstBad (runThrough (e, sine (8 * kBlock, 440.0, 0.05)), 0.05f), -1) << ratio;
        ASSERT_TRUE (std::isfinite (e.getMeanGain())) << ratio;
    }
}
