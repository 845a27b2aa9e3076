#include "UpdateChecker.h"

#include "ProgramLauncher.h"
#include "UntrustedParse.h"

#include <vector>

namespace clarivo::update
{
namespace
{
juce::String host { "https://www.clarivo.app" };
int timeoutMs = 10000;
Presenter presenter;
std::function<void (const juce::URL&)> browserOpener;
struct Running
{
    int id;
    std::unique_ptr<UpdateChecker> checker;
};
std::vector<Running> running;
int lastCheck = 0;

juce::URL feedURL() { return juce::URL (host + "/swupdates/mac/Clarivo+.xml"); }

// Destroying a checker waits for its thread; its answer is dropped.
void forget (int check)
{
    for (auto it = running.begin(); it != running.end(); ++it)
        if (it->id == check)
        {
            auto stopping = std::move (it->checker);
            running.erase (it);
            return;
        }
}

// Runs the newest check and forgets it once it answered.
int start (bool interactive)
{
    const int id = ++lastCheck;
    running.push_back ({ id, std::make_unique<UpdateChecker>() });
    running.back().checker->check ([id, interactive] (const Result& result)
    {
        if (presenter)
            presenter (result, interactive);
        forget (id);
    });
    return id;
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

std::optional<FeedItem> newestFeedItem (const juce::String& feedText)
{
    // A feed is four levels deep (rss, channel, item, enclosure) and
    // declares no entities.
    const auto root = parse::parseUntrustedXml (feedText);
    if (root == nullptr || ! root->hasTagName ("rss"))
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

void UpdateChecker::launchSparkle() { launchUpdateCheck(); }
void UpdateChecker::checkForUpdates() { runUpdateCheck(); }

void setPresenter (Presenter p) { presenter = std::move (p); }

void openInBrowser (const juce::URL& url)
{
    // The address may come from the feed. Only a web page is opened, and
    // never through a shell, where a "$(...)" in a link would run.
    const auto address = url.toString (true);
    if (! address.startsWithIgnoreCase ("https://") && ! address.startsWithIgnoreCase ("http://"))
        return;
    if (browserOpener)
    {
        browserOpener (url);
        return;
    }
    // A desktop without an opener has nowhere to show the page; nothing
    // more can be done about it than not showing it.
    clarivo::process::launch ("xdg-open", { address }, {});
}

void setBrowserOpener (std::function<void (const juce::URL&)> opener) { browserOpener = std::move (opener); }

void launchUpdateCheck() { start (false); }
int runUpdateCheck() { return start (true); }
void cancelCheck (int check) { forget (check); }

int runningChecks() { return (int) running.size(); }

void cancelAllChecks()
{
    // Destroying each request waits for its thread; their answers are dropped.
    auto stopping = std::move (running);
    running.clear();
    stopping.clear();
}
} // namespace clarivo::update
