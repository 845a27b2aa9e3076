#include <gtest/gtest.h>

#include "ZNoiseAnalyzer.h"
#include "TestSignals.h"

#include <array>
#include <cstdint>
#include <functional>

using namespace quarn;

namespace
{
constexpr double kRate = 44100.0;
using clarivo_test::kTwoPi;
constexpr int kBlock = ZNoiseAnalyzer::kBlockSize;

// Notes of 0.2 to 0.5 s with a sharp attack and an exponential decay, at
// random pitches across the three bands and random loudness, over steady
// white noise of the given level: music-like material whose band energies
// keep changing.
class Notes
{
public:
    Notes (unsigned seed, double noiseRms) : rng (seed), noise (0.0f, 1.0f), noiseLevel ((float) noiseRms) {}

    float next()
    {
        if (remaining == 0)
            startNote();
        --remaining;
        double x = 0.0;
        for (auto& p : partials)
        {
            // Rotating phasors: an hour of notes without a sine per sample.
            x += p.weight * p.im;
            const double re = p.re * p.cosStep - p.im * p.sinStep;
            p.im = p.re * p.sinStep + p.im * p.cosStep;
            p.re = re;
        }
        const double y = envelope * x;
        envelope *= decay;
        return (float) y + noiseOnly();
    }

    float noiseOnly() { return noiseLevel > 0.0f ? noiseLevel * noise (rng) : 0.0f; }

private:
    struct Partial { double re = 1.0, im = 0.0, cosStep = 1.0, sinStep = 0.0, weight = 0.0; };

    void startNote()
    {
        std::uniform_real_distribution<double> unit (0.0, 1.0);
        remaining = (int) ((0.2 + 0.3 * unit (rng)) * kRate);
        envelope = 0.05 + 0.25 * unit (rng);
        decay = std::exp (-1.0 / ((0.05 + 0.2 * unit (rng)) * kRate));
        const double base = 60.0 * std::pow (2.0, 5.0 * unit (rng)); // 60 Hz .. 1.9 kHz
        for (size_t k = 0; k < partials.size(); ++k)
        {
            // Harmonics reaching into the top band now and then.
            const double f = std::min (base * std::pow (2.0, (double) k * (1.0 + 2.0 * unit (rng))), 20000.0);
            const double step = kTwoPi * f / kRate;
            partials[k] = { 1.0, 0.0, std::cos (step), std::sin (step), 1.0 / (1.0 + (double) k) };
        }
    }

    std::mt19937 rng;
    std::normal_distribution<float> noise;
    float noiseLevel;
    std::array<Partial, 4> partials {};
    int remaining = 0;
    double envelope = 0.0, decay = 1.0;
};

// Feeds `total` samples from `source` in 256-sample blocks, as the document does.
void analyse (ZNoiseAnalyzer& analyzer, std::int64_t total, const std::function<float (std::int64_t)>& source)
{
    analyzer.prepare (total);
    analyzer.setSensitivity (0.29f);
    std::vector<float> block (kBlock);
    for (std::int64_t start = 0; start < total; start += kBlock)
    {
        const int n = (int) std::min<std::int64_t> (kBlock, total - start);
        for (int i = 0; i < n; ++i)
            block[(size_t) i] = source (start + i);
        analyzer.analyzeBlock (block.data(), n);
    }
    analyzer.finishAnalysis();
}

std::int64_t seconds (double s)
{
    return (std::int64_t) (s * kRate);
}
} // namespace

TEST (ZNoiseAnalyzer, SensitivityAndRatioAreTiedItNeedsAtLeast54BlocksStopsAtItsCapacityAndSurvivesBrokenBlocks)
{
    ZNoiseAnalyzer analyzer;
    EXPECT_FLOAT_EQ (analyzer.getRatio(), 1.4f);
    EXPECT_FLOAT_EQ (analyzer.getSensitivity(), 1.0f / 3.0f);
    analyzer.setSampleRate (96000.0f);
    EXPECT_EQ (analyzer.getBlockSize(), 256);

    // Each setting moves the other; both are held to their ranges, and a NaN changes nothing.
    const struct { bool sensitivity; float value, ratio, sensitivityAfter; } settings[] = {
        { true, 0.29f, 1.361f, 0.29f }, { true, 2.0f, 2.0f, 1.0f }, { true, -1.0f, 1.1f, 0.0f },
        { false, 3.0f, 2.0f, 1.0f }, { false, std::numeric_limits<float>::quiet_NaN(), 2.0f, 1.0f } };
    for (const auto& s : settings)
    {
        s.sensitivity ? analyzer.setSensitivity (s.value) : analyzer.setRatio (s.value);
        EXPECT_NEAR (analyzer.getRatio(), s.ratio, 1e-6f) << s.value;
        EXPECT_NEAR (analyzer.getSensitivity(), s.sensitivityAfter, 1e-6f) << s.value;
    }

    ZNoiseAnalyzer counted;
    std::mt19937 rng (1);
    std::normal_distribution<float> noise (0.0f, 0.01f);
    auto white = [&] (std::int64_t) { return noise (rng); };

    // 54 blocks: three warm-up blocks and 51 analysed give two windows.
    analyse (counted, 54 * kBlock, white);
    EXPECT_GT (counted.getNoiseLength(), 0);

    // 53 blocks give one window: no result, and nothing of the previous one.
    analyse (counted, 53 * kBlock, white);
    EXPECT_EQ (counted.getNoiseStart(), 0);
    EXPECT_EQ (counted.getNoiseLength(), 0);
    EXPECT_EQ (counted.getConfidence(), 0.0f);

    // Blocks past the length given to prepare are ignored.
    counted.prepare (60 * kBlock);
    std::vector<float> block (kBlock, 0.1f);
    for (int i = 0; i < 100; ++i)
        counted.analyzeBlock (block.data(), kBlock);
    EXPECT_EQ (counted.getBlocksAnalysed(), 61);

    // No prepare, no analysis.
    ZNoiseAnalyzer unprepared;
    unprepared.analyzeBlock (block.data(), kBlock);
    unprepared.finishAnalysis();
    EXPECT_EQ (unprepared.getBlocksAnalysed(), 0);
    EXPECT_EQ (unprepared.getConfidence(), 0.0f);

    // Broken and short blocks leave a finite confidence.
    counted.prepare (100 * kBlock);
    std::fill (block.begin(), block.end(), 0.01f);
    block[7] = std::numeric_limits<float>::quiet_NaN();
    block[9] = std::numeric_limits<float>::infinity();
    for (int i = 0; i < 80; ++i)
        counted.analyzeBlock (block.data(), kBlock);
    counted.analyzeBlock (block.data(), 100); // a short last block
    counted.analyzeBlock (nullptr, kBlock);
    counted.finishAnalysis();
    EXPECT_TRUE (std::isfinite (counted.getConfidence()));

    // A length no table should hold analyses nothing instead of failing,
    // and nothing of the previous analysis is written to any more.
    counted.prepare (std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ (counted.getCapacity(), 0);
    for (int i = 0; i < 80; ++i)
        counted.analyzeBlock (block.data(), kBlock);
    counted.finishAnalysis();
    EXPECT_EQ (counted.getBlocksAnalysed(), 0);
    EXPECT_EQ (counted.getConfidence(), 0.0f);
    counted.prepare (-5);
    EXPECT_EQ (counted.getCapacity(), 1);
}

TEST (ZNoiseAnalyzer, FindsTheQuietStretchToTheBlockAndTakesTheLaterOfTwoEqualOnes)
{
    // In 256-sample blocks: loud noise of a new level every block, with two
    // equal quiet stretches of 80 blocks at 100 and 200 and digital silence
    // at 360..439. Each quiet block is one pattern under a gain that repeats
    // every 10 blocks, so every window of 50 blocks inside a stretch holds
    // the same energies, and as the stretches lie 100 blocks apart, each
    // window of the second finds them in the same places of the ring as its
    // twin in the first: their scores are equal to the last bit.
    std::mt19937 rng (7);
    std::uniform_real_distribution<float> unit (-1.0f, 1.0f);
    std::vector<float> pattern (kBlock), level (540);
    for (auto& x : pattern)
        x = 0.02f * unit (rng);
    for (auto& x : level)
        x = 0.6f + 0.3f * unit (rng);
    auto source = [&] (std::int64_t t)
    {
        const auto block = t / kBlock;
        const bool quiet = (block >= 100 && block < 180) || (block >= 200 && block < 280);
        if (quiet)
            return (float) (1.0 + 0.2 * std::sin (kTwoPi * (double) (block % 100) / 10.0)) * pattern[(size_t) (t % kBlock)];
        return block >= 360 && block < 440 ? 0.0f : level[(size_t) block] * unit (rng);
    };

    ZNoiseAnalyzer analyzer;
    analyse (analyzer, 540 * kBlock, source);

    // Window t covers the frames ending in blocks t + 3 .. t + 52; the steady
    // ones are 200 .. 227, and the region reaches one window past each end.
    EXPECT_EQ (analyzer.getNoiseStart(), 199 * kBlock);
    EXPECT_EQ (analyzer.getNoiseLength(), (228 + 49 - 199) * kBlock);
    // 1 - (region mean / mean of all windows): far steadier than the rest.
    EXPECT_GT (analyzer.getConfidence(), 0.95f);
    EXPECT_LT (analyzer.getConfidence(), 1.0f);
}

TEST (ZNoiseAnalyzer, SilenceIsNotNoiseAndAnHourOfLoudMaterialDoesNotBlurTheQuietNoise)
{
    // Notes over a faint noise floor, and a long gap of digital silence: the
    // fade into the gap is the quietest, steadiest place there is.
    const std::int64_t silenceStart = seconds (6.0), silenceEnd = seconds (12.0);
    Notes notes (5, 0.001);
    auto source = [&] (std::int64_t t) {
        return (t >= silenceStart && t < silenceEnd) ? 0.0f : notes.next();
    };

    ZNoiseAnalyzer analyzer;
    analyse (analyzer, seconds (18.0), source);
    const auto start = analyzer.getNoiseStart();
    const auto end = start + analyzer.getNoiseLength();
    const bool overlapsSilence = start < silenceEnd && end > silenceStart + kBlock;
    EXPECT_FALSE (overlapsSilence) << start << " .. " << end;

    // Sums carried across an hour of loud notes must not leave residue that
    // swamps the variance of the noise stretch at the end.
    const std::int64_t total = seconds (3600.0 + 10.0);
    const std::int64_t noiseStart = seconds (3600.0 + 3.0), noiseEnd = seconds (3600.0 + 6.0);
    Notes hourNotes (21, 0.01);
    auto hourSource = [&] (std::int64_t t) {
        return (t >= noiseStart && t < noiseEnd) ? hourNotes.noiseOnly() : hourNotes.next();
    };

    ZNoiseAnalyzer hourAnalyzer;
    analyse (hourAnalyzer, total, hourSource);
    EXPECT_GT (hourAnalyzer.getConfidence(), 0.6f);
    EXPECT_GE (hourAnalyzer.getNoiseStart(), noiseStart - 3 * kBlock);
    EXPECT_LE (hourAnalyzer.getNoiseStart() + hourAnalyzer.getNoiseLength(), noiseEnd);
}
