#include <gtest/gtest.h>
#include "ZBuffer.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using quarn::ZBuffer;

namespace
{
std::unique_ptr<juce::XmlElement> elementOf (const ZBuffer& b)
{
    return std::unique_ptr<juce::XmlElement> (b.createXml());
}

std::unique_ptr<juce::XmlElement> bufferElement (const char* length, const char* values)
{
    auto e = std::make_unique<juce::XmlElement> ("buffer");
    e->setAttribute ("name", "NoiseProfile0");
    if (length != nullptr)
        e->setAttribute ("length", length);
    e->setAttribute ("samplerate", "44100");
    if (values != nullptr)
    {
        auto* data = new juce::XmlElement ("data");
        data->setAttribute ("values", values);
        e->addChildElement (data);
    }
    return e;
}

void expectDspFailure (const std::function<void()>& f, const char* message, int line)
{
    try
    {
        f();
        FAIL() << "no exception";
    }
    catch (const quarn_juce::qj_dsp_exception& e)
    {
        EXPECT_EQ (e.message, message);
        EXPECT_EQ (e.file, "Source/zdsp/common/ZBuffer");
        EXPECT_EQ (e.line, line);
    }
}
} // namespace

TEST (ZBuffer, ConstructionRoundsCapacityAndClears)
{
    ZBuffer b (513, "mSpectrum");
    EXPECT_EQ (b.getLength(), 513u);
    EXPECT_EQ (b.getCapacity(), 516u);
    EXPECT_STREQ (b.getName(), "mSpectrum");
    EXPECT_EQ (b.getSampleRate(), 0.0f);
    for (unsigned i = 0; i < b.getCapacity(); ++i)
        ASSERT_EQ (b[i], 0.0f);

    EXPECT_EQ (ZBuffer (5, "x").getCapacity(), 8u);
    EXPECT_EQ (ZBuffer (8, "x").getCapacity(), 8u);
}

TEST (ZBuffer, ZeroLengthIsRefused)
{
    expectDspFailure ([] { ZBuffer b (0, "x"); }, "Error Trying to create a buffer of improper size.", 66);

    ZBuffer b (4, "kept");
    b[0] = 0.25f;
    expectDspFailure ([&] { b.setLength (0); }, "Error Trying to create a buffer of improper size.", 201);
    EXPECT_EQ (b.getLength(), 4u);
    EXPECT_EQ (b[0], 0.25f);
}

TEST (ZBuffer, CopyTakesTheShorterLength)
{
    ZBuffer big (1024, "big"), small (513, "small");
    for (unsigned i = 0; i < 1024; ++i)
        big[i] = (float) i;

    small.copy (big);
    EXPECT_EQ (small[512], 512.0f);

    ZBuffer target (1024, "target");
    for (unsigned i = 0; i < 1024; ++i)
        target[i] = -1.0f;
    target.copy (small);
    EXPECT_EQ (target[512], 512.0f);
    EXPECT_EQ (target[513], -1.0f);

    ZBuffer part (8, "part");
    part.copyFrom (big, { 10, 13 }, 2);
    EXPECT_EQ (part[1], 0.0f);
    EXPECT_EQ (part[2], 10.0f);
    EXPECT_EQ (part[4], 12.0f);
    EXPECT_EQ (part[5], 0.0f);

    part.clear ({ 3, 5 });
    EXPECT_EQ (part[2], 10.0f);
    EXPECT_EQ (part[3], 0.0f);
    EXPECT_EQ (part[4], 0.0f);
}

TEST (ZBuffer, PeakIsLargestMagnitude)
{
    ZBuffer b (2, "p");
    b[0] = -0.75f;
    b[1] = 0.5f;
    EXPECT_EQ (b.getPeak(), 0.75f);
}

TEST (ZBuffer, WritesExactHexText)
{
    ZBuffer b (3, "NoiseProfile1");
    b[0] = 1.0f;
    b[1] = 0.0f;
    b[2] = -1.0f;
    auto e = elementOf (b);

    EXPECT_EQ (e->getTagName(), "buffer");
    EXPECT_EQ (e->getAttributeName (0), "name");
    EXPECT_EQ (e->getAttributeName (1), "length");
    EXPECT_EQ (e->getAttributeName (2), "samplerate");
    EXPECT_EQ (e->getStringAttribute ("name"), "NoiseProfile1");
    EXPECT_EQ (e->getStringAttribute ("length"), "3");
    EXPECT_EQ (e->getStringAttribute ("samplerate"), "0");
    ASSERT_NE (e->getChildByName ("data"), nullptr);
    EXPECT_EQ (e->getChildByName ("data")->getStringAttribute ("values"), "3f80000000000000bf800000");
}

TEST (ZBuffer, RestoresBitForBitAndTakesNameAndLength)
{
    ZBuffer source (3, "NoiseProfile0");
    source[0] = -0.0f;
    source[1] = std::numeric_limits<float>::denorm_min();
    source[2] = -48.0f;
    auto e = elementOf (source);

    ZBuffer same (3, "other");
    const float* storage = same.getData();
    same.restoreFromXml (*e);
    EXPECT_EQ (same.getData(), storage);  // same length keeps its storage
    EXPECT_STREQ (same.getName(), "NoiseProfile0");
    EXPECT_EQ (std::memcmp (same.getData(), source.getData(), 3 * sizeof (float)), 0);

    ZBuffer longer (5, "five");
    longer.restoreFromXml (*e);
    EXPECT_EQ (longer.getLength(), 3u);
    EXPECT_EQ (longer.getCapacity(), 4u);
    EXPECT_EQ (std::memcmp (longer.getData(), source.getData(), 3 * sizeof (float)), 0);

    auto rated = bufferElement ("1", "3f800000");
    longer.restoreFromXml (*rated);
    EXPECT_EQ (longer.getSampleRate(), 44100.0f);
}

TEST (ZBuffer, MalformedElementsFailAndKeepTheBuffer)
{
    ZBuffer b (2, "keep");
    b[0] = 0.5f;
    b[1] = -0.5f;

    auto check = [&] (const juce::XmlElement& e)
    {
        EXPECT_THROW (b.restoreFromXml (e), quarn_juce::qj_dsp_exception);
        EXPECT_EQ (b.getLength(), 2u);
        EXPECT_STREQ (b.getName(), "keep");
        EXPECT_EQ (b[0], 0.5f);
        EXPECT_EQ (b[1], -0.5f);
    };

    expectDspFailure ([&] { b.restoreFromXml (*bufferElement ("0", "")); },
                      "Error Trying to create a buffer of improper size.", 201);
    expectDspFailure ([&] { b.restoreFromXml (*bufferElement (nullptr, "3f800000")); },
                      "Error Trying to create a buffer of improper size.", 201);

    check (*bufferElement ("-3", "3f8000003f8000003f800000"));
    check (*bufferElement ("2", nullptr));                        // no data child
    check (*bufferElement ("3", "3f8000003f800000"));             // short text
    check (*bufferElement ("2", "3f80000zz3f80000"));             // not hexadecimal
    check (*bufferElement ("2", "7fc000003f800000"));             // NaN
    check (*bufferElement ("2", "3f8000007f800000"));             // +infinity
    check (*bufferElement ("100000000", "3f800000"));             // absurd length
}
