#include "ZDeclipping.h"
#include "ZSoftClip.h"
#include "ZWhittakerSmoother.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr unsigned kBlock = 512;
const float kCeiling = std::pow (10.0f, -0.1f / 20.0f) * 0.9999f * 1.000001f;

// Set up as the processor does: construction, defaults, then its prepare steps.
std::unique_ptr<ZDeclipping> makeDeclipper (float rate = 44100.0f, bool enabled = true)
{
    auto d = std::make_unique<ZDeclipping> (kBlock, 44100.0f);
    d->setDefaults();
    d->reset();
    d->setSampleRate (rate);
    d->setBlockSize (kBlock);
    d->enabled = enabled;
    return d;
}

// How much closer to the clean signal the output lies than the clipped input,
// over the samples that were clipped (beyond `level`) from `from` on, in dB.
double clippedSampleGain (const Signal& clean, const Signal& clipped, const BlockRun& run, size_t delay, float level, size_t from = 0)
{
    double before = 0.0, after = 0.0;
    for (size_t i = from; i + delay < run.out.size(); ++i)
        if (std::abs (clean[i]) >= level)
        {
            before += std::pow (clipped[i] - clean[i], 2.0);
            after += std::pow (run.out[i + delay] - clean[i], 2.0);
        }
    return 10.0 * std::log10 (before / after);
}

// A voiced vowel: glottal pulses at 120 Hz with vibrato through three formant
// resonators (700, 1200 and 2600 Hz), under a slow swell; peak 1.
Signal voicedVowel (size_t n)
{
    const double rate = 44100.0;
    const double formants[3][2] = { { 700.0, 90.0 }, { 1200.0, 110.0 }, { 2600.0, 160.0 } };
    double y1[3] = {}, y2[3] = {};
    double phase = 0.0, previous = 0.0;
    Signal v (n);
    for (size_t i = 0; i < n; ++i)
    {
        const double t = (double) i / rate;
        phase += 120.0 * (1.0 + 0.04 * std::sin (kTwoPi * 5.5 * t)) / rate;
        const double f = phase - std::floor (phase);
        const double pulse = f < 0.4 ? std::pow (std::sin (kTwoPi * 0.5 * f / 0.4), 2.0) : 0.0;
        double x = pulse - previous;
        previous = pulse;
        for (int k = 0; k < 3; ++k)
        {
            const double r = std::exp (-kTwoPi * 0.5 * formants[k][1] / rate), th = kTwoPi * formants[k][0] / rate;
            const double o = x + 2.0 * r * std::cos (th) * y1[k] - r * r * y2[k];
            y2[k] = y1[k];
            y1[k] = o;
            x = o;
        }
        v[i] = (float) (x * (0.3 + 0.7 * std::pow (std::sin (kTwoPi * 0.25 * t), 2.0)));
    }
    const float peak = peakOf (v);
    for (auto& x : v)
        x /= peak;
    return v;
}
} // namespace

TEST (ZDeclipping, SizesAndLatencyFollowTheRateDisabledIsALimitedDelayAndClipLevelsComeFromTheHistogram)
{
    auto d = makeDeclipper();
    EXPECT_EQ (d->getLatency(), 1702);
    EXPECT_EQ (d->getChunkLength(), 512);

    d->setSampleRate (8000.0f);
    EXPECT_EQ (d->getMaxRun(), 200);
    EXPECT_EQ (d->getChunkLength(), 93);
    EXPECT_EQ (d->getLatency(), 200 + 2 * 8 + 512);

    d->setSampleRate (192000.0f);
    EXPECT_EQ (d->getLatency(), 5184 + 512);

    // A rate that leaves no room for a run, a chunk or a margin is refused.
    for (float bad : { 0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN() })
    {
        d->setSampleRate (bad);
        EXPECT_EQ (d->getLatency(), 5184 + 512);
    }
    d->setSampleRate (500.0f); // a margin of 0 would leave nothing to join
    EXPECT_EQ (d->getMargin(), 1);

    // Disabled, it is a delay limited to the ceiling.
    d = makeDeclipper (44100.0f, false);
    // Plenty of samples near zero, so that no histogram spike forms.
    Signal in = uniformNoise (40 * kBlock, 0.5f, 2);
    for (size_t i = 20 * kBlock; i < 30 * kBlock; ++i)
        in[i] = i < 24 * kBlock ? 3.0f * in[i] : 1.5f; // loud, then clipped flat

    const BlockRun run = runStage (*d, in);
    EXPECT_EQ (run.count (true), 0);
    const size_t delay = 1702;
    EXPECT_EQ (firstBad (run.out.data(), delay, 0.0f), -1);
    // Clear of the loud passage and the limiter's ramps: exactly the input.
    for (size_t i = 0; i + delay < run.out.size(); ++i)
        ASSERT_TRUE (run.out[i + delay] == in[i] || (i + delay >= 18 * kBlock && i < 32 * kBlock)) << i;
    EXPECT_LE (peakOf (run.out), kCeiling);
    EXPECT_GT (peakOf (run.out), 0.98f);

    // Clip levels come from the histogram and include the level itself.
    d = makeDeclipper();
    runStage (*d, clip (sine (40 * kBlock, 440.0, 0.9), 0.54f));
    EXPECT_GT (d->getPositiveClipLevel(), 0.50f);
    EXPECT_LE (d->getPositiveClipLevel(), 0.54f);
    EXPECT_LT (d->getNegativeClipLevel(), -0.50f);
    EXPECT_GE (d->getNegativeClipLevel(), -0.54f);
    d->reset();
    EXPECT_EQ (d->getPositiveClipLevel(), 1.0f);

    // Neither the sharp peaks of an unclipped voice nor clicks of up to five
    // samples on it are a clip level: read as one, it would stay, and every
    // later peak beyond it would be redrawn.
    Signal clicked = voicedVowel (172 * kBlock);
    for (size_t at = 2000, width = 1; at < clicked.size(); at += 2000, width = width % 5 + 1)
        std::fill (clicked.begin() + (long) at, clicked.begin() + (long) (at + width), at % 4000 ? 0.95f : -0.95f);
    runStage (*d, clicked);
    EXPECT_EQ (d->getPositiveClipLevel(), 1.0f);
    EXPECT_EQ (d->getNegativeClipLevel(), -1.0f);

    // Without a spike the levels stay at full scale: only a sample at (or
    // beyond) them counts as clipped, and is redrawn from its neighbours.
    const size_t at = 10 * kBlock + 100, lag = 1702;
    for (float value : { 1.0f, -1.0f, 0.98f })
    {
        auto fresh = makeDeclipper();
        Signal in = uniformNoise (20 * kBlock, 0.05f, 2);
        in[at] = value;
        const BlockRun run = runStage (*fresh, in);
        ASSERT_EQ (fresh->getPositiveClipLevel(), 1.0f);
        ASSERT_EQ (fresh->getNegativeClipLevel(), -1.0f);
        const bool clipped = std::abs (value) == 1.0f;
        EXPECT_EQ (run.count (true), clipped ? 1 : 0) << value;
        EXPECT_TRUE (clipped ? std::abs (run.out[at + lag]) < 0.2f : run.out[at + lag] == value) << value;
    }
}

TEST (ZDeclipping, ClippedSinesAndVoiceComeBackLongRunsAreRepairedInPiecesAndHostileInputStaysUnderTheCeiling)
{
    // Sines clipped at 0.6 of the peak: the error on the clipped samples must
    // drop by 10 dB or more (the 20 Hz tone has runs of about 650 samples).
    // A voice clipped at a quarter of its peak: by 5 dB or more; the smoothest
    // curve alone drew arcs of up to twice the true height from the steep
    // pulse edges, and the error fell by 2 dB only.
    const struct { Signal clean; float level; size_t from; double gainDb; } cases[] = {
        { sine (176 * kBlock, 440.0, 0.9), 0.54f, 44100 / 2, 10.0 }, { sine (176 * kBlock, 100.0, 0.9), 0.54f, 44100 / 2, 10.0 },
        { sine (176 * kBlock, 20.0, 0.9), 0.54f, 44100 / 2, 10.0 }, { voicedVowel (172 * kBlock), 0.25f, 0, 5.0 } };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "clipped at " << c.level << ", " << c.clean.size() << " samples");
        const Signal clipped = clip (c.clean, c.level);
        auto d = makeDeclipper();
        const BlockRun run = runStage (*d, clipped);
        EXPECT_GE (clippedSampleGain (c.clean, clipped, run, (size_t) d->getLatency(), c.level, c.from), c.gainDb);
        EXPECT_LE (peakOf (run.out), kCeiling);
    }

    // Plateaus of about 1500 samples, longer than the longest run (1102).
    const Signal clipped = clip (sine (80 * kBlock, 8.5, 0.9), 0.54f);
    auto d = makeDeclipper();
    const BlockRun run = runStage (*d, clipped);
    const size_t delay = (size_t) d->getLatency();
    const float level = d->getPositiveClipLevel();

    // The second positive plateau (the first comes before the level is learned).
    size_t start = (size_t) (44100.0 / 8.5) + 1;
    while (clipped[start] < level)
        ++start;
    size_t end = start;
    while (clipped[end + 1] >= level)
        ++end;
    ASSERT_GT (end - start + 1, 1102u + 200u);

    auto largestChange = [&] (size_t from, size_t to)
    {
        float change = 0.0f;
        for (size_t i = from; i <= to; ++i)
            change = std::max (change, std::abs (run.out[i + delay] - clipped[i]));
        return change;
    };
    EXPECT_GT (largestChange (start + 100, start + 1000), 0.02f);
    EXPECT_GT (largestChange (start + 1102 + 20, end - 20), 0.02f);

    // Clipped at a fifth of the peak the redrawn peaks reach far over full scale.
    for (float rate : { 8000.0f, 44100.0f, 192000.0f })
    {
        auto d = makeDeclipper (rate);
        Signal in = clip (sine (200 * kBlock, 60.0, 1.5, rate), 0.3f);
        in[5000] = std::numeric_limits<float>::quiet_NaN();
        in[9000] = std::numeric_limits<float>::infinity();
        in[20000] = -3.0e38f;
        std::fill (in.begin() + 40000, in.begin() + 45000, 0.3f); // longer than any run

        const BlockRun run = runStage (*d, in);
        EXPECT_GT (run.count (true), 0);
        EXPECT_EQ (firstBad (run.out, kCeiling), -1) << rate << " Hz";
    }
}

TEST (ZSoftClip, OneBlockAheadAndNeverOverTheCeiling)
{
    std::unique_ptr<ZSoftClip> clip (ZSoftClip::create (kBlock));
    clip->setCeiling (-0.1f);

    std::mt19937 rng (5);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f), level (0.1f, 3.0f);
    ZBuffer block (kBlock, "ZBuffer"), input (kBlock, "ZBuffer"), previous (kBlock, "ZBuffer");
    for (int b = 0; b < 200; ++b)
    {
        const float scale = b < 4 ? 0.9f : level (rng); // quiet first, then anything
        for (unsigned i = 0; i < kBlock; ++i)
            input[i] = scale * u (rng);
        block.copy (input);
        clip->process (block, block); // in place
        for (unsigned i = 0; i < kBlock; ++i)
        {
            ASSERT_LE (std::abs (block[i]), kCeiling);
            ASSERT_TRUE (b >= 4 || block[i] == previous[i]) << "block " << b << ", sample " << i; // quiet: one block late
        }
        previous.copy (input);
    }
}

// The declipper's smoothest curve through the samples around a run.
TEST (ZWhittakerSmoother, LongGapIsBridgedAccuratelyAndTinyAndOversizedRegionsAreSafe)
{
    // A gap of 1102 unweighted samples in a parabola: the smoothest bridge is
    // the parabola itself. In single precision this system was solved with
    // overshoots of several times the signal.
    const int n = 1190, m = 44;
    ZWhittakerSmoother smoother (5184);
    std::vector<float> y ((size_t) n), w ((size_t) n, 1.0f), ref ((size_t) n);
    for (int i = 0; i < n; ++i)
    {
        const double t = (double) i / n;
        ref[(size_t) i] = (float) (0.2 + 0.5 * t - 0.3 * t * t);
        const bool gap = i >= m && i < n - m;
        y[(size_t) i] = gap ? 0.0f : ref[(size_t) i];
        w[(size_t) i] = gap ? 0.0f : 1.0f;
    }

    ASSERT_TRUE (smoother.smooth (y.data(), w.data(), (unsigned) n, 1.0f));
    for (int i = 0; i < n; ++i)
        ASSERT_NEAR (y[(size_t) i], ref[(size_t) i], 1.0e-3f) << i;

    // Regions after it reuse what they share with the earlier ones; they must
    // come out exactly as from a smoother that saw nothing before.
    for (auto [gap, lambda] : { std::pair (300, 1.0f), std::pair (1102, 1.0f), std::pair (1102, 2.0f), std::pair (600, 2.0f) })
    {
        const int len = gap + 2 * m;
        std::vector<float> a (ref.begin(), ref.begin() + len), b = a, wg ((size_t) len, 1.0f);
        std::fill (wg.begin() + m, wg.begin() + m + gap, 0.0f);
        ZWhittakerSmoother fresh (5184);
        ASSERT_TRUE (smoother.smooth (a.data(), wg.data(), (unsigned) len, lambda));
        ASSERT_TRUE (fresh.smooth (b.data(), wg.data(), (unsigned) len, lambda));
        EXPECT_EQ (a, b) << gap << " " << lambda;
    }

    ZWhittakerSmoother tiny (8);
    float two[] = { 0.5f, -0.25f }, twoW[] = { 1.0f, 1.0f };
    EXPECT_TRUE (tiny.smooth (two, twoW, 2, 1.0f));
    EXPECT_FLOAT_EQ (two[0], 0.5f);
    EXPECT_FLOAT_EQ (two[1], -0.25f);

    // Nothing weighted: zero pivots are replaced, the result stays finite.
    float none[] = { 1.0f, 2.0f, 3.0f }, noneW[] = { 0.0f, 0.0f, 0.0f };
    EXPECT_TRUE (tiny.smooth (none, noneW, 3, 1.0f));
    for (float x : none)
        EXPECT_TRUE (std::isfinite (x));

    std::vector<float> big (9, 0.3f), bigW (9, 1.0f);
    EXPECT_FALSE (tiny.smooth (big.data(), bigW.data(), 9, 1.0f));
    EXPECT_FLOAT_EQ (big[0], 0.3f);
}
