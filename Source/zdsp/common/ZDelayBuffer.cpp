#include "ZDelayBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace quarn
{

namespace
{
// Copies count samples into a ring starting at ring index start. Pieces are
// cut at the wrap point; a block longer than the ring wraps again (only the
// newest samples survive) instead of running past the allocation.
void copyIntoRing (float* ring, unsigned mask, unsigned start, const float* source, unsigned count)
{
    const unsigned capacity = mask + 1u;
    unsigned index = start & mask;

    while (count > 0)
    {
        const unsigned piece = std::min (count, capacity - index);
        std::memcpy (ring + index, source, sizeof (float) * piece);
        source += piece;
        count -= piece;
        index = (index + piece) & mask;
    }
}

void copyFromRing (const float* ring, unsigned mask, unsigned start, float* destination, unsigned count)
{
    const unsigned capacity = mask + 1u;
    unsigned index = start & mask;

    while (count > 0)
    {
        const unsigned piece = std::min (count, capacity - index);
        std::memcpy (destination, ring + index, sizeof (float) * piece);
        destination += piece;
        count -= piece;
        index = (index + piece) & mask;
    }
}
} // namespace

//==============================================================================
ZDelayBuffer::ZDelayBuffer()
{
    setName ("ZDelayBuffer");
}

ZDelayBuffer::~ZDelayBuffer()
{
    std::free (mRing);
}

ZDelayBuffer* ZDelayBuffer::create (unsigned length)
{
    std::unique_ptr<ZDelayBuffer> delay (new ZDelayBuffer());
    delay->allocate (length);
    return delay.release();
}

void ZDelayBuffer::allocate (unsigned length)
{
    // Two samples at least once any delay is asked for, otherwise the smallest
    // power of two that holds the delay. Beyond 2^31 no power of two fits the
    // counter, which is as good as running out of memory.
    unsigned capacity = 1;
    if (length == 1)
        capacity = 2;
    else if (length > 0x80000000u)
        capacity = 0;
    else
        while (capacity < length)
            capacity <<= 1;

    float* ring = capacity != 0 ? static_cast<float*> (std::malloc (sizeof (float) * (size_t) capacity)) : nullptr;
    if (ring == nullptr)
        QJ_THROW ("Unable to allocate float buffer.", "Source/zdsp/common/ZDelayBuffer");

    std::free (mRing);
    mRing = ring;
    mCapacity = capacity;
    mMask = capacity - 1u;
    clear();
}

void ZDelayBuffer::clear()
{
    std::memset (mRing, 0, sizeof (float) * (size_t) mCapacity);
    mPosition = 0;
}

void ZDelayBuffer::write (const ZBuffer& input)
{
    write (input, input.getLength());
}

void ZDelayBuffer::write (const ZBuffer& input, unsigned count)
{
    // Never read past the caller's storage, whatever count says.
    const unsigned n = std::min (count, input.getCapacity());
    copyIntoRing (mRing, mMask, mPosition + 1u, input.getData(), n);
    mPosition += n;
}

void ZDelayBuffer::read (ZBuffer& output, unsigned delay)
{
    read (output, delay, output.getLength());
}

void ZDelayBuffer::read (ZBuffer& output, unsigned delay, unsigned count)
{
    const unsigned n = std::min (count, output.getCapacity());
    copyFromRing (mRing, mMask, mPosition - delay - n + 1u, output.getData(), n);
}

//==============================================================================
ZBufferSizeConverter::ZBufferSizeConverter()
{
    setName ("ZBufferSizeConverter");
}

ZBufferSizeConverter::~ZBufferSizeConverter()
{
    delete[] mRing;
}

ZBufferSizeConverter* ZBufferSizeConverter::create (unsigned inSize, unsigned outSize)
{
    // Room for twice the largest backlog a push can leave before a pull:
    // twice the smallest power of two above inSize + outSize - 1.
    const std::uint64_t sum = (std::uint64_t) inSize + outSize;
    const std::uint64_t backlog = sum > 0 ? sum - 1 : 0;

    std::uint64_t above = 1;
    while (above <= backlog)
        above <<= 1;

    const std::uint64_t capacity = above * 2;
    if (capacity > 0x80000000u)
        throw std::bad_alloc();

    std::unique_ptr<ZBufferSizeConverter> converter (new ZBufferSizeConverter());
    converter->mInSize = inSize;
    converter->mOutSize = outSize;
    converter->mCapacity = (unsigned) capacity;
    converter->mMask = (unsigned) capacity - 1u;
    converter->mRing = new float[(size_t) capacity]();
    return converter.release();
}

void ZBufferSizeConverter::clear()
{
    std::memset (mRing, 0, sizeof (float) * (size_t) mCapacity);
    mWriteCount = 0;
    mReadCount = 0;
}

void ZBufferSizeConverter::push (const ZBuffer& input)
{
    push (input, input.getLength());
}

void ZBufferSizeConverter::push (const ZBuffer& input, unsigned count)
{
    const unsigned n = std::min (count, input.getCapacity());
    copyIntoRing (mRing, mMask, mWriteCount, input.getData(), n);
    mWriteCount += n;
}

bool ZBufferSizeConverter::pull (ZBuffer& output)
{
    // A writer a whole ring ahead has overwritten what the reader still
    // wanted: drop it all and start again from silence.
    if (mWriteCount - mReadCount >= mCapacity)
        clear();

    if (mWriteCount - mReadCount < mOutSize)
        return false;

    const unsigned n = output.getLength();
    copyFromRing (mRing, mMask, mReadCount, output.getData(), n);
    mReadCount += n;
    return true;
}

bool ZBufferSizeConverter::pull (ZBuffer& output, unsigned count)
{
    if (mWriteCount - mReadCount < count)
        return false;

    const unsigned n = std::min (count, output.getCapacity());
    copyFromRing (mRing, mMask, mReadCount, output.getData(), n);
    mReadCount += count;
    return true;
}

} // namespace quarn
