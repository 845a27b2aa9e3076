#include "ZBuffer.h"

#include "ZNumberText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace quarn
{

namespace
{
const char* const kFile = "Source/zdsp/common/ZBuffer";
const char* const kImproperSize = "Error Trying to create a buffer of improper size.";

char* copyName (const char* name)
{
    const char* n = name != nullptr ? name : "";
    const auto length = std::strlen (n);
    auto* copy = new char[length + 1];
    std::memcpy (copy, n, length + 1);
    return copy;
}

int hexDigit (char c) noexcept
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

ZBuffer::ZBuffer (unsigned length, const char* name)
{
    if (length == 0)
        QJ_THROW (kImproperSize, kFile);

    mLength = length;
    mCapacity = capacityFor (length);
    mName = copyName (name);
    mData = new float[mCapacity]();
}

ZBuffer::~ZBuffer()
{
    delete[] mData;
    delete[] mName;
}

void ZBuffer::setName (const char* name)
{
    auto* copy = copyName (name);
    delete[] mName;
    mName = copy;
}

void ZBuffer::clear() noexcept
{
    std::memset (mData, 0, sizeof (float) * mCapacity);
}

void ZBuffer::clear (ZRange range) noexcept
{
    if (range.second > range.first)
        std::memset (mData + range.first, 0, sizeof (float) * (size_t) (range.second - range.first));
}

void ZBuffer::copy (const ZBuffer& source) noexcept
{
    const auto n = std::min (mLength, source.mLength);
    if (&source != this)
        std::memmove (mData, source.mData, sizeof (float) * n);
}

void ZBuffer::copyFrom (const ZBuffer& source, ZRange range, unsigned destinationOffset) noexcept
{
    if (range.second > range.first)
        std::memmove (mData + destinationOffset, source.mData + range.first,
                      sizeof (float) * (size_t) (range.second - range.first));
}

float ZBuffer::getPeak() const noexcept
{
    float peak = 0.0f;
    for (unsigned i = 0; i < mLength; ++i)
        peak = std::max (peak, std::abs (mData[i]));
    return peak;
}

void ZBuffer::setLength (unsigned length)
{
    if (length == 0)
        QJ_THROW (kImproperSize, kFile);

    const auto capacity = capacityFor (length);
    auto* data = new float[capacity];
    delete[] mData;
    mData = data;
    mLength = length;
    mCapacity = capacity;
}

juce::XmlElement* ZBuffer::createXml() const
{
    auto* element = new juce::XmlElement ("buffer");
    element->setAttribute ("name", juce::String (mName));
    element->setAttribute ("length", (int) mLength);

    element->setAttribute ("samplerate", formatStateNumber ((double) mSampleRate));

    std::vector<char> text ((size_t) mLength * 8 + 1);
    for (unsigned i = 0; i < mLength; ++i)
    {
        std::uint32_t bits;
        std::memcpy (&bits, mData + i, sizeof (bits));
        std::snprintf (text.data() + (size_t) i * 8, 9, "%08x", bits);
    }
    text[(size_t) mLength * 8] = 0;

    auto* data = new juce::XmlElement ("data");
    data->setAttribute ("values", juce::String (text.data()));
    element->addChildElement (data);
    return element;
}

void ZBuffer::restoreFromXml (const juce::XmlElement& element)
{
    // A missing length is none, as is 0; one that is there must be a whole
    // number, not whatever digits it starts with.
    int length = 0;
    if (element.hasAttribute ("length"))
    {
        const auto n = parseStateInt (element.getStringAttribute ("length"));
        if (! n.has_value())
            QJ_THROW ("Buffer element holds a length that is not a whole number.", kFile);
        length = *n;
    }
    if (length <= 0)
        QJ_THROW (kImproperSize, kFile);

    // Everything is checked before anything changes, so a bad element from a
    // damaged preset never leaves a half-read or garbage buffer behind.
    const auto* data = element.getChildByName ("data");
    if (data == nullptr)
        QJ_THROW ("Buffer element has no sample data.", kFile);

    const auto values = data->getStringAttribute ("values").toStdString();
    const auto n = (size_t) length;
    if (values.size() < n * 8)
        QJ_THROW ("Buffer element holds fewer samples than its length.", kFile);

    // The rate is only carried along and written back by the next save; one
    // that is not a number a float can hold would be saved as "nan" or "inf".
    float sampleRate = 0.0f;
    if (element.hasAttribute ("samplerate"))
    {
        const auto rate = parseStateFloat (element.getStringAttribute ("samplerate"));
        if (! rate.has_value() || *rate < 0.0f)
            QJ_THROW ("Buffer element holds a sample rate that is not a usable number.", kFile);
        sampleRate = *rate;
    }

    std::vector<float> samples (n);
    for (size_t i = 0; i < n; ++i)
    {
        std::uint32_t bits = 0;
        for (size_t d = 0; d < 8; ++d)
        {
            const int digit = hexDigit (values[i * 8 + d]);
            if (digit < 0)
                QJ_THROW ("Buffer element holds a sample that is not hexadecimal.", kFile);
            bits = (bits << 4) | (std::uint32_t) digit;
        }
        float value;
        std::memcpy (&value, &bits, sizeof (value));
        if (! std::isfinite (value))
            QJ_THROW ("Buffer element holds a sample that is not a finite number.", kFile);
        samples[i] = value;
    }

    if ((unsigned) length != mLength)
        setLength ((unsigned) length);

    setName (element.getStringAttribute ("name").toRawUTF8());
    mSampleRate = sampleRate;
    std::memcpy (mData, samples.data(), sizeof (float) * n);
}

} // namespace quarn
