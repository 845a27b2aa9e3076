#pragma once

// Placeholder until the enhance bay is built: passes audio through.
#include "ZBuffer.h"

namespace quarn
{
class ZEnhancementBay
{
public:
    ZEnhancementBay (const char*, int channels) : numChannels (channels) {}
    virtual ~ZEnhancementBay() = default;

    virtual void setSampleRate (float) {}
    virtual void setBlockSize (int) {}
    virtual bool prepare() { return true; }
    virtual void reset() {}
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples)
    {
        for (int c = 0; c < numChannels; ++c)
            out[c]->copyFrom (*in[c], { 0, numSamples }, 0);
    }
    virtual void setMode (int) {}
    int latency() const { return 0; }
    void setAmount (float) {}

private:
    int numChannels;
};
} // namespace quarn
