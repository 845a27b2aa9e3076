#include "app/mediawindow/CVDarkLookAndFeel.h"

#include "app/artwork/ClarivoArtwork.h"

namespace
{
juce::Image picture (const clarivo::artwork::Picture& p)
{
    return juce::ImageCache::getFromMemory (p.data, p.size);
}
} // namespace

// The caption face the bar was drawn with is not on Linux; DejaVu Sans is
// always installed, so captions measure the same on every machine.
CVDarkLookAndFeel::CVDarkLookAndFeel()
    : toggleOnImage (picture (clarivo::artwork::darkToggleOn)),
      toggleOffImage (picture (clarivo::artwork::darkToggleOff)),
      captionFont ("DejaVu Sans", 10.0f, juce::Font::bold)
{
    // The share picker opens from the bar and belongs to its dark face.
    setColour (juce::PopupMenu::backgroundColourId, juce::Colour (0xff202020));
    setColour (juce::PopupMenu::textColourId, juce::Colour (0xffd8d8d8));
    setColour (juce::PopupMenu::highlightedBackgroundColourId, juce::Colour (0xff336afc));
    setColour (juce::PopupMenu::highlightedTextColourId, juce::Colours::white);
}

void CVDarkLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool, bool buttonDown)
{
    const bool disabled = ! button.isEnabled();
    if (disabled)
        g.setOpacity (0.5f);
    // Held down reads as on, so the press shows before the click lands.
    const auto& image = button.getToggleState() || buttonDown ? toggleOnImage : toggleOffImage;
    g.drawImage (image, 0, 0, 24, 24, 0, 0, 24, 24, false);
    if (disabled)
        g.setOpacity (0.5f);

    g.setFont (captionFont);
    g.setColour (juce::Colour (captionColour));
    g.drawFittedText (button.getButtonText(), 0, 24, button.getWidth(), button.getHeight() - 24,
                      juce::Justification::centredTop, 10, 0.0f);
}

void CVDarkLookAndFeel::drawPopupMenuBackground (juce::Graphics& g, int width, int height)
{
    // Plain, like the bar: the framework's ruled paper shows as stripes on black.
    g.fillAll (findColour (juce::PopupMenu::backgroundColourId));
    g.setColour (juce::Colour (0xff484848));
    g.drawRect (0, 0, width, height);
}
