#pragma once

// The guide's web view. It shows the guide's own pages only, sends web links
// to the user's browser, and keeps its own account of the pages it showed so
// that "Back" never leads to the blank page the view starts on.
#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>
#include <set>
#include <vector>

class CVWebBrowserComponent : public juce::WebBrowserComponent
{
public:
    // guideFolder: the only folder whose files the view shows.
    explicit CVWebBrowserComponent (const juce::File& guideFolder);

    bool pageAboutToLoad (const juce::String& newURL) override;
    void pageFinishedLoading (const juce::String& url) override;
    // A page that cannot be loaded shows a page of ours in its place.
    bool pageLoadHadNetworkError (const juce::String& errorInfo) override;

    // Shows a page of our own, made in memory.
    void showMessagePage (const juce::String& heading, const juce::String& text);
    // A page of our own, as an address the view loads without any file.
    static juce::String messagePageURL (const juce::String& heading, const juce::String& text);

    // Whether the view has a page of ours before the one it shows, and goes there.
    bool canGoBackAPage() const noexcept { return current > 0; }
    void goBackAPage();
    // The page shown; empty before the first.
    juce::String getCurrentPage() const { return current >= 0 ? shown[(size_t) current] : juce::String(); }

    // Called whenever the page shown changes.
    std::function<void()> onPageShown;

    int pagesLoaded = 0;
    // The address of the last page that finished loading.
    juce::String lastPageLoaded;

private:
    bool isGuideFile (const juce::String& url) const;

    juce::File guideFolder;
    std::set<juce::String> ownPages;
    // The pages shown, oldest first; about:blank, where the view starts, is
    // never among them.
    std::vector<juce::String> shown;
    int current = -1;
    bool goingBack = false, lastLoadFailed = false;
    // A page of ours asked for and not yet shown, and how often it was asked again.
    juce::String pendingOwnPage;
    int ownPageRetries = 0;
};
