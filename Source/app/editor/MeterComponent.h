#pragma once

// Bar meters over a MeterLevels record that the processor owns and raises from
// its processing thread. Each paint takes the peak collected since the last
// one, smooths it, draws the bar and a one-second peak-hold marker, and
// resets the peak.
#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/MeterLevels.h"

#include <functional>

class MeterComponent : public juce::Component
{
public:
    // The record is not owned and may be null: the meter then draws nothing.
    explicit MeterComponent (MeterLevels* levels);

    // The smoothing step for channel c: instant rise, decay by 0.7 per call.
    float getDisplayLevel (int channel);

    void paint (juce::Graphics&) override;
    void resized() override;

    MeterLevels* levels = nullptr;
    // Set once the meter is narrower than high; never cleared.
    bool vertical = false;
    // 1: the controls panel's translucent style on white.
    int style = 0;
    // Milliseconds for the peak hold; tests replace it.
    std::function<juce::int64()> clock = [] { return juce::Time::currentTimeMillis(); };

private:
    int channelsToDraw() const noexcept;
    // Raises or expires the hold of channel c for the displayed level v.
    void updateHold (int channel, float v);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MeterComponent)
};
