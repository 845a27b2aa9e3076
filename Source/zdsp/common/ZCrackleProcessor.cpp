#include "ZCrackleProcessor.h"
#include "ZImpulseRuns.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quarn
{

ZCrackleProcessor::ZCrackleProcessor (unsigned blockSize, float sampleRate)
    : mBlockSize (std::max<std::int64_t> (blockSize, 1)),
      mSmoother (2 * kRamp + kMaxImpulse + 2)
{
    setSampleRate (sampleRate);

    const auto size = (unsigned) (mBlockSize + 306);
    mSignal = new ZBuffer (size, "ZBuffer");
    mDetection = new ZBuffer (size, "ZBuffer");
    mError = new ZBuffer (size, "ZBuffer");
    mPrediction = new ZBuffer (size, "ZBuffer");
    mCoefficients = new ZBuffer (kTaps, "ZBuffer");
}

ZCrackleProcessor::~ZCrackleProcessor()
{
    delete mSignal;
    delete mDetection;
    delete mError;
    delete mPrediction;
    delete mCoefficients;
}

ZCrackleProcessor* ZCrackleProcessor::create (unsigned blockSize, float sampleRate)
{
    return new ZCrackleProcessor (blockSize, sampleRate);
}

void ZCrackleProcessor::setThreshold (float dB)
{
    if (std::isnan (dB))
        return;
    // Capped so that envelope * factor stays finite (0 * infinity is NaN).
    mThresholdFactor = std::min (std::pow (10.0f, dB / 20.0f), 1.0e30f);
}

void ZCrackleProcessor::setSampleRate (float sampleRate)
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0f)
        return;
    mSampleRate = sampleRate;
}

float ZCrackleProcessor::getStepSize() const noexcept
{
    if (mSampleRate <= 44100.0f)
        return 0.005f;
    return 0.005f * std::pow (100.0f, 1.0f - mSampleRate / 44100.0f);
}

void ZCrackleProcessor::reset()
{
    mSignal->clear();
    mDetection->clear();
    mError->clear();
    mPrediction->clear();
    mCoefficients->clear();
}

bool ZCrackleProcessor::process (const ZBuffer& in, ZBuffer& out, unsigned numSamples) noexcept
{
    const auto n = (std::int64_t) std::min ({ numSamples, (unsigned) mBlockSize, in.getLength(), out.getLength() });
    if (n <= 0)
        return false;

    const float mu = getStepSize();
    float* x = mSignal->getData();
    float* d = mDetection->getData();
    float* err = mError->getData();
    float* pred = mPrediction->getData();
    float* a = mCoefficients->getData();
    const float factor = mThresholdFactor;
    float envelope = mEnvelope;

    guardCopy (in.getData(), x + kInputOffset, (std::size_t) n);

    // Guarded products throughout: the predictor and the envelope are
    // recursive, and decaying into denormals would only cost time.
    for (std::int64_t t = kInputOffset; t < kInputOffset + n; ++t)
    {
        const float* past = x + t - 1; // past[-k] = x[t - 1 - k]
        float p = 0.0f;
        float energy = 1.0e-6f;
        for (int k = 0; k < kTaps; ++k)
        {
            p += guardedProduct (a[k], past[-k]);
            energy += guardedProduct (past[-k], past[-k]);
        }

        const float e = x[t] - p;
        const float step = guardedProduct (mu / energy, e);
        for (int k = 0; k < kTaps; ++k)
            a[k] += guardedProduct (step, past[-k]);

        const float magnitude = std::abs (e);
        envelope = guardedProduct (0.997f, envelope) + guardedProduct (0.003f, magnitude);
        const float level = guardedProduct (envelope, factor);
        float detection = (magnitude - level) / (level + 0.001f);
        if (! (detection > 0.0f))
            detection = 0.0f;
        else if (detection > 1.0f)
            detection = 1.0f;

        d[t] = detection;
        err[t] = e;
        pred[t] = p;
    }

    mEnvelope = envelope;

    const bool repaired = repair (n);

    std::memcpy (out.getData(), x, sizeof (float) * (std::size_t) n);

    const auto size = (std::size_t) mSignal->getLength();
    const auto keep = sizeof (float) * (size - (std::size_t) n);
    std::memmove (x, x + n, keep);
    std::memmove (d, d + n, keep);
    std::memmove (err, err + n, keep);
    std::memmove (pred, pred + n, keep);

    return repaired;
}

bool ZCrackleProcessor::repair (std::int64_t n)
{
    float* x = mSignal->getData();

    return repairEachRun (mDetection->getData(), kScanStart, kScanStart + n, kMaxImpulse, [this, x] (std::int64_t i, std::int64_t e)
    {
        // Weights fall from 1 to 1/15 towards the impulse, are 0 across it and
        // rise from 1/15 to 1 after it.
        const std::int64_t impulse = e - i;
        const auto count = (unsigned) (impulse + 2 * kRamp);
        float* w = mWeights;
        for (int k = 0; k < kRamp; ++k)
        {
            w[k] = 1.0f - (float) k / (float) kRamp;
            w[kRamp + impulse + k] = (float) (k + 1) / (float) kRamp;
        }
        std::fill (w + kRamp, w + kRamp + impulse, 0.0f);

        mSmoother.smooth (x + i - (kRamp - 1), w, count, 1.0f);
    });
}

} // namespace quarn
