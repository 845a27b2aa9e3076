#include "UpdateChecker.h"

#include <cstring>
#include <vector>

namespace clarivo::update
{
namespace
{
juce::String host { "https://www.clarivo.app" };
int timeoutMs = 10000;
Presenter presenter;
std::function<void (const juce::URL&)> browserOpener;
std::vector<std::unique_ptr<UpdateChecker>> running;

juce::URL feedURL() { return juce::URL (host + "/swupdates/mac/Clarivo+.xml"); }

// Runs the newest check and forgets it once it answered.
void start (bool interactive)
{
    running.push_back (std::make_unique<UpdateChecker>());
    auto* checker = running.back().get();
    checker->check ([checker, interactive] (const Result& result)
    {
        if (presenter)
            presenter (result, interactive);
        for (auto it = running.begin(); it != running.end(); ++it)
            if (it->get() == checker)
            {
                running.erase (it);
                break;
            }
    });
}

juce::String attribute (const juce::XmlElement& e, const char* name)
{
    return e.getStringAttribute (name).trim();
}

juce::String childText (const juce::XmlElement& e, const char* name)
{
    if (auto* child = e.getChildByName (name))
        return child->getAllSubText().trim();
    return {};
}
} // namespace

juce::String getHost() { return host; }
void setHost (const juce::String& schemeAndHost) { host = schemeAndHost; }
int getTimeoutMs() { return timeoutMs; }
void setTimeoutMs (int ms) { timeoutMs = ms; }

int compareVersions (const juce::String& a, const juce::String& b)
{
    auto pa = juce::StringArray::fromTokens (a.trim(), ".", {});
    auto pb = juce::StringArray::fromTokens (b.trim(), ".", {});
    for (int i = 0; i < juce::jmax (pa.size(), pb.size()); ++i)
    {
        const auto x = pa[i].getLargeIntValue();
        const auto y = pb[i].getLargeIntValue();
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool xmlNestsDeeperThan (const juce::String& text, int limit) noexcept
{
    const auto* p = text.toRawUTF8();
    const auto* end = p + text.getNumBytesAsUTF8();
    const auto skipPast = [&end] (const char* from, const char* what)
    {
        const auto n = std::strlen (what);
        for (; from + n <= end; ++from)
            if (std::memcmp (from, what, n) == 0)
                return from + n;
        return end;
    };
    int depth = 0;
    while (p < end)
    {
        if (*p != '<')
        {
            ++p;
            continue;
        }
        if (end - p >= 4 && std::memcmp (p, "<!--", 4) == 0)
            p = skipPast (p + 4, "-->");
        else if (end - p >= 9 && std::memcmp (p, "<![CDATA[", 9) == 0)
            p = skipPast (p + 9, "]]>");
        else if (end - p >= 2 && (p[1] == '?' || p[1] == '!'))
            p = skipPast (p + 2, ">");
        else if (end - p >= 2 && p[1] == '/')
        {
            depth = juce::jmax (0, depth - 1);
            p = skipPast (p + 2, ">");
        }
        else
        {
            // An opening tag; quoted values may hold a '>'.
            char quote = 0, last = 0;
            for (++p; p < end && (quote != 0 || *p != '>'); ++p)
            {
                if (quote != 0)
                    quote = *p == quote ? 0 : quote;
                else if (*p == '"' || *p == '\'')
                    quote = *p;
                if (! juce::CharacterFunctions::isWhitespace (*p))
                    last = *p;
            }
            ++p;
            if (last != '/' && ++depth > limit)
                return true;
        }
    }
    return false;
}

bool jsonNestsDeeperThan (const juce::String& text, int limit) noexcept
{
    int depth = 0;
    bool inString = false, escaped = false;
    for (const auto* p = text.toRawUTF8(); *p != 0; ++p)
    {
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (*p == '\\')
                escaped = true;
            else if (*p == '"')
                inString = false;
        }
        else if (*p == '"')
            inString = true;
        else if (*p == '[' || *p == '{')
        {
            if (++depth > limit)
                return true;
        }
        else if (*p == ']' || *p == '}')
            depth = juce::jmax (0, depth - 1);
    }
    return false;
}

std::optional<FeedItem> newestFeedItem (const juce::String& feedText)
{
    // A feed is four levels deep (rss, channel, item, enclosure) and
    // declares no entities: the parser expands them without bound, and one
    // that names itself recurses until the stack runs out.
    if (xmlNestsDeeperThan (feedText, 64) || feedText.containsIgnoreCase ("<!ENTITY"))
        return std::nullopt;
    juce::XmlDocument document (feedText);
    const auto root = document.getDocumentElement();
    if (root == nullptr || ! document.getLastParseError().isEmpty() || ! root->hasTagName ("rss"))
        return std::nullopt;
    auto* channel = root->getChildByName ("channel");
    if (channel == nullptr)
        return std::nullopt;

    FeedItem newest;
    for (auto* item : channel->getChildWithTagNameIterator ("item"))
    {
        juce::String version, link = childText (*item, "link");
        if (auto* enclosure = item->getChildByName ("enclosure"))
        {
            version = attribute (*enclosure, "sparkle:shortVersionString");
            if (version.isEmpty())
                version = attribute (*enclosure, "sparkle:version");
            if (link.isEmpty())
                link = attribute (*enclosure, "url");
        }
        if (version.isEmpty())
            version = childText (*item, "sparkle:shortVersionString");
        if (version.isEmpty())
            version = childText (*item, "sparkle:version");
        if (version.isNotEmpty() && (newest.version.isEmpty() || compareVersions (version, newest.version) > 0))
            newest = { version, juce::URL (link) };
    }
    return newest;
}

Result resultFrom (const Response& response)
{
    Result result;
    if (! response.connected || response.status != 200)
        return result;
    const auto item = newestFeedItem (response.body);
    if (! item)
        return result;
    if (item->version.isNotEmpty() && compareVersions (item->version, installedVersion) > 0)
        return { Result::Outcome::newVersion, item->version, item->link };
    result.outcome = Result::Outcome::upToDate;
    return result;
}

bool checksInBackgroundOn (juce::SystemStats::OperatingSystemType os) noexcept
{
    // Linux's value lies above every macOS one, so only the family bit says macOS.
    return (os & juce::SystemStats::MacOSX) != 0;
}

void UpdateChecker::check (Handler onResult)
{
    request = std::make_unique<BackgroundRequest> (feedURL(), timeoutMs,
                                                   [onResult = std::move (onResult)] (const Response& response)
                                                   {
                                                       if (onResult)
                                                           onResult (resultFrom (response));
                                                   });
}

void UpdateChecker::cancel()
{
    if (request != nullptr)
        request->cancel();
}

void UpdateChecker::launchSparkle() { start (false); }
void UpdateChecker::checkForUpdates() { start (true); }

void setPresenter (Presenter p) { presenter = std::move (p); }

void openInBrowser (const juce::URL& url)
{
    // The address may come from the feed. Only a web page is opened, and
    // never through a shell: JUCE's launcher hands it to /bin/sh, where a
    // "$(...)" in a link would run, and starts a local program as itself.
    const auto address = url.toString (true);
    if (! address.startsWithIgnoreCase ("https://") && ! address.startsWithIgnoreCase ("http://"))
        return;
    if (browserOpener)
    {
        browserOpener (url);
        return;
    }
    juce::ChildProcess launcher;
    launcher.start (juce::StringArray { "xdg-open", address }, 0);
}

void setBrowserOpener (std::function<void (const juce::URL&)> opener) { browserOpener = std::move (opener); }

void launchUpdateCheck() { UpdateChecker().launchSparkle(); }
void runUpdateCheck() { UpdateChecker().checkForUpdates(); }

int runningChecks() { return (int) running.size(); }

void cancelAllChecks()
{
    // Destroying each request waits for its thread; their answers are dropped.
    auto stopping = std::move (running);
    running.clear();
    stopping.clear();
}
} // namespace clarivo::update
