#include "BackgroundRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace clarivo::update
{
namespace
{
std::atomic<int> deadlineMs { 60000 };

std::mutex optionHookLock;
BackgroundRequest::OptionHook optionHook;

BackgroundRequest::OptionHook currentOptionHook()
{
    const std::lock_guard<std::mutex> l (optionHookLock);
    return optionHook;
}

// What the list of running requests needs of each.
struct RequestThread : juce::Thread
{
    using juce::Thread::Thread;
    virtual void cancel() = 0;
};
} // namespace

// Shared by the request (message thread) and the posted answer: the answer
// runs the handler only while the request still wants it.
struct BackgroundRequest::Delivery
{
    Handler handler;
    bool wanted = true; // message thread only
};

// We drive curl ourselves rather than through the framework's stream: that
// stream waits in select() for as long as curl's next time-out, and closing
// the socket under it from another thread does not wake it, so a cancel
// could take up to the whole connection time-out to be noticed.
struct BackgroundRequest::Worker : RequestThread
{
    Worker (const juce::URL& u, int timeout, int deadline, size_t maxBytes, std::shared_ptr<Delivery> d)
        : RequestThread ("Clarivo web request"), address (u.toString (true).toStdString()),
          secure (u.getScheme().equalsIgnoreCase ("https")), timeoutMs (timeout),
          deadlineMs (deadline), maxBodyBytes (maxBytes), delivery (std::move (d))
    {
        static const bool curlReady = curl_global_init (CURL_GLOBAL_DEFAULT) == CURLE_OK;
        // Made here, before the thread starts, so that a cancel always has
        // something to wake.
        multi = curlReady ? curl_multi_init() : nullptr;
    }

    ~Worker() override
    {
        cancel();
        stopThread (-1);
        if (multi != nullptr)
            curl_multi_cleanup (multi);
    }

    void cancel() override
    {
        cancelled = true;
        signalThreadShouldExit();
        if (multi != nullptr)
            curl_multi_wakeup (multi);
    }

    static size_t write (char* data, size_t size, size_t count, void* user)
    {
        auto& self = *static_cast<Worker*> (user);
        const auto n = size * count;
        // Past the limit the answer is no answer: a server that sends
        // without end would fill the memory.
        if (self.body.size() + n > self.maxBodyBytes)
            return 0;
        self.body.append (data, n);
        return n;
    }

    void run() override
    {
        if (multi == nullptr)
            return deliver ({});
        CURL* easy = curl_easy_init();
        if (easy == nullptr)
            return deliver ({});
        const long lowSpeedSeconds = juce::jmax (1L, ((long) timeoutMs + 999) / 1000);
        // A libcurl that lacks an option would silently drop its limit (a
        // deadline, a protocol rule): such a request is not made at all.
        const auto hook = currentOptionHook();
        bool optionsSet = true;
        const auto set = [&] (CURLoption option, auto value)
        {
            if (! optionsSet)
                return;
            int refused = CURLE_OK;
            if (hook)
            {
                const char* text = nullptr;
                if constexpr (std::is_same_v<decltype (value), const char*>)
                    text = value;
                refused = hook ((int) option, text);
            }
            optionsSet = refused == CURLE_OK && curl_easy_setopt (easy, option, value) == CURLE_OK;
        };
        const auto userAgent = std::string ("curl/") + curl_version_info (CURLVERSION_NOW)->version;
        // An answer may redirect, but only to another web address, and one
        // asked for over https never on to plain http, where anybody on the
        // way could put another feed in its place.
        const char* const protocols = secure ? "https" : "http,https";
        set (CURLOPT_URL, address.c_str());
        set (CURLOPT_WRITEFUNCTION, &Worker::write);
        set (CURLOPT_WRITEDATA, this);
        set (CURLOPT_NOSIGNAL, 1L);
        set (CURLOPT_USERAGENT, userAgent.c_str());
        set (CURLOPT_FOLLOWLOCATION, 1L);
        set (CURLOPT_MAXREDIRS, 5L);
        set (CURLOPT_PROTOCOLS_STR, protocols);
        set (CURLOPT_REDIR_PROTOCOLS_STR, protocols);
        set (CURLOPT_CONNECTTIMEOUT_MS, (long) timeoutMs);
        set (CURLOPT_LOW_SPEED_LIMIT, 100L);
        set (CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);
        // A server trickling a few bytes a second stays above any speed
        // floor; only an overall deadline ends it.
        set (CURLOPT_TIMEOUT_MS, (long) deadlineMs);
        // Without this, letting go of a transfer whose name is still being
        // looked up waits for the look-up to finish.
        set (CURLOPT_QUICK_EXIT, 1L);
        if (! optionsSet)
        {
            curl_easy_cleanup (easy);
            return deliver ({});
        }

        CURLcode result = CURLE_ABORTED_BY_CALLBACK;
        if (curl_multi_add_handle (multi, easy) == CURLM_OK)
        {
            int running = 1;
            while (! cancelled && running > 0)
            {
                if (curl_multi_perform (multi, &running) != CURLM_OK)
                    break;
                if (running > 0 && ! cancelled)
                    curl_multi_poll (multi, nullptr, 0, 1000, nullptr);
            }
            int left = 0;
            while (auto* message = curl_multi_info_read (multi, &left))
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                    result = message->data.result;
            curl_multi_remove_handle (multi, easy);
        }
        long status = 0;
        curl_easy_getinfo (easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup (easy);
        if (cancelled)
            return;

        Response response;
        response.connected = result == CURLE_OK;
        response.status = (int) status;
        response.body = juce::String::fromUTF8 (body.data(), (int) body.size());
        deliver (response);
    }

    void deliver (const Response& response)
    {
        if (cancelled)
            return;
        juce::MessageManager::callAsync ([d = delivery, response]
        {
            if (! d->wanted)
                return;
            d->wanted = false;
            // The handler may delete the request that owns it.
            auto handler = std::move (d->handler);
            if (handler)
                handler (response);
        });
    }

    const std::string address;
    const bool secure;
    const int timeoutMs, deadlineMs;
    const size_t maxBodyBytes;
    std::shared_ptr<Delivery> delivery;
    CURLM* multi = nullptr;
    std::atomic<bool> cancelled { false };
    std::string body;
};

namespace
{
// Every worker whose thread may still run. A request lets go of its worker
// without waiting; finished ones are joined when the next request starts,
// the rest at quit. Never destroyed: a thread still running at exit must
// not find it gone.
struct Workers
{
    std::mutex lock;
    std::vector<std::shared_ptr<RequestThread>> all;
};
Workers& workers()
{
    static auto* w = new Workers;
    return *w;
}
} // namespace

BackgroundRequest::BackgroundRequest (const juce::URL& url, int timeoutMs, Handler onMessageThread, size_t maxBodyBytes)
    : delivery (std::make_shared<Delivery>())
{
    delivery->handler = std::move (onMessageThread);
    worker = std::make_shared<Worker> (url, timeoutMs, juce::jmax (1, getDeadlineMs()), maxBodyBytes, delivery);
    worker->startThread();
    auto& w = workers();
    const std::lock_guard<std::mutex> sl (w.lock);
    w.all.erase (std::remove_if (w.all.begin(), w.all.end(), [] (const auto& t) { return ! t->isThreadRunning(); }), w.all.end());
    w.all.push_back (worker);
}

BackgroundRequest::~BackgroundRequest() { cancel(); }

void BackgroundRequest::cancel()
{
    delivery->wanted = false;
    delivery->handler = nullptr;
    if (worker != nullptr)
        worker->cancel();
}

bool BackgroundRequest::isPending() const noexcept { return delivery->wanted; }

void BackgroundRequest::setOptionHook (OptionHook hook)
{
    const std::lock_guard<std::mutex> l (optionHookLock);
    optionHook = std::move (hook);
}

int BackgroundRequest::getDeadlineMs() noexcept { return deadlineMs.load(); }
void BackgroundRequest::setDeadlineMs (int ms) noexcept { deadlineMs = ms; }

bool BackgroundRequest::stopAll (int waitMs)
{
    auto& w = workers();
    std::vector<std::shared_ptr<RequestThread>> stopping;
    {
        const std::lock_guard<std::mutex> sl (w.lock);
        stopping.swap (w.all);
    }
    for (auto& t : stopping)
        t->cancel();
    const auto end = juce::Time::getMillisecondCounterHiRes() + waitMs;
    std::vector<std::shared_ptr<RequestThread>> left;
    for (auto& t : stopping)
        if (! t->waitForThreadToExit (juce::jmax (0, (int) (end - juce::Time::getMillisecondCounterHiRes()))))
            left.push_back (t);
    // Still running past the wait: kept, never killed; the process ending takes them.
    const std::lock_guard<std::mutex> sl (w.lock);
    w.all.insert (w.all.end(), left.begin(), left.end());
    return left.empty();
}
} // namespace clarivo::update
