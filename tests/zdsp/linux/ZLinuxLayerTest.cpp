#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ZFFTLayer.h"
#include "ZVectorOps.h"
#include "TestSignals.h"

#include <cstdint>
#include <cstring>

using namespace quarn;

namespace
{
// Distance in units of the last place of the float nearest the exact value.
double ulpsFrom (float got, double exact)
{
    const float nearest = (float) exact;
    const double ulp = std::nextafter (std::abs (nearest), std::numeric_limits<float>::infinity()) - std::abs (nearest);
    return std::abs ((double) got - exact) / ulp;
}
} // namespace

TEST (ZVectorOps, DecibelsOfPowerAreAccurateOverTheWholeRangeAndKeepSpecialValues)
{
    std::vector<float> x;
    std::mt19937 rng (5);
    std::uniform_int_distribution<std::uint32_t> bits (1u, 0x7f7fffffu); // every positive finite float
    for (int i = 0; i < 200000; ++i)
    {
        const auto u = bits (rng);
        float v;
        std::memcpy (&v, &u, sizeof v);
        x.push_back (v);
    }
    // Around 1, where the result is near 0 and only relative accuracy counts.
    for (int i = -2000; i <= 2000; ++i)
        x.push_back (std::nextafter (1.0f, 2.0f) + (float) i * 1.1920929e-7f);
    for (float v : { 1e-20f, 1e-6f, 0.01f, 0.5f, 0.70710677f, 0.7071068f, 2.0f, 10.0f, 1e30f, 1e-45f, 1e-40f })
        x.push_back (v);

    std::vector<float> d (x.size());
    vec::vdbconPower (x.data(), 1.0f, d.data(), x.size());

    for (size_t i = 0; i < x.size(); ++i)
    {
        const double exact = 10.0 * std::log10 ((double) x[i]);
        if (exact == 0.0)
        {
            EXPECT_EQ (0.0f, d[i]);
            continue;
        }
        ASSERT_LE (ulpsFrom (d[i], exact), 3.0) << "x " << x[i] << " got " << d[i] << " exact " << exact;
    }

    const float inf = std::numeric_limits<float>::infinity();
    x = { 0.0f, -0.0f, -1.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), 100.0f, 1.0f };
    vec::vdbconPower (x.data(), 1.0f, d.data(), x.size());
    using namespace testing;
    EXPECT_THAT (std::vector<float> (d.begin(), d.begin() + 8), ElementsAre (-inf, -inf, IsNan(), inf, IsNan(), IsNan(), FloatEq (20.0f), 0.0f));

    // Relative to a reference, and in place.
    std::vector<float> y { 2.0f, 0.2f };
    vec::vdbconPower (y.data(), 0.2f, y.data(), y.size());
    EXPECT_FLOAT_EQ (10.0f, y[0]);
    EXPECT_EQ (0.0f, y[1]);
}

// FFTW may run the real plans on the caller's arrays only when their alignment
// matches the arrays planned with; other arrays go through the setup's own.
// Both routes must give the same numbers.
TEST (ZFFTLayer, MisalignedArraysGiveTheSameResultsAndUnplannableOrdersAreRefused)
{
    const size_t n = 256, half = n / 2;
    std::unique_ptr<ZFFTSetup> forward (ZFFTSetup::create (8, true));
    std::unique_ptr<ZFFTSetup> inverse (ZFFTSetup::create (8, false));
    ASSERT_NE (nullptr, forward);
    ASSERT_NE (nullptr, inverse);

    auto storage = clarivo_test::uniformNoise (n + 4, 1.0f, 3), shifted = storage;

    float* aligned = storage.data();
    float* odd = shifted.data() + 1;
    std::copy (aligned, aligned + n, odd);

    std::vector<float> re1 (half + 1), im1 (half + 1), re2 (half + 1), im2 (half + 1);
    forward->realForward (aligned, re1.data(), im1.data(), 1.0f / n);
    forward->realForward (odd, re2.data(), im2.data(), 1.0f / n);
    EXPECT_EQ (re1, re2);
    EXPECT_EQ (im1, im2);

    im1[0] = re1[half];
    std::vector<float> back (n + 4, 0.0f);
    inverse->realInverse (re1.data(), im1.data(), back.data() + 1);
    for (size_t i = 0; i < n; ++i)
        ASSERT_NEAR (aligned[i], back[i + 1], 2e-6f) << i;
    EXPECT_EQ (0.0f, back[0]);
    EXPECT_EQ (0.0f, back[n + 1]);

    // Orders it cannot plan are refused; order 0 is a single sample.
    EXPECT_EQ (nullptr, ZFFTSetup::create (31, true));
    std::unique_ptr<ZFFTSetup> one (ZFFTSetup::create (0, true));
    ASSERT_NE (nullptr, one);
    float x = 3.0f, re = 0.0f, im = 1.0f;
    one->realForward (&x, &re, &im, 1.0f);
    EXPECT_EQ (3.0f, re);
    EXPECT_EQ (0.0f, im);
}
