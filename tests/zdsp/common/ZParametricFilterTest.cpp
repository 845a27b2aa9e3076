#include <gtest/gtest.h>

#include "ZParametricFilter.h"
#include "TestSignals.h"

#include <tuple>

using namespace quarn;
using namespace clarivo_test;

namespace
{
std::unique_ptr<ZParametricFilter> makeFilter (float rate, int type = 0, float f = 1.0f, float q = 1.0f, float gain = 0.0f)
{
    auto filter = owned (ZParametricFilter::create (rate));
    if (type != 0)
        filter->setParameters (type, f, q, gain);
    return filter;
}

void expectSameCoefficients (const ZParametricFilter& a, const ZParametricFilter& b)
{
    EXPECT_FLOAT_EQ (a.getActiveCoefficients().b0, b.getActiveCoefficients().b0);
    EXPECT_FLOAT_EQ (a.getActiveCoefficients().a1, b.getActiveCoefficients().a1);
    EXPECT_FLOAT_EQ (a.getActiveCoefficients().a2, b.getActiveCoefficients().a2);
}

// The filter's steady-state gain in dB for a sine, measured over the last
// half of a run of `seconds`.
double gainDb (ZParametricFilter& filter, float rate, double frequency, double seconds = 1.0)
{
    const auto total = (size_t) (seconds * rate);
    const auto out = runStage (filter, sine ((total + 1023) / 1024 * 1024, frequency, 1.0, rate), 1024).out;
    return db (amplitudeAt (out, frequency, total / 2, total, rate));
}
} // namespace

TEST (ZParametricFilter, UnitySettingsPassBadOnesChangeNothingAndNyquistBecomes0475OfTheRate)
{
    ZBuffer in (512, "in"), out (512, "out");
    fillRandom (in, 1);
    makeFilter (44100.0f)->process (in, out);
    EXPECT_EQ (valuesOf (out), valuesOf (in));

    // Type 0 and types outside 1..7 are unity; so are peaking and shelves at 0 dB.
    for (int type : { 0, -1, 8, 1, 2, 3 })
    {
        auto filter = makeFilter (44100.0f);
        filter->setParameters (type, 1000.0f, 0.7f, 0.0f);
        filter->process (in, out);
        for (unsigned i = 0; i < 512; ++i)
            ASSERT_NEAR (out[i], in[i], 1e-5f) << "type " << type << " sample " << i;
    }

    // An invalid frequency, Q, gain or rate leaves everything as it was.
    auto filter = makeFilter (44100.0f, 4, 1000.0f, 0.707f);
    auto twin = makeFilter (44100.0f, 4, 1000.0f, 0.707f);
    ZBuffer x (16, "x");
    filter->process (x, x);
    twin->process (x, x);
    // The last gain lies beyond any finite coefficient.
    for (auto [type, f, q, gain] : { std::tuple { 5, 0.0f, 0.9f, 0.0f }, { 5, -100.0f, 0.9f, 0.0f }, { 5, 2000.0f, 0.0f, 0.0f },
                                     { 5, 2000.0f, -1.0f, 0.0f }, { 5, std::numeric_limits<float>::quiet_NaN(), 0.9f, 0.0f },
                                     { 1, 2000.0f, 0.9f, 1.0e6f } })
        filter->setParameters (type, f, q, gain);
    filter->setSampleRate (0.0f);
    filter->setSampleRate (44100.0f);
    filter->process (x, x);
    EXPECT_EQ (std::make_tuple (filter->getType(), filter->getFrequency(), filter->getQ()), std::make_tuple (4, 1000.0f, 0.707f));
    expectSameCoefficients (*filter, *twin);

    // A short output, or no rate, leaves the output untouched.
    ZBuffer shortOut (32, "out");
    std::fill_n (shortOut.getData(), 32, 7.0f);
    std::fill_n (out.getData(), 512, 7.0f);
    filter->process (in, shortOut);
    makeFilter (0.0f, 4, 1000.0f, 0.707f)->process (in, out);
    EXPECT_EQ (valuesOf (shortOut), Signal (32, 7.0f));
    EXPECT_EQ (valuesOf (out), Signal (512, 7.0f));

    // A frequency at or above half the rate becomes 0.475 of the rate.
    ZBuffer noise (64, "noise");
    fillRandom (noise, 2);
    auto reference = makeFilter (44100.0f, 4, 0.475f * 44100.0f, 0.707f);
    reference->process (noise, noise);
    for (float f : { 22050.0f, 30000.0f, 1.0e9f })
    {
        auto filter = makeFilter (44100.0f, 4, f, 0.707f);
        filter->process (noise, noise);
        expectSameCoefficients (*filter, *reference);
        // The requested frequency is kept, so a higher rate later takes it as asked.
        EXPECT_EQ (filter->getFrequency(), f);
    }
}

TEST (ZParametricFilter, NewCoefficientsStartAtTheNextBlockWithTheStateKept)
{
    auto filter = makeFilter (44100.0f, 4, 1000.0f, 0.707f);
    ZBuffer first (256, "first"), second (256, "second");
    fillRandom (first, 4);
    fillRandom (second, 5);
    std::vector<float> x (first.getData(), first.getData() + 256);
    x.insert (x.end(), second.getData(), second.getData() + 256);

    filter->process (first, first);
    const auto a = filter->getActiveCoefficients();

    filter->setParameters (5, 3000.0f, 0.9f, 0.0f);
    EXPECT_FLOAT_EQ (filter->getActiveCoefficients().b0, a.b0); // waits for the next block
    filter->process (second, second);
    const auto b = filter->getActiveCoefficients();
    EXPECT_NE (b.b0, a.b0);

    // Transposed direct form II, switching at sample 256 with the state carried over.
    double s1 = 0.0, s2 = 0.0;
    for (size_t i = 0; i < x.size(); ++i)
    {
        const auto& k = i < 256 ? a : b;
        const double y = k.b0 * x[i] + s1;
        s1 = k.b1 * x[i] + s2 - k.a1 * y;
        s2 = k.b2 * x[i] - k.a2 * y;
        const float got = i < 256 ? first[(unsigned) i] : second[(unsigned) (i - 256)];
        ASSERT_NEAR (got, y, 1e-5) << i;
    }
}

TEST (ZParametricFilter, EachShapeCutsWhereItShouldAtEveryRate)
{
    // With alpha = sin(w0) sinh(1 / 2Q) a low-pass's gain at its corner is 1 / (2 sinh(1 / 2Q)).
    const double corner = -20.0 * std::log10 (2.0 * std::sinh (1.0 / (2.0 * 0.707)));
    const struct { float rate; int type; float frequency, q, gain; double probe, seconds, low, high; } cases[] = {
        { 44100, 4, 1000, 0.707f, 0, 100, 1, -0.1, 0.1 },
        { 44100, 4, 1000, 0.707f, 0, 1000, 1, corner - 0.05, corner + 0.05 },
        { 44100, 4, 1000, 0.707f, 0, 10000, 1, -1000, -38 },
        { 44100, 5, 100, 0.9f, 0, 1000, 1, -0.1, 0.1 },
        { 44100, 5, 100, 0.9f, 0, 25, 2, -1000, -20 },
        // At 8 kHz the usual 8000 Hz low-pass becomes a 3800 Hz one rather
        // than an unstable filter.
        { 8000, 4, 8000, 0.707f, 0, 200, 1, -0.1, 0.1 },
        { 8000, 4, 8000, 0.707f, 0, 3999, 1, -1000, -6 },
        // Hum cuts: single-precision coefficients resolve a Q 60 cut this low
        // only so far, about 33 dB at 96 kHz and above; the next harmonics pass.
        { 8000, 1, 60, 60, -48, 60, 2, -1000, -47 },
        { 44100, 1, 60, 60, -48, 60, 2, -1000, -47 },
        { 48000, 1, 60, 60, -48, 60, 2, -1000, -47 },
        { 96000, 1, 60, 60, -48, 60, 2, -1000, -30 },
        { 192000, 1, 60, 60, -48, 60, 2, -1000, -30 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (testing::Message() << "type " << c.type << " at " << c.frequency << " Hz, rate " << c.rate << ", probe " << c.probe);
        const double gain = gainDb (*makeFilter (c.rate, c.type, c.frequency, c.q, c.gain), c.rate, c.probe, c.seconds);
        EXPECT_TRUE (gain >= c.low && gain <= c.high) << gain << " dB";
        if (c.type == 1)
        {
            EXPECT_NEAR (gainDb (*makeFilter (c.rate, 1, 60.0f, 60.0f, -48.0f), c.rate, 240.0, 2.0), 0.0, 0.1);
        }
    }
}

TEST (ZParametricFilter, AChainGivesWhatTheFiltersGiveOneAfterAnother)
{
    // Fourteen hum cuts and a rumble filter, one of them without a rate, and
    // a change of settings between the blocks.
    std::vector<std::unique_ptr<ZParametricFilter>> alone, chained;
    for (int copy = 0; copy < 2; ++copy)
    {
        auto& set = copy == 0 ? alone : chained;
        for (int k = 0; k < 14; ++k)
            set.push_back (makeFilter (44100.0f, 1, 60.0f * (float) (k + 1), 60.0f, -48.0f + 2.0f * (float) k));
        set.push_back (makeFilter (44100.0f, 5, 100.0f, 0.9f));
        set.push_back (makeFilter (0.0f, 4, 1000.0f, 0.7f));
    }
    std::vector<ZParametricFilter*> chain;
    for (auto& f : chained)
        chain.push_back (f.get());

    ZBuffer a (1024, "a"), b (1024, "b");
    for (int block = 0; block < 3; ++block)
    {
        fillRandom (a, 10 + (unsigned) block);
        b.copy (a);
        for (auto& f : alone)
            f->process (a, a);
        ZParametricFilter::processChain (chain.data(), (int) chain.size(), b);
        for (unsigned i = 0; i < 1024; ++i)
            ASSERT_EQ (a[i], b[i]) << block << " " << i;

        alone[3]->setParameters (1, 250.0f, 60.0f, -40.0f);
        chained[3]->setParameters (1, 250.0f, 60.0f, -40.0f);
    }
}

TEST (ZParametricFilter, StateRecoversFromDenormalsAndNonFiniteInput)
{
    auto filter = makeFilter (44100.0f, 4, 1000.0f, 0.707f);
    ZBuffer x (1024, "x");
    x[0] = 1.0f;
    filter->process (x, x);
    ZBuffer zeros (1024, "zeros");
    for (int block = 0; block < 200; ++block)
    {
        zeros.clear();
        filter->process (zeros, zeros);
    }
    // The decay reaches exact silence instead of lingering in denormals.
    EXPECT_EQ (zeros[1023], 0.0f);

    ZBuffer bad (64, "bad");
    bad[10] = std::numeric_limits<float>::quiet_NaN();
    filter->process (bad, bad);
    ZBuffer clean (64, "clean");
    fillRandom (clean, 6);
    filter->process (clean, clean);
    EXPECT_EQ (firstBad (clean), -1);
}
