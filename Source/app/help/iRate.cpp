#include "app/help/iRate.h"

#include "app/windows/DialogService.h"
#include "app/windows/Preferences.h"
#include "UntrustedParse.h"
#include "UpdateChecker.h"

#include <limits>

namespace
{
constexpr double msPerDay = 86400.0 * 1000.0;
constexpr int lookupTimeoutMs = 60000;
// Two lookups never run at once, whichever instance asks.
bool lookupRunning = false;

const char* const firstUsedKey = "iRateFirstUsed";
const char* const lastRemindedKey = "iRateLastReminded";
const char* const useCountKey = "iRateUseCount";
const char* const eventCountKey = "iRateEventCount";
const char* const declinedVersionKey = "iRateDeclinedVersion";
const char* const ratedVersionKey = "iRateRatedVersionChecked";
const char* const lastVersionUsedKey = "iRateLastVersionUsed";
const char* const appStoreIDKey = "iRateAppStoreID";

// The store's IDs are positive integers; a fraction, text or a number past
// the int64 range is no ID.
juce::int64 storeInteger (const juce::var& value)
{
    return value.isInt() || value.isInt64() ? juce::jmax ((juce::int64) 0, (juce::int64) value) : 0;
}

int countedOnce (int count) { return count < std::numeric_limits<int>::max() ? count + 1 : count; }

} // namespace

juce::File iRate::defaultDefaultsFile()
{
    const auto prefs = Preferences::getFile();
    return prefs == juce::File() ? juce::File() : prefs.getSiblingFile ("iRate.settings");
}

iRate::iRate (const juce::File& defaultsFile)
{
    if (defaultsFile != juce::File())
    {
        defaultsFile.getParentDirectory().createDirectory();
        defaults = SettingsFile::open (defaultsFile, -1);
    }
    appStoreCountry = countryFromRegion (juce::SystemStats::getUserRegion());

    juce::MessageManager::callAsync ([this, token = std::weak_ptr<bool> (alive)]
    {
        if (! token.expired())
            applicationLaunched();
    });
}

iRate::~iRate()
{
    alive.reset();
    if (lookup != nullptr)
    {
        lookup = nullptr;
        lookupRunning = false;
    }
}

juce::String iRate::countryFromRegion (const juce::String& region)
{
    if (region == "150")
        return "eu";
    if (region.length() != 2 || ! region.containsOnly ("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))
        return "us";
    return region;
}

//==============================================================================
void iRate::store (const char* key, const juce::var& value)
{
    if (defaults == nullptr)
        return;
    if (value.isVoid())
        defaults->removeValue (key);
    else
        defaults->setValue (key, value);
    defaults->saveIfNeeded();
}

juce::int64 iRate::getFirstUsed() const { return defaults != nullptr ? defaults->getValue (firstUsedKey).getLargeIntValue() : 0; }
juce::int64 iRate::getLastReminded() const { return defaults != nullptr ? defaults->getValue (lastRemindedKey).getLargeIntValue() : 0; }
int iRate::getUseCount() const { return defaults != nullptr ? defaults->getIntValue (useCountKey) : 0; }
int iRate::getEventCount() const { return defaults != nullptr ? defaults->getIntValue (eventCountKey) : 0; }
juce::String iRate::getDeclinedVersion() const { return defaults != nullptr ? defaults->getValue (declinedVersionKey) : juce::String(); }
juce::String iRate::getRatedVersion() const { return defaults != nullptr ? defaults->getValue (ratedVersionKey) : juce::String(); }
juce::String iRate::getLastVersionUsed() const { return defaults != nullptr ? defaults->getValue (lastVersionUsedKey) : juce::String(); }
juce::int64 iRate::getAppStoreID() const
{
    return defaults != nullptr ? juce::jmax ((juce::int64) 0, defaults->getValue (appStoreIDKey).getLargeIntValue()) : 0;
}

void iRate::setFirstUsed (juce::int64 ms) { store (firstUsedKey, ms != 0 ? juce::var (juce::String (ms)) : juce::var()); }
void iRate::setLastReminded (juce::int64 ms) { store (lastRemindedKey, ms != 0 ? juce::var (juce::String (ms)) : juce::var()); }
void iRate::setUseCount (int count) { store (useCountKey, count); }
void iRate::setEventCount (int count) { store (eventCountKey, count); }
void iRate::setDeclinedVersion (const juce::String& v) { store (declinedVersionKey, v); }
void iRate::setRatedVersion (const juce::String& v) { store (ratedVersionKey, v); }
void iRate::setLastVersionUsed (const juce::String& v) { store (lastVersionUsedKey, v); }
void iRate::setAppStoreID (juce::int64 id) { store (appStoreIDKey, juce::String (id)); }

double iRate::usesPerWeek() const
{
    const double weeks = ((double) now() - (double) getFirstUsed()) / (7.0 * msPerDay);
    return weeks > 0.0 ? getUseCount() / weeks : (double) getUseCount();
}

juce::URL iRate::ratingsURL() const
{
    const auto id = getAppStoreID();
    return id != 0 ? juce::URL (clarivo::update::getHost() + "/app/id" + juce::String (id)) : juce::URL();
}

juce::URL iRate::lookupURL() const
{
    const auto id = getAppStoreID();
    const auto query = id != 0 ? "?id=" + juce::String (id) : "?bundleId=" + applicationBundleID;
    return juce::URL (clarivo::update::getHost() + "/" + appStoreCountry + "/lookup" + query);
}

juce::String iRate::messageTitle() const { return "Rate " + applicationName; }

juce::String iRate::message() const
{
    const juce::String verb = appStoreGenreID == 6014 ? "playing" : "using";
    return "If you enjoy " + verb + " " + applicationName
           + juce::String::fromUTF8 (", would you mind taking a moment to rate it? It won\xe2\x80\x99t take more than a "
                                     "minute. Thanks for your support!");
}

//==============================================================================
void iRate::applicationLaunched()
{
    // The file may have been edited or damaged: a first use after now or
    // before 1970, or a negative count, was never written here and would hold
    // the prompt off for ever. Counting starts afresh, as for a new user.
    const auto launchedAt = now();
    if (getFirstUsed() < 0 || getFirstUsed() > launchedAt || getUseCount() < 0 || getEventCount() < 0)
        setFirstUsed (0);
    if (getLastReminded() < 0 || getLastReminded() > launchedAt)
        setLastReminded (0);

    if (getFirstUsed() == 0 || getLastVersionUsed() != applicationVersion)
    {
        setLastVersionUsed (applicationVersion);
        if (getFirstUsed() != 0 && ! ratedAnyVersion())
        {
            // An update waits at most one more day.
            const auto latest = now() - (juce::int64) ((daysUntilPrompt - 1.0) * msPerDay);
            if (getFirstUsed() < latest)
                setFirstUsed (latest);
        }
        else
        {
            setFirstUsed (now());
            setUseCount (0);
            setEventCount (0);
            setLastReminded (0);
        }
    }
    setUseCount (countedOnce (getUseCount()));
    checkForConnectivityInBackground();
    if (promptAtLaunch && shouldPromptForRating())
        promptIfNetworkAvailable();
}

bool iRate::shouldPromptForRating() const
{
    if (ratedThisVersion())
        return false;
    if (ratedAnyVersion() && ! promptForNewVersionIfUserRated)
        return false;
    if (declinedAnyVersion())
        return false;
    if ((double) now() - (double) getFirstUsed() < daysUntilPrompt * msPerDay)
        return false;
    if (getUseCount() < usesUntilPrompt && getEventCount() < eventsUntilPrompt)
        return false;
    if (usesPerWeek() < usesPerWeekForPrompt)
        return false;
    if (getLastReminded() != 0 && (double) now() - (double) getLastReminded() < remindPeriod * msPerDay)
        return false;
    return true;
}

void iRate::logEvent (bool deferPrompt)
{
    setEventCount (countedOnce (getEventCount()));
    if (! deferPrompt && shouldPromptForRating())
        promptIfNetworkAvailable();
}

void iRate::promptIfNetworkAvailable()
{
    if (checkingForPrompt || checkingForAppStoreID)
        return;
    checkingForPrompt = true;
    checkForConnectivityInBackground();
}

void iRate::checkForConnectivityInBackground()
{
    if (lookupRunning)
        return;
    lookupRunning = true;
    lookup = std::make_unique<clarivo::update::BackgroundRequest> (
        lookupURL(), lookupTimeoutMs,
        [this] (const clarivo::update::Response& response) { lookupFinished (response); });
}

void iRate::lookupFinished (const clarivo::update::Response& response)
{
    lookupRunning = false;
    // The store's answer is two levels deep and a few dozen values long.
    const auto answer = response.connected && response.status == 200 ? clarivo::parse::parseUntrustedJson (response.body)
                                                                      : std::nullopt;
    bool failed = ! answer.has_value();
    if (! failed)
    {
        const auto& json = *answer;
        const auto* results = json.getProperty ("results", {}).getArray();
        const auto entry = results != nullptr && ! results->isEmpty() ? results->getLast() : juce::var();
        const auto bundleId = entry.getProperty ("bundleId", {});
        if (bundleId.toString() == applicationBundleID)
        {
            if (appStoreGenreID == 0)
                appStoreGenreID = storeInteger (entry.getProperty ("primaryGenreId", 0));
            if (getAppStoreID() == 0)
                setAppStoreID (storeInteger (entry.getProperty ("trackId", 0)));
            if (onlyPromptIfLatestVersion
                && clarivo::update::compareVersions (entry.getProperty ("version", {}).toString(), applicationVersion) > 0)
                failed = true; // not the latest version
        }
        else
            // A different program, or none found: without an ID no page can be opened.
            failed = true;
    }

    if (failed)
        connectionError();
    else if (getAppStoreID() != 0)
        connectionSucceeded();
}

void iRate::connectionSucceeded()
{
    if (checkingForAppStoreID)
    {
        checkingForPrompt = checkingForAppStoreID = false;
        openRatingsPageInAppStore();
    }
    else if (checkingForPrompt)
    {
        checkingForPrompt = false;
        promptForRating();
    }
}

void iRate::connectionError() { checkingForPrompt = checkingForAppStoreID = false; }

void iRate::timerCallback()
{
    stopTimer();
    promptForRating();
}

void iRate::promptForRating()
{
    if (alertVisible)
        return;
    if (onlyPromptIfMainWindowIsAvailable && (! mainWindow || mainWindow() == nullptr))
    {
        startTimer (500);
        return;
    }
    alertVisible = true;
    const int button = DialogService::get().ask (juce::MessageBoxIconType::QuestionIcon, messageTitle(), message(),
                                                 { "Rate It Now", "No, Thanks", "Remind Me Later" });
    alertVisible = false;
    if (button == 0)
        rate();
    else if (button == 1)
        declineThisVersion();
    else
        remindLater();
}

void iRate::rate()
{
    setRatedVersion (applicationVersion);
    openRatingsPageInAppStore();
}

void iRate::declineThisVersion() { setDeclinedVersion (applicationVersion); }

void iRate::remindLater() { setLastReminded (now()); }

void iRate::openRatingsPageInAppStore()
{
    if (getAppStoreID() == 0)
    {
        checkingForAppStoreID = true;
        if (! checkingForPrompt)
            checkForConnectivityInBackground();
        return;
    }
    // No store program runs here to hand the page to later: the browser
    // shows it once and nothing waits for anything.
    clarivo::update::openInBrowser (ratingsURL());
}
