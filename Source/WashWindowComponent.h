#pragma once

// Placeholder until the noise display is built: receives the processor's spectrum rows.
#include <juce_gui_basics/juce_gui_basics.h>

class WashWindowComponent : public juce::Component
{
public:
    virtual void pushSpectrum (bool silent) { juce::ignoreUnused (silent); }
};
