#include <gtest/gtest.h>

#include "ZFFTLayer.h"

#include <memory>
#include <random>
#include <vector>

using namespace quarn;

// FFTW may run the real plans on the caller's arrays only when their alignment
// matches the arrays planned with; other arrays go through the setup's own.
// Both routes must give the same numbers.
TEST (ZFFTLayer, MisalignedArraysGiveTheSameResults)
{
    const size_t n = 256, half = n / 2;
    std::unique_ptr<ZFFTSetup> forward (ZFFTSetup::create (8, true));
    std::unique_ptr<ZFFTSetup> inverse (ZFFTSetup::create (8, false));
    ASSERT_NE (nullptr, forward);
    ASSERT_NE (nullptr, inverse);

    std::vector<float> storage (n + 4), shifted (n + 4);
    std::mt19937 rng (3);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    for (auto& v : storage)
        v = dist (rng);

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
}

TEST (ZFFTLayer, RefusesOrdersItCannotPlan)
{
    EXPECT_EQ (nullptr, ZFFTSetup::create (31, true));
    std::unique_ptr<ZFFTSetup> one (ZFFTSetup::create (0, true));
    ASSERT_NE (nullptr, one);
    float x = 3.0f, re = 0.0f, im = 1.0f;
    one->realForward (&x, &re, &im, 1.0f);
    EXPECT_EQ (3.0f, re);
    EXPECT_EQ (0.0f, im);
}
