#pragma once

// Placeholder until the expander and the boost stage are built: both pass audio through.
#include "ZBuffer.h"

namespace quarn
{
class ZExpander
{
public:
    void process (const ZBuffer& in, ZBuffer& out) { out.copy (in); }
    void setSampleRate (float) {}
    void reset() {}
    int getLatency() const { return 0; }
    float getMeanGain() const { return 0.0f; }
    void setThresholdLinear (float) {}
    void setMaxGain (float) {}
    void setRelease (float) {}

    bool enabled = false;
};

class ZMaximizer
{
public:
    explicit ZMaximizer (unsigned) {}
    void init() {}
    void process (const ZBuffer& in, ZBuffer& out) { out.copy (in); }
    void reset() {}
    int getLatency() const { return 0; }
    void setCeiling (float) {}
    void setThreshold (float) {}

    bool enabled = false;
};
} // namespace quarn
