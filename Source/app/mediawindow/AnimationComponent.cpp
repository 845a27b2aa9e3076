#include "app/mediawindow/AnimationComponent.h"

#include <cmath>

AnimationComponent::AnimationComponent() : juce::ComponentMovementWatcher (this)
{
    setInterceptsMouseClicks (false, false);
}

AnimationComponent::~AnimationComponent() { stopTimer(); }

void AnimationComponent::setup (const juce::String& compositionName)
{
    composition = compositionName;
    setAnimating (false);
}

void AnimationComponent::setAnimating (bool shouldAnimate)
{
    enabled = shouldAnimate;
    setVisible (shouldAnimate);
    updateTimer();
}

void AnimationComponent::updateTimer()
{
    if (enabled && composition.isNotEmpty() && isShowing())
    {
        if (! isTimerRunning())
            startTimerHz (30);
    }
    else
        stopTimer();
}

void AnimationComponent::timerCallback()
{
    // A parent may have been hidden without telling us.
    if (! isShowing())
    {
        stopTimer();
        return;
    }
    advance();
}

void AnimationComponent::paint (juce::Graphics& g)
{
    const auto area = getLocalBounds().toFloat();
    g.setGradientFill (juce::ColourGradient (juce::Colour (0xff101826), area.getCentreX(), area.getCentreY(),
                                             juce::Colours::black, area.getX(), area.getY(), true));
    g.fillRect (area);
    if (composition.isEmpty())
        return;

    // Three soft waves drifting at different speeds across the middle.
    const float phase = (float) frame * 0.05f;
    const float mid = area.getCentreY();
    const float w = area.getWidth();
    for (int wave = 0; wave < 3; ++wave)
    {
        juce::Path path;
        const float amplitude = area.getHeight() * (0.12f - 0.03f * (float) wave);
        const float speed = 1.0f + 0.6f * (float) wave;
        for (float x = 0.0f; x <= w; x += 4.0f)
        {
            const float u = x / juce::jmax (1.0f, w);
            const float envelope = std::sin (u * juce::MathConstants<float>::pi);
            const float y = mid + amplitude * envelope * std::sin (u * 9.0f + phase * speed + (float) wave * 2.1f);
            if (x == 0.0f)
                path.startNewSubPath (area.getX() + x, y);
            else
                path.lineTo (area.getX() + x, y);
        }
        g.setColour (juce::Colour (0xff206ee2).withAlpha (0.55f - 0.15f * (float) wave));
        g.strokePath (path, juce::PathStrokeType (2.5f - 0.5f * (float) wave));
    }
}
