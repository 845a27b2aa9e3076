#include "CVWebBrowserComponent.h"

// Hidden with its window, the guide keeps its page and history.
CVWebBrowserComponent::CVWebBrowserComponent()
    : juce::WebBrowserComponent (juce::WebBrowserComponent::Options {}.withKeepPageLoadedWhenBrowserIsHidden())
{
}

void CVWebBrowserComponent::pageFinishedLoading (const juce::String&) { ++pagesLoaded; }
