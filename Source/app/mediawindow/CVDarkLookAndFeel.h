#pragma once

// The transport bar's look: the framework's standard drawing, except that a
// toggle button is a small picture with its caption underneath.
#include <juce_gui_basics/juce_gui_basics.h>

class CVDarkLookAndFeel : public juce::LookAndFeel_V2
{
public:
    CVDarkLookAndFeel();

    void drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool mouseOver, bool buttonDown) override;
    void drawPopupMenuBackground (juce::Graphics& g, int width, int height) override;

    static constexpr juce::uint32 captionColour = 0x80000000;

private:
    juce::Image toggleOnImage, toggleOffImage;
    juce::Font captionFont;
};
