#include "ZExpander.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

namespace
{
// Levels and thresholds below -200 dB are taken as -200 dB. A threshold of
// linear 0 (-infinity dB) and an envelope decayed to 0 by digital silence
// would otherwise meet as infinity - infinity in the gain law; the floor on the
// envelope also keeps it out of the (slow) denormal range during silence.
constexpr float kFloorDb = -200.0f;
constexpr float kFloorPower = 1.0e-20f;
// Above this the square of a sample could overflow the envelope.
constexpr float kMaxPower = 1.0e30f;
// Far below anything a float sample can carry; keeps the block's mean gain
// finite when a huge ratio sends the law towards -infinity.
constexpr float kMinGainDb = -2000.0f;
} // namespace

ZExpander::ZExpander()
{
    setName ("ZExpander");
    storeThreshold ({ -96.0f, 1.5848926e-5f });
}

ZExpander::~ZExpander() = default;

ZExpander::Threshold ZExpander::loadThreshold() const noexcept
{
    const std::uint64_t word = mThreshold.load (std::memory_order_relaxed);
    const auto high = (std::uint32_t) (word >> 32), low = (std::uint32_t) word;
    Threshold t;
    std::memcpy (&t.db, &high, sizeof (float));
    std::memcpy (&t.linear, &low, sizeof (float));
    return t;
}

void ZExpander::storeThreshold (Threshold t) noexcept
{
    std::uint32_t high, low;
    std::memcpy (&high, &t.db, sizeof (float));
    std::memcpy (&low, &t.linear, sizeof (float));
    mThreshold.store (((std::uint64_t) high << 32) | low, std::memory_order_relaxed);
}

float ZExpander::coefficientFor (float ms) const noexcept
{
    // A time of 0 (or a negative one) means "follow at once"; a coefficient
    // outside [0, 1] would make the envelope swing negative or diverge.
    const float rate = mSampleRate.load (std::memory_order_relaxed);
    if (! (ms > 0.0f) || ! (rate > 0.0f))
        return 1.0f;

    const float c = 1.0f - std::pow (0.37f, 1.0f / (ms * 0.001f * rate));
    return std::clamp (std::isnan (c) ? 1.0f : c, 0.0f, 1.0f);
}

void ZExpander::prepare (double sampleRate, int)
{
    setSampleRate ((float) sampleRate);
    reset();
}

void ZExpander::setSampleRate (float sampleRate)
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0f)
        return;

    mSampleRate.store (sampleRate, std::memory_order_relaxed);
}

void ZExpander::setThresholdDb (float dB)
{
    storeThreshold ({ dB, std::pow (10.0f, 0.1f * dB) });
}

void ZExpander::setThresholdLinear (float value)
{
    storeThreshold ({ 20.0f * std::log10 (value), value });
}

void ZExpander::setAttack (float ms)
{
    mAttackMs.store (ms, std::memory_order_relaxed);
}

void ZExpander::setRelease (float ms)
{
    mReleaseMs.store (ms, std::memory_order_relaxed);
}

void ZExpander::setMaxGain (float dB)
{
    if (std::isnan (dB))
        return;
    mMaxGain.store (dB, std::memory_order_relaxed);
}

void ZExpander::reset()
{
    mPower = 1.0e-7f;
}

void ZExpander::process (const ZBuffer& in, ZBuffer& out) noexcept
{
    const unsigned n = std::min (in.getLength(), out.getLength());
    const float* x = in.getData();
    float* y = out.getData();

    if (! enabled.load (std::memory_order_relaxed))
    {
        if (x != y)
            std::copy (x, x + n, y);
        return;
    }

    // The coefficients are worked out again only when a time or the rate moved.
    const float attackMs = mAttackMs.load (std::memory_order_relaxed);
    const float releaseMs = mReleaseMs.load (std::memory_order_relaxed);
    const float rate = mSampleRate.load (std::memory_order_relaxed);
    if (attackMs != mCoefficientAttackMs || releaseMs != mCoefficientReleaseMs || rate != mCoefficientRate)
    {
        mAttackCoefficient = coefficientFor (attackMs);
        mReleaseCoefficient = coefficientFor (releaseMs);
        mCoefficientAttackMs = attackMs;
        mCoefficientReleaseMs = releaseMs;
        mCoefficientRate = rate;
    }

    // The threshold as the gain law sees it: finite and not below the floor.
    const Threshold threshold = loadThreshold();
    const float t = threshold.db >= kFloorDb ? threshold.db : kFloorDb;
    const float thresholdLinear = threshold.linear;
    const float ratioBelow = mRatioBelow.load (std::memory_order_relaxed);
    const float ratioAbove = mRatioAbove.load (std::memory_order_relaxed);
    const float maxGain = mMaxGain.load (std::memory_order_relaxed);
    const float attack = mAttackCoefficient;
    const float release = mReleaseCoefficient;
    float p = mPower;
    float mean = 0.0f;

    for (unsigned i = 0; i < n; ++i)
    {
        const float s = guardSample (x[i]);
        const float q = std::min (s * s, kMaxPower);
        const float c = q > p ? attack : release;
        p = p + (q - p) * c;
        if (! (p >= kFloorPower))
            p = kFloorPower;

        const float r = thresholdLinear > p ? ratioBelow : ratioAbove;
        const float level = 10.0f * std::log10 (p);

        float g = (level - t) * r + t - level;
        if (std::isnan (g)) // a NaN or infinite ratio: leave the level alone
            g = 0.0f;
        g = std::min (std::max (g, kMinGainDb), maxGain);

        mean += g;
        y[i] = s * std::pow (10.0f, 0.05f * g);
    }

    mPower = p;
    if (n > 0)
        mMeanGain.store (mean / (float) n, std::memory_order_relaxed);
}

} // namespace quarn
