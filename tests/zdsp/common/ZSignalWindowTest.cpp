#include "ZSignalWindow.h"
#include "TestSignals.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quarn;
using namespace testing;
using clarivo_test::valuesOf;

namespace
{
enum WindowType : unsigned { hamming = 0, hann = 1, kaiser = 2, blackman = 3, triangular = 4 };
constexpr float kInfinity = std::numeric_limits<float>::infinity();

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

// window[i] * inverse[i] = 1 everywhere.
void expectInverse (const ZWindowPair& window)
{
    const auto& w = *window.getWindow();
    const auto& inverse = *window.getInverseWindow();
    for (unsigned i = 0; i < w.getLength(); ++i)
        ASSERT_NEAR (w[i] * inverse[i], 1.0f, 1e-6f) << i;
}
} // namespace

// The general window and the dedicated Hamming class build the same values.
TEST (ZSignalWindow, HammingOf1024AndItsNormalisationsShortWindowsOfEveryShapeAndKaiserBands)
{
    auto window = makeWindow (1024, hamming);
    const auto& w = *window->getWindow();
    EXPECT_NEAR (w[0], 0.08f, 1e-7f);
    EXPECT_NEAR (w[1023], 0.08f, 1e-6f);
    EXPECT_NEAR (w[511], 0.999998f, 1e-6f);
    EXPECT_NEAR (w[512], 0.999998f, 1e-6f);
    EXPECT_NEAR (window->getSum(), 552.5f, 0.01f);
    std::unique_ptr<ZHammingWindow> dedicated (ZHammingWindow::create (1024));
    for (unsigned i = 0; i < 1024; ++i)
        ASSERT_NEAR ((*dedicated->getWindow())[i], w[i], 1e-6f) << i;

    window->normalizeForAmplitude (4);
    EXPECT_NEAR (w[0] + w[256] + w[512] + w[768], 1.0f, 1e-6f);
    expectInverse (*window);
    EXPECT_NEAR (window->getSum(), 552.5f, 0.01f); // the sums describe the window as built

    auto built = makeWindow (1024, hamming);
    auto power = makeWindow (1024, hamming);
    power->normalizeForPower (4);
    EXPECT_NEAR (hopProductSum (*built->getWindow(), *power->getWindow(), 256), 1.0f, 1e-6f);
    dedicated->normalizeForPower (4);
    EXPECT_NEAR (hopProductSum (*built->getWindow(), *dedicated->getWindow(), 256), 1.0f, 1e-6f);
    expectInverse (*dedicated);

    EXPECT_THROW (makeWindow (0, hamming), qj_dsp_exception);
    EXPECT_THROW (std::unique_ptr<ZHammingWindow> (ZHammingWindow::create (0)), qj_dsp_exception);

    // Hann: the rounded argument of the last sample falls just short of 2 pi,
    // leaving a value just above 0 and a huge inverse.
    auto hannWindow = makeWindow (5, hann);
    EXPECT_THAT (valuesOf (*hannWindow->getWindow()), ElementsAre (0.0f, FloatNear (0.5f, 1e-7f), FloatNear (1.0f, 1e-7f), FloatNear (0.5f, 1e-7f),
                                                                  AllOf (Gt (5e-15f), Lt (1e-14f))));
    EXPECT_EQ ((*hannWindow->getInverseWindow())[0], kInfinity);
    EXPECT_NEAR ((*hannWindow->getInverseWindow())[4], 1.3e14f, 0.1e14f);

    // Triangular: the integer half length.
    EXPECT_EQ (valuesOf (*makeWindow (5, triangular)->getWindow()), (std::vector<float> { 0.0f, 0.5f, 1.0f, 0.5f, 0.0f }));
    EXPECT_EQ (valuesOf (*makeWindow (4, triangular)->getWindow()), (std::vector<float> { 0.0f, 0.5f, 1.0f, 0.5f }));

    // Blackman peaks at 1 with ends near 0.
    EXPECT_THAT (valuesOf (*makeWindow (5, blackman)->getWindow()),
                 ElementsAre (FloatNear (0.0f, 1e-6f), FloatNear (0.34f, 1e-6f), FloatNear (1.0f, 1e-6f), _, FloatNear (0.0f, 1e-6f)));

    // An unknown type leaves both buffers zero, also after a normalisation
    // (which has nothing to divide by and must not make NaNs).
    auto unknown = makeWindow (16, 7);
    unknown->normalizeForPower (4);
    EXPECT_EQ (valuesOf (*unknown->getWindow()), std::vector<float> (16, 0.0f));
    EXPECT_EQ (valuesOf (*unknown->getInverseWindow()), std::vector<float> (16, 0.0f));
    EXPECT_EQ (std::make_pair (unknown->getSum(), unknown->getSumOfSquares()), std::make_pair (0.0f, 0.0f));

    // A single sample is 1 in every shape.
    for (unsigned type = 0; type <= 4; ++type)
    {
        auto one = makeWindow (1, type, 60.0f);
        EXPECT_EQ ((*one->getWindow())[0], 1.0f) << type;
        EXPECT_EQ ((*one->getInverseWindow())[0], 1.0f) << type;
    }

    // Kaiser: 21 dB or less means beta 0, a rectangular window.
    for (float attenuation : { 0.0f, 21.0f })
    {
        auto kaiserWindow = makeWindow (64, kaiser, attenuation);
        EXPECT_EQ (valuesOf (*kaiserWindow->getWindow()), std::vector<float> (64, 1.0f)) << attenuation;
        EXPECT_FLOAT_EQ (kaiserWindow->getSum(), 64.0f);
    }

    // 60 dB: beta = 0.1102 * 51.3; the ends are 1 / I0(beta).
    auto kaiserWindow = makeWindow (61, kaiser, 60.0f);
    const auto& kw = *kaiserWindow->getWindow();
    const double expectedEnd = 1.0 / std::cyl_bessel_i (0.0, 0.1102 * 51.3);
    EXPECT_NEAR (kw[0], expectedEnd, 1e-6); // 0.0204
    EXPECT_NEAR (kw[60], expectedEnd, 1e-6);
    EXPECT_FLOAT_EQ (kw[30], 1.0f);
    for (unsigned i = 0; i < 30; ++i)
    {
        EXPECT_NEAR (kw[i], kw[60 - i], 1e-6f) << i;
        EXPECT_LT (kw[i], kw[i + 1]) << i;
    }

    // Between 21 and 50 dB the empirical formula for beta applies.
    const double beta = 0.5842 * std::pow (19.0, 0.4) + 0.07886 * 19.0;
    EXPECT_NEAR ((*makeWindow (33, kaiser, 40.0f)->getWindow())[0], 1.0 / std::cyl_bessel_i (0.0, beta), 1e-5);
}
