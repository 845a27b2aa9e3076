#pragma once

// The transport bar's share button: our own share picture (an arrow out of
// a tray), drawn at 0.8 opacity. It acts on the press, like the bar's
// other controls, and asks the current player for its service picker.
#include <juce_gui_basics/juce_gui_basics.h>

class ShareNSVComponent : public juce::Button
{
public:
    ShareNSVComponent();

    // The picture inside area, in colour.
    static void drawSharePicture (juce::Graphics& g, juce::Rectangle<float> area, juce::Colour colour);

    void paintButton (juce::Graphics& g, bool mouseOver, bool buttonDown) override;
    void clicked() override;
};
