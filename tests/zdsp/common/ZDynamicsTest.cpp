// The chain's two per-channel dynamics stages: the downward expander and the
// boost's maximizer.
#include "ZExpander.h"
#include "ZMaximizer.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;
const float kTrim = 0.9998849f;
const float kCeiling = std::pow (10.0f, -0.3f / 20.0f);
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

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

TEST (ZExpander, CoefficientsThresholdsNeverRaisingTheLevelWithMaximumGainZeroAndHostileInputStaysFinite)
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
                const Signal out = runStage (e, in).out;
                for (size_t i = 0; i < out.size(); ++i)
                    ASSERT_TRUE (std::abs (out[i]) <= std::abs (in[i]))
                        << "ratios " << below << "/" << above << ", threshold " << threshold << ", sample " << i;
                ASSERT_LE (e.getMeanGain(), 0.0f);
            }

    // Parameter 18 at 1.0 gives a linear threshold of 0 (-infinity dB), and
    // digital silence drives the envelope towards 0; the gain law then gave
    // infinity - infinity = NaN, which no later clamp catches.
    ZExpander h;
    setUp (h, 4.0f, 0.0f);
    Signal silenceThenTone (2000 * kBlock, 0.0f);
    const Signal tone = sine (20 * kBlock, 440.0, 0.5);
    std::copy (tone.begin(), tone.end(), silenceThenTone.end() - (long) tone.size());
    const Signal out = runStage (h, silenceThenTone).out;
    EXPECT_EQ (firstBad (out), -1);
    // Nothing lies below a threshold of -infinity: the tone passes unchanged.
    EXPECT_NEAR (out.back(), silenceThenTone.back(), 1.0e-6f);

    // Long silence against the usual threshold keeps the envelope a normal number.
    h.setThresholdLinear (0.15f);
    runStage (h, Signal (2000 * kBlock, 0.0f));
    EXPECT_TRUE (std::isfinite (h.getMeanGain()));
    EXPECT_TRUE (std::isnormal (h.getEnvelope()));

    // Non-finite and huge samples, and ratios that are not numbers.
    Signal hostile = sine (40 * kBlock, 440.0, 0.05);
    hostile[100] = kNaN;
    hostile[2000] = kInf;
    hostile[3000] = 3.0e38f;
    EXPECT_EQ (firstBad (runStage (h, hostile).out), -1);
    for (float ratio : { kNaN, kInf, 1.0e30f })
    {
        h.setRatioBelow (ratio);
        h.setRatioAbove (ratio);
        h.setMaxGain (kNaN); // refused: the ceiling stays at 0 dB
        EXPECT_EQ (firstBad (runStage (h, sine (8 * kBlock, 440.0, 0.05)).out, 0.05f), -1) << ratio;
        ASSERT_TRUE (std::isfinite (h.getMeanGain())) << ratio;
    }
}

TEST (ZMaximizer, DelaysLiftsToTheCeilingMetersBoostsQuietAudioHoldsBurstsAndStaysFinite)
{
    auto m = makeBoost (false);
    EXPECT_EQ (m->getLatency(), (int) kBlock);
    const Signal in = sine (20 * kBlock, 300.0, 1.5);
    const Signal disabled = runStage (*m, in).out;
    for (size_t i = 0; i < disabled.size(); ++i)
        ASSERT_NEAR (disabled[i], i < kBlock ? 0.0f : in[i - kBlock] * kTrim, 1.0e-6f) << i;

    // Threshold 0 dB, ceiling -0.3 dB: quiet blocks are scaled by ceiling * trim
    // and blocks peaking at 2.0 come out peaking at ceiling * trim.
    m = makeBoost (true);
    const Signal quiet = sine (8 * kBlock, 441.0, 0.5);
    const Signal out = runStage (*m, quiet).out;
    for (size_t i = 3 * kBlock; i < out.size(); ++i)
        ASSERT_NEAR (out[i], quiet[i - kBlock] * kCeiling * kTrim, 1.0e-6f);
    m->reset();
    const Signal loud = runStage (*m, sine (8 * kBlock, 441.0, 2.0)).out;
    EXPECT_NEAR (peakOf ({ loud.begin() + 3 * kBlock, loud.end() }), kCeiling * kTrim, 1.0e-5f);

    // The meter moves 5 % of the way towards each block's required gain.
    m = makeBoost (true, -6.0f);
    EXPECT_NEAR (m->getMakeup(), 1.9275f, 1.0e-4f);
    EXPECT_FLOAT_EQ (m->getMeter(), 0.0f);
    runStage (*m, Signal (kBlock, 0.1f));
    EXPECT_NEAR (m->getMeter(), 20.0f * std::log10 (0.05f * m->getMakeup() * kTrim + 0.95f), 1.0e-5f);

    // Parameter 8 at 0.5 (threshold -20 dB): a -30 dBFS tone comes up by
    // 19.7 dB less the trim, and bursts up to 3.0 stay under ceiling * trim.
    m = makeBoost (true, -40.0f * 0.5f);
    Signal quietTone = sine (80 * kBlock, 440.0, std::pow (10.0, -30.0 / 20.0));
    const auto bursts = uniformNoise (80 * kBlock, 3.0f, 9);
    for (size_t burst = 30 * kBlock; burst < 50 * kBlock; burst += 10 * kBlock)
        std::copy_n (bursts.begin() + (long) burst, 1500, quietTone.begin() + (long) burst);

    const Signal boosted = runStage (*m, quietTone).out;
    EXPECT_LE (peakOf (boosted), kCeiling * kTrim * 1.000001f);
    // Before the bursts and again after them.
    EXPECT_NEAR (peakDb (boosted, 10 * kBlock, 30 * kBlock) - peakDb (quietTone, 9 * kBlock, 29 * kBlock), 19.699f, 0.01f);
    EXPECT_NEAR (peakDb (boosted, 60 * kBlock, 80 * kBlock) - peakDb (quietTone, 59 * kBlock, 79 * kBlock), 19.699f, 0.01f);

    // Parameter values outside [0, 1] pass unclamped: -4000 dB underflowed to
    // a threshold of 0, an infinite makeup, and silence times it was NaN.
    m = makeBoost (true, -40.0f * 100.0f);
    EXPECT_TRUE (std::isfinite (m->getMakeup()));
    m->setThreshold (kNaN); // refused
    EXPECT_TRUE (std::isfinite (m->getMakeup()));

    Signal hostile (10 * kBlock, 0.0f);
    hostile[3000] = kNaN;
    hostile[4000] = kInf;
    hostile[4500] = 1.0e-30f;
    EXPECT_EQ (firstBad (runStage (*m, hostile).out, kCeiling * kTrim * 1.000001f), -1);
}
