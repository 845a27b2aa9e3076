#include <gtest/gtest.h>

#include "ZSpectralCompressor.h"
#include "TestSignals.h"

#include <tuple>

using namespace quarn;
using clarivo_test::firstBad;
using clarivo_test::valuesOf;

namespace
{
constexpr unsigned kBins = 513;
constexpr float kRate = 44100.0f;

float dbToGain (float db)
{
    return std::pow (10.0f, db / 20.0f);
}

// A compressor whose smoothed power is the frame's own power (attack 1,
// release 0), without level tracking, so that one frame shows the table.
std::unique_ptr<ZSpectralCompressor> makeInstant (float reduction = 15.0f)
{
    std::unique_ptr<ZSpectralCompressor> compressor (ZSpectralCompressor::create (kBins, kRate));
    compressor->setGainCurve (reduction, 2.0f);
    compressor->setAttack (1.0f, 1.0f);
    compressor->setRelease (1.0f, 1.0f);
    compressor->setTrack (false);
    return compressor;
}

struct Spectrum
{
    ZBuffer re { kBins, "re" }, im { kBins, "im" };

    // Puts the power powerDb into bin i, all in the real part.
    void setPowerDb (unsigned i, float powerDb)
    {
        re[i] = std::sqrt (std::pow (10.0f, powerDb / 10.0f));
        im[i] = 0.0f;
    }

    void fillPowerDb (float powerDb)
    {
        for (unsigned i = 0; i < kBins; ++i)
            setPowerDb (i, powerDb);
    }

    void randomise (std::mt19937& rng, float scale = 1.0f)
    {
        std::normal_distribution<float> dist (0.0f, scale);
        for (unsigned i = 0; i < kBins; ++i)
        {
            re[i] = dist (rng);
            im[i] = dist (rng);
        }
    }
};
} // namespace

TEST (ZSpectralCompressor, GainCurveSmoothingTablesEntryChoiceByDistanceFromThresholdAndLevelTracking)
{
    std::unique_ptr<ZSpectralCompressor> fresh (ZSpectralCompressor::create (kBins, kRate));
    EXPECT_FLOAT_EQ (fresh->getRelease()[0], 0.9f);
    EXPECT_FLOAT_EQ (fresh->getAttack()[kBins - 1], 1.0f);
    fresh->setRelease (0.1f, 0.2f);
    EXPECT_NEAR (fresh->getRelease()[0], 0.9f, 1e-6f);
    EXPECT_NEAR (fresh->getRelease()[256], 0.85f, 1e-6f);
    EXPECT_NEAR (fresh->getRelease()[kBins - 1], 0.8f, 1e-6f);
    fresh->setAttack (0.15f, 0.225f);
    EXPECT_NEAR (fresh->getAttack()[0], 0.15f, 1e-6f);
    EXPECT_NEAR (fresh->getAttack()[kBins - 1], 0.225f, 1e-6f);

    auto compressor = makeInstant();
    const auto& table = *compressor->getGainTable();
    ASSERT_EQ (table.getLength(), 256u);
    auto expectCurve = [&] (auto db)
    {
        for (unsigned k = 0; k < 256; ++k)
            EXPECT_FLOAT_EQ (table[k], dbToGain (db ((float) k))) << k;
    };

    // Reduction 15, slope 2: full reduction up to entry 128, then -15, -13 ... -1 dB, then unity.
    expectCurve ([] (float k) { return k < 128 ? -15.0f : std::min (0.0f, -15.0f + 2.0f * (k - 128)); });
    // No reduction: unity above the threshold; a negative reduction boosts below it.
    compressor->setGainCurve (-6.0f, 2.0f);
    expectCurve ([] (float k) { return k < 128 ? 6.0f : 0.0f; });

    // A slope that never reaches 0 dB fills the table to its end and stops there.
    compressor->setGainCurve (100.0f, 0.25f);
    EXPECT_FLOAT_EQ (table[255], dbToGain (-100.0f + 0.25f * 127.0f));

    // Non-finite settings leave the curve as it was.
    compressor->setGainCurve (std::numeric_limits<float>::quiet_NaN(), 2.0f);
    EXPECT_FLOAT_EQ (table[255], dbToGain (-100.0f + 0.25f * 127.0f));

    // Bins pick their table entry by their distance from the threshold.
    auto picker = makeInstant();
    picker->setThreshold (-60.0f);
    picker->setThresholdOffset (3.0f); // bins are compared with -57 dB

    // Bins below 32 are not smoothed across frequency, so each shows its own
    // entry. Bin, distance from -57 dB, gain in dB: within 1 dB above or below
    // is entry 128, 1.5 dB above entry 129, 6.5 dB entry 134; far above is
    // bounded at entry 255 (127.5 dB is 255 exactly); far below is entry 0.
    const std::tuple<unsigned, float, float> bins[] = { { 4, 0.9f, -15.0f }, { 6, -0.9f, -15.0f }, { 8, 1.5f, -13.0f }, { 10, 6.5f, -3.0f },
                                                        { 12, 200.0f, 0.0f }, { 14, -140.0f, -15.0f }, { 16, 127.5f, 0.0f } };
    Spectrum s;
    s.fillPowerDb (-57.0f);
    for (auto [bin, distance, gain] : bins)
        s.setPowerDb (bin, -57.0f + distance);
    const auto inRe = valuesOf (s.re);
    picker->process (s.re, s.im, s.re, s.im);
    for (auto [bin, distance, gain] : bins)
        EXPECT_FLOAT_EQ (s.re[bin] / inRe[bin], dbToGain (gain)) << bin << " at " << distance << " dB";
    EXPECT_EQ (firstBad (s.re), -1);

    // The factory's gain object is the vectorised one on this processor: a
    // power of -190 dB reads as about -190 dB (not the plain rule's -96), so
    // against a threshold of -185 dB the bin is fully reduced.
    picker->setThreshold (-185.0f);
    picker->setThresholdOffset (0.0f);
    s.fillPowerDb (-185.0f);
    s.setPowerDb (10, -190.0f);
    const float before = s.re[10];
    picker->process (s.re, s.im, s.re, s.im);
    EXPECT_FLOAT_EQ (s.re[10] / before, dbToGain (-15.0f));

    // Level tracking relaxes loud frames.
    picker = makeInstant();
    picker->setThreshold (0.0f); // every bin far below: full reduction
    picker->setTrack (true);
    picker->setTrackFloor (-36.0f);
    picker->setTrackRange (18.0f);
    picker->setLevelAttack (0.0f); // the level follows at once
    picker->setLevelRelease (0.0f);

    // Total power at floor + range: every gain becomes 1; at the floor: the
    // gains as computed, full reduction.
    const float perBin = -18.0f - 10.0f * std::log10 ((float) kBins);
    for (auto [powerDb, gain] : { std::pair { perBin, 1.0f }, { perBin - 18.0f, dbToGain (-15.0f) } })
    {
        s.fillPowerDb (powerDb);
        const auto before = valuesOf (s.re);
        picker->process (s.re, s.im, s.re, s.im);
        for (unsigned i = 0; i < kBins; ++i)
            ASSERT_NEAR (s.re[i] / before[i], gain, 1e-5f) << powerDb << " dB, bin " << i;
    }
}

TEST (ZSpectralCompressor, FrequencyLimitsBoundTheReducedBandAndNonFiniteFramesAreRecoveredFrom)
{
    auto reduce = makeInstant();
    auto noiseOnly = makeInstant();
    for (auto* c : { reduce.get(), noiseOnly.get() })
    {
        c->setThreshold (0.0f);
        c->setFrequencyRange (5000.0f, 1000.0f);
    }

    Spectrum a, b;
    a.fillPowerDb (-40.0f);
    b.fillPowerDb (-40.0f);
    const float in = a.re[0];
    reduce->process (a.re, a.im, a.re, a.im);
    noiseOnly->processNoiseOnly (b.re, b.im, b.re, b.im);

    const float binHz = kRate * 0.5f / (float) kBins;
    for (unsigned i = 0; i < kBins; ++i)
    {
        const float f = (float) i * binHz;
        // Away from the edges, where the smoothing across frequency blends the two sides.
        if (f < 1000.0f - 6 * binHz || f > 5000.0f + 6 * binHz)
        {
            ASSERT_NEAR (a.re[i], in, 1e-6f) << i;
            ASSERT_NEAR (b.re[i], 0.0f, 1e-6f) << i;
        }
        else if (f > 1000.0f + 6 * binHz && f < 5000.0f - 6 * binHz)
        {
            ASSERT_NEAR (a.re[i], in * dbToGain (-15.0f), 1e-6f) << i;
            ASSERT_NEAR (b.re[i], in * (1.0f - dbToGain (-15.0f)), 1e-6f) << i;
        }
    }

    // Non-finite frames are recovered from.
    auto compressor = makeInstant();
    compressor->setAttack (0.15f, 0.225f);
    compressor->setRelease (0.1f, 0.2f);
    compressor->setTrack (true);
    compressor->setThreshold (-60.0f);

    std::mt19937 rng (3);
    Spectrum bad;
    bad.randomise (rng);
    bad.re[40] = std::numeric_limits<float>::quiet_NaN();
    bad.im[41] = std::numeric_limits<float>::infinity();
    bad.re[42] = 1e30f; // its power overflows
    compressor->process (bad.re, bad.im, bad.re, bad.im);
    EXPECT_TRUE (std::isfinite (compressor->getLevel()));

    for (int frame = 0; frame < 3; ++frame)
    {
        Spectrum clean;
        clean.randomise (rng);
        compressor->process (clean.re, clean.im, clean.re, clean.im);
        EXPECT_EQ (std::max (firstBad (clean.re), firstBad (clean.im)), -1) << frame;
    }

    // A compressor whose curve was never set passes frames through.
    std::unique_ptr<ZSpectralCompressor> fresh (ZSpectralCompressor::create (kBins, kRate));
    Spectrum s;
    s.randomise (rng);
    const float r = s.re[100];
    fresh->process (s.re, s.im, s.re, s.im);
    EXPECT_EQ (s.re[100], r);
}

TEST (ZSpectralSmoother, SmoothsWithAUnitKernelAwayFromTheEdges)
{
    std::unique_ptr<ZSpectralSmoother> smoother (ZSpectralSmoother::create (6));
    const float* kernel = smoother->getKernel();

    float sum = kernel[0];
    for (int k = 1; k < 6; ++k)
    {
        sum += 2.0f * kernel[k];
        EXPECT_LT (kernel[k], kernel[k - 1]);
    }
    EXPECT_NEAR (sum, 1.0f, 1e-6f);

    ZBuffer in (kBins, "in"), out (kBins, "out");
    in[20] = 1.0f;  // below 32: passes
    in[100] = 1.0f; // spreads into the 11 taps
    in[510] = 1.0f; // top 6 bins: pass
    smoother->smooth (in, out);
    EXPECT_EQ (out[20], 1.0f);
    EXPECT_EQ (out[510], 1.0f);
    for (int k = -5; k <= 5; ++k)
        EXPECT_FLOAT_EQ (out[(unsigned) (100 + k)], kernel[std::abs (k)]);
    EXPECT_EQ (out[94], 0.0f);
    EXPECT_EQ (out[106], 0.0f);

    // Too short a buffer is copied.
    ZBuffer shortIn (8, "in"), shortOut (8, "out");
    shortIn[3] = 2.0f;
    smoother->smooth (shortIn, shortOut);
    EXPECT_EQ (shortOut[3], 2.0f);
}
