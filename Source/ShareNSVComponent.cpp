#include "ShareNSVComponent.h"

#include "ProcessingAVPlayer.h"

ShareNSVComponent::ShareNSVComponent() : juce::Button ("new button")
{
    setTriggeredOnMouseDown (true);
    setAlpha (0.8f);
    // The keys belong to the window's command shortcuts.
    setWantsKeyboardFocus (false);
    setMouseClickGrabsKeyboardFocus (false);
}

void ShareNSVComponent::drawSharePicture (juce::Graphics& g, juce::Rectangle<float> area, juce::Colour colour)
{
    // A square picture, as tall as the area allows.
    const auto box = area.withSizeKeepingCentre (juce::jmin (area.getWidth(), area.getHeight()),
                                                 juce::jmin (area.getWidth(), area.getHeight()));
    const float u = box.getWidth() / 16.0f;
    const auto at = [&] (float x, float y) { return juce::Point<float> (box.getX() + x * u, box.getY() + y * u); };
    const juce::PathStrokeType stroke (1.4f * u, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
    g.setColour (colour);

    // The tray, open at the top where the arrow leaves it.
    juce::Path tray;
    tray.startNewSubPath (at (5.5f, 6.5f));
    tray.lineTo (at (3.0f, 6.5f));
    tray.lineTo (at (3.0f, 15.0f));
    tray.lineTo (at (13.0f, 15.0f));
    tray.lineTo (at (13.0f, 6.5f));
    tray.lineTo (at (10.5f, 6.5f));
    g.strokePath (tray, stroke);

    juce::Path arrow;
    arrow.startNewSubPath (at (8.0f, 10.5f));
    arrow.lineTo (at (8.0f, 1.5f));
    arrow.startNewSubPath (at (5.0f, 4.5f));
    arrow.lineTo (at (8.0f, 1.5f));
    arrow.lineTo (at (11.0f, 4.5f));
    g.strokePath (arrow, stroke);
}

void ShareNSVComponent::paintButton (juce::Graphics& g, bool mouseOver, bool buttonDown)
{
    auto colour = juce::Colour (0xffd8d8d8);
    if (! isEnabled())
        colour = colour.withAlpha (0.3f);
    else if (buttonDown)
        colour = juce::Colour (0xff336afc);
    else if (mouseOver)
        colour = juce::Colours::white;
    drawSharePicture (g, getLocalBounds().toFloat().reduced (2.0f), colour);
}

void ShareNSVComponent::clicked()
{
    if (auto* player = ProcessingAVPlayer::getCurrent())
        player->showServicePicker (*this);
}
