#include "UntrustedParse.h"

#include <expat.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace clarivo::parse
{
namespace
{
// Strict UTF-8: no overlong forms, surrogates or values past U+10FFFF. A
// string of the framework's holding anything else overruns its own buffer
// when copied or trimmed, and its JSON reader would take an overlong quote or
// digit for one where a walk over the bytes sees none.
bool isValidUtf8 (const unsigned char* p, const unsigned char* end)
{
    while (p < end)
    {
        const unsigned c = *p++;
        if (c < 0x80)
            continue;
        int extra = 0;
        unsigned value = 0, least = 0;
        if (c >= 0xc2 && c <= 0xdf)
            extra = 1, value = c & 0x1f, least = 0x80;
        else if (c >= 0xe0 && c <= 0xef)
            extra = 2, value = c & 0x0f, least = 0x800;
        else if (c >= 0xf0 && c <= 0xf4)
            extra = 3, value = c & 0x07, least = 0x10000;
        else
            return false;
        if (end - p < extra)
            return false;
        for (; extra > 0; --extra, ++p)
        {
            if ((*p & 0xc0) != 0x80)
                return false;
            value = (value << 6) | (*p & 0x3f);
        }
        if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
            return false;
    }
    return true;
}

// Checked on the bytes themselves: the string's own measures decode them.
bool isValidUtf8 (const juce::String& text, size_t maxBytes)
{
    const auto* p = reinterpret_cast<const unsigned char*> (text.toRawUTF8());
    const auto size = std::strlen (text.toRawUTF8());
    return size <= maxBytes && isValidUtf8 (p, p + size);
}

// Builds the tree as the events come, with no recursion of its own. Children
// are kept aside until their parent closes: the element's own append walks
// its whole list every time.
struct XmlBuilder
{
    struct Open
    {
        std::unique_ptr<juce::XmlElement> element;
        std::vector<std::unique_ptr<juce::XmlElement>> children;
    };

    XML_Parser parser;
    const XmlLimits& limits;
    std::vector<Open> open;
    std::unique_ptr<juce::XmlElement> root;
    std::string text;
    bool refused = false;
    int nodes = 0;

    void refuse()
    {
        refused = true;
        XML_StopParser (parser, XML_FALSE);
    }

    bool count (int n)
    {
        nodes += n;
        if (nodes > limits.maxNodes)
            refuse();
        return ! refused;
    }

    void addChild (std::unique_ptr<juce::XmlElement> child)
    {
        if (! open.empty() && count (1))
            open.back().children.push_back (std::move (child));
    }

    // The framework's reader keeps a run of text that is not all blanks, and
    // reads one on across comments: a run ends only at an element or a CDATA
    // section.
    void flushText()
    {
        if (text.empty())
            return;
        const bool blank = text.find_first_not_of (" \t\r\n") == std::string::npos;
        if (! blank)
            addChild (std::unique_ptr<juce::XmlElement> (
                juce::XmlElement::createTextElement (juce::String::fromUTF8 (text.data(), (int) text.size()))));
        text.clear();
    }

    static void start (void* user, const XML_Char* name, const XML_Char** attributes)
    {
        auto& b = *static_cast<XmlBuilder*> (user);
        b.flushText();
        int n = 0;
        while (attributes[2 * n] != nullptr)
            ++n;
        if ((int) b.open.size() >= b.limits.maxDepth || n > b.limits.maxAttributesPerElement || ! b.count (1 + n))
            return b.refuse();

        auto element = std::make_unique<juce::XmlElement> (juce::String::fromUTF8 (name));
        for (int i = 0; i < n; ++i)
            element->setAttribute (juce::Identifier (juce::String::fromUTF8 (attributes[2 * i])),
                                   juce::String::fromUTF8 (attributes[2 * i + 1]));
        b.open.push_back ({ std::move (element), {} });
    }

    static void end (void* user, const XML_Char*)
    {
        auto& b = *static_cast<XmlBuilder*> (user);
        b.flushText();
        if (b.refused || b.open.empty())
            return;
        auto closed = std::move (b.open.back());
        b.open.pop_back();
        for (auto it = closed.children.rbegin(); it != closed.children.rend(); ++it)
            closed.element->prependChildElement (it->release());
        if (b.open.empty())
            b.root = std::move (closed.element);
        else
            b.open.back().children.push_back (std::move (closed.element));
    }

    static void characters (void* user, const XML_Char* s, int length)
    {
        auto& b = *static_cast<XmlBuilder*> (user);
        if (! b.open.empty())
            b.text.append (s, (size_t) length);
    }

    // None of our files or feeds has one inside its root, and the framework's
    // own reader never returns from one followed by text: a document Clarivo
    // could never read before is no document now either.
    static void instruction (void* user, const XML_Char*, const XML_Char*)
    {
        auto& b = *static_cast<XmlBuilder*> (user);
        if (! b.open.empty())
            b.refuse();
    }

    // A section is a text element of its own, even when empty or blank.
    static void startCdata (void* user)
    {
        auto& b = *static_cast<XmlBuilder*> (user);
        b.flushText();
    }

    static void endCdata (void* user)
    {
        auto& b = *static_cast<XmlBuilder*> (user);
        b.addChild (std::unique_ptr<juce::XmlElement> (
            juce::XmlElement::createTextElement (juce::String::fromUTF8 (b.text.data(), (int) b.text.size()))));
        b.text.clear();
    }

    // No file of ours or feed has a document type; refusing every one takes
    // entity expansion, and all its ways of growing, off the table.
    static void doctype (void* user, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        static_cast<XmlBuilder*> (user)->refuse();
    }
};

bool isDigit (char c) { return c >= '0' && c <= '9'; }

// Whether a run of decimal digits stands for more than the largest int64.
bool exceedsInt64 (const char* digits, size_t length)
{
    while (length > 0 && *digits == '0')
    {
        ++digits;
        --length;
    }
    static constexpr char largest[] = "9223372036854775807";
    constexpr size_t largestLength = sizeof (largest) - 1;
    return length > largestLength || (length == largestLength && std::memcmp (digits, largest, length) > 0);
}

bool isBlank (char c) { return c == ' ' || (c >= 9 && c <= 13); }

// Walks the text as the framework's JSON reader tokenises it: strings in
// either quote with backslash escapes, brackets, separators and numbers.
// What the reader would reject anyway may be refused here too.
bool jsonWithinLimits (const char* p, const char* end, const JsonLimits& limits)
{
    int depth = 0, values = 0;
    const char* const begin = p;
    while (p < end)
    {
        const char c = *p;
        if (c == '"' || c == '\'')
        {
            for (++p; p < end && *p != c; ++p)
                if (*p == '\\' && p + 1 < end)
                    ++p;
            if (p < end)
                ++p;
            continue;
        }
        if (c == '{' || c == '[')
        {
            if (++depth > limits.maxDepth || ++values > limits.maxValues)
                return false;
        }
        else if (c == '}' || c == ']')
            depth = juce::jmax (0, depth - 1);
        else if (c == ',' || c == ':')
        {
            if (++values > limits.maxValues)
                return false;
        }
        else if (c == '-')
        {
            // The reader takes whatever follows a minus as the number's first
            // digit, a quote or a letter too, and goes on multiplying.
            const char* next = p + 1;
            while (next < end && isBlank (*next))
                ++next;
            if (next == end || ! isDigit (*next))
                return false;
        }
        else if (isDigit (c))
        {
            const char* const run = p;
            while (p < end && isDigit (*p))
                ++p;
            const char before = run > begin ? run[-1] : 0;
            const char sign = run - 1 > begin ? run[-2] : 0;
            const bool exponent = before == 'e' || before == 'E' || ((before == '+' || before == '-') && (sign == 'e' || sign == 'E'));
            if (exponent)
            {
                // Read into an int, after the digits beyond a double's precision
                // have been counted into it as well.
                const char* first = run;
                while (first < p && *first == '0')
                    ++first;
                if (p - first > 9)
                    return false;
            }
            // A fraction's digits are read past a double's precision and no further.
            else if (before != '.' && exceedsInt64 (run, (size_t) (p - run)))
                return false;
            continue;
        }
        ++p;
    }
    return true;
}
} // namespace

std::unique_ptr<juce::XmlElement> parseUntrustedXml (const juce::String& text, const XmlLimits& limits)
{
    if (! isValidUtf8 (text, limits.maxBytes))
        return {};
    // The framework's reader skips blanks before the declaration; expat
    // would take them for an error.
    const auto trimmed = text.trimStart();
    const size_t size = std::strlen (trimmed.toRawUTF8());
    if (size == 0 || size > (size_t) std::numeric_limits<int>::max())
        return {};

    // The text is UTF-8 already, whatever encoding its declaration names.
    const auto parser = XML_ParserCreate ("UTF-8");
    if (parser == nullptr)
        return {};
    const std::unique_ptr<XML_ParserStruct, decltype (&XML_ParserFree)> owner (parser, &XML_ParserFree);

    XmlBuilder builder { parser, limits, {}, {}, {} };
    XML_SetUserData (parser, &builder);
    XML_SetElementHandler (parser, &XmlBuilder::start, &XmlBuilder::end);
    XML_SetCharacterDataHandler (parser, &XmlBuilder::characters);
    XML_SetProcessingInstructionHandler (parser, &XmlBuilder::instruction);
    XML_SetCdataSectionHandler (parser, &XmlBuilder::startCdata, &XmlBuilder::endCdata);
    XML_SetStartDoctypeDeclHandler (parser, &XmlBuilder::doctype);
    XML_SetParamEntityParsing (parser, XML_PARAM_ENTITY_PARSING_NEVER);

    // The whole text in one final call: nothing is parsed twice.
    if (XML_Parse (parser, trimmed.toRawUTF8(), (int) size, XML_TRUE) != XML_STATUS_OK || builder.refused)
        return {};
    return std::move (builder.root);
}

std::optional<juce::var> parseUntrustedJson (const juce::String& text, const JsonLimits& limits)
{
    const char* const p = text.toRawUTF8();
    const size_t size = std::strlen (p);
    if (! isValidUtf8 (text, limits.maxBytes) || ! jsonWithinLimits (p, p + size, limits))
        return std::nullopt;
    // The framework's reader answers an empty text with an empty value.
    juce::var result;
    if (juce::JSON::parse (text, result).failed() || ! (result.isObject() || result.isArray()))
        return std::nullopt;
    return result;
}
} // namespace clarivo::parse
