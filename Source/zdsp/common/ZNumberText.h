#pragma once

// Numbers as the saved state writes them: the "%.20g" text of the C locale,
// whatever locale the process has taken. printf and strtod follow
// LC_NUMERIC, which a toolkit sets from the user's environment, so a German
// user's "0,5" would be read back as 0 by everyone else.
#include <juce_core/juce_core.h>

#include <optional>

namespace quarn
{
// Twenty significant digits, fixed or exponent form as %.20g chooses,
// without trailing zeros: 0.5 is "0.5", 1e-5 "1.0000000000000000818e-05".
juce::String formatStateNumber (double value);

// A value in the form formatStateNumber writes (an optional minus, digits,
// an optional fraction and an optional exponent), which a float can hold.
// Anything else, even a prefix followed by more, is no value: an empty
// text, a comma, a plus, spaces, "nan", "inf", hexadecimal, 1e300.
std::optional<float> parseStateFloat (juce::StringRef text);

// A whole number as written for an int: an optional minus and digits only.
std::optional<int> parseStateInt (juce::StringRef text);
} // namespace quarn
