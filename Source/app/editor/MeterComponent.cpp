#include "app/editor/MeterComponent.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace
{
constexpr juce::int64 kHoldMs = 1000;
// Width of one segment mark; marks sit at every third pixel.
constexpr float kMarkWidth = 2.0f;

juce::ColourGradient horizontalGradient (int style, float width)
{
    juce::ColourGradient gradient;
    gradient.point1 = { 0.0f, 0.0f };
    gradient.point2 = { width, 0.0f };
    if (style == 1)
    {
        gradient.addColour (0.0, juce::Colour (0x401070d0));
        gradient.addColour (0.6, juce::Colour (0x40504040));
        gradient.addColour (1.0, juce::Colour (0x40f00000));
    }
    else
    {
        gradient.addColour (0.0, juce::Colour (0xff008000));
        gradient.addColour (0.95, juce::Colour (0xffffff00));
        gradient.addColour (1.0, juce::Colour (0xffffa500));
    }
    return gradient;
}

juce::ColourGradient verticalGradient (float height)
{
    juce::ColourGradient gradient;
    gradient.point1 = { 0.0f, 0.0f };
    gradient.point2 = { 0.0f, height };
    gradient.addColour (0.0, juce::Colour (0xffffa500));
    gradient.addColour (0.1, juce::Colour (0xffffff00));
    gradient.addColour (0.95, juce::Colour (0xff008000));
    return gradient;
}
} // namespace

MeterComponent::MeterComponent (MeterLevels* record)
    : levels (record)
{
}

float MeterComponent::getDisplayLevel (int c)
{
    if (levels == nullptr || ! juce::isPositiveAndBelow (c, (int) std::size (levels->level)))
        return 0.0f;

    auto& r = *levels;
    const auto peak = r.level[c].load (std::memory_order_relaxed);
    if (peak > r.smoothed[c])
        return r.smoothed[c] = peak;

    r.smoothed[c] = 0.3f * peak + 0.7f * r.smoothed[c];

    // A NaN or an infinite peak would otherwise stay in the smoothing for good.
    if (! std::isfinite (r.smoothed[c]))
    {
        for (int i = 0; i < (int) std::size (r.level); ++i)
        {
            r.level[i].store (0.0f, std::memory_order_relaxed);
            r.held[i] = 0.0f;
            r.holdUntil[i] = 0;
            r.smoothed[i] = 0.0f;
        }
        return 0.0f;
    }

    if (r.smoothed[c] < 0.0001f)
        r.smoothed[c] = 0.0f;
    return r.smoothed[c];
}

void MeterComponent::resized()
{
    if (getWidth() < getHeight())
        vertical = true;
}

int MeterComponent::channelsToDraw() const noexcept
{
    if (levels == nullptr)
        return 0;
    // The record has room for four channels whatever it claims.
    return juce::jlimit (0, (int) std::size (levels->level), levels->numChannels);
}

void MeterComponent::updateHold (int c, float v)
{
    auto& r = *levels;
    const auto now = clock();
    if (v > r.held[c])
    {
        r.held[c] = v;
        r.holdUntil[c] = now + kHoldMs;
    }
    if (now > r.holdUntil[c])
        r.held[c] = 0.0f;
}

void MeterComponent::paint (juce::Graphics& g)
{
    const auto n = channelsToDraw();
    const auto w = getWidth();
    const auto h = getHeight();
    const auto gradient = vertical ? verticalGradient ((float) h) : horizontalGradient (style, (float) w);
    const auto light = style == 1 && ! vertical;

    for (int c = 0; c < n; ++c)
    {
        // Each channel has a row (a column when vertical) with a one-pixel gap after it.
        const auto lane = vertical ? juce::Rectangle<int> (w / 2 * c, 0, w / 2 - 1, h)
                                   : juce::Rectangle<int> (0, h / 2 * c, w, h / 2 - 1);

        g.setColour (light ? juce::Colours::white : juce::Colours::black);
        g.fillRect (lane);

        g.setColour (juce::Colour (light ? 0xffb0b0b0 : 0xff202020));
        if (vertical)
            for (int y = 1; y < h; y += 3)
                g.fillRoundedRectangle ((float) lane.getX() + 1.0f, (float) y, (float) lane.getWidth() - 1.0f, kMarkWidth, 2.0f);
        else
            for (int x = 1; x < w; x += 3)
                g.fillRoundedRectangle ((float) x, (float) lane.getY() + 1.0f, kMarkWidth, (float) lane.getHeight() - 1.0f, 2.0f);

        g.setGradientFill (gradient);
        const auto v = std::min (1.0f, getDisplayLevel (c));
        updateHold (c, v);
        const auto held = levels->held[c];
        if (vertical)
        {
            g.fillRect (lane.withTop ((int) ((1.0f - v) * (float) h)));
            g.fillRect (lane.withTop ((int) ((float) h * (1.0f - held))).withHeight (1));
        }
        else
        {
            g.fillRect (lane.withWidth ((int) ((float) w * v)));
            g.fillRect (lane.withX ((int) ((float) w * held)).withWidth (1));
        }

        levels->level[c].store (0.0f, std::memory_order_relaxed);
    }
}
