#include "CVWebBrowserComponent.h"

#include <dlfcn.h>

namespace
{
// JUCE opens GTK and WebKit when the first web view is made and closes them
// again at shutdown. GLib cannot be unloaded: its threads and thread-local
// records outlive the close, and the process (or the leak checker reading
// those records) then touches unmapped memory on its way out. Opened once
// more here with RTLD_NODELETE, they stay mapped until the process ends.
juce::WebBrowserComponent::Options keepWebKitLoaded (juce::WebBrowserComponent::Options options)
{
    static const bool pinned = []
    {
        for (const char* name : { "libgtk-3.so", "libwebkit2gtk-4.0.so" })
            dlopen (name, RTLD_LAZY | RTLD_NODELETE);
        return true;
    }();
    juce::ignoreUnused (pinned);
    return options;
}
} // namespace

// Hidden with its window, the guide keeps its page and history.
CVWebBrowserComponent::CVWebBrowserComponent()
    : juce::WebBrowserComponent (keepWebKitLoaded (juce::WebBrowserComponent::Options {}.withKeepPageLoadedWhenBrowserIsHidden()))
{
}

void CVWebBrowserComponent::pageFinishedLoading (const juce::String&) { ++pagesLoaded; }
