#pragma once

// The guide's web view, counting the pages it finished loading so that
// "Back" knows whether there is anything to go back to.
#include <juce_gui_extra/juce_gui_extra.h>

class CVWebBrowserComponent : public juce::WebBrowserComponent
{
public:
    CVWebBrowserComponent();

    void pageFinishedLoading (const juce::String& url) override;

    int pagesLoaded = 0;
};
