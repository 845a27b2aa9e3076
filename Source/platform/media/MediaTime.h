#pragma once

#include <cstdint>
#include <functional>

namespace clarivo::media
{
// A rational time: value / timescale seconds. A timescale of 0 marks an
// invalid time; a positive-infinite time (used as "any tolerance") has a
// timescale of 0 and the infinite flag set.
struct Time
{
    std::int64_t value = 0;
    std::int32_t timescale = 0;
    bool positiveInfinity = false;

    bool isValid() const noexcept { return timescale > 0 || positiveInfinity; }
    bool isNumeric() const noexcept { return timescale > 0; }
    double seconds() const noexcept;

    // The same instant in another timescale, rounded to the nearest unit.
    Time convertScale (std::int32_t newTimescale) const noexcept;
    // The nearest whole sample at the given rate.
    std::int64_t toSamples (double sampleRate) const noexcept;

    static Time zero() noexcept { return { 0, 1, false }; }
    static Time invalid() noexcept { return {}; }
    static Time infinity() noexcept { return { 0, 0, true }; }
};

Time makeTime (std::int64_t value, std::int32_t timescale) noexcept;
// Seconds rounded to the nearest unit of the timescale (600 is the usual one for video).
Time makeTimeWithSeconds (double seconds, std::int32_t preferredTimescale = 600) noexcept;
double getSeconds (Time time) noexcept;

// -1, 0 or 1; an invalid time sorts before every valid one, infinity after.
int compare (Time a, Time b) noexcept;
Time add (Time a, Time b) noexcept;
Time subtract (Time a, Time b) noexcept;
Time minimum (Time a, Time b) noexcept;
Time maximum (Time a, Time b) noexcept;

inline bool operator== (Time a, Time b) noexcept { return compare (a, b) == 0; }
inline bool operator!= (Time a, Time b) noexcept { return compare (a, b) != 0; }
inline bool operator< (Time a, Time b) noexcept { return compare (a, b) < 0; }
inline bool operator<= (Time a, Time b) noexcept { return compare (a, b) <= 0; }
inline bool operator> (Time a, Time b) noexcept { return compare (a, b) > 0; }
inline bool operator>= (Time a, Time b) noexcept { return compare (a, b) >= 0; }
inline Time operator+ (Time a, Time b) noexcept { return add (a, b); }
inline Time operator- (Time a, Time b) noexcept { return subtract (a, b); }

struct TimeRange
{
    Time start = Time::zero();
    Time duration = Time::zero();

    Time end() const noexcept { return start + duration; }
    bool isEmpty() const noexcept { return duration.value <= 0; }
    bool containsTime (Time t) const noexcept { return t >= start && t < end(); }
    // The overlap of two ranges; empty (duration zero at start) when they do not meet.
    TimeRange intersection (const TimeRange& other) const noexcept;
};

TimeRange makeTimeRange (Time start, Time duration) noexcept;

// Runs fn on the message thread, later. Completions that the calling code
// wants on the main queue go through here.
void dispatchToMainThread (std::function<void()> fn);
} // namespace clarivo::media
