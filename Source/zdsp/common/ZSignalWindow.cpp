#include "ZSignalWindow.h"

#include <cmath>
#include <new>

namespace quarn
{

namespace
{
const char* const kWindowMissing = "Unable to allocate a ZBuffer";

// The modified Bessel function of order 0 by its power series. The stop test
// follows each added term, so at least the k = 2 term joins once the first one
// matters.
double besselI0 (double x)
{
    const double half = x * 0.5;
    double power = half;             // (x/2)^k / k!
    double term = power * power;
    double sum = 1.0 + term;

    if (term > 1.0e-6)
    {
        for (int k = 2;; ++k)
        {
            power *= half / (double) k;
            term = power * power;
            sum += term;

            // A huge argument overflows to infinity, where the terms never
            // shrink again; stop there rather than loop for ever.
            if (! (term > 1.0e-6) || ! std::isfinite (sum))
                break;
        }
    }

    return sum;
}

float kaiserBeta (float attenuation)
{
    if (attenuation >= 50.0f)
        return 0.1102f * (attenuation - 8.7f);

    if (attenuation > 21.0f)
        return 0.5842f * std::pow (attenuation - 21.0f, 0.4f) + 0.07886f * (attenuation - 21.0f);

    return 0.0f;
}

// Step between two samples of the cosine windows: 2 pi / (N - 1).
float signalWindowStep (unsigned size)
{
    return (float) (2.0 * M_PI / (double) (size - 1));
}

float hammingValue (unsigned i, float step)
{
    const float argument = (float) i * step;
    return (float) (0.54 - 0.46 * std::cos ((double) argument));
}

void scaleWindowPair (ZGain& gain, ZBuffer& window, ZBuffer& inverse, float sum)
{
    // A window that is zero at every sampled position (an unknown type) has no
    // meaningful normalisation; scaling by 1/0 would turn it into NaNs.
    if (sum == 0.0f || ! std::isfinite (sum))
        return;

    gain.scale (window, 1.0f / sum);
    gain.scale (inverse, sum);
}

// Sum of the window values (or their squares) taken every size/overlap
// positions, the quantity the normalisations divide by.
float sampledSum (const ZBuffer& window, unsigned overlap, bool squared)
{
    const unsigned length = window.getLength();
    unsigned step = overlap == 0 ? length : length / overlap;
    if (step == 0)
        step = 1;

    float sum = 0.0f;
    for (unsigned i = 0; i < length; i += step)
        sum += squared ? window[i] * window[i] : window[i];
    return sum;
}

// Builds a window object and runs its init, deleting it again when init throws.
template <typename Window, typename... Args>
Window* createInitialised (Args... args)
{
    auto* window = new Window();
    try
    {
        window->init (args...);
    }
    catch (...)
    {
        delete window;
        throw;
    }
    return window;
}
} // namespace

//==============================================================================
ZWindowPair::~ZWindowPair()
{
    delete mGain;
    delete mWindow;
    delete mInverseWindow;
}

void ZWindowPair::allocate (unsigned size, const char* file)
{
    delete mGain;
    mGain = nullptr;
    delete mWindow;
    mWindow = nullptr;
    delete mInverseWindow;
    mInverseWindow = nullptr;

    mGain = ZGain::create (false);
    mWindow = new (std::nothrow) ZBuffer (size, "mWindow");
    if (mWindow == nullptr)
        QJ_THROW (kWindowMissing, file);
    mInverseWindow = new ZBuffer (size, "mInverseWindow");
}

void ZWindowPair::normalizeForPower (unsigned overlap)
{
    scaleWindowPair (*mGain, *mWindow, *mInverseWindow, sampledSum (*mWindow, overlap, true));
}

void ZWindowPair::normalizeForAmplitude (unsigned overlap)
{
    scaleWindowPair (*mGain, *mWindow, *mInverseWindow, sampledSum (*mWindow, overlap, false));
}

void ZWindowPair::apply (ZBuffer& buffer)
{
    mGain->multiply (buffer, *mWindow);
}

void ZWindowPair::applyTo (const ZBuffer& source, ZBuffer& destination)
{
    mGain->multiplyCopy (*mWindow, source, destination);
}

void ZWindowPair::remove (const ZBuffer& source, ZBuffer& destination)
{
    mGain->multiplyCopy (source, *mInverseWindow, destination);
}

//==============================================================================
ZSignalWindow::ZSignalWindow()
{
    setName ("ZSignalWindow");
}

ZSignalWindow* ZSignalWindow::create (unsigned size, unsigned type, float parameter)
{
    return createInitialised<ZSignalWindow> (size, type, parameter);
}

void ZSignalWindow::init (unsigned size, unsigned type, float parameter)
{
    mSum = 0.0f;
    mSumOfSquares = 0.0f;
    allocate (size, "Source/zdsp/common/ZSignalWindow");

    if (type > 4)
        return;

    auto& w = *mWindow;
    auto& inverse = *mInverseWindow;

    // The formulas divide by N - 1 (and by N / 2 for the triangle); a single
    // sample window is simply 1.
    if (size == 1)
    {
        w[0] = 1.0f;
        inverse[0] = 1.0f;
        mSum = 1.0f;
        mSumOfSquares = 1.0f;
        return;
    }

    const float step = signalWindowStep (size);
    const float half = (float) (size / 2);
    const float beta = type == 2 ? kaiserBeta (parameter) : 0.0f;
    const float kaiserCentre = (float) (size - 1) * 0.5f;
    const float kaiserNorm = (float) besselI0 ((double) beta);

    for (unsigned i = 0; i < size; ++i)
    {
        float value = 0.0f;

        switch (type)
        {
            case 0:
                value = hammingValue (i, step);
                break;

            case 1:
            {
                const float argument = (float) i * step;
                value = (float) (0.5 - 0.5 * std::cos ((double) argument));
                break;
            }

            case 2:
            {
                const float r = ((float) i - kaiserCentre) / kaiserCentre;
                const float x = beta * std::sqrt (1.0f - r * r);
                value = (float) besselI0 ((double) x) / kaiserNorm;
                break;
            }

            case 3:
            {
                const float argument = (float) i * step;
                const double doubleArgument = (double) (i + i) * (double) step;
                value = (float) (0.42 - 0.5 * std::cos ((double) argument) + 0.08 * std::cos (doubleArgument));
                break;
            }

            case 4:
            {
                const float position = (float) i;
                value = (float) i < half ? 1.0f - (half - position) / half
                                         : 1.0f - (position - half) / half;
                break;
            }

            default:
                break;
        }

        w[i] = value;
        inverse[i] = 1.0f / value;
        mSum += value;
        mSumOfSquares += value * value;
    }
}

float* ZSignalWindow::getWindowData()
{
    return mWindow->getData();
}

//==============================================================================
ZHammingWindow::ZHammingWindow()
{
    setName ("ZHammingWindow");
}

ZHammingWindow* ZHammingWindow::create (unsigned size)
{
    return createInitialised<ZHammingWindow> (size);
}

void ZHammingWindow::init (unsigned size)
{
    allocate (size, "Source/zdsp/common/ZHammingWindow");

    auto& w = *mWindow;
    auto& inverse = *mInverseWindow;

    if (size == 1)
    {
        w[0] = 1.0f;
        inverse[0] = 1.0f;
        return;
    }

    // This class has always formed its step from a single-precision 2 pi.
    const float step = 6.2831855f / (float) (size - 1);

    for (unsigned i = 0; i < size; ++i)
    {
        const float value = hammingValue (i, step);
        w[i] = value;
        inverse[i] = 1.0f / value;
    }
}

} // namespace quarn
