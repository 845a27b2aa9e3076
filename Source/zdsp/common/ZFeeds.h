#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quarn
{

// Hands fixed-length float frames from one thread to another without a lock:
// the writer always has a slot of its own to fill, the reader always sees the
// newest complete frame, and neither ever waits for the other. Frames the
// reader did not collect in time are overwritten, which is what a display or
// a settings hand-over wants. One writer thread and one reader thread at a
// time; allocate runs while neither does.
class ZLatestFrame
{
public:
    ZLatestFrame() = default;
    explicit ZLatestFrame (int frameLength) { allocate (frameLength); }

    ZLatestFrame (const ZLatestFrame&) = delete;
    ZLatestFrame& operator= (const ZLatestFrame&) = delete;

    // Every slot zeroed; the reader's current frame then reads as zeros.
    void allocate (int frameLength)
    {
        length = std::max (frameLength, 0);
        for (auto& slot : slots)
            slot.assign ((size_t) length, 0.0f);
        back = 0;
        middle.store (1);
        front = 2;
        published.store (0);
    }

    int getLength() const noexcept { return length; }

    // Writer side: fill the frame that beginWrite returns, then publish it.
    float* beginWrite() noexcept { return slots[(size_t) back].data(); }

    void publish() noexcept
    {
        back = middle.exchange (back | kFresh, std::memory_order_acq_rel) & kIndexMask;
        published.fetch_add (1, std::memory_order_release);
    }

    void publish (const float* source, int count) noexcept
    {
        std::memcpy (beginWrite(), source, sizeof (float) * (size_t) std::clamp (count, 0, length));
        publish();
    }

    // Reader side: true when a frame was published since the last collect.
    bool hasNewFrame() const noexcept { return (middle.load (std::memory_order_acquire) & kFresh) != 0; }

    // Takes over the newest published frame, if any, and returns the reader's
    // frame: valid until the next collect.
    const float* collect() noexcept
    {
        if (hasNewFrame())
            front = middle.exchange (front, std::memory_order_acq_rel) & kIndexMask;
        return slots[(size_t) front].data();
    }

    // How many frames were published since allocate: lets a reader tell how
    // many it missed.
    std::uint64_t getPublishedCount() const noexcept { return published.load (std::memory_order_acquire); }

private:
    static constexpr int kFresh = 4;
    static constexpr int kIndexMask = 3;

    std::array<std::vector<float>, 3> slots;
    int length = 0;
    int back = 0;
    std::atomic<int> middle { 1 };
    int front = 2;
    std::atomic<std::uint64_t> published { 0 };
};

// A stream of samples from one thread to another: a single-writer,
// single-reader ring. The writer never waits; what does not fit while the
// reader lags is dropped and counted.
class ZSampleFeed
{
public:
    ZSampleFeed() = default;
    explicit ZSampleFeed (int capacity) { allocate (capacity); }

    ZSampleFeed (const ZSampleFeed&) = delete;
    ZSampleFeed& operator= (const ZSampleFeed&) = delete;

    // Rounds the capacity up to a power of two; runs while neither side does.
    void allocate (int capacity)
    {
        std::size_t size = 1;
        while (size < (std::size_t) std::max (capacity, 1))
            size <<= 1;
        data.assign (size, 0.0f);
        mask = size - 1;
        writePosition.store (0);
        readPosition.store (0);
        dropped.store (0);
    }

    int getCapacity() const noexcept { return (int) data.size(); }

    void write (const float* source, int count) noexcept
    {
        if (source == nullptr || count <= 0 || data.empty())
            return;

        const auto w = writePosition.load (std::memory_order_relaxed);
        const auto r = readPosition.load (std::memory_order_acquire);
        const auto space = data.size() - (std::size_t) (w - r);
        const auto n = std::min ((std::size_t) count, space);

        for (std::size_t i = 0; i < n; ++i)
            data[(std::size_t) (w + i) & mask] = source[i];

        writePosition.store (w + n, std::memory_order_release);
        if (n < (std::size_t) count)
            dropped.fetch_add ((std::uint64_t) count - n, std::memory_order_relaxed);
    }

    int getNumReady() const noexcept
    {
        return (int) (writePosition.load (std::memory_order_acquire) - readPosition.load (std::memory_order_relaxed));
    }

    // Copies up to maxCount samples out; returns how many.
    int read (float* destination, int maxCount) noexcept
    {
        const auto r = readPosition.load (std::memory_order_relaxed);
        const auto w = writePosition.load (std::memory_order_acquire);
        const auto n = std::min ((std::size_t) std::max (maxCount, 0), (std::size_t) (w - r));

        for (std::size_t i = 0; i < n; ++i)
            destination[i] = data[(std::size_t) (r + i) & mask];

        readPosition.store (r + n, std::memory_order_release);
        return (int) n;
    }

    std::uint64_t getDroppedCount() const noexcept { return dropped.load (std::memory_order_relaxed); }

private:
    std::vector<float> data;
    std::size_t mask = 0;
    std::atomic<std::uint64_t> writePosition { 0 };
    std::atomic<std::uint64_t> readPosition { 0 };
    std::atomic<std::uint64_t> dropped { 0 };
};

} // namespace quarn
