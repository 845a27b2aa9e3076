#include <gtest/gtest.h>

#include "ZFourierTransform.h"

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace quarn;

namespace
{
constexpr double kPi = 3.14159265358979323846;

using Transform = std::unique_ptr<ZFourierTransform>;

Transform make (unsigned log2n, unsigned direction, unsigned isReal)
{
    return Transform (ZFourierTransform::create (log2n, direction, isReal));
}

void fillRandom (ZBuffer& b, unsigned seed)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    for (unsigned i = 0; i < b.getLength(); ++i)
        b[i] = dist (rng);
}

// sign -1: forward, +1: inverse; no scaling.
std::vector<std::complex<double>> naiveDft (const std::vector<std::complex<double>>& x, int sign)
{
    const auto n = x.size();
    std::vector<std::complex<double>> out (n);
    for (size_t k = 0; k < n; ++k)
        for (size_t t = 0; t < n; ++t)
            out[k] += x[t] * std::polar (1.0, sign * 2.0 * kPi * double (k * t % n) / double (n));
    return out;
}

template <typename Expectation>
void expectDspFailure (Expectation&& call, const char* message, const char* file, int line)
{
    try
    {
        call();
        ADD_FAILURE() << "no exception, expected " << message;
    }
    catch (const qj_dsp_exception& e)
    {
        EXPECT_EQ (juce::String (message), e.message);
        EXPECT_EQ (juce::String (file), e.file);
        EXPECT_EQ (line, e.line);
    }
}
} // namespace

TEST (ZFourierTransform, BaseClassTransformsRefuse)
{
    ZFourierTransform base;
    base.init (10, 0, 1); // does nothing
    EXPECT_EQ (0u, base.getSize());

    ZBuffer a (16, "ZBuffer"), b (16, "ZBuffer"), c (16, "ZBuffer"), d (16, "ZBuffer");
    const char* message = "Fourier Transform is not supported on your processor.";
    const char* file = "Source/zdsp/common/ZFourierTransform";
    expectDspFailure ([&] { base.transform (a, b); }, message, file, 84);
    expectDspFailure ([&] { base.transform (a, b, c, d); }, message, file, 91);
    expectDspFailure ([&] { base.transformReal (a, b, c); }, message, file, 100);
}

TEST (ZFourierTransform, CreateRefusesAnUnknownDirection)
{
    expectDspFailure ([] { make (10, 2, 1); }, "This should be impossible.",
                  "Source/zdsp/macos/ZFourierTransformAV", 59);
    expectDspFailure ([] { make (10, 7, 0); }, "This should be impossible.",
                  "Source/zdsp/macos/ZFourierTransformAV", 59);
}

TEST (ZFourierTransformReal, KnownSignalsGiveTheirExactBins)
{
    auto fft = make (10, 0, 1);
    ZBuffer signal (1024, "ZBuffer"), re (513, "mSpectrum"), im (513, "ZBuffer");

    for (unsigned i = 0; i < 1024; ++i)
        signal[i] = 1.0f;
    fft->transformReal (signal, re, im);
    EXPECT_NEAR (1.0f, re[0], 1e-6f);
    for (unsigned k = 0; k <= 512; ++k)
    {
        if (k > 0)
        {
            EXPECT_NEAR (0.0f, re[k], 1e-6f) << k;
        }
        EXPECT_NEAR (0.0f, im[k], 1e-6f) << k;
    }
    // The forward transform leaves its input alone.
    EXPECT_EQ (1.0f, signal[1023]);

    for (unsigned i = 0; i < 1024; ++i)
        signal[i] = (float) std::cos (2.0 * kPi * 4.0 * i / 1024.0);
    fft->transformReal (signal, re, im);
    EXPECT_NEAR (0.5f, re[4], 1e-5f);
    for (unsigned k = 0; k <= 512; ++k)
    {
        if (k != 4)
        {
            EXPECT_NEAR (0.0f, re[k], 1e-5f) << k;
        }
        EXPECT_NEAR (0.0f, im[k], 1e-5f) << k;
    }

    for (unsigned i = 0; i < 1024; ++i)
        signal[i] = (float) std::sin (2.0 * kPi * 4.0 * i / 1024.0);
    fft->transformReal (signal, re, im);
    EXPECT_NEAR (-0.5f, im[4], 1e-5f);
    EXPECT_NEAR (0.0f, re[4], 1e-5f);
    EXPECT_EQ (0.0f, im[0]);
    EXPECT_EQ (0.0f, im[512]);

    for (unsigned i = 0; i < 1024; ++i)
        signal[i] = (i % 2 == 0) ? 1.0f : -1.0f;
    fft->transformReal (signal, re, im);
    EXPECT_NEAR (1.0f, re[512], 1e-6f);
    EXPECT_EQ (0.0f, im[512]);
    EXPECT_NEAR (0.0f, re[0], 1e-6f);
}

TEST (ZFourierTransformReal, ForwardMatchesTheDefinitionInEveryBin)
{
    for (unsigned log2n : { 1u, 2u, 5u, 9u })
    {
        const unsigned n = 1u << log2n;
        auto fft = make (log2n, 0, 1);
        ZBuffer signal (n, "ZBuffer"), re (n / 2 + 1, "ZBuffer"), im (n / 2 + 1, "ZBuffer");
        fillRandom (signal, log2n);

        std::vector<std::complex<double>> x (n);
        for (unsigned i = 0; i < n; ++i)
            x[i] = signal[i];
        const auto expected = naiveDft (x, -1);

        fft->transformReal (signal, re, im);
        for (unsigned k = 0; k <= n / 2; ++k)
        {
            EXPECT_NEAR (expected[k].real() / n, re[k], 1e-5) << "n " << n << " k " << k;
            EXPECT_NEAR (k == 0 || k == n / 2 ? 0.0 : expected[k].imag() / n, im[k], 1e-5)
                << "n " << n << " k " << k;
        }
    }
}

TEST (ZFourierTransformReal, InverseOfForwardGivesBackTheSignal)
{
    for (unsigned log2n : { 8u, 10u, 11u, 12u })
    {
        const unsigned n = 1u << log2n;
        auto forward = make (log2n, 0, 1);
        auto inverse = make (log2n, 1, 1);
        ZBuffer signal (n, "ZBuffer"), back (n, "ZBuffer");
        ZBuffer re (n / 2 + 1, "ZBuffer"), im (n / 2 + 1, "ZBuffer");
        fillRandom (signal, 100 + log2n);

        forward->transformReal (signal, re, im);
        const float nyquist = re[n / 2];
        ASSERT_NE (0.0f, nyquist);

        inverse->transformReal (back, re, im);
        for (unsigned i = 0; i < n; ++i)
            ASSERT_NEAR (signal[i], back[i], 2e-6f) << "n " << n << " i " << i;

        // The inverse packed the Nyquist bin into im[0]: re, im are work area.
        EXPECT_EQ (nyquist, im[0]);
    }
}

TEST (ZFourierTransformReal, InverseBuildsTheHermitianSignal)
{
    // Bins 0, 3 and N/2 of a 16-point spectrum, unscaled on the way back.
    auto inverse = make (4, 1, 1);
    ZBuffer signal (16, "ZBuffer"), re (9, "ZBuffer"), im (9, "ZBuffer");
    re[0] = 0.5f;
    re[3] = 0.25f;
    im[3] = -0.5f;
    re[8] = 0.125f;
    inverse->transformReal (signal, re, im);

    for (unsigned t = 0; t < 16; ++t)
    {
        const double phase = 2.0 * kPi * 3.0 * t / 16.0;
        const double expected = 0.5 + 2.0 * (0.25 * std::cos (phase) + 0.5 * std::sin (phase))
                              + 0.125 * ((t % 2 == 0) ? 1.0 : -1.0);
        EXPECT_NEAR (expected, signal[t], 1e-5) << t;
    }
}

TEST (ZFourierTransformComplex, ImpulseForwardAndBack)
{
    const unsigned n = 1024;
    auto forward = make (10, 0, 0);
    auto inverse = make (10, 1, 0);
    ZBuffer re (n, "ZBuffer"), im (n, "ZBuffer");
    re[0] = 1.0f;

    forward->transform (re, im);
    for (unsigned k = 0; k < n; ++k)
    {
        ASSERT_FLOAT_EQ (1.0f / n, re[k]) << k;
        ASSERT_EQ (0.0f, im[k]) << k;
    }

    inverse->transform (re, im);
    EXPECT_NEAR (1.0f, re[0], 1e-6f);
    for (unsigned k = 1; k < n; ++k)
    {
        ASSERT_NEAR (0.0f, re[k], 1e-6f) << k;
        ASSERT_NEAR (0.0f, im[k], 1e-6f) << k;
    }
}

TEST (ZFourierTransformComplex, MatchesTheDefinitionBothWays)
{
    const unsigned n = 16;
    ZBuffer re (n, "ZBuffer"), im (n, "ZBuffer"), outRe (n, "ZBuffer"), outIm (n, "ZBuffer");
    fillRandom (re, 7);
    fillRandom (im, 8);
    std::vector<std::complex<double>> x (n);
    for (unsigned i = 0; i < n; ++i)
        x[i] = { re[i], im[i] };

    for (unsigned direction : { 0u, 1u })
    {
        auto fft = make (4, direction, 0);
        fft->transform (re, im, outRe, outIm);
        const auto expected = naiveDft (x, direction == 0 ? -1 : 1);
        const double scale = direction == 0 ? 1.0 / n : 1.0;
        for (unsigned k = 0; k < n; ++k)
        {
            EXPECT_NEAR (expected[k].real() * scale, outRe[k], 1e-5) << direction << " " << k;
            EXPECT_NEAR (expected[k].imag() * scale, outIm[k], 1e-5) << direction << " " << k;
        }
        // Out of place leaves the input alone.
        EXPECT_EQ ((float) x[3].real(), re[3]);
        EXPECT_EQ ((float) x[3].imag(), im[3]);
    }
}

TEST (ZFourierTransformComplex, InPlaceAndOutOfPlaceAgree)
{
    const unsigned n = 4096;
    for (unsigned direction : { 0u, 1u })
    {
        auto fft = make (12, direction, 0);
        ZBuffer re (n, "ZBuffer"), im (n, "ZBuffer"), outRe (n, "ZBuffer"), outIm (n, "ZBuffer");
        fillRandom (re, 11);
        fillRandom (im, 12);

        fft->transform (re, im, outRe, outIm);
        fft->transform (re, im);
        for (unsigned k = 0; k < n; ++k)
        {
            ASSERT_EQ (outRe[k], re[k]) << k;
            ASSERT_EQ (outIm[k], im[k]) << k;
        }
    }
}

// Transforms are prepared on whichever thread prepares a processor; FFTW's
// planner must not be entered twice at once.
TEST (ZFourierTransform, ObjectsMayBeCreatedOnSeveralThreadsAtOnce)
{
    getProcessorType(); // the probe's cache is not meant to be filled concurrently
    std::vector<std::thread> threads;
    std::vector<int> failures (4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back ([t, &failures]
        {
            for (int round = 0; round < 20; ++round)
            {
                const unsigned log2n = 6u + unsigned ((t + round) % 6);
                const unsigned n = 1u << log2n;
                auto forward = make (log2n, 0, 1);
                auto inverse = make (log2n, 1, 1);
                ZBuffer signal (n, "ZBuffer"), back (n, "ZBuffer"), re (n / 2 + 1, "ZBuffer"), im (n / 2 + 1, "ZBuffer");
                fillRandom (signal, unsigned (t * 100 + round));
                forward->transformReal (signal, re, im);
                inverse->transformReal (back, re, im);
                for (unsigned i = 0; i < n; ++i)
                    if (std::abs (signal[i] - back[i]) > 2e-6f)
                        ++failures[(size_t) t];
            }
        });
    for (auto& th : threads)
        th.join();
    for (int f : failures)
        EXPECT_EQ (0, f);
}
