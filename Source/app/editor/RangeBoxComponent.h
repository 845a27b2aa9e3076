#pragma once

// The transparent mouse layer over the noise display. In range mode the user
// drags a horizontal band (edges as fractions of the height from the top); in
// threshold mode a band centred on the middle whose size is the threshold.
// Every drag step and every release is announced with a change message; the
// noise display and the controls panel read and write the values directly.
#include <juce_gui_basics/juce_gui_basics.h>

class RangeBoxComponent : public juce::Component,
                          public juce::ChangeBroadcaster,
                          public juce::SettableTooltipClient
{
public:
    RangeBoxComponent();

    void mouseDown (const juce::MouseEvent&) override;
    void mouseDrag (const juce::MouseEvent&) override;
    void mouseUp (const juce::MouseEvent&) override;
    void paint (juce::Graphics&) override;
    void resized() override {}

    bool draggingLow = false;
    bool draggingBoth = false;
    float dragStartLow = 0.0f;
    float dragStartHigh = 1.0f;
    int dragStartY = 0;

    // Kept so that rangeLow <= rangeHigh after every drag.
    float rangeLow = 0.0f;
    float rangeHigh = 1.0f;
    bool thresholdMode = false;
    float threshold = 1.0f;
    // True from a release to the next press: the controls panel takes a
    // message that finds it set as the end of the gesture.
    bool mouseReleased = false;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RangeBoxComponent)
};
