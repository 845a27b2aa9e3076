#include "ZWhittakerSmoother.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace quarn;

TEST (ZWhittakerSmoother, LongGapIsBridgedAccurately)
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
}

TEST (ZWhittakerSmoother, TinyAndOversizedRegions)
{
    ZWhittakerSmoother smoother (8);
    float two[] = { 0.5f, -0.25f }, twoW[] = { 1.0f, 1.0f };
    EXPECT_TRUE (smoother.smooth (two, twoW, 2, 1.0f));
    EXPECT_FLOAT_EQ (two[0], 0.5f);
    EXPECT_FLOAT_EQ (two[1], -0.25f);

    // Nothing weighted: zero pivots are replaced, the result stays finite.
    float none[] = { 1.0f, 2.0f, 3.0f }, noneW[] = { 0.0f, 0.0f, 0.0f };
    EXPECT_TRUE (smoother.smooth (none, noneW, 3, 1.0f));
    for (float x : none)
        EXPECT_TRUE (std::isfinite (x));

    std::vector<float> big (9, 0.3f), bigW (9, 1.0f);
    EXPECT_FALSE (smoother.smooth (big.data(), bigW.data(), 9, 1.0f));
    EXPECT_FLOAT_EQ (big[0], 0.3f);
}
