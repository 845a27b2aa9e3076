#pragma once

#include "ZFeeds.h"

#include <atomic>
#include <cstdint>

// What the processor hands to the displays. The audio thread only writes into
// these; each display pulls from them on its own timer, on the message thread,
// so that no display is ever reached from the audio thread and nothing there
// waits, allocates or posts a message.
struct ProcessorFeeds
{
    static constexpr int kSpectrumBins = 513;
    // About 1.5 s at 44.1 kHz: a display polling at a few hertz still sees
    // every sample.
    static constexpr int kInputCapacity = 1 << 16;

    ProcessorFeeds() : input (kInputCapacity), spectrum (kSpectrumBins) {}

    // Channel 0 of every block as it enters the chain (the live input display).
    quarn::ZSampleFeed input;
    // The live spectrum (dB) after every processed 512-sample block.
    quarn::ZLatestFrame spectrum;
    // Silent rows asked for by the idle timer while playback is stopped.
    std::atomic<std::uint64_t> idleRows { 0 };
};

// A display's read position in the spectrum feed: tells it what arrived
// since its last poll.
class SpectrumFeedReader
{
public:
    struct Poll
    {
        const float* row = nullptr; // the newest live row, null when none arrived
        std::uint64_t idleRows = 0; // silent rows asked for meanwhile
    };

    Poll poll (ProcessorFeeds& feeds) noexcept
    {
        Poll result;
        const auto published = feeds.spectrum.getPublishedCount();
        if (published != seenRows)
        {
            seenRows = published;
            result.row = feeds.spectrum.collect();
        }

        const auto idle = feeds.idleRows.load (std::memory_order_relaxed);
        result.idleRows = idle - seenIdle;
        seenIdle = idle;
        return result;
    }

private:
    std::uint64_t seenRows = 0;
    std::uint64_t seenIdle = 0;
};
