#pragma once

// Local stand-in so that the noise display compiles before the range box
// lands: the band fields, the mode flag and the change message, nothing more.
#include <juce_gui_basics/juce_gui_basics.h>

class RangeBoxComponent : public juce::Component,
                          public juce::ChangeBroadcaster
{
public:
    RangeBoxComponent() { setSize (500, 400); }

    void paint (juce::Graphics& g) override
    {
        const int w = getWidth(), h = getHeight();
        if (thresholdMode)
        {
            g.setColour (juce::Colour (0xffff0000).withAlpha (0.3f));
            g.fillRect (0, (int) ((float) (0.5 * h) * threshold), w, (int) ((1.0f - threshold) * (float) h));
        }
        else if (rangeLow >= 0.0f && rangeHigh >= 0.0f)
        {
            g.setColour (juce::Colour (0xff808080).withAlpha (0.7f));
            const int x0 = (int) (w * 0.5);
            const int yHigh = (int) ((float) h * rangeHigh);
            g.drawRect (x0, 0, w, (int) (rangeLow * (float) h), 1);
            g.drawRect (x0, yHigh, w, h - yHigh, 1);
        }
    }

    float rangeLow = 0.0f;
    float rangeHigh = 1.0f;
    bool thresholdMode = false;
    float threshold = 1.0f;
    bool mouseReleased = false;
};
