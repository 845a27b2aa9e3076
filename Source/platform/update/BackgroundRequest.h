#pragma once

// One GET on a thread of its own. Its answer reaches the handler on the
// message thread, asynchronously, and only while the request object still
// lives and was not cancelled: nothing ever waits on the message thread for
// the network, and nothing is delivered to a receiver that has gone.
#include <juce_events/juce_events.h>

#include <functional>
#include <memory>

namespace clarivo::update
{
struct Response
{
    bool connected = false; // false: no answer at all (refused, timed out, cut off, cancelled)
    int status = 0;         // the HTTP status when connected
    juce::String body;
};

class BackgroundRequest
{
public:
    using Handler = std::function<void (const Response&)>;

    // Starts at once. timeoutMs bounds both the connection and any stretch in
    // which the server sends (almost) nothing; the whole request, however
    // the server trickles, ends by the deadline. An answer longer than
    // maxBodyBytes is no answer (feeds and store answers are a few kilobytes).
    BackgroundRequest (const juce::URL& url, int timeoutMs, Handler onMessageThread,
                       size_t maxBodyBytes = 4 << 20);
    // Cancels without waiting for the thread.
    ~BackgroundRequest();

    // Drops the answer and stops the transfer at once, without waiting for
    // the thread, which lets go by itself; safe to call more than once.
    void cancel();
    // True until the answer was delivered or the request cancelled.
    bool isPending() const noexcept;

    // The longest a request may take from start to end; tests shorten it.
    static int getDeadlineMs() noexcept;
    static void setDeadlineMs (int ms) noexcept;

    // Tests: sees each option a request gives curl (curl's number, and the
    // text for a text option, else null) before curl does; a result other
    // than 0 stands for curl refusing the option. Empty: none.
    using OptionHook = std::function<int (int option, const char* text)>;
    static void setOptionHook (OptionHook hook);

    // Cancels every request still running and waits up to waitMs in all
    // for their threads to end (at quit). True when none is left.
    static bool stopAll (int waitMs);

private:
    struct Worker;
    struct Delivery;
    std::shared_ptr<Delivery> delivery;
    std::shared_ptr<Worker> worker;

    JUCE_DECLARE_NON_COPYABLE (BackgroundRequest)
};
} // namespace clarivo::update
