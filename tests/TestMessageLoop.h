#pragma once

// Running the message loop until something has happened, for the areas
// that need no more of JUCE than its message thread.
#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <functional>
#include <ostream>

namespace juce
{
inline void PrintTo (const StringArray& a, std::ostream* os) { *os << "[" << a.joinIntoString ("|") << "]"; }
} // namespace juce

inline bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
    while (! condition() && juce::Time::getMillisecondCounter() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    return condition();
}
