#include "app/editor/CVLookAndFeel.h"

#include "app/artwork/ClarivoArtwork.h"

namespace
{
juce::Image decode (const clarivo::artwork::Picture& picture)
{
    return juce::ImageCache::getFromMemory (picture.data, picture.size);
}

constexpr float fullTurn = 6.28f;
} // namespace

CVLookAndFeel::CVLookAndFeel()
    : toggleOnImage (decode (clarivo::artwork::toggleOn)),
      toggleOffImage (decode (clarivo::artwork::toggleOff)),
      largeKnobImage (decode (clarivo::artwork::largeKnob)),
      smallKnobImage (decode (clarivo::artwork::smallKnob)),
      sliderTrackImage (decode (clarivo::artwork::sliderTrack)),
      sliderThumbImage (decode (clarivo::artwork::sliderThumb)),
      buttonFont ("Trebuchet MS", 10.0f, juce::Font::bold),
      labelFont ("Trebuchet MS", 12.0f, juce::Font::bold)
{
}

CVLookAndFeel::~CVLookAndFeel() = default;

void CVLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool, bool isButtonDown)
{
    if (! button.isEnabled())
        g.setOpacity (0.5f);

    // Pressing an unticked toggle already shows it lit, before the click lands.
    const auto& image = (button.getToggleState() || isButtonDown) ? toggleOnImage : toggleOffImage;
    g.drawImage (image, 0, 0, 42, 42, 0, 0, image.getWidth(), image.getHeight(), false);

    g.setFont (buttonFont);
    // Keeps the half opacity of a disabled button on the caption too.
    g.setColour (juce::Colour (0x80000000).withMultipliedAlpha (button.isEnabled() ? 1.0f : 0.5f));
    g.drawFittedText (button.getButtonText(), 0, 42, button.getWidth(), button.getHeight() - 42,
                      juce::Justification::centredTop, 10, 0.0f);
}

void CVLookAndFeel::drawProgressBar (juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                     double progress, const juce::String& textToShow)
{
    const auto background = bar.findColour (juce::ProgressBar::backgroundColourId);
    const auto foreground = bar.findColour (juce::ProgressBar::foregroundColourId);

    // An unknown amount (negative) shows its text alone, no spinning disc.
    if (progress >= 0.0 && progress <= 1.0)
    {
        const int r = juce::jmin (width / 2, height / 2);
        const float x = (float) width * 0.5f - (float) r, y = (float) height * 0.5f - (float) r;
        const float side = 2.0f * (float) r;

        juce::Path disc;
        disc.addPieSegment (x, y, side, side, 0.0f, fullTurn, 0.0f);
        g.setColour (background);
        g.fillPath (disc);

        juce::Path arc;
        arc.addPieSegment (x, y, side, side, 0.0f, (float) progress * fullTurn, 0.93f);
        g.setColour (foreground);
        g.fillPath (arc);
    }

    if (textToShow.isNotEmpty())
    {
        g.setColour (juce::Colour (0xff808080));
        g.setFont (labelFont);
        g.drawText (textToShow, width / 2 - 100, height / 2 - 16, 200, 32, juce::Justification::centred, false);
    }
}

void CVLookAndFeel::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area, bool isSeparator,
                                       bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                                       const juce::String& text, const juce::String& shortcutKeyText,
                                       const juce::Drawable* icon, const juce::Colour* textColourToUse)
{
    if (isSeparator)
    {
        auto r = area.reduced (5, 0);
        r.removeFromTop (r.getHeight() / 2 - 1);
        g.setColour (juce::Colour (0x33000000));
        g.fillRect (r.removeFromTop (1));
        g.setColour (juce::Colour (0x66ffffff));
        g.fillRect (r.removeFromTop (1));
        return;
    }

    auto r = area.reduced (1);
    if (isHighlighted)
    {
        g.setColour (findColour (juce::PopupMenu::highlightedBackgroundColourId));
        g.fillRect (r);
        g.setColour (findColour (juce::PopupMenu::highlightedTextColourId));
    }
    else
    {
        g.setColour (textColourToUse != nullptr ? *textColourToUse : findColour (juce::PopupMenu::textColourId));
    }

    if (! isActive)
        g.setOpacity (0.3f);

    // The menu's items read in the panel's label face, never taller than fits.
    auto font = labelFont;
    font.setHeight (juce::jmin (font.getHeight(), (float) area.getHeight() / 1.3f));
    g.setFont (font);

    const auto iconArea = r.removeFromLeft ((r.getHeight() * 5) / 4).reduced (3).toFloat();
    if (icon != nullptr)
    {
        icon->drawWithin (g, iconArea, juce::RectanglePlacement::centred | juce::RectanglePlacement::onlyReduceInSize,
                          1.0f);
    }
    else if (isTicked)
    {
        const auto tick = getTickShape (1.0f);
        g.fillPath (tick, tick.getTransformToScaleToFit (iconArea, true));
    }

    if (hasSubMenu)
    {
        const auto arrowH = 0.6f * getPopupMenuFont().getAscent();
        const auto x = (float) r.removeFromRight ((int) arrowH).getX();
        const auto halfH = (float) r.getCentreY();
        juce::Path p;
        p.addTriangle (x, halfH - arrowH * 0.5f, x, halfH + arrowH * 0.5f, x + arrowH * 0.6f, halfH);
        g.fillPath (p);
    }

    r.removeFromRight (3);
    g.drawFittedText (text, r, juce::Justification::centredLeft, 1);

    if (shortcutKeyText.isNotEmpty())
    {
        auto shortcutFont = font;
        shortcutFont.setHeight (shortcutFont.getHeight() * 0.75f);
        shortcutFont.setHorizontalScale (0.95f);
        g.setFont (shortcutFont);
        g.drawText (shortcutKeyText, r, juce::Justification::centredRight, true);
    }
}

void CVLookAndFeel::drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown, int buttonX,
                                  int buttonY, int buttonW, int buttonH, juce::ComboBox& box)
{
    g.fillAll (juce::Colour (0x80d0d0d0));

    const bool enabled = box.isEnabled();
    if (enabled && box.hasKeyboardFocus (false))
    {
        g.setColour (juce::Colour (0x80404040));
        g.drawRect (0, 0, width, height, 2);
    }
    else
    {
        g.setColour (juce::Colour (0x60404040));
        g.drawRect (0, 0, width, height, 1);
    }

    const float t = enabled ? (isButtonDown ? 1.2f : 0.5f) : 0.3f;
    drawGlassLozenge (g, (float) buttonX + t, (float) buttonY + t, (float) buttonW - 2.0f * t,
                      (float) buttonH - 2.0f * t, juce::Colour (0xff808080), t, -1.0f, true, true, true, true);

    if (enabled)
    {
        const float bx = (float) buttonX, by = (float) buttonY, bw = (float) buttonW, bh = (float) buttonH;
        juce::Path arrows;
        arrows.addTriangle (bx + 0.5f * bw, by + 0.25f * bh, bx + 0.7f * bw, by + 0.45f * bh, bx + 0.3f * bw,
                            by + 0.45f * bh);
        arrows.addTriangle (bx + 0.5f * bw, by + 0.75f * bh, bx + 0.7f * bw, by + 0.55f * bh, bx + 0.3f * bw,
                            by + 0.55f * bh);
        g.setColour (juce::Colour (0x80303030));
        g.fillPath (arrows);
    }
}

void CVLookAndFeel::drawLabel (juce::Graphics& g, juce::Label& label)
{
    g.fillAll (label.findColour (juce::Label::backgroundColourId));

    if (! label.isBeingEdited())
    {
        const auto alpha = label.isEnabled() ? 1.0f : 0.5f;
        g.setColour (label.findColour (juce::Label::textColourId).withMultipliedAlpha (alpha));
        g.setFont (labelFont);

        const auto textArea = getLabelBorderSize (label).subtractedFrom (label.getLocalBounds());
        // Lines still count by the label's own font, which the layouts were made for.
        const auto ownFontHeight = getLabelFont (label).getHeight();
        g.drawFittedText (label.getText(), textArea, label.getJustificationType(),
                          juce::jmax (1, (int) ((float) textArea.getHeight() / ownFontHeight)),
                          label.getMinimumHorizontalScale());

        g.setColour (label.findColour (juce::Label::outlineColourId).withMultipliedAlpha (alpha));
    }
    else if (label.isEnabled())
    {
        g.setColour (label.findColour (juce::Label::outlineColourId));
    }

    g.drawRect (label.getLocalBounds());
}

void CVLookAndFeel::drawLinearSliderThumb (juce::Graphics& g, int, int y, int, int, float sliderPos, float, float,
                                           juce::Slider::SliderStyle, juce::Slider&)
{
    g.drawImageAt (sliderThumbImage, (int) (sliderPos - 11.0f), y);
}

void CVLookAndFeel::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                      float rotaryStartAngle, float rotaryEndAngle, juce::Slider&)
{
    // Three sizes meet here: up to 99 the small knob, from 101 the large one;
    // a knob of exactly 100 wears the large face with the small knob's arc and dot.
    const bool largeFace = height > 99;
    const bool largeMarks = height >= 101;

    g.drawImageAt (largeFace ? largeKnobImage : smallKnobImage, 0, 0);

    const auto r = (float) juce::jmin (width / 2, height / 2);
    const float cx = (float) x + (float) width * 0.5f, cy = (float) y + (float) height * 0.5f;
    const float angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle);

    juce::Path arc;
    arc.addPieSegment (cx - r, cy - r, 2.0f * r, 2.0f * r, rotaryStartAngle, angle, height < 101 ? 0.9f : 0.95f);
    g.setColour (juce::Colour (0x401070d0));
    g.fillPath (arc);

    if (! largeMarks)
        g.setColour (juce::Colour (0x50101010));

    const float k = largeFace ? r - 35.0f : r - 15.0f;
    const float s = 0.2f * k;
    const float a = -3.2f * s, b = 1.6f * s;
    juce::Path dot;
    dot.addEllipse (a, a, b, b);

    if (largeMarks)
        g.setColour (juce::Colours::white);
    g.fillPath (dot, juce::AffineTransform::rotation (angle + 0.85f).translated (cx, cy));

    // A dot high on the knob catches the light; one at the bottom sits in shade.
    const int v = ((int) (255.0f - ((cy - std::cos (angle) * (cy - k)) / (float) height) * 255.0f)) & 0xff;
    const auto shade = juce::Colour ((juce::uint8) v, (juce::uint8) v, (juce::uint8) v, (juce::uint8) 96);

    if (largeMarks)
    {
        g.setColour (shade);
        g.fillPath (dot, juce::AffineTransform::rotation (angle + 0.85f).translated (cx - 1.0f, cy - 1.0f));
    }
}

int CVLookAndFeel::getSliderThumbRadius (juce::Slider&)
{
    return 12;
}
