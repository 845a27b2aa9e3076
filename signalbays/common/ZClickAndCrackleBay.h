#pragma once

// Placeholder until the declick bay is built: passes audio through.
#include "ZBuffer.h"

namespace quarn
{
class ZClickAndCrackleBay
{
public:
    ZClickAndCrackleBay (const char*, int channels) : numChannels (channels) {}
    virtual ~ZClickAndCrackleBay() = default;

    virtual void setSampleRate (float) {}
    virtual void setBlockSize (int) {}
    virtual bool prepare() { return true; }
    virtual void reset() {}
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples)
    {
        for (int c = 0; c < numChannels; ++c)
            out[c]->copyFrom (*in[c], { 0, numSamples }, 0);
    }
    int latency() const { return 0; }
    void setAmount (float) {}

private:
    int numChannels;
};
} // namespace quarn
