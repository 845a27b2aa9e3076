#include "ZParametricFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quarn
{

namespace
{
// Zero, denormal (exponent bits all zero) or not finite (all ones): the state
// restarts from 0. Checked once per block rather than per sample.
float cleanState (float value) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof (bits));
    const std::uint32_t exponent = bits & 0x7f800000u;
    return (exponent == 0u || exponent == 0x7f800000u) ? 0.0f : value;
}
} // namespace

ZParametricFilter::ZParametricFilter() = default;

ZParametricFilter* ZParametricFilter::create (float sampleRate)
{
    std::unique_ptr<ZParametricFilter> filter (new ZParametricFilter());
    filter->mSampleRate = sampleRate;
    filter->setParameters (0, 1.0f, 1.0f, 1.0f);
    return filter.release();
}

void ZParametricFilter::setParameters (int type, float frequency, float q, float gainDb)
{
    if (! (frequency > 0.0f) || ! (q > 0.0f))
        return;

    const float rate = mSampleRate;
    if (! (rate > 0.0f) || ! std::isfinite (rate))
    {
        // Nothing to compute yet; setSampleRate will.
        mType = type;
        mFrequency = frequency;
        mQ = q;
        mGainDb = gainDb;
        return;
    }

    float f = frequency;
    if (f >= 0.5f * rate)
        f = 0.95f * rate * 0.5f;

    const double A = std::pow (10.0, (double) gainDb / 40.0);
    const float w0 = f * 6.2831855f / rate;
    const double c = std::cos ((double) w0);
    const double s = std::sin ((double) w0);
    const double alpha = s * std::sinh (1.0 / (2.0 * (double) q));
    const double beta = s * std::sqrt (std::max (0.0, (A * A + 1.0) / (double) q - (A - 1.0) * (A - 1.0)));

    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a0 = 1.0, a1 = 0.0, a2 = 0.0;

    switch (type)
    {
        case 1: // peaking
            b0 = 1.0 + alpha * A;
            b1 = -2.0 * c;
            b2 = 1.0 - alpha * A;
            a0 = 1.0 + alpha / A;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha / A;
            break;
        case 2: // low shelf
            b0 = A * ((A + 1.0) - (A - 1.0) * c + beta);
            b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * c);
            b2 = A * ((A + 1.0) - (A - 1.0) * c - beta);
            a0 = (A + 1.0) + (A - 1.0) * c + beta;
            a1 = -2.0 * ((A - 1.0) + (A + 1.0) * c);
            a2 = (A + 1.0) + (A - 1.0) * c - beta;
            break;
        case 3: // high shelf
            b0 = A * ((A + 1.0) + (A - 1.0) * c + beta);
            b1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * c);
            b2 = A * ((A + 1.0) + (A - 1.0) * c - beta);
            a0 = (A + 1.0) - (A - 1.0) * c + beta;
            a1 = 2.0 * ((A - 1.0) - (A + 1.0) * c);
            a2 = (A + 1.0) - (A - 1.0) * c - beta;
            break;
        case 4: // low-pass
            b0 = (1.0 - c) / 2.0;
            b1 = 1.0 - c;
            b2 = (1.0 - c) / 2.0;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case 5: // high-pass
            b0 = (1.0 + c) / 2.0;
            b1 = -(1.0 + c);
            b2 = (1.0 + c) / 2.0;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case 6: // band-pass, 0 dB peak
            b0 = alpha;
            b1 = 0.0;
            b2 = -alpha;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        case 7: // notch
            b0 = 1.0;
            b1 = -2.0 * c;
            b2 = 1.0;
            a0 = 1.0 + alpha;
            a1 = -2.0 * c;
            a2 = 1.0 - alpha;
            break;
        default: // unity
            break;
    }

    Coefficients next;
    next.b0 = (float) (b0 / a0);
    next.b1 = (float) (b1 / a0);
    next.b2 = (float) (b2 / a0);
    next.a0 = 1.0f;
    next.a1 = (float) (a1 / a0);
    next.a2 = (float) (a2 / a0);

    // An extreme gain or Q can overflow the formulas; such a set would stay
    // in the state for good, so it is refused like a frequency of 0.
    for (float v : { next.b0, next.b1, next.b2, next.a1, next.a2 })
        if (! std::isfinite (v))
            return;

    mType = type;
    mFrequency = frequency;
    mQ = q;
    mGainDb = gainDb;
    mPendingSerial.fetch_add (1, std::memory_order_relaxed);
    std::atomic_thread_fence (std::memory_order_release);
    mPending[0].store (next.b0, std::memory_order_relaxed);
    mPending[1].store (next.b1, std::memory_order_relaxed);
    mPending[2].store (next.b2, std::memory_order_relaxed);
    mPending[3].store (next.a1, std::memory_order_relaxed);
    mPending[4].store (next.a2, std::memory_order_relaxed);
    mPendingSerial.fetch_add (1, std::memory_order_release);
    mPendingFlag.store (true, std::memory_order_release);
}

void ZParametricFilter::setSampleRate (float sampleRate)
{
    mSampleRate = sampleRate;
    setParameters (mType, mFrequency, mQ, mGainDb);
}

bool ZParametricFilter::takePending() noexcept
{
    if (mPendingFlag.exchange (false, std::memory_order_acquire))
    {
        const unsigned before = mPendingSerial.load (std::memory_order_acquire);
        Coefficients next;
        next.b0 = mPending[0].load (std::memory_order_relaxed);
        next.b1 = mPending[1].load (std::memory_order_relaxed);
        next.b2 = mPending[2].load (std::memory_order_relaxed);
        next.a1 = mPending[3].load (std::memory_order_relaxed);
        next.a2 = mPending[4].load (std::memory_order_relaxed);
        std::atomic_thread_fence (std::memory_order_acquire);

        // A set rewritten while it was read could mix two sets into an
        // unstable filter: this block keeps the old one, the next tries again.
        if ((before & 1u) == 0 && mPendingSerial.load (std::memory_order_relaxed) == before)
            mActive = next;
        else
            mPendingFlag.store (true, std::memory_order_relaxed);
    }
    return mSampleRate.load (std::memory_order_relaxed) > 0.0f;
}

void ZParametricFilter::process (const ZBuffer& in, ZBuffer& out) noexcept
{
    const bool running = takePending();

    const unsigned n = in.getLength();
    if (out.getLength() < n || ! running)
        return;

    const float b0 = mActive.b0, b1 = mActive.b1, b2 = mActive.b2, a1 = mActive.a1, a2 = mActive.a2;
    float s1 = mS1, s2 = mS2;
    const float* x = in.getData();
    float* y = out.getData();

    for (unsigned i = 0; i < n; ++i)
    {
        const float input = x[i];
        const float output = b0 * input + s1;
        s1 = b1 * input + s2 - a1 * output;
        s2 = b2 * input - a2 * output;
        y[i] = output;
    }

    mS1 = cleanState (s1);
    mS2 = cleanState (s2);
}

// Packing the filters' scalars into vectors costs more shuffles than it saves
// (the recursion is serial anyway), so the function stays scalar.
template <int N>
[[gnu::optimize ("no-tree-slp-vectorize")]] void ZParametricFilter::runChain (ZParametricFilter* const* filters, float* x, unsigned n) noexcept
{
    float b0[N], b1[N], b2[N], a1[N], a2[N], s1[N], s2[N];
    for (int k = 0; k < N; ++k)
    {
        const auto& c = filters[k]->mActive;
        b0[k] = c.b0, b1[k] = c.b1, b2[k] = c.b2, a1[k] = c.a1, a2[k] = c.a2;
        s1[k] = filters[k]->mS1;
        s2[k] = filters[k]->mS2;
    }

    for (unsigned i = 0; i < n; ++i)
    {
        float v = x[i];
        for (int k = 0; k < N; ++k)
        {
            const float output = b0[k] * v + s1[k];
            s1[k] = b1[k] * v + s2[k] - a1[k] * output;
            s2[k] = b2[k] * v - a2[k] * output;
            v = output;
        }
        x[i] = v;
    }

    for (int k = 0; k < N; ++k)
    {
        filters[k]->mS1 = cleanState (s1[k]);
        filters[k]->mS2 = cleanState (s2[k]);
    }
}

void ZParametricFilter::processChain (ZParametricFilter* const* filters, int count, ZBuffer& buffer) noexcept
{
    // Filters without a rate leave the signal alone, as their process would.
    constexpr int kGroup = 4;
    ZParametricFilter* group[kGroup];
    int grouped = 0;
    float* x = buffer.getData();
    const unsigned n = buffer.getLength();

    auto flush = [&] {
        switch (grouped)
        {
            case 1: runChain<1> (group, x, n); break;
            case 2: runChain<2> (group, x, n); break;
            case 3: runChain<3> (group, x, n); break;
            case 4: runChain<4> (group, x, n); break;
            default: break;
        }
        grouped = 0;
    };

    for (int k = 0; k < count; ++k)
    {
        if (filters[k] == nullptr || ! filters[k]->takePending())
            continue;
        group[grouped++] = filters[k];
        if (grouped == kGroup)
            flush();
    }
    flush();
}

void ZParametricFilter::reset() noexcept
{
    mS1 = 0.0f;
    mS2 = 0.0f;
}

} // namespace quarn
