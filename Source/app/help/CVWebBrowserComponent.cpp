#include "app/help/CVWebBrowserComponent.h"

#include "UpdateChecker.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <utility>

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

// The web view's process reads WebKit's UTF-8 messages as if they were
// ASCII, so each byte arrives as a character of its own: put them back
// together. Text that cannot have come that way is left as it is.
juce::String rejoinUTF8 (const juce::String& text)
{
    juce::MemoryOutputStream bytes;
    for (auto c : text)
    {
        if (c > 0xff)
            return text;
        bytes.writeByte ((char) c);
    }
    const auto* data = static_cast<const char*> (bytes.getData());
    const auto size = (int) bytes.getDataSize();
    return juce::CharPointer_UTF8::isValidString (data, size) ? juce::String::fromUTF8 (data, size) : text;
}

// The file a name stands for with every link followed; none when it does not exist.
juce::File realFile (const juce::File& file)
{
    char resolved[PATH_MAX];
    return realpath (file.getFullPathName().toRawUTF8(), resolved) != nullptr ? juce::File (juce::String::fromUTF8 (resolved))
                                                                              : juce::File();
}
} // namespace

// Hidden with its window, the guide keeps its page and history.
CVWebBrowserComponent::CVWebBrowserComponent (const juce::File& folder)
    : juce::WebBrowserComponent (keepWebKitLoaded (juce::WebBrowserComponent::Options {}.withKeepPageLoadedWhenBrowserIsHidden())),
      guideFolder (folder)
{
}

bool CVWebBrowserComponent::isGuideFile (const juce::String& url) const
{
    if (! url.startsWithIgnoreCase ("file:"))
        return false;
    // A link or ".." inside the folder may lead out of it. A page missing
    // from the folder is still the guide's: the view's failure shows our
    // page about it.
    const auto named = juce::URL (url.upToFirstOccurrenceOf ("#", false, false).upToFirstOccurrenceOf ("?", false, false)).getLocalFile();
    auto file = realFile (named);
    if (file == juce::File() && ! named.isSymbolicLink())
        if (const auto parent = realFile (named.getParentDirectory()); parent != juce::File())
            file = parent.getChildFile (named.getFileName());
    const auto folder = realFile (guideFolder);
    return file != juce::File() && folder != juce::File() && file.isAChildOf (folder);
}

bool CVWebBrowserComponent::pageAboutToLoad (const juce::String& newURL)
{
    // The view starts on a blank page of its own.
    if (newURL == "about:blank" || ownPages.count (newURL) > 0 || isGuideFile (newURL))
        return true;
    // A web page is the browser's to show; anything else (a file elsewhere,
    // a script, another scheme) goes nowhere.
    if (newURL.startsWithIgnoreCase ("http://") || newURL.startsWithIgnoreCase ("https://"))
        clarivo::update::openInBrowser (juce::URL (newURL));
    return false;
}

void CVWebBrowserComponent::pageFinishedLoading (const juce::String& url)
{
    lastPageLoaded = url;
    ++pagesLoaded;
    // WebKit answers a failed load with an error page of its own, which
    // replaces ours when ours was asked for first: until ours is shown,
    // whatever else finishes asks for it again.
    if (pendingOwnPage.isNotEmpty())
    {
        if (url == pendingOwnPage)
            pendingOwnPage.clear();
        else if (ownPageRetries++ < 3)
        {
            lastLoadFailed = false;
            goToURL (pendingOwnPage);
            return;
        }
        else
            pendingOwnPage.clear();
    }
    // WebKit reports a failed load as finished too, under its own address
    // or the page before: neither is a page shown.
    if (std::exchange (lastLoadFailed, false) || url.isEmpty() || url == "about:blank")
        return;
    if (current >= 0 && shown[(size_t) current] == url)
        goingBack = false; // where Back went, or the same page again
    else if (! std::exchange (goingBack, false))
    {
        shown.resize ((size_t) (current + 1));
        shown.push_back (url);
        current = (int) shown.size() - 1;
    }
    if (onPageShown)
        onPageShown();
}

void CVWebBrowserComponent::goBackAPage()
{
    if (! canGoBackAPage())
        return;
    --current;
    goingBack = true;
    pendingOwnPage.clear();
    --pagesLoaded;
    goBack();
    if (onPageShown)
        onPageShown();
}

void CVWebBrowserComponent::showMessagePage (const juce::String& heading, const juce::String& text)
{
    const auto url = messagePageURL (heading, text);
    ownPages.insert (url);
    pendingOwnPage = url;
    ownPageRetries = 0;
    goToURL (url);
}

bool CVWebBrowserComponent::pageLoadHadNetworkError (const juce::String& errorInfo)
{
    // A load that another one replaced is no failure: answering it would
    // put our page over the one that replaced it. WebKit names it only in
    // its message.
    if (errorInfo.containsIgnoreCase ("cancelled") || errorInfo.containsIgnoreCase ("interrupted"))
        return false;
    lastLoadFailed = true;
    // JUCE's own answer shows the message as plain text without a character
    // set, which mangles WebKit's typographic quotes.
    showMessagePage ("This page could not be shown", rejoinUTF8 (errorInfo));
    return false;
}

juce::String CVWebBrowserComponent::messagePageURL (const juce::String& heading, const juce::String& text)
{
    const auto escape = [] (const juce::String& s)
    {
        return s.replace ("&", "&amp;").replace ("<", "&lt;").replace (">", "&gt;").replace ("\"", "&quot;");
    };
    const juce::String html = "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                              "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">"
                              "<title>Clarivo User Guide</title>"
                              "<style>body{margin:48px;font-family:'DejaVu Sans',sans-serif;color:#202020;line-height:1.5}"
                              "h1{font-size:22px;color:#1c2a3c;border-bottom:2px solid #0080f0;padding-bottom:4px}"
                              "p{font-size:15px;overflow-wrap:anywhere}</style></head><body><h1>"
                              + escape (heading) + "</h1><p>" + escape (text) + "</p></body></html>";
    // In base64, so that no character of the page is read as part of the address.
    const auto utf8 = html.toUTF8();
    return "data:text/html;charset=utf-8;base64," + juce::Base64::toBase64 (utf8.getAddress(), std::strlen (utf8.getAddress()));
}
