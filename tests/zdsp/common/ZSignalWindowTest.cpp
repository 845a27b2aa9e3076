#include "ZSignalWindow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

using namespace quarn;

namespace
{
enum WindowType : unsigned { hamming = 0, hann = 1, kaiser = 2, blackman = 3, triangular = 4 };

std::unique_ptr<ZSignalWindow> makeWindow (unsigned size, unsigned type, float parameter = 0.0f)
{
    return std::unique_ptr<ZSignalWindow> (ZSignalWindow::create (size, type, parameter));
}

// The power normalisation divides by the hop sum of the squares, so that the
// built window times the normalised one (analysis times synthesis) sums to 1
// over the hop positions.
float hopProductSum (const ZBuffer& built, const ZBuffer& normalised, unsigned hop)
{
    float sum = 0.0f;
    for (unsigned i = 0; i < built.getLength(); i += hop)
        sum += built[i] * normalised[i];
    return sum;
}
} // namespace

TEST (ZSignalWindow, HammingOf1024HasItsKnownEndsPeakAndSum)
{
    auto window = makeWindow (1024, hamming);
    const auto& w = *window->getWindow();

    EXPECT_STREQ (window->getName(), "ZSignalWindow");
    ASSERT_EQ (w.getLength(), 1024u);
    EXPECT_NEAR (w[0], 0.08f, 1e-7f);
    EXPECT_NEAR (w[1023], 0.08f, 1e-6f);
    EXPECT_NEAR (w[511], 0.999998f, 1e-6f);
    EXPECT_NEAR (w[512], 0.999998f, 1e-6f);

    unsigned peakIndex = 0;
    for (unsigned i = 1; i < 1024; ++i)
        if (w[i] > w[peakIndex])
            peakIndex = i;
    EXPECT_TRUE (peakIndex == 511 || peakIndex == 512) << peakIndex;

    EXPECT_NEAR (window->getSum(), 552.5f, 0.01f);
    EXPECT_EQ (window->getWindowData(), w.getData());
}

TEST (ZSignalWindow, HannOfFiveEndsJustAboveZeroWithAHugeInverse)
{
    auto window = makeWindow (5, hann);
    const auto& w = *window->getWindow();
    const auto& inverse = *window->getInverseWindow();

    EXPECT_EQ (w[0], 0.0f);
    EXPECT_NEAR (w[1], 0.5f, 1e-7f);
    EXPECT_NEAR (w[2], 1.0f, 1e-7f);
    EXPECT_NEAR (w[3], 0.5f, 1e-7f);

    // The rounded argument of the last sample falls just short of 2 pi.
    EXPECT_GT (w[4], 5e-15f);
    EXPECT_LT (w[4], 1e-14f);

    EXPECT_EQ (inverse[0], std::numeric_limits<float>::infinity());
    EXPECT_NEAR (inverse[4], 1.3e14f, 0.1e14f);
}

TEST (ZSignalWindow, TriangularUsesTheIntegerHalfLength)
{
    {
        auto window = makeWindow (5, triangular);
        const float expected[] = { 0.0f, 0.5f, 1.0f, 0.5f, 0.0f };
        for (unsigned i = 0; i < 5; ++i)
            EXPECT_FLOAT_EQ ((*window->getWindow())[i], expected[i]) << i;
    }
    {
        auto window = makeWindow (4, triangular);
        const float expected[] = { 0.0f, 0.5f, 1.0f, 0.5f };
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_FLOAT_EQ ((*window->getWindow())[i], expected[i]) << i;
    }
    {
        auto window = makeWindow (1024, triangular);
        const auto& w = *window->getWindow();
        EXPECT_EQ (w[0], 0.0f);
        EXPECT_EQ (w[512], 1.0f);
        EXPECT_FLOAT_EQ (w[1023], 1.0f / 512.0f);
        EXPECT_EQ ((*window->getInverseWindow())[0], std::numeric_limits<float>::infinity());
    }
}

TEST (ZSignalWindow, KaiserFollowsTheAttenuationBands)
{
    // 21 dB or less means beta 0: a rectangular window.
    for (float attenuation : { 0.0f, 21.0f })
    {
        auto window = makeWindow (64, kaiser, attenuation);
        for (unsigned i = 0; i < 64; ++i)
            ASSERT_EQ ((*window->getWindow())[i], 1.0f) << attenuation << " " << i;
        EXPECT_FLOAT_EQ (window->getSum(), 64.0f);
    }

    // 60 dB: beta = 0.1102 * 51.3; the ends are 1 / I0(beta).
    {
        auto window = makeWindow (61, kaiser, 60.0f);
        const auto& w = *window->getWindow();
        const double expectedEnd = 1.0 / std::cyl_bessel_i (0.0, 0.1102 * 51.3);
        EXPECT_NEAR (w[0], 0.0204f, 0.0001f);
        EXPECT_NEAR (w[0], expectedEnd, 1e-6);
        EXPECT_NEAR (w[60], expectedEnd, 1e-6);
        EXPECT_FLOAT_EQ (w[30], 1.0f);
        for (unsigned i = 0; i < 30; ++i)
        {
            EXPECT_NEAR (w[i], w[60 - i], 1e-6f) << i;
            EXPECT_LT (w[i], w[i + 1]) << i;
        }
    }

    // Between 21 and 50 dB the empirical formula for beta applies.
    {
        auto window = makeWindow (33, kaiser, 40.0f);
        const double beta = 0.5842 * std::pow (19.0, 0.4) + 0.07886 * 19.0;
        EXPECT_NEAR ((*window->getWindow())[0], 1.0 / std::cyl_bessel_i (0.0, beta), 1e-5);
    }
}

TEST (ZSignalWindow, BlackmanPeaksAtOneWithNearZeroEnds)
{
    auto window = makeWindow (5, blackman);
    const auto& w = *window->getWindow();

    EXPECT_NEAR (w[2], 1.0f, 1e-6f);
    EXPECT_NEAR (w[1], 0.34f, 1e-6f);
    EXPECT_LT (std::abs (w[0]), 1e-6f);
    EXPECT_LT (std::abs (w[4]), 1e-6f);
    EXPECT_GT (std::abs ((*window->getInverseWindow())[0]), 1e6f);
}

TEST (ZSignalWindow, UnknownTypeLeavesBothBuffersZero)
{
    auto window = makeWindow (16, 7);
    for (unsigned i = 0; i < 16; ++i)
    {
        EXPECT_EQ ((*window->getWindow())[i], 0.0f);
        EXPECT_EQ ((*window->getInverseWindow())[i], 0.0f);
    }
    EXPECT_EQ (window->getSum(), 0.0f);
    EXPECT_EQ (window->getSumOfSquares(), 0.0f);

    // Nothing to normalise by: the window stays zero rather than turning to NaN.
    window->normalizeForPower (4);
    EXPECT_EQ ((*window->getWindow())[0], 0.0f);
}

TEST (ZSignalWindow, NormalisationSumsTheHopSamplesToOneAndKeepsTheInverse)
{
    auto window = makeWindow (1024, hamming);
    window->normalizeForAmplitude (4);
    const auto& w = *window->getWindow();
    const auto& inverse = *window->getInverseWindow();

    EXPECT_NEAR (w[0] + w[256] + w[512] + w[768], 1.0f, 1e-6f);
    for (unsigned i = 0; i < 1024; ++i)
        ASSERT_NEAR (w[i] * inverse[i], 1.0f, 1e-6f) << i;

    // The sums describe the window as built, not as normalised.
    EXPECT_NEAR (window->getSum(), 552.5f, 0.01f);

    auto built = makeWindow (1024, hamming);
    auto power = makeWindow (1024, hamming);
    power->normalizeForPower (4);
    EXPECT_NEAR (hopProductSum (*built->getWindow(), *power->getWindow(), 256), 1.0f, 1e-6f);
}

TEST (ZSignalWindow, DegenerateSizes)
{
    EXPECT_THROW (makeWindow (0, hamming), qj_dsp_exception);

    // A single sample has no shape to speak of; it must at least not be NaN.
    for (unsigned type = 0; type <= 4; ++type)
    {
        auto window = makeWindow (1, type, 60.0f);
        EXPECT_EQ ((*window->getWindow())[0], 1.0f) << type;
        EXPECT_EQ ((*window->getInverseWindow())[0], 1.0f) << type;
    }
}

TEST (ZHammingWindow, MatchesTheGeneralHammingWindowAndNormalisesForPower)
{
    std::unique_ptr<ZHammingWindow> window (ZHammingWindow::create (1024));
    auto reference = makeWindow (1024, hamming);
    const auto& w = *window->getWindow();

    EXPECT_STREQ (window->getName(), "ZHammingWindow");
    EXPECT_NEAR (w[0], 0.08f, 1e-7f);
    EXPECT_NEAR (w[512], 0.999998f, 1e-6f);
    for (unsigned i = 0; i < 1024; ++i)
        ASSERT_NEAR (w[i], (*reference->getWindow())[i], 1e-6f) << i;

    std::unique_ptr<ZHammingWindow> built (ZHammingWindow::create (1024));
    window->normalizeForPower (4);
    EXPECT_NEAR (hopProductSum (*built->getWindow(), w, 256), 1.0f, 1e-6f);
    for (unsigned i = 0; i < 1024; ++i)
        ASSERT_NEAR (w[i] * (*window->getInverseWindow())[i], 1.0f, 1e-6f) << i;

    EXPECT_THROW (std::unique_ptr<ZHammingWindow> (ZHammingWindow::create (0)), qj_dsp_exception);
}
