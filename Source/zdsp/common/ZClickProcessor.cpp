#include "ZClickProcessor.h"
#include "ZImpulseRuns.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quarn
{

ZClickProcessor::ZClickProcessor (unsigned blockSize, float sampleRate)
    : mBlockSize (std::max<std::int64_t> (blockSize, 1))
{
    setSampleRate (sampleRate);

    mLatency = 6 * mBlockSize + (kMaskOffset - kOutputOffset);
    mInputOffset = 6 * mBlockSize + kMaskOffset;

    const auto size = (unsigned) (7 * mBlockSize + 1552);
    mSignal = new ZBuffer (size, "ZBuffer");
    mMask = new ZBuffer (size, "ZBuffer");
}

ZClickProcessor::~ZClickProcessor()
{
    delete mSignal;
    delete mMask;
}

ZClickProcessor* ZClickProcessor::create (unsigned blockSize, float sampleRate)
{
    return new ZClickProcessor (blockSize, sampleRate);
}

void ZClickProcessor::setThreshold (float dB)
{
    if (std::isnan (dB))
        return;
    mThresholdFactor = std::pow (10.0f, dB / 20.0f);
}

void ZClickProcessor::setSampleRate (float sampleRate)
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0f || sampleRate > 1.0e7f)
        return;
    mSampleRate = sampleRate;
}

int ZClickProcessor::getMedianHalfWidth() const noexcept
{
    const auto k = (int) (mSampleRate * 6.0f / 96000.0f + 0.5f);
    return std::clamp (k, 1, 6);
}

void ZClickProcessor::reset()
{
    mSignal->clear();
    mMask->clear();
    std::fill (std::begin (mPeaks), std::end (mPeaks), 0.0f);
    mClickHeld = false;
    mHeldSamples = 0;
}

bool ZClickProcessor::process (const ZBuffer& in, ZBuffer& out, unsigned numSamples) noexcept
{
    const auto n = (std::int64_t) std::min ({ numSamples, (unsigned) mBlockSize, in.getLength(), out.getLength() });
    if (n <= 0)
        return mClickHeld;

    float* y = mSignal->getData();
    float* mask = mMask->getData();

    mPeaks[kPeakHistory - 1] = guardCopy (in.getData(), y + mInputOffset, (std::size_t) n);

    // The median of the peaks of the block being judged (six blocks back) and
    // of K blocks either side: the threshold follows the material.
    const int k = getMedianHalfWidth();
    const int count = 2 * k + 1;
    std::copy (mPeaks + 6 - k, mPeaks + 6 + k + 1, mSortArea);
    for (bool swapped = true; swapped;)
    {
        swapped = false;
        for (int i = 0; i + 1 < count; ++i)
            if (mSortArea[i] > mSortArea[i + 1])
            {
                std::swap (mSortArea[i], mSortArea[i + 1]);
                swapped = true;
            }
    }
    // A median of 0 means the blocks around are digital silence: there is no
    // level to judge against, and a limit of 0 would take every non-zero
    // sample of a short sound for a click (and erase it) whatever the amount.
    const float median = mSortArea[k];
    const float limit = median > 0.0f ? mThresholdFactor * median : std::numeric_limits<float>::infinity();

    for (std::int64_t t = kMaskOffset; t < kMaskOffset + n; ++t)
        mask[t] = std::abs (y[t]) > limit ? 1.0f : 0.0f;

    const bool repaired = repair (n);

    std::memcpy (out.getData(), y + kOutputOffset, sizeof (float) * (std::size_t) n);

    const auto size = (std::size_t) mSignal->getLength();
    std::memmove (y, y + n, sizeof (float) * (size - (std::size_t) n));
    std::memmove (mask, mask + n, sizeof (float) * (size - (std::size_t) n));
    std::memmove (mPeaks, mPeaks + 1, sizeof (float) * (kPeakHistory - 1));

    if (repaired)
    {
        mClickHeld = true;
        mHeldSamples = 0;
    }
    else if (mClickHeld)
    {
        mHeldSamples += (std::uint32_t) n;
        if (mHeldSamples > (std::uint32_t) (0.1f * mSampleRate))
            mClickHeld = false;
    }

    return mClickHeld;
}

bool ZClickProcessor::repair (std::int64_t n)
{
    float* y = mSignal->getData();

    return repairEachRun (mMask->getData(), kScanStart, kScanStart + n, kMaxClick, [y] (std::int64_t i, std::int64_t e)
    {
        const std::int64_t length = e - i;

        for (int k = 0; k < kFade; ++k)
        {
            const float w = (float) k / (float) kFade;
            const std::int64_t t = i - (kFade - 1) + k;
            y[t] = (1.0f - w) * y[t] + w * y[i - k];
        }

        for (std::int64_t m = 1; m <= length; ++m)
            y[i + m] = y[i - (kFade - 1) - m];

        for (int j = 0; j < kFade; ++j)
        {
            const float w = (float) (kFade - j) / (float) kFade;
            const std::int64_t t = e + 1 + j;
            y[t] = (1.0f - w) * y[t] + w * y[i - kFade - length - j];
        }
    });
}

} // namespace quarn
