#include <gtest/gtest.h>
#include "TestLocale.h"
#include "TestSignals.h"

#include <cstring>

using quarn::ZBuffer;
using namespace clarivo_test;

namespace
{
const char* const kFile = "Source/zdsp/common/ZBuffer";
const char* const kImproperSize = "Error Trying to create a buffer of improper size.";

std::unique_ptr<juce::XmlElement> bufferElement (const char* length, const char* values)
{
    auto e = std::make_unique<juce::XmlElement> ("buffer");
    e->setAttribute ("name", "NoiseProfile0");
    if (length != nullptr)
        e->setAttribute ("length", length);
    e->setAttribute ("samplerate", "44100");
    if (values != nullptr)
        e->createNewChildElement ("data")->setAttribute ("values", values);
    return e;
}
} // namespace

TEST (ZBuffer, ConstructionCopiesAndPeak)
{
    ZBuffer b (513, "mSpectrum");
    EXPECT_EQ (b.getCapacity(), 516u);
    EXPECT_EQ (firstBad (b.getData(), b.getCapacity(), 0.0f), -1); // zeroed up to the capacity
    EXPECT_EQ (ZBuffer (5, "x").getCapacity(), 8u);

    expectDspFailure ([] { ZBuffer zero (0, "x"); }, kImproperSize, kFile);
    ZBuffer kept (4, "kept");
    kept[0] = 0.25f;
    expectDspFailure ([&] { kept.setLength (0); }, kImproperSize, kFile);
    EXPECT_EQ (valuesOf (kept), (Signal { 0.25f, 0, 0, 0 }));

    // copy takes the shorter length.
    ZBuffer big (1024, "big"), target (1024, "target");
    for (unsigned i = 0; i < 1024; ++i)
        big[i] = (float) i, target[i] = -1.0f;
    b.copy (big);
    EXPECT_EQ (b[512], 512.0f);
    target.copy (b);
    EXPECT_EQ (target[512], 512.0f);
    EXPECT_EQ (target[513], -1.0f);

    ZBuffer part (8, "part");
    part.copyFrom (big, { 10, 13 }, 2);
    EXPECT_EQ (valuesOf (part, 6), (Signal { 0, 0, 10, 11, 12, 0 }));
    part.clear ({ 3, 5 });
    EXPECT_EQ (valuesOf (part, 6), (Signal { 0, 0, 10, 0, 0, 0 }));

    EXPECT_EQ (bufferOf ({ -0.75f, 0.5f })->getPeak(), 0.75f);
}

TEST (ZBuffer, XmlIsExactHexRestoresBitForBitAndMalformedElementsFailAndKeepTheBuffer)
{
    ZBuffer b (3, "NoiseProfile1");
    b[0] = 1.0f;
    b[2] = -1.0f;
    std::unique_ptr<juce::XmlElement> e (b.createXml());
    EXPECT_EQ (e->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()),
               "<buffer name=\"NoiseProfile1\" length=\"3\" samplerate=\"0\"><data values=\"3f80000000000000bf800000\"/></buffer>");

    ZBuffer source (3, "NoiseProfile0");
    source[0] = -0.0f;
    source[1] = std::numeric_limits<float>::denorm_min();
    source[2] = -48.0f;
    e.reset (source.createXml());

    ZBuffer same (3, "other");
    const float* storage = same.getData();
    same.restoreFromXml (*e);
    EXPECT_EQ (same.getData(), storage); // same length keeps its storage
    EXPECT_STREQ (same.getName(), "NoiseProfile0");
    EXPECT_EQ (std::memcmp (same.getData(), source.getData(), 3 * sizeof (float)), 0);

    ZBuffer longer (5, "five");
    longer.restoreFromXml (*e);
    EXPECT_EQ (longer.getLength(), 3u);
    EXPECT_EQ (longer.getCapacity(), 4u);
    EXPECT_EQ (std::memcmp (longer.getData(), source.getData(), 3 * sizeof (float)), 0);
    longer.restoreFromXml (*bufferElement ("1", "3f800000"));
    EXPECT_EQ (longer.getSampleRate(), 44100.0f);

    // A malformed element fails and leaves the buffer as it was.
    ZBuffer keep (2, "keep");
    keep[0] = 0.5f;
    keep[1] = -0.5f;
    expectDspFailure ([&] { keep.restoreFromXml (*bufferElement ("0", "")); }, kImproperSize, kFile);
    expectDspFailure ([&] { keep.restoreFromXml (*bufferElement (nullptr, "3f800000")); }, kImproperSize, kFile);

    for (const auto& [length, values] : { std::pair<const char*, const char*> { "-3", "3f8000003f8000003f800000" },
                                          { "2", nullptr },                 // no data child
                                          { "3", "3f8000003f800000" },      // short text
                                          { "2", "3f80000zz3f80000" },      // not hexadecimal
                                          { "2", "7fc000003f800000" },      // NaN
                                          { "2", "3f8000007f800000" },      // +infinity
                                          { "100000000", "3f800000" },      // absurd length
                                          { "2abc", "3f8000003f800000" },   // a length followed by more
                                          { "2.0", "3f8000003f800000" },
                                          { " 2", "3f8000003f800000" },
                                          { "", "3f8000003f800000" },
                                          { "99999999999", "3f800000" } })  // beyond an int
    {
        EXPECT_THROW (keep.restoreFromXml (*bufferElement (length, values)), quarn_juce::qj_dsp_exception) << length;
        EXPECT_STREQ (keep.getName(), "keep");
        EXPECT_EQ (valuesOf (keep), (Signal { 0.5f, -0.5f })) << length;
    }
    auto badRate = bufferElement ("2", "3f8000003f800000");
    for (const char* rate : { "nan", "inf", "1e300", "-44100", "44,1", "", "abc", "0x1p-1", "44100Hz" })
    {
        badRate->setAttribute ("samplerate", rate);
        EXPECT_THROW (keep.restoreFromXml (*badRate), quarn_juce::qj_dsp_exception) << rate;
        EXPECT_EQ (keep.getSampleRate(), 0.0f) << rate;
    }
}

// The element is part of every preset: under a user's decimal-comma locale
// it must be written as under any other, and read back the same.
TEST (ZBuffer, XmlNumbersDoNotFollowTheLocale)
{
    CLARIVO_SKIP_WITHOUT_DECIMAL_COMMA_LOCALE();

    auto element = bufferElement ("2", "3f800000bf800000");
    element->setAttribute ("samplerate", "22050.5");
    ZBuffer b (2, "b");
    juce::String written;
    {
        const clarivo_test::ScopedDecimalCommaLocale locale;
        b.restoreFromXml (*element);
        written = std::unique_ptr<juce::XmlElement> (b.createXml())->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
    }
    EXPECT_EQ (written, "<buffer name=\"NoiseProfile0\" length=\"2\" samplerate=\"22050.5\"><data values=\"3f800000bf800000\"/></buffer>");
    ZBuffer c (2, "c");
    c.restoreFromXml (*juce::parseXML (written));
    EXPECT_EQ (c.getSampleRate(), 22050.5f);
}
