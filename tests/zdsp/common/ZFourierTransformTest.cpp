#include <gtest/gtest.h>
#include "TestSignals.h"

#include "ZFourierTransform.h"

#include <complex>
#include <thread>

using namespace quarn;
using clarivo_test::expectDspFailure;
using clarivo_test::fillRandom;

namespace
{
constexpr double kPi = 3.14159265358979323846;

std::unique_ptr<ZFourierTransform> make (unsigned log2n, unsigned direction, unsigned isReal)
{
    return std::unique_ptr<ZFourierTransform> (ZFourierTransform::create (log2n, direction, isReal));
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
} // namespace

TEST (ZFourierTransform, RefusalsNameTheirSource)
{
    ZFourierTransform base;
    base.init (10, 0, 1); // does nothing
    EXPECT_EQ (0u, base.getSize());

    ZBuffer a (16, "ZBuffer"), b (16, "ZBuffer"), c (16, "ZBuffer"), d (16, "ZBuffer");
    const char* message = "Fourier Transform is not supported on your processor.";
    const char* file = "Source/zdsp/common/ZFourierTransform";
    expectDspFailure ([&] { base.transform (a, b); }, message, file);
    expectDspFailure ([&] { base.transform (a, b, c, d); }, message, file);
    expectDspFailure ([&] { base.transformReal (a, b, c); }, message, file);

    for (unsigned direction : { 2u, 7u })
        expectDspFailure ([&] { make (10, direction, 1); }, "This should be impossible.", "Source/zdsp/macos/ZFourierTransformAV");
}

TEST (ZFourierTransformReal, ForwardMatchesTheDefinitionAndInverseGivesTheSignalBack)
{
    for (unsigned log2n : { 1u, 2u, 5u, 9u, 10u, 12u })
    {
        const unsigned n = 1u << log2n;
        auto forward = make (log2n, 0, 1);
        auto inverse = make (log2n, 1, 1);
        ZBuffer signal (n, "ZBuffer"), back (n, "ZBuffer"), re (n / 2 + 1, "ZBuffer"), im (n / 2 + 1, "ZBuffer");
        fillRandom (signal, log2n);

        // Scaled by 1/N, and the input left alone.
        const std::vector<float> input (signal.getData(), signal.getData() + n);
        forward->transformReal (signal, re, im);
        EXPECT_EQ (input, std::vector<float> (signal.getData(), signal.getData() + n));
        EXPECT_EQ (0.0f, im[0]);
        EXPECT_EQ (0.0f, im[n / 2]);
        if (n <= 1024)
        {
            const auto expected = naiveDft (std::vector<std::complex<double>> (input.begin(), input.end()), -1);
            for (unsigned k = 0; k <= n / 2; ++k)
            {
                EXPECT_NEAR (expected[k].real() / n, re[k], 1e-5) << "n " << n << " k " << k;
                EXPECT_NEAR (k == 0 || k == n / 2 ? 0.0 : expected[k].imag() / n, im[k], 1e-5) << "n " << n << " k " << k;
            }
        }

        const float nyquist = re[n / 2];
        inverse->transformReal (back, re, im);
        for (unsigned i = 0; i < n; ++i)
            ASSERT_NEAR (signal[i], back[i], 2e-6f) << "n " << n << " i " << i;
        // The inverse packed the Nyquist bin into im[0]: re and im are work area.
        if (n >= 256)
        {
            EXPECT_EQ (nyquist, im[0]) << n;
        }
    }
}

TEST (ZFourierTransformComplex, DefinitionAndInPlace)
{
    for (unsigned direction : { 0u, 1u })
    {
        // Out of place against the definition, forward scaled by 1/N (and the
        // input left alone) ...
        const unsigned n = 1024;
        ZBuffer r (n, "ZBuffer"), i (n, "ZBuffer"), outR (n, "ZBuffer"), outI (n, "ZBuffer");
        fillRandom (r, 7);
        fillRandom (i, 8);
        std::vector<std::complex<double>> x (n);
        for (unsigned t = 0; t < n; ++t)
            x[t] = { r[t], i[t] };
        make (10, direction, 0)->transform (r, i, outR, outI);
        const auto expected = naiveDft (x, direction == 0 ? -1 : 1);
        const double scale = direction == 0 ? 1.0 / n : 1.0;
        for (unsigned k = 0; k < n; ++k)
        {
            ASSERT_NEAR (expected[k].real() * scale, outR[k], 2e-6 * std::max (1.0, n * scale)) << direction << " " << k;
            ASSERT_NEAR (expected[k].imag() * scale, outI[k], 2e-6 * std::max (1.0, n * scale)) << direction << " " << k;
        }
        EXPECT_EQ ((float) x[3].real(), r[3]);

        // ... and in place giving the same bits as out of place.
        auto fft = make (12, direction, 0);
        ZBuffer bigR (4096, "ZBuffer"), bigI (4096, "ZBuffer"), bigOutR (4096, "ZBuffer"), bigOutI (4096, "ZBuffer");
        fillRandom (bigR, 11);
        fillRandom (bigI, 12);
        fft->transform (bigR, bigI, bigOutR, bigOutI);
        fft->transform (bigR, bigI);
        for (unsigned k = 0; k < 4096; ++k)
        {
            ASSERT_EQ (bigOutR[k], bigR[k]) << k;
            ASSERT_EQ (bigOutI[k], bigI[k]) << k;
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
