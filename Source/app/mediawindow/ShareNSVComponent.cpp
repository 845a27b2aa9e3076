#include "app/mediawindow/ShareNSVComponent.h"

#include "app/document/ProcessingAVPlayer.h"

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

    // The tray, open at the top where the arrow leaves it, then the arrow's
    // shaft and head, each a line through these points (x, y on a 16 grid).
    const std::initializer_list<std::initializer_list<float>> strokes {
        { 5.5f, 6.5f, 3.0f, 6.5f, 3.0f, 15.0f, 13.0f, 15.0f, 13.0f, 6.5f, 10.5f, 6.5f },
        { 8.0f, 10.5f, 8.0f, 1.5f },
        { 5.0f, 4.5f, 8.0f, 1.5f, 11.0f, 4.5f } };
    juce::Path picture;
    for (const auto& points : strokes)
        for (auto p = points.begin(); p != points.end(); p += 2)
            p == points.begin() ? picture.startNewSubPath (at (p[0], p[1])) : picture.lineTo (at (p[0], p[1]));
    g.strokePath (picture, stroke);
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
