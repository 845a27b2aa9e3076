#pragma once

// The splash shown while the media window has nothing loaded: slow waves of
// light drawn by the program itself. It only animates while it is both
// enabled and on the screen, so a hidden window costs nothing.
#include <juce_gui_basics/juce_gui_basics.h>

class AnimationComponent : public juce::Component,
                           private juce::ComponentMovementWatcher,
                           private juce::Timer
{
public:
    AnimationComponent();
    ~AnimationComponent() override;

    // Takes the splash by name; it stays still until enabled.
    void setup (const juce::String& compositionName);
    void setAnimating (bool shouldAnimate);

    bool isAnimating() const noexcept { return enabled; }
    bool isRunning() const noexcept { return isTimerRunning(); }
    const juce::String& getCompositionName() const noexcept { return composition; }
    // The animation's clock, in frames; tests step it by hand.
    void advance() { ++frame; repaint(); }

    void paint (juce::Graphics& g) override;

private:
    void timerCallback() override;
    void updateTimer();

    void componentMovedOrResized (bool, bool) override {}
    void componentPeerChanged() override { updateTimer(); }
    void componentVisibilityChanged() override { updateTimer(); }

    juce::String composition;
    bool enabled = false;
    int frame = 0;
};
