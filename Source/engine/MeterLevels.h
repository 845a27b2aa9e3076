#pragma once

#include <atomic>
#include <cstdint>

// Peak record that the processor fills from its processing thread and the level
// meters read, smooth and reset on the message thread. Only `level` is shared
// between the two threads; the rest belongs to the meter.
struct MeterLevels
{
    std::atomic<float> level[4] {}; // raw peak per channel since the last paint
    float held[4] = {};             // peak-hold value
    std::int64_t holdUntil[4] = {}; // hold deadline in ms
    float smoothed[4] = {};         // displayed level
    int numChannels = 0;

    // Raises level c to at least value; a reset by the meter in between is
    // never undone by a stale maximum.
    void raise (int c, float value) noexcept
    {
        auto current = level[c].load (std::memory_order_relaxed);
        while (value > current && ! level[c].compare_exchange_weak (current, value, std::memory_order_relaxed))
        {
        }
    }
};
