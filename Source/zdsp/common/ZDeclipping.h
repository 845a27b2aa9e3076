#pragma once

// Placeholder until the declipper is built: passes audio through.
#include "ZBuffer.h"

namespace quarn
{
class ZDeclipping
{
public:
    ZDeclipping (unsigned, float) {}
    void setDefaults() { enabled = false; }
    void process (const ZBuffer& in, ZBuffer& out, unsigned n) { out.copyFrom (in, { 0, (int) n }, 0); }
    void reset() {}
    void setSampleRate (float) {}
    void setBlockSize (unsigned) {}
    int getLatency() const { return 0; }

    bool enabled = false;
};
} // namespace quarn
