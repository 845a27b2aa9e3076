#pragma once

#include "MediaPlayer.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace clarivo::media
{
// Shows a player's current picture, fitted into the component with its
// aspect kept and the video track's transform applied, on black.
class PlayerView : public juce::Component, private juce::Timer
{
public:
    PlayerView();
    ~PlayerView() override;

    void setPlayer (std::weak_ptr<Player> player);
    std::shared_ptr<Player> getPlayer() const { return player.lock(); }

    // Where the picture is drawn, in the component's coordinates; empty without one.
    juce::Rectangle<float> getVideoRect() const;

    void paint (juce::Graphics& g) override;

private:
    void timerCallback() override;
    juce::AffineTransform pictureTransform() const;

    std::weak_ptr<Player> player;
    juce::Image frame;
    std::uint64_t serial = 0;
    float sampleAspect = 1.0f;
    juce::AffineTransform preferred;
};
} // namespace clarivo::media
