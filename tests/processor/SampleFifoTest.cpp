#include <gtest/gtest.h>
#include "SampleFifo.h"

#include <cmath>
#include <limits>
#include <vector>

TEST (SampleFifo, PrefillThenWrappedSamplesInOrder)
{
    SampleFifo f;
    f.init (8, 4);
    float out[8] = {};

    EXPECT_FALSE (f.read (5, false, out));  // only the prefill is held
    EXPECT_TRUE (f.read (0, false, out));

    const float a[] = { 1, 2, 3, 4, 5, 6 };
    f.write (4, a);
    ASSERT_TRUE (f.read (8, false, out));
    const float expected[] = { 0, 0, 0, 0, 1, 2, 3, 4 };
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ (out[i], expected[i]);

    // Later samples come out across the wrap.
    f.write (2, a + 4);
    ASSERT_TRUE (f.read (2, false, out));
    EXPECT_EQ (out[0], 5.0f);
    EXPECT_EQ (out[1], 6.0f);
    EXPECT_EQ (f.getCount(), 0);
}

TEST (SampleFifo, ClampCatchesRangeAndNaN)
{
    SampleFifo f;
    f.init (8, 0);
    const float a[] = { 1.5f, -7.0f, std::numeric_limits<float>::quiet_NaN(), 0.25f };
    f.write (4, a);
    float out[4];
    ASSERT_TRUE (f.read (4, true, out));
    EXPECT_EQ (out[0], 1.0f);
    EXPECT_EQ (out[1], -1.0f);
    EXPECT_EQ (out[2], 0.0f);
    EXPECT_EQ (out[3], 0.25f);
}

TEST (SampleFifo, ClearWithAndWithoutIndices)
{
    SampleFifo f;
    f.init (8, 4);
    const float a[] = { 1, 2 };
    f.write (2, a);
    f.clear (false);
    EXPECT_EQ (f.getCount(), 6);
    f.clear (true);
    EXPECT_EQ (f.getCount(), 4);
    float out[4];
    ASSERT_TRUE (f.read (4, false, out));
    EXPECT_EQ (out[3], 0.0f);
}
