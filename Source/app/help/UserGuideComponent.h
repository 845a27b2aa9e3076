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

    // The manual's pages, file addresses in the folder the guide ships in.
    static juce::String mainPageURL();
    static juce::String quickStartURL();
    // The page file a path of the manual stands for ("/manuals/clarivo5",
    // "/manuals/clarivo5/quickstart"); none for any other path.
    static juce::File pageFile (const juce::String& path);

    // Where the guide's pages are: beside the executable in the build tree,
    // in the installed data folder otherwise. The first place when neither
    // holds them, so that a missing page names where it was looked for.
    static juce::File findManualFolder (const juce::File& executable);
    static juce::File getManualFolder();
    // Tests put the guide where they want it; an empty file restores the search.
    static void setManualFolder (const juce::File& folder);

    const juce::String& getPageURL() const noexcept { return pageURL; }
    CVWebBrowserComponent* getBrowser() const noexcept { return browser.get(); }
    juce::TextButton& getBackButton() noexcept { return backButton; }

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    void timerCallback() override;
    void buttonClicked (juce::Button* button) override;
    bool firstPageIsNotMain() const;
    void updateBackButton();

    juce::String pageURL;
    std::unique_ptr<CVWebBrowserComponent> browser;
    juce::TextButton backButton { "Back" };

    JUCE_DECLARE_NON_COPYABLE (UserGuideComponent)
};
