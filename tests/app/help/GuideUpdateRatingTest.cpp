#include "app/support/AppTestSupport.h"

#include "app/help/CVWebBrowserComponent.h"
#include "BackgroundRequest.h"
#include "UpdateChecker.h"
#include "app/help/UserGuideComponent.h"
#include "app/help/UserGuideWindow.h"
#include "app/help/iRate.h"
#include "platform/share/SharingService.h"
#include "TestDeadline.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <csignal>
#include <map>
#include <mutex>

using namespace mediatest;
using Outcome = clarivo::update::Result::Outcome;

namespace
{
// A web server on the loopback interface, answering each path with what the
// test set for it; a stalled path is accepted and held until the test lets
// the held requests have what their paths hold then; a trickling one is
// sent a few bytes of a long answer at a time, without end.
class LocalWebServer : private juce::Thread
{
public:
    struct Route
    {
        int status = 200;
        juce::String body;
        juce::String type = "text/xml";
        bool stall = false;
        bool trickle = false;
        juce::String location; // a redirect's target
    };

    LocalWebServer() : juce::Thread ("test web server")
    {
        // A held request may be gone (cancelled) by the time it is answered:
        // writing to it must fail, not end the test.
        std::signal (SIGPIPE, SIG_IGN);
        listener.createListener (0, "127.0.0.1");
        startThread();
    }
    ~LocalWebServer() override
    {
        signalThreadShouldExit();
        stopThread (3000);
    }

    juce::String host() const { return "http://127.0.0.1:" + juce::String (listener.getBoundPort()); }
    void set (const juce::String& path, Route route)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        routes[path] = std::move (route);
    }
    juce::StringArray requests() const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return requested;
    }
    void answerHeld() { answerHeldRequests = true; }

private:
    Route routeFor (const juce::String& target)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        if (auto it = routes.find (target.upToFirstOccurrenceOf ("?", false, false)); it != routes.end())
            return it->second;
        return { 404, "not here", "text/plain" };
    }

    static void answer (juce::StreamingSocket& client, const Route& route)
    {
        const auto body = route.body.toStdString();
        const auto length = route.trickle ? 1 << 20 : (int) body.size();
        const auto head = "HTTP/1.1 " + juce::String (route.status) + " Answer\r\nContent-Type: " + route.type
                          + "\r\nContent-Length: " + juce::String (length)
                          + (route.location.isEmpty() ? juce::String() : "\r\nLocation: " + route.location)
                          + "\r\nConnection: close\r\n\r\n";
        client.write (head.toRawUTF8(), (int) head.getNumBytesAsUTF8());
        client.write (body.data(), (int) body.size());
    }

    void run() override
    {
        std::vector<std::pair<std::unique_ptr<juce::StreamingSocket>, juce::String>> stalled;
        std::vector<std::unique_ptr<juce::StreamingSocket>> trickling;
        while (! threadShouldExit())
        {
            // At least 15 bytes every 50 ms: well above any speed floor.
            trickling.erase (std::remove_if (trickling.begin(), trickling.end(),
                                             [] (auto& client) { return client->write ("xxxxxxxxxxxxxxx", 15) != 15; }),
                             trickling.end());
            if (answerHeldRequests.exchange (false))
            {
                for (auto& [client, target] : stalled)
                    if (const auto route = routeFor (target); ! route.stall)
                        answer (*client, route);
                stalled.clear();
            }
            if (listener.waitUntilReady (true, 50) != 1)
                continue;
            std::unique_ptr<juce::StreamingSocket> client (listener.waitForNextConnection());
            if (client == nullptr)
                continue;
            juce::String request;
            char buffer[4096];
            while (! request.contains ("\r\n\r\n") && client->waitUntilReady (true, 2000) == 1)
            {
                const int n = client->read (buffer, sizeof (buffer), false);
                if (n <= 0)
                    break;
                request += juce::String::fromUTF8 (buffer, n);
            }
            const auto target = request.upToFirstOccurrenceOf ("\r\n", false, false).fromFirstOccurrenceOf (" ", false, false).upToLastOccurrenceOf (" ", false, false);
            {
                const std::lock_guard<std::mutex> lock (mutex);
                requested.add (target);
            }
            const auto route = routeFor (target);
            if (route.stall)
                stalled.emplace_back (std::move (client), target);
            else
                answer (*client, route);
            if (route.trickle)
                trickling.push_back (std::move (client));
        }
    }

    juce::StreamingSocket listener;
    std::atomic<bool> answerHeldRequests { false };
    mutable std::mutex mutex;
    std::map<juce::String, Route> routes;
    juce::StringArray requested;
};

juce::String feed (const juce::StringArray& versions)
{
    juce::String items;
    for (auto& v : versions)
        items << "<item><title>Clarivo+ " << v << "</title><link>https://example.invalid/get/" << v << "</link>"
              << "<enclosure url=\"https://example.invalid/" << v << ".deb\" sparkle:version=\"" << v.removeCharacters (".")
              << "\" sparkle:shortVersionString=\"" << v << "\"/></item>";
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"https://www.clarivo.app/xml-namespaces/updates\">"
           "<channel><title>Clarivo+</title>" + items + "</channel></rss>";
}

const char* const feedPath = "/swupdates/mac/Clarivo+.xml";
} // namespace

// The application with a web server of the test's own in place of ours.
class NetworkTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        savedHost = clarivo::update::getHost();
        clarivo::update::setHost (server.host());
        clarivo::update::setBrowserOpener ([this] (const juce::URL& url) { opened.add (url.toString (true)); });
    }
    void TearDown() override
    {
        AppTest::TearDown();
        clarivo::update::setHost (savedHost);
        clarivo::update::setTimeoutMs (10000);
        clarivo::update::BackgroundRequest::setDeadlineMs (60000);
        clarivo::update::setBrowserOpener ({});
    }

    // Runs the message loop until the checks are done, and a little longer
    // for anything they post.
    void finishChecks (int timeoutMs = 8000)
    {
        EXPECT_TRUE (pumpUntil ([] { return clarivo::update::runningChecks() == 0; }, timeoutMs));
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    }

    LocalWebServer server;
    juce::String savedHost;
    juce::StringArray opened;
};

//==============================================================================
using UpdateCheckTest = NetworkTest;

TEST_F (UpdateCheckTest, TheMenuCheckReportsWhatTheFeedHolds)
{
    auto& dialogs = DialogService::get();
    // A link that is no web page is not followed: a local program, a file.
    struct Case { juce::StringArray versions; juce::String newer, link; bool follows = true; };
    const Case cases[] { { { "4.2.1", "5.0.0" }, {}, {} }, { { "5.1.0", "5.0.0" }, "5.1.0", {} }, { { "5.0.9", "5.0.10", "5.0.2" }, "5.0.10", {} },
                         { { "5.1.0" }, "5.1.0", "/usr/bin/xterm", false }, { { "5.1.0" }, "5.1.0", "file:///bin/sh", false },
                         { { "5.1.0" }, "5.1.0", "javascript:alert(1)", false } };
    for (const auto& c : cases)
    {
        SCOPED_TRACE ((c.versions.joinIntoString (" ") + " " + c.link).toStdString());
        const auto page = "https://example.invalid/get/" + c.newer;
        server.set (feedPath, { 200, c.link.isEmpty() ? feed (c.versions) : feed (c.versions).replace (page, c.link) });
        dialogs.clearHistory();
        opened.clear();
        dialogs.answerWithButton ("OK");
        app->checkForUpdates();
        finishChecks();
        ASSERT_EQ (askedTitles().size(), 1);
        if (c.newer.isEmpty())
        {
            dialogs.clearScript();
            EXPECT_EQ (askedTitles()[0], juce::String::fromUTF8 ("You\xe2\x80\x99re up-to-date!"));
            EXPECT_EQ (textOf (askedTitles()[0]), "Clarivo+ 5.0.0 is currently the newest version available.");
        }
        else
        {
            EXPECT_EQ (askedTitles()[0], "A new version of Clarivo+ is available!");
            EXPECT_EQ (textOf (askedTitles()[0]), "Clarivo+ " + c.newer
                                                      + juce::String::fromUTF8 (" is now available\xe2\x80\x94you have 5.0.0. Would you like to download it now?"));
        }
        EXPECT_EQ (opened, c.newer.isNotEmpty() && c.follows ? juce::StringArray (page) : juce::StringArray());
    }
}

TEST_F (UpdateCheckTest, EveryFailureIsOneUpdateErrorAndTheQuietCheckSaysNothingButNews)
{
    clarivo::update::setTimeoutMs (1000);
    auto& dialogs = DialogService::get();
    struct Case { const char* name; LocalWebServer::Route route; bool closedPort; };
    const Case cases[] { { "HTTP 500", { 500, feed ({ "5.1.0" }) }, false },
                         { "bad XML", { 200, "<rss><channel><item>" }, false },
                         { "no feed", { 200, "{\"version\": \"6.0\"}", "application/json" }, false },
                         { "never answers", { 200, {}, {}, true }, false },
                         { "closed port", {}, true } };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        server.set (feedPath, c.route);
        clarivo::update::setHost (c.closedPort ? "http://127.0.0.1:1" : server.host());
        for (const bool interactive : { true, false })
        {
            dialogs.clearHistory();
            interactive ? (void) clarivo::update::runUpdateCheck() : clarivo::update::launchUpdateCheck();
            finishChecks();
            if (interactive)
            {
                ASSERT_EQ (askedTitles(), juce::StringArray ("Update Error!"));
                EXPECT_EQ (textOf ("Update Error!"), "An error occurred in retrieving update information. Please try again later.");
            }
            else
                EXPECT_TRUE (askedTitles().isEmpty());
        }
    }

    // The quiet check speaks up for a newer version only.
    clarivo::update::setHost (server.host());
    for (const auto* version : { "5.0.0", "5.2.0" })
    {
        server.set (feedPath, { 200, feed ({ version }) });
        dialogs.clearHistory();
        clarivo::update::launchUpdateCheck();
        finishChecks();
        EXPECT_EQ (askedTitles(), juce::String (version) == "5.0.0" ? juce::StringArray() : juce::StringArray ("A new version of Clarivo+ is available!"));
    }
}

TEST_F (UpdateCheckTest, QuittingDuringAStalledCheckDoesNotWaitForIt)
{
    server.set (feedPath, { 200, {}, {}, true });
    app->checkForUpdates();
    clarivo::update::launchUpdateCheck();
    ASSERT_TRUE (pumpUntil ([this] { return server.requests().size() >= 2; }, 5000));
    const auto start = juce::Time::getMillisecondCounterHiRes();
    app->shutdown();
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 2000.0);
    EXPECT_EQ (clarivo::update::runningChecks(), 0);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
    EXPECT_TRUE (askedTitles().isEmpty());
}

// The time-out covers only silence: an answer longer than the limit is none.
TEST_F (UpdateCheckTest, AnAnswerPastTheLimitIsNoAnswer)
{
    server.set ("/big", { 200, juce::String::repeatedString ("x", 5000), "text/plain" });
    std::vector<clarivo::update::Response> answers;
    const juce::URL url (server.host() + "/big");
    clarivo::update::BackgroundRequest capped (url, 5000, [&] (const auto& r) { answers.push_back (r); }, 1000);
    clarivo::update::BackgroundRequest roomy (url, 5000, [&] (const auto& r) { answers.push_back (r); }, 10000);
    ASSERT_TRUE (pumpUntil ([&] { return answers.size() == 2; }, 5000));
    EXPECT_NE (answers[0].connected, answers[1].connected);
    for (const auto& answer : answers)
        EXPECT_EQ (answer.connected ? answer.body.length() : 5000, 5000);
}

// A request over https is never redirected on to plain http, where anybody
// on the way could answer in the feed's place; one over http still follows.
// A libcurl that refuses one of the request's options (one without it)
// would drop that limit: the request is not made at all.
TEST_F (UpdateCheckTest, ARedirectNeverLeavesHttpsAndARefusedOptionFailsTheRequest)
{
    using clarivo::update::BackgroundRequest;
    struct Recorder
    {
        std::mutex lock;
        std::map<int, std::string> texts;
        int refuse = -1;
    };
    auto recorder = std::make_shared<Recorder>();
    BackgroundRequest::setOptionHook ([recorder] (int option, const char* text)
    {
        const std::lock_guard<std::mutex> l (recorder->lock);
        recorder->texts[option] = text != nullptr ? text : "";
        return option == recorder->refuse ? (int) CURLE_UNKNOWN_OPTION : 0;
    });
    const juce::ScopeGuard unhook { [] { BackgroundRequest::setOptionHook ({}); } };
    const auto fetch = [] (const juce::String& url)
    {
        std::vector<clarivo::update::Response> answers;
        BackgroundRequest request (juce::URL (url), 5000, [&] (const auto& r) { answers.push_back (r); });
        EXPECT_TRUE (pumpUntil ([&] { return ! answers.empty(); }, 8000)) << url;
        return answers.empty() ? clarivo::update::Response {} : answers[0];
    };
    const auto protocols = [&]
    {
        const std::lock_guard<std::mutex> l (recorder->lock);
        return std::make_pair (recorder->texts[CURLOPT_PROTOCOLS_STR], recorder->texts[CURLOPT_REDIR_PROTOCOLS_STR]);
    };

    // Nothing listens on port 1: what counts is what curl was told.
    EXPECT_FALSE (fetch ("https://127.0.0.1:1/swupdates/feed.xml").connected);
    EXPECT_EQ (protocols(), std::make_pair (std::string ("https"), std::string ("https")));

    server.set ("/moved", { 302, {}, "text/plain", false, false, "/feed" });
    server.set ("/feed", { 200, "the feed", "text/xml" });
    const auto followed = fetch (server.host() + "/moved");
    EXPECT_TRUE (followed.connected && followed.status == 200 && followed.body == "the feed");
    EXPECT_EQ (protocols(), std::make_pair (std::string ("http,https"), std::string ("http,https")));

    for (const int option : { (int) CURLOPT_TIMEOUT_MS, (int) CURLOPT_REDIR_PROTOCOLS_STR, (int) CURLOPT_URL })
    {
        {
            const std::lock_guard<std::mutex> l (recorder->lock);
            recorder->refuse = option;
        }
        const auto before = server.requests().size();
        const auto failed = fetch (server.host() + "/feed");
        EXPECT_FALSE (failed.connected) << option;
        EXPECT_EQ (failed.body, juce::String());
        EXPECT_EQ (server.requests().size(), before) << option;
    }
}

// A server may keep a request going without end, trickling bytes above any
// speed floor or saying nothing at all: the deadline ends the first, and a
// cancel ends either at once, so that quit can wait for the threads.
TEST_F (UpdateCheckTest, ARequestEndsByItsDeadlineAndACancelledOneLetsGoAtOnce)
{
    using clarivo::update::BackgroundRequest;
    server.set ("/trickle", { 200, {}, "text/plain", false, true });
    server.set ("/silent", { 200, {}, {}, true });
    BackgroundRequest::setDeadlineMs (1500);
    std::vector<clarivo::update::Response> answers;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    BackgroundRequest trickled (juce::URL (server.host() + "/trickle"), 5000, [&] (const auto& r) { answers.push_back (r); });
    ASSERT_TRUE (pumpUntil ([&] { return ! answers.empty(); }, 8000));
    EXPECT_GE (juce::Time::getMillisecondCounterHiRes() - start, 1400.0);
    EXPECT_FALSE (answers[0].connected);

    BackgroundRequest::setDeadlineMs (60000);
    BackgroundRequest silent (juce::URL (server.host() + "/silent"), 60000, [&] (const auto& r) { answers.push_back (r); });
    ASSERT_TRUE (pumpUntil ([this] { return server.requests().contains ("/silent"); }, 5000));
    silent.cancel();
    EXPECT_FALSE (silent.isPending());
    EXPECT_TRUE (BackgroundRequest::stopAll (1000));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
    EXPECT_EQ (answers.size(), 1u);
}

// The menu's check shows that it runs: a box of ours from the moment it is
// chosen until the answer's box takes its place; the quiet check shows none.
TEST_F (UpdateCheckTest, TheMenuCheckShowsItsProgressUntilTheAnswerComes)
{
    auto& dialogs = DialogService::get();
    const auto checking = juce::String::fromUTF8 ("Checking for updates\xe2\x80\xa6");
    int boxesUpAtTheAnswer = -1;
    dialogs.setResponder ([&] (const DialogService::Request&)
    {
        boxesUpAtTheAnswer = (int) dialogs.getOpenBoxes().size();
        return DialogService::Answer {};
    });
    server.set (feedPath, { 200, {}, {}, true });
    app->checkForUpdates();
    ASSERT_EQ (dialogs.getOpenBoxes().size(), 1u);
    const auto& box = dialogs.getOpenBoxes()[0]->getRequest();
    EXPECT_EQ (box.kind, DialogService::Kind::progress);
    EXPECT_EQ (box.title, checking);
    EXPECT_EQ (box.buttons, juce::StringArray ("Cancel"));
    // Chosen again while it runs: still the one box.
    app->checkForUpdates();
    clarivo::update::launchUpdateCheck();
    EXPECT_EQ (dialogs.getOpenBoxes().size(), 1u);
    ASSERT_TRUE (pumpUntil ([this] { return server.requests().size() == 2; }, 5000));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (300);
    EXPECT_EQ (dialogs.getOpenBoxes().size(), 1u);
    EXPECT_TRUE (askedTitles().isEmpty());

    server.set (feedPath, { 200, feed ({ "5.0.0" }) });
    server.answerHeld();
    finishChecks();
    EXPECT_TRUE (dialogs.getOpenBoxes().empty());
    EXPECT_EQ (askedTitles(), juce::StringArray (juce::String::fromUTF8 ("You\xe2\x80\x99re up-to-date!")));
    EXPECT_EQ (boxesUpAtTheAnswer, 0);
}

// Cancel ends a check that hangs at once, and nothing follows, not even when
// the server answers after all.
TEST_F (UpdateCheckTest, CancelEndsAStalledCheckAndNothingMoreIsShown)
{
    auto& dialogs = DialogService::get();
    server.set (feedPath, { 200, {}, {}, true });
    app->checkForUpdates();
    ASSERT_TRUE (pumpUntil ([this] { return server.requests().size() == 1; }, 5000));
    EXPECT_FALSE (dialogs.pressButton ("OK"));
    const auto start = juce::Time::getMillisecondCounterHiRes();
    EXPECT_TRUE (dialogs.pressButton ("Cancel"));
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 2000.0);
    EXPECT_TRUE (dialogs.getOpenBoxes().empty());
    EXPECT_EQ (clarivo::update::runningChecks(), 0);

    server.set (feedPath, { 200, feed ({ "5.1.0" }) });
    server.answerHeld();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (500);
    EXPECT_TRUE (askedTitles().isEmpty());
    EXPECT_TRUE (opened.isEmpty());

    // The next check runs as the first would have.
    app->checkForUpdates();
    finishChecks();
    EXPECT_EQ (askedTitles(), juce::StringArray ("A new version of Clarivo+ is available!"));
    EXPECT_TRUE (dialogs.getOpenBoxes().empty());
}

TEST (UpdateCheck, OnlyMacOSChecksQuietlyAtStartUp)
{
    using OS = juce::SystemStats;
    // Linux's value compares above every macOS one.
    for (auto os : { OS::MacOSX_10_9, OS::MacOS_13, OS::Linux, OS::Windows10, OS::getOperatingSystemType() })
        EXPECT_EQ (clarivo::update::checksInBackgroundOn (os), os == OS::MacOSX_10_9 || os == OS::MacOS_13) << (int) os;
}

TEST (UpdateCheck, APageReachesTheBrowserOpenerWholeAndOnlyFromTheWeb)
{
    // PATH holds only a stand-in opener that records what it was handed.
    const auto bin = juce::File::createTempFile ("-opener-bin");
    ASSERT_TRUE (bin.createDirectory());
    const juce::String savedPath = std::getenv ("PATH");
    ::setenv ("PATH", bin.getFullPathName().toRawUTF8(), 1);
    const auto record = bin.getChildFile ("opened");
    const auto opener = bin.getChildFile ("xdg-open");
    opener.replaceWithText ("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"" + record.getFullPathName() + "\"\n",
                            false, false, "\n");
    opener.setExecutePermission (true);

    const juce::String page ("https://example.invalid/a?b=$(touch%20x)&c='d'");
    for (const auto* refused : { "file:///etc/passwd", "javascript:alert(1)", "/usr/bin/xterm" })
        clarivo::update::openInBrowser (juce::URL (refused));
    clarivo::update::openInBrowser (juce::URL (page));
    EXPECT_TRUE (pumpUntil ([&] { return record.existsAsFile(); }, 5000));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (300);
    EXPECT_EQ (record.loadFileAsString(), juce::URL (page).toString (true) + "\n");

    // The opener was reaped: it lingers as no zombie of ours (the tests' own
    // helpers may).
    juce::StringArray zombies;
    for (const auto& entry : juce::File ("/proc").findChildFiles (juce::File::findDirectories, false))
    {
        const auto stat = entry.getChildFile ("stat").loadFileAsString();
        const auto fields = juce::StringArray::fromTokens (stat.fromLastOccurrenceOf (")", false, false), " ", {});
        if (stat.contains ("(xdg-open)") && fields.size() > 2 && fields[1] == "Z" && fields[2].getIntValue() == (int) ::getpid())
            zombies.add (stat);
    }
    EXPECT_TRUE (zombies.isEmpty()) << zombies.joinIntoString ("\n");
    ::setenv ("PATH", savedPath.toRawUTF8(), 1);
    bin.deleteRecursively();
}

//==============================================================================
// The guide reads the pages the build copied beside the program, with no
// network: the update feed's host is the test's server, which serves no page.
class UserGuideTest : public NetworkTest
{
protected:
    UserGuideTest() { showWindows = true; }
    void SetUp() override
    {
        NetworkTest::SetUp();
        UserGuideComponent::setManualFolder (juce::File (CLARIVO_MANUAL_DIR));
    }
    void TearDown() override
    {
        NetworkTest::TearDown();
        UserGuideComponent::setManualFolder ({});
    }

    UserGuideComponent& guide() { return *app->getUserGuideWindow()->getGuide(); }
    // Pages the web view finished, once it exists.
    int pagesLoaded() { return guide().getBrowser() != nullptr ? guide().getBrowser()->pagesLoaded : -1; }
    juce::String shown() { return guide().getBrowser() != nullptr ? guide().getBrowser()->lastPageLoaded : juce::String(); }
    bool waitForPage (const juce::String& url) { return pumpUntil ([&] { return shown() == url; }, 20000); }
    // The text of a page of ours that the view shows.
    juce::String ourPageText()
    {
        const juce::String prefix = "data:text/html;charset=utf-8;base64,";
        if (! shown().startsWith (prefix))
            return {};
        juce::MemoryOutputStream html;
        juce::Base64::convertFromBase64 (html, shown().substring (prefix.length()));
        return html.toUTF8();
    }
    // The web view draws in a window of its own process inside ours: only
    // the screen shows what it drew.
    void screenshot (const juce::String& name)
    {
        juce::File (CLARIVO_SNAPSHOT_DIR).createDirectory();
        const auto file = juce::File (CLARIVO_SNAPSHOT_DIR).getChildFile (name + ".png");
        const auto window = (juce::pointer_sized_uint) app->getUserGuideWindow()->getPeer()->getNativeHandle();
        // On a loaded machine (the sanitizer passes) WebKit may not have drawn
        // the page yet: its undrawn tiles are pure black, which no page of the
        // guide has much of, so the picture is taken again until it has drawn.
        for (int attempt = 0; attempt < 10; ++attempt)
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (700);
            juce::ChildProcess import;
            ASSERT_TRUE (import.start (juce::StringArray { "import", "-window", "0x" + juce::String::toHexString ((juce::int64) window),
                                                           file.getFullPathName() }));
            import.waitForProcessToFinish (10000);
            const auto picture = juce::ImageFileFormat::loadFrom (file);
            if (! picture.isValid())
                continue;
            int black = 0, total = 0;
            for (int y = 0; y < picture.getHeight(); y += 8)
                for (int x = 0; x < picture.getWidth(); x += 8, ++total)
                    black += picture.getPixelAt (x, y).getARGB() == 0xff000000 ? 1 : 0;
            if (black * 10 < total)
                return;
        }
    }
};

TEST_F (UserGuideTest, ShowsTheShippedManualThenTheQuickStartAndGoesBack)
{
    app->showUserGuide (false);
    auto* window = app->getUserGuideWindow();
    ASSERT_NE (window, nullptr);
    EXPECT_EQ (window->getName(), "Clarivo User Guide");
    EXPECT_EQ (window->getLocalBounds(), juce::Rectangle<int> (900, 740));
    EXPECT_EQ (guide().getBackButton().getBounds(), juce::Rectangle<int> (4, 4, 70, 28));
    EXPECT_EQ (guide().getBrowser(), nullptr);

    // Nothing to go back to yet.
    guide().getBackButton().triggerClick();
    ASSERT_TRUE (pumpUntil ([this] { return guide().getBrowser() != nullptr; }, 2000));
    EXPECT_EQ (guide().getBrowser()->getBounds(), guide().getLocalBounds().translated (0, 36));
    const auto mainPage = UserGuideComponent::mainPageURL();
    EXPECT_EQ (mainPage, juce::URL (juce::File (CLARIVO_MANUAL_DIR).getChildFile ("index.html")).toString (false));
    ASSERT_TRUE (waitForPage (mainPage));
    EXPECT_FALSE (guide().getBackButton().isEnabled());
    screenshot ("user-guide-main");

    app->showUserGuide (true);
    const auto quickStart = UserGuideComponent::quickStartURL();
    EXPECT_EQ (guide().getPageURL(), quickStart);
    ASSERT_TRUE (waitForPage (quickStart));
    EXPECT_EQ (app->lastGuideRequest, 2);
    screenshot ("user-guide-quickstart");

    // Closing hides; reopening shows the same view with its history.
    auto* browser = guide().getBrowser();
    window->closeButtonPressed();
    EXPECT_FALSE (window->isVisible());
    app->showUserGuide (false);
    EXPECT_EQ (app->getUserGuideWindow(), window);
    EXPECT_TRUE (window->isVisible());
    EXPECT_EQ (guide().getBrowser(), browser);
    guide().getBackButton().triggerClick();
    EXPECT_TRUE (waitForPage (mainPage));
    EXPECT_TRUE (server.requests().isEmpty());
}

// A picture of the sharing section as the guide window shows it: reached
// from another page, so the view loads it whole.
TEST_F (UserGuideTest, ShowsTheSharingSection)
{
    app->showUserGuide (true);
    ASSERT_TRUE (waitForPage (UserGuideComponent::quickStartURL()));
    const auto sharing = UserGuideComponent::mainPageURL() + "#sharing";
    guide().getBrowser()->goToURL (sharing);
    ASSERT_TRUE (waitForPage (sharing));
    screenshot ("user-guide-sharing");
}

TEST_F (UserGuideTest, AMissingPageOrAFailedLoadShowsAReadablePageOfOurs)
{
    const auto empty = scratchFile ("guide.missing");
    ASSERT_TRUE (empty.createDirectory());
    UserGuideComponent::setManualFolder (empty);
    app->showUserGuide (true);
    ASSERT_TRUE (pumpUntil ([this] { return ourPageText().isNotEmpty(); }, 20000));
    EXPECT_TRUE (ourPageText().contains ("This page of the guide is missing"));
    EXPECT_TRUE (ourPageText().contains (empty.getChildFile ("quickstart.html").getFullPathName()));
    screenshot ("user-guide-missing");

    // A load that fails: WebKit's message reaches us one byte to a character,
    // and our page shows its quotes as quotes.
    auto& browser = *guide().getBrowser();
    const int before = browser.pagesLoaded;
    browser.goToURL (juce::URL (empty.getChildFile ("sharing.html")).toString (false));
    ASSERT_TRUE (pumpUntil ([&] { return browser.pagesLoaded > before && ourPageText().contains ("could not be shown"); }, 20000))
        << "pages loaded " << browser.pagesLoaded << " (" << before << " before), showing " << shown().substring (0, 80) << ": " << ourPageText();
    const auto message = juce::String::fromUTF8 ("Error resolving \xe2\x80\x9cwww.clarivo.app\xe2\x80\x9d: Name or service not known");
    juce::String asDelivered;
    for (auto* byte = message.toRawUTF8(); *byte != 0; ++byte)
        asDelivered += juce::String::charToString ((juce::juce_wchar) (unsigned char) *byte);
    browser.pageLoadHadNetworkError (asDelivered);
    ASSERT_TRUE (pumpUntil ([&] { return ourPageText().contains (message); }, 20000));
    screenshot ("user-guide-load-failed");

    // The window stays usable.
    guide().getBackButton().triggerClick();
    app->getUserGuideWindow()->closeButtonPressed();
    EXPECT_FALSE (app->getUserGuideWindow()->isVisible());
    app->showUserGuide (false);
    EXPECT_TRUE (app->getUserGuideWindow()->isVisible());
    EXPECT_TRUE (app->isIdle());
    empty.deleteRecursively();
}

// Opened on the QuickStart from the welcome box, the view has nothing of
// ours to go back to: Back leads to the main page, never to the blank page
// the view starts on.
TEST_F (UserGuideTest, BackFromTheFirstPageShownLeadsToTheMainPage)
{
    app->showUserGuide (true);
    const auto quickStart = UserGuideComponent::quickStartURL(), mainPage = UserGuideComponent::mainPageURL();
    ASSERT_TRUE (waitForPage (quickStart));
    EXPECT_TRUE (guide().getBackButton().isEnabled());
    guide().getBackButton().triggerClick();
    ASSERT_TRUE (waitForPage (mainPage));
    screenshot ("user-guide-back-from-quickstart");
    // From there Back is the view's own history again.
    guide().getBackButton().triggerClick();
    EXPECT_TRUE (waitForPage (quickStart));
    guide().getBackButton().triggerClick();
    EXPECT_TRUE (waitForPage (mainPage));
}

// The view shows the guide's own pages and nothing else: a web link goes to
// the user's browser; a file elsewhere (named, through a link, or through
// ".."), or another scheme goes nowhere.
TEST_F (UserGuideTest, ShowsOnlyTheGuidesOwnPagesAndSendsWebLinksToTheBrowser)
{
    const auto root = scratchFile ("guide.links");
    const auto folder = root.getChildFile ("manual");
    ASSERT_TRUE (folder.createDirectory());
    for (const auto* name : { "index.html", "quickstart.html" })
        ASSERT_TRUE (juce::File (CLARIVO_MANUAL_DIR).getChildFile (name).copyFileTo (folder.getChildFile (name)));
    const auto outside = root.getChildFile ("outside.html");
    ASSERT_TRUE (outside.replaceWithText ("<html><body>not the guide</body></html>"));
    ASSERT_TRUE (outside.createSymbolicLink (folder.getChildFile ("link.html"), true));
    UserGuideComponent::setManualFolder (folder);
    app->showUserGuide (false);
    const auto mainPage = UserGuideComponent::mainPageURL();
    ASSERT_TRUE (waitForPage (mainPage));

    auto& browser = *guide().getBrowser();
    const auto address = [] (const juce::File& f) { return juce::URL (f).toString (false); };
    for (const auto& url : { address (outside), address (folder.getChildFile ("link.html")), address (folder) + "/../outside.html",
                             juce::String ("file:///etc/passwd"),
                             juce::String ("ftp://127.0.0.1/index.html"), juce::String ("data:text/html,<p>not ours</p>"),
                             juce::String ("http://127.0.0.1:1/page"), juce::String ("HTTPS://example.invalid/page?a=1") })
    {
        browser.goToURL (url);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (300);
    }
    // A page in the folder that asks for a picture from the network, under
    // the shipped pages' own head: WebKit asks us about no such load, so
    // the pages' policy is what keeps it from going out.
    juce::StreamingSocket listener;
    ASSERT_TRUE (listener.createListener (0, "127.0.0.1"));
    const auto shipped = folder.getChildFile ("index.html").loadFileAsString();
    const auto remote = folder.getChildFile ("remote.html");
    ASSERT_TRUE (remote.replaceWithText (shipped.upToFirstOccurrenceOf ("</head>", true, false)
                                         + "<body><img src=\"http://127.0.0.1:" + juce::String (listener.getBoundPort())
                                         + "/picture.png\"></body></html>"));
    browser.goToURL (address (remote));
    ASSERT_TRUE (waitForPage (address (remote)));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (500);
    EXPECT_EQ (listener.waitUntilReady (true, 0), 0) << "the page reached the network";

    const auto quickStart = address (folder.getChildFile ("quickstart.html"));
    browser.goToURL (quickStart);
    ASSERT_TRUE (waitForPage (quickStart));
    EXPECT_EQ (opened, juce::StringArray ({ "http://127.0.0.1:1/page", "https://example.invalid/page?a=1" }));
    // Nothing refused was shown in between.
    ASSERT_TRUE (browser.canGoBackAPage());
    browser.goBackAPage();
    ASSERT_TRUE (waitForPage (address (remote)));
    browser.goBackAPage();
    EXPECT_FALSE (browser.canGoBackAPage());
    EXPECT_TRUE (waitForPage (mainPage));
    root.deleteRecursively();
}

// The pages as shipped: every picture and link they use is in the folder,
// nothing comes from the network, and the program finds the folder where
// the build and the install put it.
TEST (UserGuidePages, AreWholeAndFoundBesideTheProgramOrInstalled)
{
    const juce::File folder (CLARIVO_MANUAL_DIR);
    for (const auto* name : { "index.html", "quickstart.html" })
    {
        SCOPED_TRACE (name);
        const auto html = folder.getChildFile (name).loadFileAsString();
        ASSERT_TRUE (html.contains ("<meta charset=\"utf-8\">"));
        int pictures = 0;
        for (const auto* attribute : { "src=\"", "href=\"" })
            for (int at = html.indexOf (attribute); at >= 0; at = html.indexOf (at + 1, attribute))
            {
                const auto target = html.substring (at).fromFirstOccurrenceOf ("\"", false, false).upToFirstOccurrenceOf ("\"", false, false);
                if (target.startsWith ("#"))
                    continue;
                EXPECT_FALSE (target.contains (":")) << target;
                const auto file = folder.getChildFile (target.upToFirstOccurrenceOf ("#", false, false));
                EXPECT_TRUE (file.existsAsFile()) << target;
                if (juce::String (attribute) == "src=\"" && target.endsWith (".png"))
                {
                    ++pictures;
                    EXPECT_LT (file.getSize(), 150 * 1024) << target;
                }
            }
        EXPECT_GE (pictures, 1);
    }

    const auto root = scratchFile ("guide.places");
    const auto buildTree = root.getChildFile ("build"), installed = root.getChildFile ("usr");
    for (const auto& page : { buildTree.getChildFile ("manual/index.html"), installed.getChildFile ("share/clarivo/manual/index.html") })
    {
        ASSERT_TRUE (page.getParentDirectory().createDirectory());
        ASSERT_TRUE (page.replaceWithText ("<html></html>"));
    }
    EXPECT_EQ (UserGuideComponent::findManualFolder (buildTree.getChildFile ("Clarivo")), buildTree.getChildFile ("manual"));
    EXPECT_EQ (UserGuideComponent::findManualFolder (installed.getChildFile ("bin/Clarivo")), installed.getChildFile ("share/clarivo/manual"));
    // Nowhere: the place beside the program, for the missing page to name.
    EXPECT_EQ (UserGuideComponent::findManualFolder (root.getChildFile ("Clarivo")), root.getChildFile ("manual"));
    root.deleteRecursively();
}

// The guide's sharing section names every service the share button can
// offer, by the name the picker lists, with every program installed.
TEST (UserGuidePages, SharingNamesEveryServiceThePickerCanList)
{
    const auto bin = scratchFile ("guide.share.bin");
    ASSERT_TRUE (bin.createDirectory());
    for (const auto* program : { "xdg-email", "xdg-open", "gdbus", "bluetooth-sendto" })
    {
        const auto stub = bin.getChildFile (program);
        ASSERT_TRUE (stub.replaceWithText ("#!/bin/sh\nexit 0\n"));
        ASSERT_TRUE (stub.setExecutePermission (true));
    }
    const juce::String savedPath (std::getenv ("PATH"));
    ::setenv ("PATH", bin.getFullPathName().toRawUTF8(), 1);
    juce::StringArray offered;
    for (const auto& service : { clarivo::share::emailService(), clarivo::share::folderService(), clarivo::share::bluetoothService() })
        if (service)
            offered.add (service->name);
    ::setenv ("PATH", savedPath.toRawUTF8(), 1);
    bin.deleteRecursively();
    ASSERT_EQ (offered.size(), 3);

    const auto html = juce::File (CLARIVO_MANUAL_DIR).getChildFile ("index.html").loadFileAsString();
    const auto section = html.fromFirstOccurrenceOf ("<h2 id=\"sharing\">", false, false).upToFirstOccurrenceOf ("<h2", false, false);
    ASSERT_TRUE (section.isNotEmpty()) << "no sharing section";
    EXPECT_TRUE (html.contains ("href=\"#sharing\""));
    for (const auto& name : offered)
        EXPECT_TRUE (section.contains ("&ldquo;" + name + "&rdquo;")) << name;
}

//==============================================================================
// Each launch is a new iRate on the same counts, with the test's clock.
class RatingTest : public NetworkTest
{
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        store ("5.0.0");
    }
    void TearDown() override
    {
        rating = nullptr;
        defaultsFile.deleteFile();
        NetworkTest::TearDown();
    }

    // What the store's lookup answers for our program.
    void store (const juce::String& version, int status = 200)
    {
        server.set ("/us/lookup", { status, "{\"resultCount\": 1, \"results\": [{\"bundleId\": \"app.clarivo.ClarivoPlus\", "
                                            "\"trackId\": 12345, \"primaryGenreId\": 6002, \"version\": \"" + version + "\"}]}",
                                    "application/json" });
    }

    // Starts the program once more and waits for the launch and its lookup.
    void launch (const juce::String& version = "5.0.0")
    {
        rating = nullptr;
        rating = std::make_unique<iRate> (defaultsFile);
        // The launch itself runs from the message loop.
        const int before = rating->getUseCount();
        rating->clock = [this] { return now; };
        rating->mainWindow = [this]() -> juce::Component* { return windowAvailable ? app->getMediaWindow() : nullptr; };
        rating->appStoreCountry = "us";
        rating->applicationVersion = version;
        ASSERT_TRUE (pumpUntil ([&] { return rating->getUseCount() != before && ! rating->isLookingUp(); }, 5000));
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    }
    void advanceDays (double days) { now += (juce::int64) (days * 86400000.0); }
    // Launches once and says whether it asked for a rating, answering with button.
    bool launchAsks (const juce::String& button = "Remind Me Later", const juce::String& version = "5.0.0")
    {
        DialogService::get().clearHistory();
        DialogService::get().clearScript();
        DialogService::get().answerWithButton (button);
        launch (version);
        DialogService::get().clearScript();
        return askedTitles().contains ("Rate Clarivo+");
    }

    const juce::File defaultsFile = scratchFile ("iRate-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()) + ".settings");
    std::unique_ptr<iRate> rating;
    juce::int64 now = 1800000000000;
    bool windowAvailable = true;
};

TEST_F (RatingTest, AsksAfterTenDaysAndTenLaunchesUntilTheUserDeclines)
{
    // A damaged count file (a first use and a reminder after now, counts at
    // the end of the range) counts afresh instead of holding the box off.
    juce::PropertiesFile damaged (defaultsFile, {});
    for (auto [key, value] : { std::pair { "iRateFirstUsed", "4102444800000" }, { "iRateLastReminded", "4102444800000" },
                               { "iRateUseCount", "2147483647" }, { "iRateEventCount", "2147483647" }, { "iRateLastVersionUsed", "5.0.0" } })
        damaged.setValue (key, value);
    ASSERT_TRUE (damaged.save());
    EXPECT_FALSE (launchAsks());
    EXPECT_EQ (rating->getUseCount(), 1);
    EXPECT_EQ (rating->getFirstUsed(), now);
    EXPECT_EQ (rating->getAppStoreID(), 12345);
    EXPECT_TRUE (server.requests().contains ("/us/lookup?bundleId=app.clarivo.ClarivoPlus"));
    for (int day = 1; day < 10; ++day)
    {
        advanceDays (1.0);
        EXPECT_FALSE (launchAsks()) << day;
    }
    EXPECT_EQ (rating->getUseCount(), 10);
    EXPECT_TRUE (server.requests().contains ("/us/lookup?id=12345"));

    // Ten days and ten launches: the box waits for the main window.
    advanceDays (1.0);
    windowAvailable = false;
    EXPECT_FALSE (launchAsks());
    EXPECT_TRUE (rating->isWaitingForMainWindow());
    DialogService::get().answerWithButton ("Remind Me Later");
    windowAvailable = true;
    ASSERT_TRUE (pumpUntil ([this] { return askedTitles().contains ("Rate Clarivo+"); }, 2000));
    ASSERT_EQ (askedTitles().size(), 1);
    const auto* asked = lastRequest ("Rate Clarivo+");
    EXPECT_EQ (asked->text, juce::String::fromUTF8 ("If you enjoy using Clarivo+, would you mind taking a moment to rate it? It won\xe2\x80\x99t take "
                                                    "more than a minute. Thanks for your support!"));
    EXPECT_EQ (asked->buttons, juce::StringArray ({ "Rate It Now", "No, Thanks", "Remind Me Later" }));
    EXPECT_EQ (rating->getLastReminded(), now);

    // Reminded: quiet for a day.
    advanceDays (0.9);
    EXPECT_FALSE (launchAsks());
    advanceDays (0.2);
    EXPECT_TRUE (launchAsks ("No, Thanks"));
    EXPECT_EQ (rating->getDeclinedVersion(), "5.0.0");

    // Declined: never again, in this version or a later one.
    advanceDays (30.0);
    EXPECT_FALSE (launchAsks());
    store ("5.1.0");
    EXPECT_FALSE (launchAsks ("Remind Me Later", "5.1.0"));
    advanceDays (30.0);
    EXPECT_FALSE (launchAsks ("Remind Me Later", "5.1.0"));
    EXPECT_TRUE (opened.isEmpty());
}

// No third party learns that the program runs: the lookup and the ratings
// page are on the host of our update feed, wherever that is.
TEST_F (RatingTest, TheLookupAndTheRatingsPageAreOnTheUpdateHost)
{
    EXPECT_FALSE (launchAsks());
    EXPECT_EQ (server.requests(), juce::StringArray ("/us/lookup?bundleId=app.clarivo.ClarivoPlus"));
    clarivo::update::setHost (savedHost);
    EXPECT_EQ (rating->lookupURL().toString (true), savedHost + "/us/lookup?id=12345");
    EXPECT_EQ (rating->ratingsURL().toString (true), savedHost + "/app/id12345");
    EXPECT_TRUE (savedHost.startsWith ("https://www.clarivo.app"));
}

TEST_F (RatingTest, AnUpdateWaitsOneMoreDayAndRatingOpensThePageOnce)
{
    EXPECT_FALSE (launchAsks());
    const auto firstUse = now;
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE (launchAsks());
    advanceDays (30.0);
    store ("5.0.1");
    // The update moves first use to nine days ago.
    EXPECT_FALSE (launchAsks ("Remind Me Later", "5.0.1"));
    EXPECT_NE (rating->getFirstUsed(), firstUse);
    EXPECT_EQ (rating->getFirstUsed(), now - 9 * 86400000LL);
    EXPECT_EQ (rating->getLastVersionUsed(), "5.0.1");

    advanceDays (1.01);
    EXPECT_TRUE (launchAsks ("Rate It Now", "5.0.1"));
    EXPECT_EQ (rating->getRatedVersion(), "5.0.1");
    juce::MessageManager::getInstance()->runDispatchLoopUntil (700);
    EXPECT_EQ (opened, juce::StringArray (server.host() + "/app/id12345"));
    EXPECT_FALSE (rating->isWaitingForMainWindow());
    EXPECT_FALSE (rating->isLookingUp());
}

TEST_F (RatingTest, ANewerStoreVersionOrAFailedLookupAsksNothingAndQuitDoesNotWait)
{
    EXPECT_FALSE (launchAsks());
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE (launchAsks());
    advanceDays (11.0);

    store ("5.2.0");
    EXPECT_FALSE (launchAsks()) << "a newer version in the store";
    store ("5.0.0", 500);
    EXPECT_FALSE (launchAsks()) << "HTTP 500";
    clarivo::update::setHost ("http://127.0.0.1:1");
    EXPECT_FALSE (launchAsks()) << "no server";

    // A lookup that never ends is dropped at quit.
    clarivo::update::setHost (server.host());
    server.set ("/us/lookup", { 200, {}, {}, true });
    rating = nullptr;
    rating = std::make_unique<iRate> (defaultsFile);
    rating->appStoreCountry = "us";
    rating->clock = [this] { return now; };
    ASSERT_TRUE (pumpUntil ([this] { return rating->isLookingUp(); }, 2000));
    const auto start = juce::Time::getMillisecondCounterHiRes();
    rating = nullptr;
    EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - start, 2000.0);

    // With everything in order, the same counts ask.
    store ("5.0.0");
    EXPECT_TRUE (launchAsks());
}

// Neither the rating prompt nor an update check's answer puts a box over a
// job the user started: it would stop the job in its own message loop.
class AppRatingTest : public RatingTest
{
protected:
    AppRatingTest() { ratingPrompt = true; }
};

TEST_F (AppRatingTest, TheBoxesWaitForTheJobOnScreen)
{
    auto* prompt = app->getRatingPrompt();
    ASSERT_NE (prompt, nullptr);
    ASSERT_TRUE (pumpUntil ([&] { return prompt->getUseCount() == 1 && ! prompt->isLookingUp(); }, 5000));
    server.set (feedPath, { 200, feed ({ "5.1.0" }) });
    app->showProgress ("Working");
    prompt->promptForRating();
    app->checkForUpdates();
    finishChecks();
    EXPECT_TRUE (askedTitles().isEmpty());
    EXPECT_TRUE (prompt->isWaitingForMainWindow());
    app->hideProgress();
    EXPECT_TRUE (pumpUntil ([this] { return askedTitles().size() == 2; }, 2000));
    EXPECT_TRUE (askedTitles().contains ("Rate Clarivo+"));
    EXPECT_TRUE (askedTitles().contains ("A new version of Clarivo+ is available!"));
}

// Nesting or entities without end, from a server gone wrong, are no answer:
// the parsers recurse once per level and would run the message thread out of
// stack.
TEST_F (RatingTest, AFeedOrALookupNestedWithoutEndIsNoAnswer)
{
    const auto deepFeed = "<rss><channel>" + juce::String::repeatedString ("<item>", 300000);
    // The parser reads on past a quote that follows no "=".
    const auto quotedFeed = "<rss><channel><item x=y'>" + juce::String::repeatedString ("<item>", 300000);
    const juce::String selfEntity = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"x&a;\">]><rss><channel><item><title>&a;</title></item></channel></rss>";
    juce::String laughs = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 40; ++i)
        laughs << "<!ENTITY l" << i << " \"&l" << (i - 1) << ";&l" << (i - 1) << ";\">";
    laughs << "]><rss><channel><item><title>&l39;</title></item></channel></rss>";
    for (const auto& body : { deepFeed, quotedFeed, selfEntity, laughs })
        EXPECT_EQ (clarivo::update::resultFrom ({ true, 200, body }).outcome, Outcome::error) << body.substring (0, 60);
    EXPECT_EQ (clarivo::update::resultFrom ({ true, 200, feed ({ "5.1.0" }) }).outcome, Outcome::newVersion);

    EXPECT_FALSE (launchAsks());
    for (const auto& body : { juce::String(), juce::String ("['\"',") })
    {
        server.set ("/us/lookup", { 200, body + juce::String::repeatedString ("[", 120000), "application/json" });
        EXPECT_FALSE (launchAsks());
    }
}

// Well-formed XML the framework's reader never returns from (an instruction
// followed by text), in the feed or in the counts file, and an ID past the
// int64 range in the store's answer: no answer, no counts, no overflow.
TEST_F (RatingTest, WhatNoReaderCanFinishOrHoldIsNoAnswer)
{
    const auto withInstruction = feed ({ "5.1.0" }).replace ("<channel>", "<channel><?x?>t");
    ASSERT_NE (withInstruction, feed ({ "5.1.0" }));
    expectFinishesWithin (10.0, "reading the feed",
                          [&] { EXPECT_EQ (clarivo::update::resultFrom ({ true, 200, withInstruction }).outcome, Outcome::error); });

    ASSERT_TRUE (defaultsFile.replaceWithText ("<PROPERTIES><VALUE name=\"iRateUseCount\" val=\"7\"/><?x?>t</PROPERTIES>"));
    expectFinishesWithin (10.0, "reading the counts", [&] { iRate counts (defaultsFile); });
    server.set ("/us/lookup", { 200, "{\"resultCount\": 1, \"results\": [{\"bundleId\": \"app.clarivo.ClarivoPlus\", "
                                     "\"trackId\": 20000000000000000000000000, \"version\": \"5.0.0\"}]}", "application/json" });
    EXPECT_FALSE (launchAsks());
    EXPECT_EQ (rating->getUseCount(), 1);
    EXPECT_EQ (rating->getAppStoreID(), 0);
}
