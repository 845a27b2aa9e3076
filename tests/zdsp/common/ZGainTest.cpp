#include <gtest/gtest.h>

#include "ZGain.h"

#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

using namespace quarn;

namespace
{
std::unique_ptr<ZBuffer> makeBuffer (std::initializer_list<float> values)
{
    auto buffer = std::make_unique<ZBuffer> ((unsigned) values.size(), "ZBuffer");
    unsigned i = 0;
    for (float v : values)
        (*buffer)[i++] = v;
    return buffer;
}

std::unique_ptr<ZBuffer> makeRandom (unsigned n, unsigned seed, float low = -1.0f, float high = 1.0f)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (low, high);
    auto buffer = std::make_unique<ZBuffer> (n, "ZBuffer");
    for (unsigned i = 0; i < n; ++i)
        (*buffer)[i] = dist (rng);
    return buffer;
}

std::vector<float> contents (const ZBuffer& b)
{
    return std::vector<float> (b.getData(), b.getData() + b.getLength());
}

// Both variants, for the rules they share.
class BothGains : public ::testing::TestWithParam<bool>
{
protected:
    BothGains() : gain (GetParam() ? static_cast<ZGain*> (new ZGainAccelerate()) : new ZGain()) {}
    std::unique_ptr<ZGain> gain;
};

INSTANTIATE_TEST_SUITE_P (ZGain, BothGains, ::testing::Values (false, true),
                          [] (const auto& info) { return info.param ? "Accelerate" : "Plain"; });

constexpr float kTiny = 1e-30f;
constexpr float kSmallGain = 1e-10f;
} // namespace

TEST_P (BothGains, ScalesAndRamps)
{
    auto b = makeBuffer ({ 1.0f, -2.0f });
    gain->scale (*b, 0.5f);
    EXPECT_EQ ((std::vector<float> { 0.5f, -1.0f }), contents (*b));

    auto r = makeBuffer ({ 1.0f, 1.0f, 1.0f, 1.0f });
    gain->ramp (*r, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ (0.0f, (*r)[0]);
    EXPECT_FLOAT_EQ (1.0f / 3.0f, (*r)[1]);
    EXPECT_FLOAT_EQ (2.0f / 3.0f, (*r)[2]);
    EXPECT_FLOAT_EQ (1.0f, (*r)[3]);

    // A single sample takes the start gain.
    auto one = makeBuffer ({ 2.0f });
    gain->ramp (*one, 0.25f, 4.0f);
    EXPECT_FLOAT_EQ (0.5f, (*one)[0]);

    auto range = makeBuffer ({ 1.0f, 1.0f, 1.0f, 1.0f, 1.0f });
    gain->scaleRange (*range, 1, 3, 3.0f);
    EXPECT_EQ ((std::vector<float> { 1.0f, 3.0f, 3.0f, 3.0f, 1.0f }), contents (*range));
}

TEST_P (BothGains, ScaleWithRangeReportsTheScaledExtremes)
{
    auto b = makeBuffer ({ 1.0f, 2.0f, 3.0f });
    float lo = 0.0f, hi = 0.0f;
    gain->scaleWithRange (*b, lo, hi, 1.0f);
    EXPECT_EQ (1.0f, lo);
    EXPECT_EQ (3.0f, hi);

    // Values beyond +-100 are reported as they are, not as the +-100 start values.
    auto big = makeBuffer ({ 200.0f, 300.0f });
    gain->scaleWithRange (*big, lo, hi, 2.0f);
    EXPECT_EQ (400.0f, lo);
    EXPECT_EQ (600.0f, hi);

    auto low = makeBuffer ({ -300.0f, -150.0f });
    gain->scaleWithRange (*low, lo, hi, 1.0f);
    EXPECT_EQ (-300.0f, lo);
    EXPECT_EQ (-150.0f, hi);
}

TEST_P (BothGains, CountedOperationsStopAtTheCount)
{
    auto a = makeBuffer ({ 1.0f, 2.0f, 3.0f });
    auto b = makeBuffer ({ 3.0f, 4.0f, 5.0f });
    EXPECT_EQ (0.0f, gain->multiplyAndSum (*a, *b, 0));
    EXPECT_EQ ((std::vector<float> { 1.0f, 2.0f, 3.0f }), contents (*a));

    auto d = makeBuffer ({ 1.0f, 1.0f, 1.0f });
    gain->scaleAddCount (*a, *d, 2, 2.0f);
    EXPECT_EQ ((std::vector<float> { 3.0f, 5.0f, 1.0f }), contents (*d));

    gain->multiplyAddCount (*a, *b, *d, 1);
    EXPECT_EQ ((std::vector<float> { 6.0f, 5.0f, 1.0f }), contents (*d));

    auto c = makeBuffer ({ 9.0f, 9.0f, 9.0f, 9.0f });
    gain->scaleCopyRange (*a, *c, 1, 2, 10.0f);
    EXPECT_EQ ((std::vector<float> { 9.0f, 20.0f, 30.0f, 9.0f }), contents (*c));

    // a[0..1] * b[1..2] into c[2..3].
    gain->multiplyCopyRange (*a, *b, *c, 0, 2, 1, 2);
    EXPECT_EQ ((std::vector<float> { 9.0f, 20.0f, 4.0f, 10.0f }), contents (*c));

    gain->scaleAddAt (*a, *c, 1, 1.0f);
    EXPECT_EQ ((std::vector<float> { 9.0f, 21.0f, 6.0f, 13.0f }), contents (*c));
}

TEST_P (BothGains, AccumulatingOperationsAddToTheDestination)
{
    auto s = makeBuffer ({ 1.0f, 2.0f, 3.0f, 4.0f });
    auto m = makeBuffer ({ 2.0f, 2.0f, 0.5f, 0.5f });
    auto d = makeBuffer ({ 1.0f, 1.0f, 1.0f, 1.0f });

    gain->scaleAdd (*s, *d, 2.0f);
    EXPECT_EQ ((std::vector<float> { 3.0f, 5.0f, 7.0f, 9.0f }), contents (*d));

    gain->multiplyAdd (*s, *m, *d);
    EXPECT_EQ ((std::vector<float> { 5.0f, 9.0f, 8.5f, 11.0f }), contents (*d));

    gain->rampAdd (*s, *d, 0.0f, 3.0f);
    EXPECT_FLOAT_EQ (5.0f, (*d)[0]);
    EXPECT_FLOAT_EQ (11.0f, (*d)[1]);
    EXPECT_FLOAT_EQ (14.5f, (*d)[2]);
    EXPECT_FLOAT_EQ (23.0f, (*d)[3]);
}

TEST_P (BothGains, PeaksOfPositiveResultsAgree)
{
    auto s = makeBuffer ({ 0.25f, 0.5f, 0.125f });
    auto d = makeBuffer ({ 0.0f, 0.0f, 0.0f });
    EXPECT_EQ (1.0f, gain->scaleCopyAndPeak (*s, *d, 2.0f));
    EXPECT_EQ (2.0f, gain->scaleAddAndPeak (*s, *d, 2.0f));
    EXPECT_EQ (0.25f, gain->multiplyCopyAndPeak (*s, *s, *d));
    EXPECT_FLOAT_EQ (0.25f, gain->rampCopyAndPeak (*s, *d, 1.0f, 0.0f));
    EXPECT_FLOAT_EQ (0.5f, gain->multiplyAddAndPeak (*s, *s, *d));
}

TEST_P (BothGains, AmplitudeToDecibels)
{
    auto b = makeBuffer ({ 1.0f, 0.1f, 1e-6f, 0.0f, -1.0f });
    gain->amplitudeToDecibels (*b);
    EXPECT_FLOAT_EQ (0.0f, (*b)[0]);
    EXPECT_FLOAT_EQ (-20.0f, (*b)[1]);
    EXPECT_EQ (-96.0f, (*b)[2]);
    EXPECT_EQ (-96.0f, (*b)[3]);
    EXPECT_EQ (-96.0f, (*b)[4]);
}

TEST_P (BothGains, ComplexMultiplyWorksInPlace)
{
    // (1 + 2i)(3 + 4i) = -5 + 10i; (0.5 - i)(2 + 0i) = 1 - 2i
    auto aRe = makeBuffer ({ 1.0f, 0.5f });
    auto aIm = makeBuffer ({ 2.0f, -1.0f });
    auto bRe = makeBuffer ({ 3.0f, 2.0f });
    auto bIm = makeBuffer ({ 4.0f, 0.0f });

    gain->complexMultiply (*aRe, *aIm, *bRe, *bIm, *aRe, *aIm);
    EXPECT_EQ ((std::vector<float> { -5.0f, 1.0f }), contents (*aRe));
    EXPECT_EQ ((std::vector<float> { 10.0f, -2.0f }), contents (*aIm));

    // Into the second operand, and with the outputs swapped onto the inputs.
    auto cRe = makeBuffer ({ 1.0f });
    auto cIm = makeBuffer ({ 2.0f });
    auto dRe = makeBuffer ({ 3.0f });
    auto dIm = makeBuffer ({ 4.0f });
    gain->complexMultiply (*cRe, *cIm, *dRe, *dIm, *dRe, *dIm);
    EXPECT_EQ (-5.0f, (*dRe)[0]);
    EXPECT_EQ (10.0f, (*dIm)[0]);

    auto eRe = makeBuffer ({ 1.0f });
    auto eIm = makeBuffer ({ 2.0f });
    auto fRe = makeBuffer ({ 3.0f });
    auto fIm = makeBuffer ({ 4.0f });
    gain->complexMultiply (*eRe, *eIm, *fRe, *fIm, *eIm, *eRe);
    EXPECT_EQ (-5.0f, (*eIm)[0]);
    EXPECT_EQ (10.0f, (*eRe)[0]);
}

TEST_P (BothGains, GuardedProductInRangeAndOverlapAddKeepsDenormalsOut)
{
    // multiplyCopyRange and scaleAddAt guard their products in both variants:
    // exponent fields summing below 128 give +0.
    auto tiny = makeBuffer ({ kTiny, -kTiny });
    auto d = makeBuffer ({ 0.0f, 0.0f });
    gain->scaleAddAt (*tiny, *d, 0, kSmallGain);
    EXPECT_EQ (0.0f, (*d)[0]);
    EXPECT_FALSE (std::signbit ((*d)[1]));

    // 2^-63 * 2^-63 = 2^-126 is the smallest normal and is kept;
    // 2^-63 * 2^-64 would be a denormal and becomes 0.
    auto a = makeBuffer ({ std::ldexp (1.0f, -63), std::ldexp (1.0f, -63) });
    auto b = makeBuffer ({ std::ldexp (1.0f, -63), std::ldexp (1.0f, -64) });
    auto out = makeBuffer ({ 5.0f, 5.0f });
    gain->multiplyCopyRange (*a, *b, *out, 0, 0, 0, 2);
    EXPECT_EQ (std::ldexp (1.0f, -126), (*out)[0]);
    EXPECT_EQ (0.0f, (*out)[1]);
}

TEST (ZGainPlain, CopiesAndSumsGuardTheirProductsInPlaceOperationsDoNot)
{
    ZGain gain;
    auto s = makeBuffer ({ kTiny });
    auto d = makeBuffer ({ 1.0f });
    gain.scaleCopy (*s, *d, kSmallGain);
    EXPECT_EQ (0.0f, (*d)[0]);

    auto m = makeBuffer ({ kSmallGain });
    gain.multiplyCopy (*s, *m, *d);
    EXPECT_EQ (0.0f, (*d)[0]);

    auto acc = makeBuffer ({ 0.0f });
    gain.scaleAdd (*s, *acc, kSmallGain);
    EXPECT_EQ (0.0f, (*acc)[0]);

    gain.scale (*s, kSmallGain);
    EXPECT_NE (0.0f, (*s)[0]);
    EXPECT_EQ (FP_SUBNORMAL, std::fpclassify ((*s)[0]));
}

TEST (ZGainAccelerate, MultipliesPlainlyEverywhereItOverrides)
{
    ZGainAccelerate gain;
    auto s = makeBuffer ({ kTiny });
    auto d = makeBuffer ({ 1.0f });
    gain.scaleCopy (*s, *d, kSmallGain);
    EXPECT_EQ (FP_SUBNORMAL, std::fpclassify ((*d)[0]));

    auto acc = makeBuffer ({ 0.0f });
    gain.scaleAdd (*s, *acc, kSmallGain);
    EXPECT_EQ (FP_SUBNORMAL, std::fpclassify ((*acc)[0]));

    gain.scale (*s, kSmallGain);
    EXPECT_EQ (FP_SUBNORMAL, std::fpclassify ((*s)[0]));
}

TEST (ZGainVariants, PeaksDifferForNegativeResults)
{
    ZGain plain;
    ZGainAccelerate accelerated;

    auto a = makeBuffer ({ -3.0f, 1.0f });
    EXPECT_EQ (3.0f, plain.scaleAndPeak (*a, 1.0f));
    auto b = makeBuffer ({ -3.0f, 1.0f });
    EXPECT_EQ (1.0f, accelerated.scaleAndPeak (*b, 1.0f));

    // All negative: the value closest to zero.
    auto c = makeBuffer ({ -3.0f, -1.0f, -2.0f });
    EXPECT_EQ (-1.0f, accelerated.scaleAndPeak (*c, 1.0f));
    auto d = makeBuffer ({ -3.0f, -1.0f, -2.0f });
    EXPECT_EQ (3.0f, plain.scaleAndPeak (*d, 1.0f));
}

TEST (ZGainVariants, MultiplyAndSum)
{
    ZGain plain;
    ZGainAccelerate accelerated;
    auto b = makeBuffer ({ 3.0f, 4.0f });

    auto a1 = makeBuffer ({ 1.0f, 2.0f });
    EXPECT_EQ (11.0f, plain.multiplyAndSum (*a1, *b, 2));
    EXPECT_EQ ((std::vector<float> { 3.0f, 8.0f }), contents (*a1));

    auto a2 = makeBuffer ({ 1.0f, 2.0f });
    EXPECT_EQ (11.0f, accelerated.multiplyAndSum (*a2, *b, 2));
    EXPECT_EQ ((std::vector<float> { 1.0f, 2.0f }), contents (*a2));
}

TEST (ZGainVariants, PowerToDecibels)
{
    ZGain plain;
    ZGainAccelerate accelerated;

    auto p = makeBuffer ({ 1.0f, 0.01f, 0.0f, 2.5e-10f });
    plain.powerToDecibels (*p);
    EXPECT_FLOAT_EQ (0.0f, (*p)[0]);
    EXPECT_FLOAT_EQ (-20.0f, (*p)[1]);
    EXPECT_EQ (-96.0f, (*p)[2]);
    EXPECT_EQ (-96.0f, (*p)[3]);

    auto a = makeBuffer ({ 1.0f, 0.01f, 0.0f });
    accelerated.powerToDecibels (*a);
    EXPECT_FLOAT_EQ (0.0f, (*a)[0]);
    EXPECT_FLOAT_EQ (-20.0f, (*a)[1]);
    EXPECT_FLOAT_EQ (-200.0f, (*a)[2]);

    auto pf = makeBuffer ({ 1e-6f, 0.1f });
    plain.powerToDecibels (*pf, -48.0f);
    EXPECT_EQ (-48.0f, (*pf)[0]);
    EXPECT_FLOAT_EQ (-10.0f, (*pf)[1]);

    auto af = makeBuffer ({ 1e-6f });
    accelerated.powerToDecibels (*af, -48.0f);
    EXPECT_NEAR (10.0 * std::log10 (1e-6 + std::pow (10.0, -4.8)), (*af)[0], 1e-4);
    EXPECT_NEAR (-47.73f, (*af)[0], 0.01f);
}

TEST (ZGainAccelerate, RampTableFollowsLengthAndGainChanges)
{
    ZGainAccelerate gain;

    auto check = [&] (unsigned n, float start, float end)
    {
        ZBuffer ones (n, "ZBuffer");
        for (unsigned i = 0; i < n; ++i)
            ones[i] = 1.0f;
        ZBuffer out (n, "ZBuffer");
        gain.rampCopy (ones, out, start, end);
        const float step = n > 1 ? (end - start) / float (n - 1) : 0.0f;
        for (unsigned i = 0; i < n; ++i)
            EXPECT_NEAR (start + step * float (i), out[i], 1e-5f) << "n " << n << " i " << i;
        EXPECT_NEAR (n > 1 ? end : start, out[n - 1], 1e-5f);
    };

    check (4, 0.0f, 1.0f);
    check (4, 0.0f, 1.0f); // reused
    check (4, 1.0f, 0.0f); // refilled
    check (4, 1.0f, 0.5f); // refilled, end only
    check (513, 0.0f, 2.0f); // longer
    check (3, -1.0f, 1.0f); // shorter
    check (1, 0.7f, 0.1f); // a single sample: the start gain
    check (1024, 0.5f, 0.5f);

    // The table serves the in-place and accumulating ramps too.
    auto b = makeBuffer ({ 2.0f, 2.0f, 2.0f });
    gain.ramp (*b, 1.0f, 0.0f);
    EXPECT_EQ ((std::vector<float> { 2.0f, 1.0f, 0.0f }), contents (*b));
    EXPECT_EQ (2.0f, gain.rampAddAndPeak (*b, *b, 0.0f, 1.0f));
    EXPECT_EQ ((std::vector<float> { 2.0f, 1.5f, 0.0f }), contents (*b));
}

// The vectorised operations run over whole groups of lanes and a scalar tail:
// on lengths that are not multiples of the lane count they must still agree
// with the plain ones wherever the Parts say the variants agree.
TEST (ZGainVariants, AgreeOnLongBuffersWithTails)
{
    for (unsigned n : { 1u, 7u, 513u, 1027u })
    {
        ZGain plain;
        ZGainAccelerate fast;
        auto x = makeRandom (n, 1);
        auto y = makeRandom (n, 2);

        auto run = [&] (ZGain& g, auto op)
        {
            auto a = makeRandom (n, 1);
            auto b = makeRandom (n, 3);
            op (g, *a, *b);
            auto r = contents (*a);
            auto rb = contents (*b);
            r.insert (r.end(), rb.begin(), rb.end());
            return r;
        };
        auto compare = [&] (const char* what, auto op)
        {
            const auto p = run (plain, op);
            const auto f = run (fast, op);
            ASSERT_EQ (p.size(), f.size());
            for (size_t i = 0; i < p.size(); ++i)
                ASSERT_NEAR (p[i], f[i], 1e-4f) << what << " n " << n << " i " << i;
        };

        compare ("scale", [] (ZGain& g, ZBuffer& a, ZBuffer&) { g.scale (a, 0.3f); });
        compare ("multiply", [&] (ZGain& g, ZBuffer& a, ZBuffer&) { g.multiply (a, *y); });
        compare ("ramp", [] (ZGain& g, ZBuffer& a, ZBuffer&) { g.ramp (a, 0.1f, 0.9f); });
        compare ("scaleCopy", [] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.scaleCopy (a, b, -2.0f); });
        compare ("multiplyCopy", [&] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.multiplyCopy (a, *y, b); });
        compare ("multiplyCopy in place", [&] (ZGain& g, ZBuffer& a, ZBuffer&) { g.multiplyCopy (a, *y, a); });
        compare ("rampCopy", [] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.rampCopy (a, b, 1.0f, -1.0f); });
        compare ("scaleAdd", [] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.scaleAdd (a, b, 0.7f); });
        compare ("multiplyAdd", [&] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.multiplyAdd (a, *y, b); });
        compare ("rampAdd", [] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.rampAdd (a, b, 0.0f, 2.0f); });
        compare ("scaleAddAt", [] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.scaleAddAt (a, b, 0, 0.5f); });
        compare ("complexMultiply", [&] (ZGain& g, ZBuffer& a, ZBuffer& b)
                 { g.complexMultiply (a, b, *x, *y, a, b); });
        compare ("powerToDecibels", [] (ZGain& g, ZBuffer& a, ZBuffer&)
                 {
                     for (unsigned i = 0; i < a.getLength(); ++i)
                         a[i] = std::abs (a[i]) + 1e-3f;
                     g.powerToDecibels (a);
                 });

        // Peaks of non-negative results agree between the variants.
        auto pos = makeRandom (n, 4, 0.0f, 1.0f);
        auto d1 = makeRandom (n, 5, 0.0f, 1.0f);
        auto d2 = makeRandom (n, 5, 0.0f, 1.0f);
        EXPECT_FLOAT_EQ (plain.scaleAddAndPeak (*pos, *d1, 0.5f), fast.scaleAddAndPeak (*pos, *d2, 0.5f));

        auto a1 = makeRandom (n, 6);
        auto a2 = makeRandom (n, 6);
        EXPECT_NEAR (plain.multiplyAndSum (*a1, *y, n), fast.multiplyAndSum (*a2, *y, n), 1e-3f);
    }
}
