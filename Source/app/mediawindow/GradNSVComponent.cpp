#include "app/mediawindow/GradNSVComponent.h"

namespace
{
juce::Colour grey (int level) { return juce::Colour::greyLevel (level / 255.0f); }
} // namespace

GradNSVComponent::GradNSVComponent()
{
    setAlpha (0.4f);
    setInterceptsMouseClicks (false, false);
}

void GradNSVComponent::paint (juce::Graphics& g)
{
    const auto outer = getLocalBounds().toFloat();
    // Lighter at the top, darker at the foot.
    g.setGradientFill (juce::ColourGradient (grey (86), 0.0f, outer.getY(), grey (20), 0.0f, outer.getBottom(), false));
    g.fillRoundedRectangle (outer, 5.0f);

    const auto inner = outer.reduced (0.0f, 2.0f);
    juce::ColourGradient band (grey (30), 0.0f, inner.getY(), grey (3), 0.0f, inner.getBottom(), false);
    band.addColour (0.5, grey (65));
    band.addColour (0.51, grey (30));
    g.setGradientFill (band);
    g.fillRoundedRectangle (inner, 5.0f);

    g.setColour (juce::Colours::black);
    g.drawRoundedRectangle (outer.reduced (0.5f), 5.0f, 1.0f);
}
