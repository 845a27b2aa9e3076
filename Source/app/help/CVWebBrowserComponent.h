#pragma once

// The guide's web view, counting the pages it finished loading so that
// "Back" knows whether there is anything to go back to.
#include <juce_gui_extra/juce_gui_extra.h>

class CVWebBrowserComponent : public juce::WebBrowserComponent
{
public:
    CVWebBrowserComponent();

    void pageFinishedLoading (const juce::String& url) override;
    // A page that cannot be loaded shows a page of ours in its place.
    bool pageLoadHadNetworkError (const juce::String& errorInfo) override;

    // A page of our own, as an address the view loads without any file.
    static juce::String messagePageURL (const juce::String& heading, const juce::String& text);

    int pagesLoaded = 0;
    // The address of the last page that finished loading.
    juce::String lastPageLoaded;
};
