#pragma once

#include <cstdint>

// Peak record that the processor fills from its processing thread and the level
// meters read, smooth and reset on the message thread.
struct MeterLevels
{
    float level[4] = {};        // raw peak per channel since the last paint
    float held[4] = {};         // peak-hold value
    std::int64_t holdUntil[4] = {}; // hold deadline in ms
    float smoothed[4] = {};     // displayed level
    int numChannels = 0;
};
