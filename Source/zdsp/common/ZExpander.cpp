#include "ZExpander.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>

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
    mAttackCoefficient = coefficientFor (mAttackMs);
    mReleaseCoefficient = coefficientFor (mReleaseMs);
}

ZExpander::~ZExpander() = default;

float ZExpander::coefficientFor (float ms) const
{
    // A time of 0 (or a negative one) means "follow at once"; a coefficient
    // outside [0, 1] would make the envelope swing negative or diverge.
    if (! (ms > 0.0f) || ! (mSampleRate > 0.0f))
        return 1.0f;

    const float c = 1.0f - std::pow (0.37f, 1.0f / (ms * 0.001f * mSampleRate));
    return std::clamp (std::isnan (c) ? 1.0f : c, 0.0f, 1.0f);
}

void ZExpander::setSampleRate (float sampleRate)
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0f)
        return;

    mSampleRate = sampleRate;
    mAttackCoefficient = coefficientFor (mAttackMs);
    mReleaseCoefficient = coefficientFor (mReleaseMs);
}

void ZExpander::setThresholdDb (float dB)
{
    mThresholdDb = dB;
    mThresholdLinear = std::pow (10.0f, 0.1f * dB);
}

void ZExpander::setThresholdLinear (float value)
{
    mThresholdLinear = value;
    mThresholdDb = 20.0f * std::log10 (value);
}

void ZExpander::setAttack (float ms)
{
    mAttackMs = ms;
    mAttackCoefficient = coefficientFor (ms);
}

void ZExpander::setRelease (float ms)
{
    mReleaseMs = ms;
    mReleaseCoefficient = coefficientFor (ms);
}

void ZExpander::setMaxGain (float dB)
{
    if (std::isnan (dB))
        return;
    mMaxGain = dB;
}

void ZExpander::reset()
{
    mPower = 1.0e-7f;
}

void ZExpander::process (const ZBuffer& in, ZBuffer& out)
{
    const unsigned n = std::min (in.getLength(), out.getLength());
    const float* x = in.getData();
    float* y = out.getData();

    if (! enabled)
    {
        if (x != y)
            std::copy (x, x + n, y);
        return;
    }

    // The threshold as the gain law sees it: finite and not below the floor.
    const float t = mThresholdDb >= kFloorDb ? mThresholdDb : kFloorDb;
    const float thresholdLinear = mThresholdLinear;
    const float maxGain = mMaxGain;
    float p = mPower;
    float mean = 0.0f;

    for (unsigned i = 0; i < n; ++i)
    {
        const float s = guardSample (x[i]);
        const float q = std::min (s * s, kMaxPower);
        const float c = q > p ? mAttackCoefficient : mReleaseCoefficient;
        p = p + (q - p) * c;
        if (! (p >= kFloorPower))
            p = kFloorPower;

        const float r = thresholdLinear > p ? mRatioBelow : mRatioAbove;
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
        mMeanGain = mean / (float) n;
}

} // namespace quarn
