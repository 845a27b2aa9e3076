#pragma once

// The update check: fetches our feed in the background, finds its newest
// item and tells whoever asked, on the message thread, what it found. How
// the answer is shown is the application's business (setPresenter); the
// check itself never shows anything.
#include <juce_events/juce_events.h>

#include "BackgroundRequest.h"

#include <functional>
#include <memory>
#include <optional>

namespace clarivo::update
{
// The version this program is.
inline constexpr const char* installedVersion = "5.0.0";

// Where our feed and pages live; tests point it at a server of their own.
juce::String getHost();
void setHost (const juce::String& schemeAndHost);
// How long a silent server is waited for; tests shorten it.
int getTimeoutMs();
void setTimeoutMs (int ms);

// Compares dotted versions number by number ("5.0.10" > "5.0.9"; a missing
// component counts as 0): negative, zero or positive.
int compareVersions (const juce::String& a, const juce::String& b);

struct FeedItem
{
    juce::String version;
    juce::URL link;
};

// The newest item of a feed; none when the text is no feed. A feed without
// a versioned item gives an item with an empty version.
std::optional<FeedItem> newestFeedItem (const juce::String& feedText);

struct Result
{
    enum class Outcome { upToDate, newVersion, error };
    Outcome outcome = Outcome::error;
    juce::String version; // newVersion: the version on offer
    juce::URL link;       // newVersion: where to get it
};

// What one answer of the feed's server means.
Result resultFrom (const Response& response);

// Whether the quiet check at start-up runs on this system: on macOS only.
bool checksInBackgroundOn (juce::SystemStats::OperatingSystemType os) noexcept;

class UpdateChecker
{
public:
    using Handler = std::function<void (const Result&)>;

    // Fetches the feed; the result reaches onResult on the message thread
    // unless the checker is gone or cancelled by then.
    void check (Handler onResult);
    void cancel();
    bool isChecking() const noexcept { return request != nullptr && request->isPending(); }

    // The quiet check (launchSparkle) and the one the menu item asks for.
    void launchSparkle();
    void checkForUpdates();

private:
    std::unique_ptr<BackgroundRequest> request;
};

// The application shows what a check found; interactive is false for the
// quiet check. Until one is set nothing is shown.
using Presenter = std::function<void (const Result&, bool interactive)>;
void setPresenter (Presenter presenter);

// Opens a page in the user's browser; tests put a recorder in its place.
void openInBrowser (const juce::URL& url);
void setBrowserOpener (std::function<void (const juce::URL&)> opener);

// The two entry points the rest of the program calls, on the message thread.
// The one the menu item asks for answers with the check's number.
void launchUpdateCheck();
int runUpdateCheck();
// Ends that check at once, if it still runs: its answer is dropped and
// nothing is presented.
void cancelCheck (int check);
// Stops every check still running; their results are dropped (at quit).
void cancelAllChecks();
// Checks started through the two entry points that have not answered yet.
int runningChecks();
} // namespace clarivo::update
