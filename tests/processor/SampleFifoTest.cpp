#include <gtest/gtest.h>
#include "SampleFifo.h"

#include <limits>
#include <vector>

TEST (SampleFifo, PrefillWrapClampAndClear)
{
    SampleFifo f;
    f.init (8, 4);
    std::vector<float> out (8);

    // The reader first meets the prefill's zeros, then the first written sample.
    EXPECT_FALSE (f.read (5, false, out.data())); // only the prefill is held
    EXPECT_TRUE (f.read (0, false, out.data()));
    const float a[] = { 1, 2, 3, 4, 5, 6 };
    f.write (4, a);
    ASSERT_TRUE (f.read (8, false, out.data()));
    EXPECT_EQ (out, (std::vector<float> { 0, 0, 0, 0, 1, 2, 3, 4 }));

    // Later samples come out across the wrap.
    f.write (2, a + 4);
    ASSERT_TRUE (f.read (2, false, out.data()));
    EXPECT_EQ (out[0], 5.0f);
    EXPECT_EQ (out[1], 6.0f);
    EXPECT_EQ (f.getCount(), 0);

    // Clamping catches the range and NaN.
    const float loud[] = { 1.5f, -7.0f, std::numeric_limits<float>::quiet_NaN(), 0.25f };
    f.write (4, loud);
    ASSERT_TRUE (f.read (4, true, out.data()));
    EXPECT_EQ ((std::vector<float> (out.begin(), out.begin() + 4)), (std::vector<float> { 1.0f, -1.0f, 0.0f, 0.25f }));

    // clear keeps the indices unless told, then goes back to the prefill.
    f.write (2, a);
    f.clear (false);
    EXPECT_EQ (f.getCount(), 2);
    f.clear (true);
    EXPECT_EQ (f.getCount(), 4);
    ASSERT_TRUE (f.read (4, false, out.data()));
    EXPECT_EQ (out[3], 0.0f);
}
