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
    Worker (const juce::URL& u, int timeout, size_t maxBytes, std::shared_ptr<Delivery> d)
        : juce::Thread ("Clarivo web request"), url (u), timeoutMs (timeout), maxBodyBytes (maxBytes),
          delivery (std::move (d))
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
                // The time-out only covers silence: a server that sends
                // without end would fill the memory, so past the limit the
                // answer is no answer, as is a transfer cut short.
                juce::MemoryOutputStream body;
                char chunk[16384];
                bool tooLong = false;
                while (! threadShouldExit())
                {
                    const int n = s->read (chunk, (int) sizeof (chunk));
                    if (n <= 0)
                        break;
                    body.write (chunk, (size_t) n);
                    if ((tooLong = body.getDataSize() > maxBodyBytes))
                        break;
                }
                response.body = body.toUTF8();
                if (s->isError() || tooLong)
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
    const size_t maxBodyBytes;
    std::shared_ptr<Delivery> delivery;
    juce::CriticalSection streamLock;
    juce::WebInputStream* stream = nullptr;
};

BackgroundRequest::BackgroundRequest (const juce::URL& url, int timeoutMs, Handler onMessageThread, size_t maxBodyBytes)
    : delivery (std::make_shared<Delivery>())
{
    delivery->handler = std::move (onMessageThread);
    worker = std::make_unique<Worker> (url, timeoutMs, maxBodyBytes, delivery);
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
