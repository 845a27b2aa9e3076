#pragma once

#include "qj_exception.h"
#include <juce_events/juce_events.h>
#include <utility>

namespace quarn
{

// A range of sample indices: start inclusive, end exclusive.
using ZRange = std::pair<int, int>;

// The sample container of the DSP library: a named block of floats with a
// length and a sample rate, able to write itself as and read itself from an
// XML element "buffer". Owners may broadcast action messages through it.
class ZBuffer : public juce::ActionBroadcaster
{
public:
    ZBuffer (unsigned length, const char* name);
    ~ZBuffer() override;

    ZBuffer (const ZBuffer&) = delete;
    ZBuffer& operator= (const ZBuffer&) = delete;

    void setName (const char* name);
    const char* getName() const noexcept { return mName; }

    unsigned getLength() const noexcept { return mLength; }
    unsigned getCapacity() const noexcept { return mCapacity; }
    float* getData() noexcept { return mData; }
    const float* getData() const noexcept { return mData; }
    float& operator[] (unsigned i) noexcept { return mData[i]; }
    float operator[] (unsigned i) const noexcept { return mData[i]; }

    float getSampleRate() const noexcept { return mSampleRate; }

    void clear() noexcept;
    void clear (ZRange range) noexcept;
    void copy (const ZBuffer& source) noexcept;
    void copyFrom (const ZBuffer& source, ZRange range, unsigned destinationOffset) noexcept;
    float getPeak() const noexcept;

    // New storage for the new length, not cleared. Length 0 throws and leaves
    // the buffer as it was.
    void setLength (unsigned length);

    juce::XmlElement* createXml() const;

    // Reads an element written by createXml. An element that is not well formed
    // (missing or zero length, no data, short or non-hexadecimal values,
    // non-finite samples) throws and leaves the buffer untouched.
    void restoreFromXml (const juce::XmlElement& element);

    static unsigned capacityFor (unsigned length) noexcept { return (length + 3u) & ~3u; }

private:
    unsigned mLength = 0;
    unsigned mCapacity = 0;
    float* mData = nullptr;
    char* mName = nullptr;
    float mSampleRate = 0.0f;
};

} // namespace quarn
