#include "ZClickAndCrackleBay.h"

#include <algorithm>
#include <cmath>

namespace quarn
{

ZClickAndCrackleBay::ZClickAndCrackleBay (const char* name, int channelCount)
    : mName (name != nullptr ? name : ""),
      mChannelCount ((unsigned) std::max (channelCount, 0)),
      mClickThreshold (juce::var (30.0)),
      mCrackleThreshold (juce::var (30.0))
{
    mClick.resize (mChannelCount);
    mCrackle.resize (mChannelCount);
}

ZClickAndCrackleBay::~ZClickAndCrackleBay() = default;

void ZClickAndCrackleBay::setAmount (float amount)
{
    const double a = amount;
    mClickThreshold.setValue (27.0 * (1.0 - a) + 3.0);
    mCrackleThreshold.setValue (20.0 * (1.0 - a) + 10.0);
    mAmount = amount;
}

double ZClickAndCrackleBay::getClickThreshold() const
{
    return (double) mClickThreshold.getValue();
}

double ZClickAndCrackleBay::getCrackleThreshold() const
{
    return (double) mCrackleThreshold.getValue();
}

void ZClickAndCrackleBay::setSampleRate (float sampleRate)
{
    if (! std::isfinite (sampleRate) || sampleRate <= 0.0f)
        return;

    mSampleRate = sampleRate;
    for (unsigned c = 0; c < mChannelCount; ++c)
    {
        if (mClick[c] != nullptr)
            mClick[c]->setSampleRate (sampleRate);
        if (mCrackle[c] != nullptr)
            mCrackle[c]->setSampleRate (sampleRate);
    }
}

void ZClickAndCrackleBay::setBlockSize (int blockSize)
{
    mBlockSize = std::max (blockSize, 1);
    prepare();
}

bool ZClickAndCrackleBay::prepare()
{
    for (unsigned c = 0; c < mChannelCount; ++c)
    {
        mCrackle[c].reset (ZCrackleProcessor::create ((unsigned) mBlockSize, mSampleRate));
        mClick[c].reset (ZClickProcessor::create ((unsigned) mBlockSize, mSampleRate));
    }

    mLatency = mChannelCount > 0 ? mCrackle[0]->getLatency() + mClick[0]->getLatency() : 0;
    reset();
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

void ZClickAndCrackleBay::process (ZBuffer** in, ZBuffer** out, int numSamples)
{
    if (numSamples <= 0)
        return;

    const auto clickThreshold = (float) getClickThreshold();
    const auto crackleThreshold = (float) getCrackleThreshold();
    const auto n = (unsigned) numSamples;
    bool active = false;

    for (unsigned c = 0; c < mChannelCount; ++c)
    {
        if (mClick[c] == nullptr || mCrackle[c] == nullptr)
        {
            // Not prepared yet: nothing to repair with, pass the audio on.
            out[c]->copyFrom (*in[c], { 0, (int) std::min (n, std::min (in[c]->getLength(), out[c]->getLength())) }, 0);
            continue;
        }

        mClick[c]->setThreshold (clickThreshold);
        mCrackle[c]->setThreshold (crackleThreshold);
    }

    for (unsigned c = 0; c < mChannelCount; ++c)
    {
        if (mClick[c] == nullptr || mCrackle[c] == nullptr)
            continue;

        active = mClick[c]->process (*in[c], *out[c], n) || active;
        mCrackle[c]->process (*out[c], *out[c], n);
    }

    mClickActive = active;
}

} // namespace quarn
