#pragma once

// Placeholder until the noise reduction bay is built: passes audio through and
// keeps the settings the processor touches.
#include "ZBuffer.h"
#include <juce_events/juce_events.h>

namespace quarn
{
class ZNoiseReductionBay : public juce::ActionBroadcaster
{
public:
    ZNoiseReductionBay (const char*, int channels) : numChannels (channels) {}
    virtual ~ZNoiseReductionBay() = default;

    virtual void setSampleRate (float) {}
    virtual void setBlockSize (int) {}
    virtual void setDefaults() {}
    virtual bool prepare() { return true; }
    virtual void reset() {}
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples)
    {
        for (int c = 0; c < numChannels; ++c)
            out[c]->copyFrom (*in[c], { 0, numSamples }, 0);
    }
    int latency() const { return 0; }

    void clearNoiseProfile() { sendActionMessage ("Noise Profile"); }
    void setTrack (bool) {}
    void setTrackFloor (float) {}
    void setTrackRange (float) {}
    void setLevelAttack (float) {}
    void setLevelRelease (float) {}
    void setLowPassFrequency (float) {}
    void setRumbleFrequency (float) {}
    void setNumHumHarmonics (int) {}
    void setHumMode (int) {}

private:
    int numChannels;
};
} // namespace quarn
