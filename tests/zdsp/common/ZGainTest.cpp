#include <gtest/gtest.h>

#include "ZGainAccelerate.h"
#include "TestSignals.h"

#include <tuple>

using namespace quarn;
using namespace clarivo_test;

namespace
{
// Uniform in [-1, 1], or in [0, 1] when `positive`.
std::unique_ptr<ZBuffer> makeRandom (unsigned n, unsigned seed, bool positive = false)
{
    auto b = bufferOf (uniformNoise (n, 1.0f, seed));
    if (positive)
        for (unsigned i = 0; i < n; ++i)
            (*b)[i] = std::abs ((*b)[i]);
    return b;
}

// Each value within a millionth (relative above 1) of the expected one.
void expectNear (const Signal& got, const Signal& expected)
{
    ASSERT_EQ (got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR (expected[i], got[i], 1e-6f * std::max (1.0f, std::abs (expected[i]))) << i;
}

// What an in-place operation leaves of `values`.
template <typename Op>
Signal after (const Signal& values, Op&& op)
{
    auto b = bufferOf (values);
    op (*b);
    return valuesOf (*b);
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

TEST_P (BothGains, ScalesRampsRangesAndCountedAndAccumulatingOperations)
{
    EXPECT_EQ ((Signal { 0.5f, -1.0f }), after ({ 1.0f, -2.0f }, [&] (ZBuffer& b) { gain->scale (b, 0.5f); }));
    expectNear (after ({ 1.0f, 1.0f, 1.0f, 1.0f }, [&] (ZBuffer& b) { gain->ramp (b, 0.0f, 1.0f); }), { 0.0f, 1.0f / 3.0f, 2.0f / 3.0f, 1.0f });
    // A single sample takes the start gain.
    expectNear (after ({ 2.0f }, [&] (ZBuffer& b) { gain->ramp (b, 0.25f, 4.0f); }), { 0.5f });
    EXPECT_EQ ((Signal { 1.0f, 3.0f, 3.0f, 3.0f, 1.0f }), after ({ 1, 1, 1, 1, 1 }, [&] (ZBuffer& b) { gain->scaleRange (b, 1, 3, 3.0f); }));
    expectNear (after ({ 1.0f, 0.1f, 1e-6f, 0.0f, -1.0f }, [&] (ZBuffer& b) { gain->amplitudeToDecibels (b); }), { 0.0f, -20.0f, -96.0f, -96.0f, -96.0f });

    // The range starts from the first value: values beyond +-100 are reported
    // as they are, not as the +-100 start values.
    float lo = 0.0f, hi = 0.0f;
    gain->scaleWithRange (*bufferOf ({ 1.0f, 2.0f, 3.0f }), lo, hi, 1.0f);
    EXPECT_EQ ((Signal { 1.0f, 3.0f }), (Signal { lo, hi }));
    gain->scaleWithRange (*bufferOf ({ 200.0f, 300.0f }), lo, hi, 2.0f);
    EXPECT_EQ ((Signal { 400.0f, 600.0f }), (Signal { lo, hi }));
    gain->scaleWithRange (*bufferOf ({ -300.0f, -150.0f }), lo, hi, 1.0f);
    EXPECT_EQ ((Signal { -300.0f, -150.0f }), (Signal { lo, hi }));

    auto a = bufferOf ({ 1.0f, 2.0f, 3.0f });
    auto b = bufferOf ({ 3.0f, 4.0f, 5.0f });
    EXPECT_EQ (0.0f, gain->multiplyAndSum (*a, *b, 0));
    EXPECT_EQ ((Signal { 1.0f, 2.0f, 3.0f }), valuesOf (*a));

    auto d = bufferOf ({ 1.0f, 1.0f, 1.0f });
    gain->scaleAddCount (*a, *d, 2, 2.0f);
    EXPECT_EQ ((Signal { 3.0f, 5.0f, 1.0f }), valuesOf (*d));
    gain->multiplyAddCount (*a, *b, *d, 1);
    EXPECT_EQ ((Signal { 6.0f, 5.0f, 1.0f }), valuesOf (*d));

    auto c = bufferOf ({ 9.0f, 9.0f, 9.0f, 9.0f });
    gain->scaleCopyRange (*a, *c, 1, 2, 10.0f);
    EXPECT_EQ ((Signal { 9.0f, 20.0f, 30.0f, 9.0f }), valuesOf (*c));
    gain->multiplyCopyRange (*a, *b, *c, 0, 2, 1, 2); // a[0..1] * b[1..2] into c[2..3]
    EXPECT_EQ ((Signal { 9.0f, 20.0f, 4.0f, 10.0f }), valuesOf (*c));
    gain->scaleAddAt (*a, *c, 1, 1.0f);
    EXPECT_EQ ((Signal { 9.0f, 21.0f, 6.0f, 13.0f }), valuesOf (*c));

    auto s = bufferOf ({ 1.0f, 2.0f, 3.0f, 4.0f });
    auto m = bufferOf ({ 2.0f, 2.0f, 0.5f, 0.5f });
    auto acc = bufferOf ({ 1.0f, 1.0f, 1.0f, 1.0f });
    gain->scaleAdd (*s, *acc, 2.0f);
    EXPECT_EQ ((Signal { 3.0f, 5.0f, 7.0f, 9.0f }), valuesOf (*acc));
    gain->multiplyAdd (*s, *m, *acc);
    EXPECT_EQ ((Signal { 5.0f, 9.0f, 8.5f, 11.0f }), valuesOf (*acc));
    gain->rampAdd (*s, *acc, 0.0f, 3.0f);
    expectNear (valuesOf (*acc), { 5.0f, 11.0f, 14.5f, 23.0f });

    // Peaks of non-negative results agree between the variants.
    auto ps = bufferOf ({ 0.25f, 0.5f, 0.125f });
    auto pd = bufferOf ({ 0.0f, 0.0f, 0.0f });
    EXPECT_EQ (1.0f, gain->scaleCopyAndPeak (*ps, *pd, 2.0f));
    EXPECT_EQ (2.0f, gain->scaleAddAndPeak (*ps, *pd, 2.0f));
    EXPECT_EQ (0.25f, gain->multiplyCopyAndPeak (*ps, *ps, *pd));
    EXPECT_FLOAT_EQ (0.25f, gain->rampCopyAndPeak (*ps, *pd, 1.0f, 0.0f));
    EXPECT_FLOAT_EQ (0.5f, gain->multiplyAddAndPeak (*ps, *ps, *pd));
}

TEST_P (BothGains, ComplexMultiplyWhateverTheOutputsAliasAndGuardedProductsKeepDenormalsOut)
{
    // (1 + 2i)(3 + 4i) = -5 + 10i; (0.5 - i)(2 + 0i) = 1 - 2i
    auto aRe = bufferOf ({ 1.0f, 0.5f }), aIm = bufferOf ({ 2.0f, -1.0f });
    auto bRe = bufferOf ({ 3.0f, 2.0f }), bIm = bufferOf ({ 4.0f, 0.0f });
    gain->complexMultiply (*aRe, *aIm, *bRe, *bIm, *aRe, *aIm);
    EXPECT_EQ ((Signal { -5.0f, 1.0f }), valuesOf (*aRe));
    EXPECT_EQ ((Signal { 10.0f, -2.0f }), valuesOf (*aIm));

    // Into the second operand, and with the outputs swapped onto the inputs.
    auto cRe = bufferOf ({ 1.0f }), cIm = bufferOf ({ 2.0f }), dRe = bufferOf ({ 3.0f }), dIm = bufferOf ({ 4.0f });
    gain->complexMultiply (*cRe, *cIm, *dRe, *dIm, *dRe, *dIm);
    EXPECT_EQ ((Signal { -5.0f, 10.0f }), (Signal { (*dRe)[0], (*dIm)[0] }));
    auto eRe = bufferOf ({ 1.0f }), eIm = bufferOf ({ 2.0f }), fRe = bufferOf ({ 3.0f }), fIm = bufferOf ({ 4.0f });
    gain->complexMultiply (*eRe, *eIm, *fRe, *fIm, *eIm, *eRe);
    EXPECT_EQ ((Signal { -5.0f, 10.0f }), (Signal { (*eIm)[0], (*eRe)[0] }));

    // Exponent fields summing below 128 give +0 in both variants here.
    auto d = bufferOf ({ 0.0f, 0.0f });
    gain->scaleAddAt (*bufferOf ({ kTiny, -kTiny }), *d, 0, kSmallGain);
    EXPECT_EQ (0.0f, (*d)[0]);
    EXPECT_FALSE (std::signbit ((*d)[1]));

    // 2^-63 * 2^-63 = 2^-126 is the smallest normal and is kept;
    // 2^-63 * 2^-64 would be a denormal and becomes 0.
    auto a = bufferOf ({ std::ldexp (1.0f, -63), std::ldexp (1.0f, -63) });
    auto b = bufferOf ({ std::ldexp (1.0f, -63), std::ldexp (1.0f, -64) });
    auto out = bufferOf ({ 5.0f, 5.0f });
    gain->multiplyCopyRange (*a, *b, *out, 0, 0, 0, 2);
    EXPECT_EQ ((Signal { std::ldexp (1.0f, -126), 0.0f }), valuesOf (*out));
}

TEST (ZGainVariants, DifferInDenormalGuardsPeaksSumsAndDecibelFloors)
{
    ZGain plain;
    ZGainAccelerate fast;

    // Plain: copies and sums guard their products, in-place scaling does not.
    // Accelerate: plain products everywhere it overrides.
    for (ZGain* g : { static_cast<ZGain*> (&plain), static_cast<ZGain*> (&fast) })
    {
        const int expected = g == &plain ? FP_ZERO : FP_SUBNORMAL;
        auto s = bufferOf ({ kTiny }), d = bufferOf ({ 1.0f }), acc = bufferOf ({ 0.0f });
        g->scaleCopy (*s, *d, kSmallGain);
        EXPECT_EQ (expected, std::fpclassify ((*d)[0]));
        g->multiplyCopy (*s, *bufferOf ({ kSmallGain }), *d);
        EXPECT_EQ (expected, std::fpclassify ((*d)[0]));
        g->scaleAdd (*s, *acc, kSmallGain);
        EXPECT_EQ (expected, std::fpclassify ((*acc)[0]));
        g->scale (*s, kSmallGain);
        EXPECT_EQ (FP_SUBNORMAL, std::fpclassify ((*s)[0]));
    }

    // Peaks: the largest magnitude (plain) or the largest value (accelerate).
    EXPECT_EQ (3.0f, plain.scaleAndPeak (*bufferOf ({ -3.0f, 1.0f }), 1.0f));
    EXPECT_EQ (1.0f, fast.scaleAndPeak (*bufferOf ({ -3.0f, 1.0f }), 1.0f));
    EXPECT_EQ (3.0f, plain.scaleAndPeak (*bufferOf ({ -3.0f, -1.0f, -2.0f }), 1.0f));
    EXPECT_EQ (-1.0f, fast.scaleAndPeak (*bufferOf ({ -3.0f, -1.0f, -2.0f }), 1.0f));

    auto b = bufferOf ({ 3.0f, 4.0f }), a1 = bufferOf ({ 1.0f, 2.0f }), a2 = bufferOf ({ 1.0f, 2.0f });
    EXPECT_EQ (11.0f, plain.multiplyAndSum (*a1, *b, 2));
    EXPECT_EQ ((Signal { 3.0f, 8.0f }), valuesOf (*a1));
    EXPECT_EQ (11.0f, fast.multiplyAndSum (*a2, *b, 2));
    EXPECT_EQ ((Signal { 1.0f, 2.0f }), valuesOf (*a2));

    expectNear (after ({ 1.0f, 0.01f, 0.0f, 2.5e-10f }, [&] (ZBuffer& b) { plain.powerToDecibels (b); }), { 0.0f, -20.0f, -96.0f, -96.0f });
    expectNear (after ({ 1.0f, 0.01f, 0.0f }, [&] (ZBuffer& b) { fast.powerToDecibels (b); }), { 0.0f, -20.0f, -200.0f });
    expectNear (after ({ 1e-6f, 0.1f }, [&] (ZBuffer& b) { plain.powerToDecibels (b, -48.0f); }), { -48.0f, -10.0f });
    const float floored = after ({ 1e-6f }, [&] (ZBuffer& b) { fast.powerToDecibels (b, -48.0f); })[0];
    EXPECT_NEAR (10.0 * std::log10 (1e-6 + std::pow (10.0, -4.8)), floored, 1e-4);
    EXPECT_NEAR (-47.73f, floored, 0.01f);
}

TEST (ZGainAccelerate, RampTableFollowsLengthAndGainChanges)
{
    ZGainAccelerate gain;

    // Reused, refilled, refilled at the end only, longer, shorter, and a
    // single sample (the start gain).
    for (auto [n, start, end] : { std::tuple { 4u, 0.0f, 1.0f }, { 4u, 0.0f, 1.0f }, { 4u, 1.0f, 0.0f }, { 4u, 1.0f, 0.5f },
                                  { 513u, 0.0f, 2.0f }, { 3u, -1.0f, 1.0f }, { 1u, 0.7f, 0.1f } })
    {
        ZBuffer ones (n, "ZBuffer"), out (n, "ZBuffer");
        std::fill_n (ones.getData(), n, 1.0f);
        gain.rampCopy (ones, out, start, end);
        const float step = n > 1 ? (end - start) / float (n - 1) : 0.0f;
        for (unsigned i = 0; i < n; ++i)
            EXPECT_NEAR (start + step * float (i), out[i], 1e-5f) << "n " << n << " i " << i;
        EXPECT_NEAR (n > 1 ? end : start, out[n - 1], 1e-5f);
    }

    // The table serves the in-place and accumulating ramps too.
    auto b = bufferOf ({ 2.0f, 2.0f, 2.0f });
    gain.ramp (*b, 1.0f, 0.0f);
    EXPECT_EQ ((Signal { 2.0f, 1.0f, 0.0f }), valuesOf (*b));
    EXPECT_EQ (2.0f, gain.rampAddAndPeak (*b, *b, 0.0f, 1.0f));
    EXPECT_EQ ((Signal { 2.0f, 1.5f, 0.0f }), valuesOf (*b));
}

// The vectorised operations run over whole groups of lanes and a scalar tail:
// on lengths that are not multiples of the lane count they must still agree
// with the plain ones wherever the variants agree.
TEST (ZGainVariants, AgreeOnLongBuffersWithTails)
{
    for (unsigned n : { 1u, 7u, 513u, 1027u })
    {
        ZGain plain;
        ZGainAccelerate fast;
        auto x = makeRandom (n, 1), y = makeRandom (n, 2);

        auto run = [&] (ZGain& g, auto op)
        {
            auto a = makeRandom (n, 1), b = makeRandom (n, 3);
            op (g, *a, *b);
            auto r = valuesOf (*a), rb = valuesOf (*b);
            r.insert (r.end(), rb.begin(), rb.end());
            return r;
        };
        auto compare = [&] (const char* what, auto op)
        {
            const auto p = run (plain, op);
            const auto f = run (fast, op);
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
        compare ("complexMultiply", [&] (ZGain& g, ZBuffer& a, ZBuffer& b) { g.complexMultiply (a, b, *x, *y, a, b); });
        compare ("powerToDecibels", [] (ZGain& g, ZBuffer& a, ZBuffer&)
                 {
                     for (unsigned i = 0; i < a.getLength(); ++i)
                         a[i] = std::abs (a[i]) + 1e-3f;
                     g.powerToDecibels (a);
                 });

        auto pos = makeRandom (n, 4, true);
        auto d1 = makeRandom (n, 5, true), d2 = makeRandom (n, 5, true);
        EXPECT_FLOAT_EQ (plain.scaleAddAndPeak (*pos, *d1, 0.5f), fast.scaleAddAndPeak (*pos, *d2, 0.5f));
        auto a1 = makeRandom (n, 6), a2 = makeRandom (n, 6);
        EXPECT_NEAR (plain.multiplyAndSum (*a1, *y, n), fast.multiplyAndSum (*a2, *y, n), 1e-3f);
    }
}
