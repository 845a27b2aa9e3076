#pragma once

#include <cstdint>

namespace quarn
{

// The search the click and crackle repairs share: the next run of flagged
// samples (flag > 0) that begins in [position, stop). A run begins after a
// clear sample, flags[start] == 0 with flags[start + 1] flagged, and ends on
// its last flagged sample, at most maxLength samples after start. A longer
// run is cut there and flags[end] is cleared, so that the next search takes
// up the rest as a new run right behind this one. Returns false when no run
// begins before stop. The caller keeps maxLength + 1 samples readable past
// stop.
inline bool findNextRun (float* flags, std::int64_t position, std::int64_t stop, std::int64_t maxLength,
                         std::int64_t& start, std::int64_t& end) noexcept
{
    std::int64_t i = position;
    while (i < stop && ! (flags[i] == 0.0f && flags[i + 1] > 0.0f))
        ++i;
    if (i >= stop)
        return false;

    start = i;
    for (std::int64_t j = i + 1; j <= i + maxLength; ++j)
        if (flags[j] > 0.0f && flags[j + 1] == 0.0f)
        {
            end = j;
            return true;
        }

    end = i + maxLength;
    flags[end] = 0.0f;
    return true;
}

// Calls repair (start, end) for each run found from `first` up to `stop`, each
// search beginning at the end of the run before; returns whether there was any.
template <typename Repair>
bool repairEachRun (float* flags, std::int64_t first, std::int64_t stop, std::int64_t maxLength, Repair&& repair)
{
    bool repaired = false;
    std::int64_t start = 0, end = 0;
    for (std::int64_t position = first; findNextRun (flags, position, stop, maxLength, start, end); position = end)
    {
        repair (start, end);
        repaired = true;
    }
    return repaired;
}

} // namespace quarn
