#include "BackgroundRequest.h"

namespace clarivo::update
{
// Shared by the request (message thread) and the posted answer: the answer
// runs the handler only while the request still wants it.
struct BackgroundRequest::Delivery
{
    Handler handler;
    bool wanted = true; // message thread only
};

struct BackgroundRequest::Worker : juce::Thread
{
    Worker (const juce::URL& u, int timeout, std::shared_ptr<Delivery> d)
        : juce::Thread ("Clarivo web request"), url (u), timeoutMs (timeout), delivery (std::move (d))
    {
    }

    ~Worker() override { stop(); }

    void stop()
    {
        signalThreadShouldExit();
        {
            const juce::ScopedLock sl (streamLock);
            if (stream != nullptr)
                stream->cancel();
        }
        // curl looks at a cancellation at least once a second.
        stopThread (5000);
    }

    void run() override
    {
        Response response;
        {
            auto s = std::make_unique<juce::WebInputStream> (url, false);
            s->withConnectionTimeout (timeoutMs);
            {
                const juce::ScopedLock sl (streamLock);
                if (threadShouldExit())
                    return;
                stream = s.get();
            }
            response.connected = s->connect (nullptr);
            if (response.connected && ! threadShouldExit())
            {
                response.status = s->getStatusCode();
                response.body = s->readEntireStreamAsString();
                // A transfer cut short is no answer.
                if (s->isError())
                    response.connected = false;
            }
            const juce::ScopedLock sl (streamLock);
            stream = nullptr;
        }
        if (threadShouldExit())
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

    const juce::URL url;
    const int timeoutMs;
    std::shared_ptr<Delivery> delivery;
    juce::CriticalSection streamLock;
    juce::WebInputStream* stream = nullptr;
};

BackgroundRequest::BackgroundRequest (const juce::URL& url, int timeoutMs, Handler onMessageThread)
    : delivery (std::make_shared<Delivery>())
{
    delivery->handler = std::move (onMessageThread);
    worker = std::make_unique<Worker> (url, timeoutMs, delivery);
    worker->startThread();
}

BackgroundRequest::~BackgroundRequest() { cancel(); }

void BackgroundRequest::cancel()
{
    delivery->wanted = false;
    delivery->handler = nullptr;
    if (worker != nullptr)
        worker->stop();
}

bool BackgroundRequest::isPending() const noexcept { return delivery->wanted; }
} // namespace clarivo::update
