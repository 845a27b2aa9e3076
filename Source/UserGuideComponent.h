#pragma once

// The manual in a web view under one "Back" button. The web view is made by
// the first timer tick, once the window is on the screen, and every page
// request goes through the same tick.
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class CVWebBrowserComponent;

class UserGuideComponent : public juce::Component,
                           private juce::Button::Listener,
                           private juce::Timer
{
public:
    UserGuideComponent();
    ~UserGuideComponent() override;

    void showQuickStart();

    // The manual's pages on our web server.
    static juce::String mainPageURL();
    static juce::String quickStartURL();

    const juce::String& getPageURL() const noexcept { return pageURL; }
    CVWebBrowserComponent* getBrowser() const noexcept { return browser.get(); }
    juce::TextButton& getBackButton() noexcept { return backButton; }

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void timerCallback() override;
    void buttonClicked (juce::Button* button) override;

    juce::String pageURL;
    std::unique_ptr<CVWebBrowserComponent> browser;
    juce::TextButton backButton { "Back" };

    JUCE_DECLARE_NON_COPYABLE (UserGuideComponent)
};
