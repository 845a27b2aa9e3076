#include "ZNumberText.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace quarn
{

namespace
{
bool isDigit (char c) noexcept { return c >= '0' && c <= '9'; }

// Moves past a run of digits; false when there is none.
bool skipDigits (std::string_view s, size_t& at) noexcept
{
    const auto start = at;
    while (at < s.size() && isDigit (s[at]))
        ++at;
    return at > start;
}

// The whole text is [-]digits[.digits][(e|E)[+|-]digits]. from_chars alone
// would also take "inf", "nan" and a prefix of anything.
bool isStateNumber (std::string_view s) noexcept
{
    size_t at = 0;
    if (at < s.size() && s[at] == '-')
        ++at;
    if (! skipDigits (s, at))
        return false;
    if (at < s.size() && s[at] == '.' && ! skipDigits (s, ++at))
        return false;
    if (at < s.size() && (s[at] == 'e' || s[at] == 'E'))
    {
        ++at;
        if (at < s.size() && (s[at] == '+' || s[at] == '-'))
            ++at;
        if (! skipDigits (s, at))
            return false;
    }
    return at == s.size();
}

std::string_view viewOf (juce::StringRef text) noexcept
{
    const char* s = text.text.getAddress();
    return { s, std::strlen (s) };
}
} // namespace

juce::String formatStateNumber (double value)
{
    // to_chars is specified as printf in the C locale, digit for digit.
    char text[64];
    const auto result = std::to_chars (text, text + sizeof (text), value, std::chars_format::general, 20);
    return juce::String (text, (size_t) (result.ptr - text));
}

std::optional<float> parseStateFloat (juce::StringRef text)
{
    const auto s = viewOf (text);
    if (! isStateNumber (s))
        return std::nullopt;

    double value = 0.0;
    const auto result = std::from_chars (s.data(), s.data() + s.size(), value);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size())
        return std::nullopt;
    if (std::abs (value) > (double) std::numeric_limits<float>::max())
        return std::nullopt;
    return (float) value;
}

std::optional<int> parseStateInt (juce::StringRef text)
{
    const auto s = viewOf (text);
    size_t at = s.size() > 0 && s[0] == '-' ? 1 : 0;
    if (! skipDigits (s, at) || at != s.size())
        return std::nullopt;

    int value = 0;
    const auto result = std::from_chars (s.data(), s.data() + s.size(), value);
    if (result.ec != std::errc() || result.ptr != s.data() + s.size())
        return std::nullopt;
    return value;
}

} // namespace quarn
