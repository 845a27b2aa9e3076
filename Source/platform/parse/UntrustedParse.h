#pragma once

// The one way text from outside (a preset, a settings file, the update feed,
// the store's lookup) becomes a tree. Both readers finish in time linear in
// the text and refuse, rather than read, whatever passes their limits.
#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

namespace clarivo::parse
{
struct XmlLimits
{
    size_t maxBytes = 4 << 20;
    int maxDepth = 64;
    // Elements, text runs and attributes together.
    int maxNodes = 20000;
    int maxAttributesPerElement = 256;
};

// The document's root as juce::parseXML builds it for the same well-formed
// text (attributes in order, each run of text or CDATA section a text
// element, comments dropped), or null. Anything that is not well-formed XML,
// declares a document type, holds a processing instruction inside its root
// or passes a limit is refused; the text is read as UTF-8 whatever it
// declares. Line breaks read as XML has them: a tab or line break written
// as such inside an attribute's value is a space (one the framework writes
// is a character reference, and kept), and a CR LF pair inside a CDATA
// section one LF.
std::unique_ptr<juce::XmlElement> parseUntrustedXml (const juce::String& text, const XmlLimits& limits = {});

struct JsonLimits
{
    size_t maxBytes = 4 << 20;
    int maxDepth = 64;
    // Array items and object members together.
    int maxValues = 10000;
};

// The object or array juce::JSON::parse makes of the text, or nothing when
// it is no JSON, no valid UTF-8 or passes a limit. A number whose integer
// part lies beyond the int64 range, whose exponent has more than nine digits
// or whose minus is followed by no digit is refused: the framework's reader
// would overflow on it.
std::optional<juce::var> parseUntrustedJson (const juce::String& text, const JsonLimits& limits = {});
} // namespace clarivo::parse
