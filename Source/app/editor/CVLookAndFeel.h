#pragma once

// The drawing of the controls panel's and the export dialog's widgets: image
// toggles and knobs, a circular progress display, flat grey combo boxes and
// labels in one bold face. Each of those components holds its own instance.
#include <juce_gui_basics/juce_gui_basics.h>

class CVLookAndFeel : public juce::LookAndFeel_V2
{
public:
    CVLookAndFeel();
    ~CVLookAndFeel() override;

    void drawToggleButton (juce::Graphics&, juce::ToggleButton&, bool isMouseOverButton, bool isButtonDown) override;
    void drawProgressBar (juce::Graphics&, juce::ProgressBar&, int width, int height, double progress,
                          const juce::String& textToShow) override;
    // The bar draws a disc, not its whole square.
    bool isProgressBarOpaque (juce::ProgressBar&) override { return false; }
    void drawPopupMenuItem (juce::Graphics&, const juce::Rectangle<int>& area, bool isSeparator, bool isActive,
                            bool isHighlighted, bool isTicked, bool hasSubMenu, const juce::String& text,
                            const juce::String& shortcutKeyText, const juce::Drawable* icon,
                            const juce::Colour* textColour) override;
    void drawComboBox (juce::Graphics&, int width, int height, bool isButtonDown, int buttonX, int buttonY,
                       int buttonW, int buttonH, juce::ComboBox&) override;
    void drawLabel (juce::Graphics&, juce::Label&) override;
    void drawLinearSliderThumb (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                                float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle,
                                juce::Slider&) override;
    void drawRotarySlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                           float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;
    int getSliderThumbRadius (juce::Slider&) override;

    const juce::Font& getButtonCaptionFont() const noexcept { return buttonFont; }
    const juce::Font& getLabelTextFont() const noexcept { return labelFont; }

private:
    juce::Image toggleOnImage, toggleOffImage, largeKnobImage, smallKnobImage, sliderTrackImage, sliderThumbImage;
    juce::Font buttonFont, labelFont;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CVLookAndFeel)
};

// The controls panel's combo box: it never takes a key, so arrows and Return
// reach the window's command shortcuts (stepping, play) instead of changing
// the selection.
class ComboBox_IgnoreKeys : public juce::ComboBox
{
public:
    using juce::ComboBox::ComboBox;
    bool keyPressed (const juce::KeyPress&) override { return false; }
};
