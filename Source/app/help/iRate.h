#pragma once

// Asks a user who has used the program for a while to rate it. It counts
// launches in a properties file of its own beside the preferences, looks the
// program up in the background on our own web host (the update feed's: no
// one else learns that the program runs, or where), and, when its
// thresholds are met and this is the store's latest version, asks once the
// media window exists. Everything but the lookup runs on the message thread.
#include <juce_gui_basics/juce_gui_basics.h>

#include "BackgroundRequest.h"
#include "app/windows/SettingsFile.h"

#include <functional>
#include <memory>

class iRate : private juce::Timer
{
public:
    // Where the counts live: beside the preferences file.
    static juce::File defaultDefaultsFile();

    // Schedules applicationLaunched on the message thread without waiting.
    explicit iRate (const juce::File& defaultsFile);
    ~iRate() override;

    //==========================================================================
    // Seams, set before the launch runs.
    std::function<juce::int64()> clock;           // ms since 1970
    std::function<juce::Component*()> mainWindow; // null while there is none

    //==========================================================================
    // Configuration
    juce::String appStoreCountry;
    juce::String applicationVersion { "5.0.0" };
    juce::String applicationName { "Clarivo+" };
    juce::String applicationBundleID { "app.clarivo.ClarivoPlus" };
    bool promptForNewVersionIfUserRated = false;
    bool onlyPromptIfLatestVersion = true;
    bool onlyPromptIfMainWindowIsAvailable = true;
    bool promptAtLaunch = true;
    int usesUntilPrompt = 10;
    int eventsUntilPrompt = 10;
    double daysUntilPrompt = 10.0;
    double usesPerWeekForPrompt = 0.0;
    double remindPeriod = 1.0;
    juce::int64 appStoreGenreID = 0;

    // The store's country from a region code: "150" is "eu"; anything not
    // two letters is "us".
    static juce::String countryFromRegion (const juce::String& region);

    //==========================================================================
    // The persistent state
    juce::int64 getFirstUsed() const;         // 0: none
    juce::int64 getLastReminded() const;      // 0: none
    int getUseCount() const;
    int getEventCount() const;
    juce::String getDeclinedVersion() const;
    juce::String getRatedVersion() const;
    juce::String getLastVersionUsed() const;
    juce::int64 getAppStoreID() const;
    void setFirstUsed (juce::int64 ms);
    void setLastReminded (juce::int64 ms);
    void setUseCount (int count);
    void setEventCount (int count);
    void setDeclinedVersion (const juce::String& version);
    void setRatedVersion (const juce::String& version);
    void setLastVersionUsed (const juce::String& version);
    void setAppStoreID (juce::int64 id);

    double usesPerWeek() const;
    bool declinedThisVersion() const { return getDeclinedVersion() == applicationVersion; }
    bool declinedAnyVersion() const { return getDeclinedVersion().isNotEmpty(); }
    bool ratedThisVersion() const { return getRatedVersion() == applicationVersion; }
    bool ratedAnyVersion() const { return getRatedVersion().isNotEmpty(); }

    // What the lookup asks for, on our host.
    juce::URL lookupURL() const;
    // The ratings page of the program, on our host; none until its ID is known.
    juce::URL ratingsURL() const;
    juce::String messageTitle() const;
    juce::String message() const;

    //==========================================================================
    void applicationLaunched();
    bool shouldPromptForRating() const;
    void logEvent (bool deferPrompt);
    void promptIfNetworkAvailable();
    void checkForConnectivityInBackground();
    void promptForRating();
    void rate();
    void declineThisVersion();
    void remindLater();
    void openRatingsPageInAppStore();

    bool isLookingUp() const noexcept { return lookup != nullptr && lookup->isPending(); }
    bool isWaitingForMainWindow() const noexcept { return isTimerRunning(); }

private:
    void timerCallback() override;
    void lookupFinished (const clarivo::update::Response& response);
    void connectionSucceeded();
    void connectionError();
    juce::int64 now() const { return clock ? clock() : juce::Time::currentTimeMillis(); }
    void store (const char* key, const juce::var& value);

    std::unique_ptr<SettingsFile> defaults;
    std::unique_ptr<clarivo::update::BackgroundRequest> lookup;
    std::shared_ptr<bool> alive = std::make_shared<bool> (true);
    bool checkingForPrompt = false;
    bool checkingForAppStoreID = false;
    bool alertVisible = false;

    JUCE_DECLARE_NON_COPYABLE (iRate)
};
