#include "UpdateChecker.h"

#include "ProgramLauncher.h"

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

bool xmlNestsDeeperThan (const juce::String& text, int limit) noexcept
{
    // Walks the text as the framework's parser does. That parser reads on
    // after many errors, and where it does depends on details (a quote not
    // after "=", an entity it skips a character past, a name in letters it
    // alone knows), so whatever the walk cannot follow exactly counts as too
    // deep: no document of ours, nor a feed, is written that way. Where the
    // parser stops for good (an unclosed comment, quote or tag), so does the
    // walk.
    const char* p = text.toRawUTF8();
    const char* const end = p + text.getNumBytesAsUTF8();
    const auto at = [&] (const char* what)
    {
        const auto n = std::strlen (what);
        return (size_t) (end - p) >= n && std::memcmp (p, what, n) == 0;
    };
    // False when the text ends first.
    const auto skipPast = [&] (const char* what)
    {
        const auto n = std::strlen (what);
        for (; (size_t) (end - p) >= n; ++p)
            if (std::memcmp (p, what, n) == 0)
            {
                p += n;
                return true;
            }
        p = end;
        return false;
    };
    const auto isSpace = [] (char c) { return c == ' ' || (c >= 9 && c <= 13); };
    const auto isName = [] (char c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
               || c == ':' || c == '.';
    };
    // At '&': past an entity the parser reads to its ';' and no further.
    const auto skipEntity = [&]
    {
        ++p;
        int digits = 0, most = 0;
        bool (*digit) (char) = nullptr;
        if (at ("#x") || at ("#X"))
        {
            p += 2;
            most = 8;
            digit = [] (char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
        }
        else if (at ("#"))
        {
            p += 1;
            most = 12;
            digit = [] (char c) { return c >= '0' && c <= '9'; };
        }
        for (; p < end && (digit != nullptr ? digit (*p) : isName (*p)); ++p)
            ++digits;
        if (digits == 0 || (most > 0 && digits > most) || p == end || *p != ';')
            return false;
        ++p;
        return true;
    };
    // Past blanks inside a tag; false at anything the parser might skip as well.
    const auto skipTagSpace = [&]
    {
        while (p < end && isSpace (*p))
            ++p;
        return p == end || (*p != '<' && (unsigned char) *p < 0x80);
    };

    constexpr bool tooDeep = true, stops = false;
    int depth = 0;
    bool inRoot = false;
    while (p < end)
    {
        if (*p != '<')
        {
            if (! inRoot)
            {
                // Before the root the parser skips blanks (its own idea of
                // them beyond ASCII) and gives up at anything else.
                if (! isSpace (*p))
                    return (unsigned char) *p >= 0x80 ? tooDeep : stops;
                ++p;
            }
            else if (*p == '&')
            {
                if (! skipEntity())
                    return tooDeep;
            }
            else
                ++p;
            continue;
        }

        if (at ("<!--"))
        {
            if (! skipPast ("-->"))
                return stops;
        }
        else if (at ("<?"))
        {
            if (! skipPast ("?>"))
                return stops;
        }
        else if (inRoot && at ("<![CDATA["))
        {
            if (! skipPast ("]]>"))
                return stops;
        }
        else if (inRoot && at ("</"))
        {
            // The parser closes the open element at any end tag, whatever its name.
            if (! skipPast (">") || --depth == 0)
                return stops;
        }
        else if (p + 1 < end && isName (p[1]))
        {
            for (++p; p < end && isName (*p);)
                ++p;
            for (;;)
            {
                if (! skipTagSpace())
                    return tooDeep;
                if (p == end)
                    return stops;
                if (at ("/>"))
                {
                    p += 2;
                    if (! inRoot)
                        return stops; // an empty root
                    break;
                }
                if (*p == '>')
                {
                    ++p;
                    inRoot = true;
                    if (++depth > limit)
                        return tooDeep;
                    break;
                }
                if (! isName (*p))
                    return tooDeep;
                while (p < end && isName (*p))
                    ++p;
                if (! skipTagSpace())
                    return tooDeep;
                if (p == end)
                    return stops;
                if (*p != '=')
                    return tooDeep;
                ++p;
                if (! skipTagSpace())
                    return tooDeep;
                if (p == end)
                    return stops;
                if (*p != '"' && *p != '\'')
                    return tooDeep;
                const char quote = *p++;
                while (p < end && *p != quote)
                {
                    if (*p != '&')
                        ++p;
                    else if (! skipEntity())
                        return tooDeep;
                }
                if (p == end)
                    return stops;
                ++p;
            }
        }
        else
            return tooDeep;
    }
    return stops;
}

bool jsonNestsDeeperThan (const juce::String& text, int limit) noexcept
{
    // The framework's parser takes strings in single quotes as well.
    int depth = 0;
    char quote = 0;
    bool escaped = false;
    for (const auto* p = text.toRawUTF8(); *p != 0; ++p)
    {
        if (quote != 0)
        {
            if (escaped)
                escaped = false;
            else if (*p == '\\')
                escaped = true;
            else if (*p == quote)
                quote = 0;
        }
        else if (*p == '"' || *p == '\'')
            quote = *p;
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
