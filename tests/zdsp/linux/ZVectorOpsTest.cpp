#include <gtest/gtest.h>

#include "ZVectorOps.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

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

TEST (ZVectorOps, DecibelsOfPowerAreAccurateOverTheWholeRange)
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
}

TEST (ZVectorOps, DecibelsOfPowerSpecialValues)
{
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> x { 0.0f, -0.0f, -1.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(), 100.0f, 1.0f };
    std::vector<float> d (x.size());
    vec::vdbconPower (x.data(), 1.0f, d.data(), x.size());
    EXPECT_EQ (-inf, d[0]);
    EXPECT_EQ (-inf, d[1]);
    EXPECT_TRUE (std::isnan (d[2]));
    EXPECT_EQ (inf, d[3]);
    EXPECT_TRUE (std::isnan (d[4]));
    EXPECT_TRUE (std::isnan (d[5]));
    EXPECT_FLOAT_EQ (20.0f, d[6]);
    EXPECT_EQ (0.0f, d[7]);

    // Relative to a reference, and in place.
    std::vector<float> y { 2.0f, 0.2f };
    vec::vdbconPower (y.data(), 0.2f, y.data(), y.size());
    EXPECT_FLOAT_EQ (10.0f, y[0]);
    EXPECT_EQ (0.0f, y[1]);
}
