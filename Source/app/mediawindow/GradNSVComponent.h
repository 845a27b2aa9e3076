#pragma once

// The transport bar's background: a dark rounded bar with a glassy band,
// shown at 0.4 opacity over the bar's black.
#include <juce_gui_basics/juce_gui_basics.h>

class GradNSVComponent : public juce::Component
{
public:
    GradNSVComponent();

    void paint (juce::Graphics& g) override;
};
