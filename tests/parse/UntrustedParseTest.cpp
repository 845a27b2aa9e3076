// The guarded readers: the same tree as the framework's reader for what our
// files and answers hold, a refusal (never a hang or an overflow) for the rest.
#include <gtest/gtest.h>

#include "TestDeadline.h"
#include "UntrustedParse.h"

using clarivo::parse::parseUntrustedJson;
using clarivo::parse::parseUntrustedXml;

namespace
{
const juce::String preset = R"(<?xml version="1.0" encoding="UTF-8"?>

<NoiseProfile clickcrackleParam="0" thresholdParam="0.57499998807907104492" reductionParam="0.5">
  <buffer name="NoiseProfile0" length="4" samplerate="44100"><data values="c2400000c2400000c2400000c2400000"/></buffer>
  <buffer name="NoiseProfile1" length="4" samplerate="44100"><data values="c2400000c2400000c2400000c2400000"/></buffer>
</NoiseProfile>
)";

const juce::String settings = R"(<?xml version="1.0" encoding="UTF-8"?>

<PROPERTIES>
  <VALUE name="Record Channels" val="2"/>
  <VALUE name="Device" val="&lt;out&gt; &amp; &quot;&#233;&#10;&#x41;&quot;"/>
  <VALUE name="Audio Configuration">
    <DEVICESETUP deviceType="ALSA" audioOutputDeviceName="out"/>
  </VALUE>
</PROPERTIES>
)";

const juce::String feed = juce::String::fromUTF8 ("  <?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<?xml-stylesheet href=\"s.xsl\"?><!-- ours -->"
                          "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\" version=\"2.0\"><channel>"
                          "<title>Clarivo+ \xc3\xa9 &amp; co</title><item><title> 5.1 <!-- note --> is\r\nout </title>"
                          "<description><![CDATA[<b>new</b>]]>  <![CDATA[ ]]>after</description>"
                          "<enclosure url=\"https://x/c.dmg\" sparkle:version=\"5.1.0\" length=\"1\"/></item></channel></rss>");

const juce::String lookup = R"({"resultCount": 1, "results": [{"bundleId": "app.clarivo.ClarivoPlus", "trackId": 9223372036854775807,
    "primaryGenreId": 6002, "version": "5.0.0", "averageUserRating": 4.51234567890123456789012, "price": 1e-7,
    "note": "12345678901234567890123456 'x' \"y\" \u00e9", "screenshotUrls": ["https://x/a.png"], "neg": -0000000000000000000042}]})";
} // namespace

TEST (UntrustedXml, BuildsTheTreeTheFrameworkBuilds)
{
    for (const auto& text : { preset, settings, feed, juce::String ("<a>x<!--c-->y<b/>  z <![CDATA[]]></a>") })
    {
        const auto ours = parseUntrustedXml (text);
        const auto theirs = juce::parseXML (text);
        ASSERT_TRUE (ours != nullptr && theirs != nullptr) << text;
        EXPECT_TRUE (ours->isEquivalentTo (theirs.get(), false)) << ours->toString() << "\n---\n" << theirs->toString();
        EXPECT_EQ (ours->toString(), theirs->toString());
    }
}

TEST (UntrustedXml, RefusesWhatNoFileOfOursHoldsAndWhatPassesTheLimits)
{
    juce::String laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 30; ++i)
        laughs << "<!ENTITY l" << i << " \"&l" << (i - 1) << ";&l" << (i - 1) << ";\">";
    laughs << "]><a>&l29;</a>";
    for (const auto& text : juce::StringArray { "<a><?pi?>text</a>", "<NoiseProfile thresholdParam=\"0.5\"><?x?>t</NoiseProfile>",
                                     "<a><b/><?pi?></a>", laughs, "<!DOCTYPE a><a/>", "<a>&nbsp;</a>", "<a/>junk", "<a>", "",
                                     "<a x=y'/>", "<a x=\"1\" x=\"2\"/>" })
        EXPECT_EQ (parseUntrustedXml (text), nullptr) << text;
    // Instructions outside the root are the framework's to skip too.
    EXPECT_NE (parseUntrustedXml ("<?a?><a/><?b?>"), nullptr);

    clarivo::parse::XmlLimits limits;
    limits.maxDepth = 3;
    limits.maxNodes = 6;
    limits.maxAttributesPerElement = 2;
    limits.maxBytes = 40;
    EXPECT_NE (parseUntrustedXml ("<a><b><c x='1' y='2'/></b></a>", limits), nullptr);
    for (const auto& text : juce::StringArray { "<a><b><c><d/></c></b></a>", "<a x='1' y='2' z='3'/>", "<a><b/>t<b/>t<b/>t</a>",
                                     "<a>" + juce::String::repeatedString (" ", 40) + "</a>" })
        EXPECT_EQ (parseUntrustedXml (text, limits), nullptr) << text;
}

TEST (UntrustedJson, TakesTheStoresAnswerAndRefusesNumbersTheFrameworkWouldOverflow)
{
    const auto answer = parseUntrustedJson (lookup);
    ASSERT_TRUE (answer.has_value());
    const auto entry = (*answer)["results"][0];
    EXPECT_EQ ((juce::int64) entry["trackId"], std::numeric_limits<juce::int64>::max());
    EXPECT_EQ ((int) entry["neg"], -42);
    EXPECT_EQ (entry["note"].toString(), juce::String::fromUTF8 ("12345678901234567890123456 'x' \"y\" \xc3\xa9"));
    EXPECT_EQ (juce::JSON::toString (*answer), juce::JSON::toString (juce::JSON::parse (lookup)));

    for (const auto& text : juce::StringArray { "[9223372036854775808]", "{\"trackId\": 12345678901234567890123456}", "[-99999999999999999999.5]",
                                     "[1e1234567890]", "[1E+0012345678901]", "['\\'', 12345678901234567890]",
                                     juce::String::repeatedString ("[", 65) + juce::String::repeatedString ("]", 65), "nope", "" })
        EXPECT_FALSE (parseUntrustedJson (text).has_value()) << text;
    EXPECT_TRUE (parseUntrustedJson ("[1e123456789, 0.000000000000000000000000000001]").has_value());
    EXPECT_TRUE (parseUntrustedJson (juce::String::repeatedString ("[", 64) + juce::String::repeatedString ("]", 64)).has_value());

    clarivo::parse::JsonLimits limits;
    limits.maxValues = 4;
    EXPECT_TRUE (parseUntrustedJson ("[1,2,3]", limits).has_value());
    EXPECT_FALSE (parseUntrustedJson ("{\"a\":1,\"b\":2,\"c\":3}", limits).has_value());
}

namespace
{
juce::String mutate (juce::String s, juce::Random& random, const juce::StringArray& snippets)
{
    for (int n = 1 + random.nextInt (3); --n >= 0;)
    {
        const int at = random.nextInt (juce::jmax (1, s.length()));
        switch (random.nextInt (5))
        {
            case 0: s = s.substring (0, at); break;
            case 1: s = s.replaceSection (at, random.nextInt (40), {}); break;
            case 2: s = s.replaceSection (at, 0, s.substring (at, at + random.nextInt (200))); break;
            case 3: s = s.replaceSection (at, 1, juce::String::charToString ((juce::juce_wchar) (32 + random.nextInt (95)))); break;
            default:
            {
                const auto snippet = snippets[random.nextInt (snippets.size())];
                s = s.replaceSection (at, 0, snippet.contains ("%") ? juce::String::repeatedString (snippet.upToFirstOccurrenceOf ("%", false, false), 1 + random.nextInt (100)) : snippet);
            }
        }
    }
    return s;
}

juce::String randomBytes (juce::Random& random)
{
    juce::MemoryBlock bytes ((size_t) random.nextInt (300) + 1);
    random.fillBitsRandomly (bytes.getData(), bytes.getSize());
    return juce::String::fromUTF8 ((const char*) bytes.getData(), (int) bytes.getSize());
}
} // namespace

// Every input within a second, whatever it is; where ours takes XML the
// framework's reader, given the same text, finishes too and agrees.
TEST (UntrustedParse, FuzzedXmlAndJsonEachFinishWithinASecond)
{
    const juce::StringArray xmlSnippets { "<?x?>", "t", "<a>%", "</a>", "<!DOCTYPE a [<!ENTITY e \"&e;\">]>", "&e;", "<![CDATA[", "]]>",
                                          "<!--", "-->", "&#x110000;", "&amp;", "&#10;", "'", "\"", "=", "<b x='1'/>%", "\xc3\xa9" };
    const juce::StringArray jsonSnippets { "12345678901234567890123456", "1e1234567890", "[%", "{\"a\":%", "\"", "'", "\\", "\\u12",
                                           ",", ":", "}", "]", "-", " ", ".5", "e+", "9223372036854775808", "0%" };
    juce::Random random (29);
    int taken = 0;
    for (int round = 0; round < 3000; ++round)
    {
        // Seeds on one line: a line break written as such in an attribute
        // or a CDATA section is the one place where the two readers differ.
        const auto& seed = round % 3 == 0 ? preset : round % 3 == 1 ? settings : feed;
        const auto xml = round % 10 == 0 ? randomBytes (random) : mutate (seed.removeCharacters ("\r\n\t"), random, xmlSnippets);
        expectFinishesWithin (1.0, "XML " + xml.toStdString(), [&]
        {
            if (const auto ours = parseUntrustedXml (xml))
            {
                ++taken;
                if (const auto theirs = juce::parseXML (xml))
                {
                    EXPECT_TRUE (ours->isEquivalentTo (theirs.get(), false)) << xml;
                }
            }
        });
        const auto json = round % 10 == 0 ? randomBytes (random) : mutate (lookup, random, jsonSnippets);
        expectFinishesWithin (1.0, "JSON " + json.toStdString(), [&] { taken += parseUntrustedJson (json).has_value() ? 1 : 0; });
    }
    EXPECT_GT (taken, 600);
}
