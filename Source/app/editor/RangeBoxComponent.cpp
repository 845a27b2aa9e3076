#include "app/editor/RangeBoxComponent.h"

#include <cmath>

namespace
{
// How close, in pixels, a press must come to an edge to grab it rather than
// the whole band.
constexpr int kGrabDistance = 10;
} // namespace

RangeBoxComponent::RangeBoxComponent()
{
    setSize (500, 400);
}

void RangeBoxComponent::mouseDown (const juce::MouseEvent& e)
{
    const auto h = (float) getHeight();
    const auto y = e.getPosition().y;

    // The controls panel computes the edges from the sample rate, which is 0
    // before the first playback: a band it could not compute is the full range.
    if (! std::isfinite (rangeLow))
        rangeLow = 0.0f;
    if (! std::isfinite (rangeHigh))
        rangeHigh = 1.0f;

    mouseReleased = false;
    draggingLow = false;
    draggingBoth = false;

    const auto yLow = (int) (h * rangeLow);
    const auto yHigh = (int) (h * rangeHigh);
    const auto dLow = std::abs (y - yLow);
    const auto dHigh = std::abs (y - yHigh);

    if (dLow > kGrabDistance && dHigh > kGrabDistance && yLow < y && y < yHigh)
    {
        draggingBoth = true;
        dragStartY = y;
        dragStartLow = rangeLow;
        dragStartHigh = rangeHigh;
        return;
    }

    // A tie (a collapsed band) drags the lower edge: pulled down it opens the
    // band again, pushed up it takes the upper edge along.
    draggingLow = dLow < dHigh;
}

void RangeBoxComponent::mouseDrag (const juce::MouseEvent& e)
{
    const auto h = (float) getHeight();
    if (h <= 0.0f)
        return;

    const auto y = e.getPosition().y;
    const auto f = (float) y / h;

    if (thresholdMode)
    {
        threshold = (float) (1.0 - 2.0 * std::abs ((double) f - 0.5));
    }
    else if (draggingBoth)
    {
        const auto d = (float) (y - dragStartY) / h;
        rangeLow = dragStartLow + d;
        rangeHigh = dragStartHigh + d;
    }
    else if (draggingLow)
    {
        rangeLow = f;
    }
    else
    {
        rangeHigh = f;
    }

    if (rangeLow > rangeHigh)
        rangeLow = rangeHigh;

    rangeLow = juce::jlimit (0.0f, 1.0f, rangeLow);
    rangeHigh = juce::jlimit (0.0f, 1.0f, rangeHigh);
    threshold = juce::jlimit (0.0f, 1.0f, threshold);

    repaint();
    sendChangeMessage();
}

void RangeBoxComponent::mouseUp (const juce::MouseEvent&)
{
    mouseReleased = true;
    sendChangeMessage();
    repaint();
}

void RangeBoxComponent::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();

    if (thresholdMode)
    {
        if (! std::isfinite (threshold))
            return;
        g.setColour (juce::Colour (0xffff0000).withAlpha (0.3f));
        g.fillRect (0, (int) ((float) (0.5 * h) * threshold), w, (int) ((1.0f - threshold) * (float) h));
        return;
    }

    if (! (std::isfinite (rangeLow) && std::isfinite (rangeHigh) && rangeLow >= 0.0f && rangeHigh >= 0.0f))
        return;

    // Outlines of the two excluded areas, from the middle to past the right
    // edge: the clipped right side leaves a line at each band edge.
    g.setColour (juce::Colour (0xff808080).withAlpha (0.7f));
    const auto x0 = (int) ((float) w * 0.5f);
    const auto yHigh = (int) ((float) h * rangeHigh);
    g.drawRect (x0, 0, w, (int) (rangeLow * (float) h), 1);
    g.drawRect (x0, yHigh, w, h - yHigh, 1);
}
