#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

namespace quarn
{

// A power-of-two ring that delays a stream by a chosen number of samples.
// Callers keep delay + count within the capacity.
class ZDelayBuffer : protected ZDSPObject
{
public:
    ZDelayBuffer();
    ~ZDelayBuffer() override;

    using ZDSPObject::getName;

    static ZDelayBuffer* create (unsigned length);

    void clear();
    void write (const ZBuffer& input);
    void write (const ZBuffer& input, unsigned count);
    void read (ZBuffer& output, unsigned delay);
    void read (ZBuffer& output, unsigned delay, unsigned count);

    unsigned getCapacity() const noexcept { return mCapacity; }

private:
    void allocate (unsigned length);

    float* mRing = nullptr;
    unsigned mPosition = 0;
    unsigned mCapacity = 0;
    unsigned mMask = 0;
};

// A FIFO that turns blocks of one size into blocks of another.
class ZBufferSizeConverter : protected ZDSPObject
{
public:
    ZBufferSizeConverter();
    ~ZBufferSizeConverter() override;

    using ZDSPObject::getName;

    static ZBufferSizeConverter* create (unsigned inSize, unsigned outSize);

    void clear();
    void push (const ZBuffer& input);
    void push (const ZBuffer& input, unsigned count);
    bool pull (ZBuffer& output);
    bool pull (ZBuffer& output, unsigned count);

    unsigned getCapacity() const noexcept { return mCapacity; }
    unsigned getAvailable() const noexcept { return mWriteCount - mReadCount; }

private:
    float* mRing = nullptr;
    unsigned mWriteCount = 0;
    unsigned mReadCount = 0;
    unsigned mInSize = 0;
    unsigned mOutSize = 0;
    unsigned mCapacity = 0;
    unsigned mMask = 0;
};

} // namespace quarn
