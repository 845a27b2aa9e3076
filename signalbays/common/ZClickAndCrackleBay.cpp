#include "ZClickAndCrackleBay.h"

#include <algorithm>
#include <cmath>

namespace quarn
{

ZClickAndCrackleBay::ZClickAndCrackleBay (const char* name, int channelCount)
    : mName (name != nullptr ? name : ""),
      mChannelCount ((unsigned) std::max (channelCount, 0))
{
    mClick.resize (mChannelCount);
    mCrackle.resize (mChannelCount);
}

ZClickAndCrackleBay::~ZClickAndCrackleBay() = default;

void ZClickAndCrackleBay::setAmount (float amount)
{
    const double a = amount;
    mClickThreshold.store (27.0 * (1.0 - a) + 3.0, std::memory_order_relaxed);
    mCrackleThreshold.store (20.0 * (1.0 - a) + 10.0, std::memory_order_relaxed);
    mAmount.store (amount, std::memory_order_relaxed);
}

void ZClickAndCrackleBay::prepare (double sampleRate, int maxBlock)
{
    const auto rate = (float) sampleRate;
    const float newRate = std::isfinite (rate) && rate > 0.0f ? rate : mSampleRate;
    const int newBlock = std::max (maxBlock, 1);

    if (! isBuilt() || newBlock != mBlockSize)
    {
        for (unsigned c = 0; c < mChannelCount; ++c)
        {
            mCrackle[c].reset (ZCrackleProcessor::create ((unsigned) newBlock, newRate));
            mClick[c].reset (ZClickProcessor::create ((unsigned) newBlock, newRate));
        }
    }
    else if (newRate != mSampleRate)
    {
        // Neither processor sizes anything by the rate.
        for (unsigned c = 0; c < mChannelCount; ++c)
        {
            mClick[c]->setSampleRate (newRate);
            mCrackle[c]->setSampleRate (newRate);
        }
    }

    mSampleRate = newRate;
    mBlockSize = newBlock;
    mLatency = mChannelCount > 0 ? mCrackle[0]->getLatency() + mClick[0]->getLatency() : 0;
    reset();
}

void ZClickAndCrackleBay::setSampleRate (float sampleRate)
{
    if (! isBuilt())
    {
        if (std::isfinite (sampleRate) && sampleRate > 0.0f)
            mSampleRate = sampleRate;
        return;
    }
    prepare (sampleRate, mBlockSize);
}

void ZClickAndCrackleBay::setBlockSize (int blockSize)
{
    prepare (mSampleRate, blockSize);
}

bool ZClickAndCrackleBay::prepare()
{
    prepare (mSampleRate, mBlockSize);
    return true;
}

void ZClickAndCrackleBay::reset()
{
    for (unsigned c = 0; c < mChannelCount; ++c)
    {
        if (mClick[c] != nullptr)
            mClick[c]->reset();
        if (mCrackle[c] != nullptr)
            mCrackle[c]->reset();
    }
    mClickActive = false;
}

void ZClickAndCrackleBay::process (ZBuffer** in, ZBuffer** out, int numSamples) noexcept
{
    if (numSamples <= 0)
        return;

    const auto n = (unsigned) numSamples;

    if (! isBuilt())
    {
        // Not prepared yet: nothing to repair with, pass the audio on.
        for (unsigned c = 0; c < mChannelCount; ++c)
            out[c]->copyFrom (*in[c], { 0, (int) std::min (n, std::min (in[c]->getLength(), out[c]->getLength())) }, 0);
        return;
    }

    const auto clickThreshold = (float) getClickThreshold();
    const auto crackleThreshold = (float) getCrackleThreshold();
    bool active = false;

    for (unsigned c = 0; c < mChannelCount; ++c)
    {
        mClick[c]->setThreshold (clickThreshold);
        mCrackle[c]->setThreshold (crackleThreshold);
        active = mClick[c]->process (*in[c], *out[c], n) || active;
        mCrackle[c]->process (*out[c], *out[c], n);
    }

    mClickActive = active;
}

} // namespace quarn
