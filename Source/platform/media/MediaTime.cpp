#include "MediaTime.h"

#include <juce_events/juce_events.h>

#include <cmath>
#include <limits>
#include <numeric>

namespace clarivo::media
{
namespace
{
using i128 = __int128;

std::int64_t divRound (i128 num, i128 den) noexcept
{
    // Round half away from zero, as sample positions are symmetric around 0.
    const i128 half = den / 2;
    const i128 q = num >= 0 ? (num + half) / den : -((-num + half) / den);
    if (q > std::numeric_limits<std::int64_t>::max())
        return std::numeric_limits<std::int64_t>::max();
    if (q < std::numeric_limits<std::int64_t>::min())
        return std::numeric_limits<std::int64_t>::min();
    return (std::int64_t) q;
}

std::int32_t commonScale (std::int32_t a, std::int32_t b) noexcept
{
    if (a == b)
        return a;
    const auto l = std::lcm ((std::int64_t) a, (std::int64_t) b);
    if (l <= std::numeric_limits<std::int32_t>::max())
        return (std::int32_t) l;
    return std::max (a, b);
}
} // namespace

double Time::seconds() const noexcept
{
    if (positiveInfinity)
        return std::numeric_limits<double>::infinity();
    if (timescale <= 0)
        return std::numeric_limits<double>::quiet_NaN();
    return (double) value / (double) timescale;
}

Time Time::convertScale (std::int32_t newTimescale) const noexcept
{
    if (! isNumeric() || newTimescale <= 0)
        return *this;
    if (newTimescale == timescale)
        return *this;
    return { divRound ((i128) value * newTimescale, timescale), newTimescale, false };
}

std::int64_t Time::toSamples (double sampleRate) const noexcept
{
    if (! isNumeric())
        return 0;
    const auto rate = (std::int64_t) sampleRate;
    if ((double) rate == sampleRate)
        return divRound ((i128) value * rate, timescale);
    return (std::int64_t) std::llround ((double) value * sampleRate / (double) timescale);
}

Time makeTime (std::int64_t value, std::int32_t timescale) noexcept
{
    return { value, timescale, false };
}

Time makeTimeWithSeconds (double seconds, std::int32_t preferredTimescale) noexcept
{
    if (std::isnan (seconds) || preferredTimescale <= 0)
        return Time::invalid();
    if (std::isinf (seconds))
        return seconds > 0 ? Time::infinity() : Time::invalid();
    return { (std::int64_t) std::llround (seconds * preferredTimescale), preferredTimescale, false };
}

double getSeconds (Time time) noexcept
{
    return time.seconds();
}

int compare (Time a, Time b) noexcept
{
    const int rankA = a.positiveInfinity ? 2 : (a.isNumeric() ? 1 : 0);
    const int rankB = b.positiveInfinity ? 2 : (b.isNumeric() ? 1 : 0);
    if (rankA != rankB)
        return rankA < rankB ? -1 : 1;
    if (rankA != 1)
        return 0;
    const i128 l = (i128) a.value * b.timescale;
    const i128 r = (i128) b.value * a.timescale;
    return l < r ? -1 : (l > r ? 1 : 0);
}

Time add (Time a, Time b) noexcept
{
    if (a.positiveInfinity || b.positiveInfinity)
        return (a.isValid() && b.isValid()) ? Time::infinity() : Time::invalid();
    if (! a.isNumeric() || ! b.isNumeric())
        return Time::invalid();
    const auto scale = commonScale (a.timescale, b.timescale);
    const auto ca = a.convertScale (scale), cb = b.convertScale (scale);
    return { ca.value + cb.value, scale, false };
}

Time subtract (Time a, Time b) noexcept
{
    if (b.positiveInfinity || ! b.isValid())
        return Time::invalid();
    if (a.positiveInfinity)
        return Time::infinity();
    return add (a, { -b.value, b.timescale, false });
}

Time minimum (Time a, Time b) noexcept { return compare (a, b) <= 0 ? a : b; }
Time maximum (Time a, Time b) noexcept { return compare (a, b) >= 0 ? a : b; }

TimeRange TimeRange::intersection (const TimeRange& other) const noexcept
{
    const auto s = maximum (start, other.start);
    const auto e = minimum (end(), other.end());
    if (e <= s)
        return { s, makeTime (0, s.timescale > 0 ? s.timescale : 1) };
    return { s, e - s };
}

TimeRange makeTimeRange (Time start, Time duration) noexcept
{
    return { start, duration };
}

void dispatchToMainThread (std::function<void()> fn)
{
    juce::MessageManager::callAsync (std::move (fn));
}
} // namespace clarivo::media
