#include "ZDelayBuffer.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

namespace
{
// first, first + 1, ...
void fill (ZBuffer& buffer, float first)
{
    for (unsigned i = 0; i < buffer.getLength(); ++i)
        buffer[i] = first + (float) i;
}
} // namespace

TEST (ZDelayBuffer, RingSizeAndDelayedReadsAcrossManyWraps)
{
    for (auto [length, capacity] : { std::pair { 1536u, 2048u }, { 2048u, 2048u }, { 2049u, 4096u }, { 1u, 2u }, { 0u, 1u } })
        EXPECT_EQ (owned (ZDelayBuffer::create (length))->getCapacity(), capacity) << length;
    expectDspFailure ([] { owned (ZDelayBuffer::create (0x80000001u)); }, "Unable to allocate float buffer.",
                      "Source/zdsp/common/ZDelayBuffer");

    auto delay = owned (ZDelayBuffer::create (8));
    ZBuffer small (3, "block"), smallOut (3, "out");
    fill (small, 1.0f);
    delay->write (small);
    delay->read (smallOut, 0);
    EXPECT_EQ (valuesOf (smallOut), (Signal { 1, 2, 3 }));
    fill (small, 4.0f);
    delay->write (small);
    delay->read (smallOut, 3);
    EXPECT_EQ (valuesOf (smallOut), (Signal { 1, 2, 3 }));
    // Before anything was written the ring holds silence.
    delay->read (smallOut, 5);
    EXPECT_EQ (valuesOf (smallOut), (Signal { 0, 0, 1 }));
    delay->clear();
    delay->read (smallOut, 0);
    EXPECT_EQ (valuesOf (smallOut), (Signal { 0, 0, 0 }));

    // A bay-sized delay: 512-sample blocks through a 2048-sample ring.
    delay = owned (ZDelayBuffer::create (1536));
    ZBuffer block (512, "block"), out (512, "out");
    const unsigned lag = 1000;
    for (unsigned b = 0; b < 40; ++b)
    {
        fill (block, (float) (b * 512 + 1));
        delay->write (block);
        delay->read (out, lag);
        for (unsigned i = 0; i < 512; ++i)
        {
            const long original = (long) (b * 512 + i) - (long) lag;
            ASSERT_EQ (out[i], original >= 0 ? (float) (original + 1) : 0.0f) << "block " << b << " sample " << i;
        }
    }

    // The counted form moves only the samples asked for.
    fill (block, -100.0f);
    delay->write (block, 2);
    delay->read (out, 0, 3);
    EXPECT_EQ (valuesOf (out, 3), (Signal { 40 * 512, -100, -99 }));
}

// The noise reduction bay's delay tests run the converters through many trips
// round their rings; here the edges they never reach.
TEST (ZBufferSizeConverter, ShortPullsOverrunAndCountedPullsWait)
{
    EXPECT_EQ (owned (ZBufferSizeConverter::create (0, 0))->getCapacity(), 2u);
    auto converter = owned (ZBufferSizeConverter::create (512, 1024));
    ZBuffer block (512, "block"), frame (1024, "frame");
    frame[0] = -1.0f;
    fill (block, 1.0f);
    converter->push (block);
    EXPECT_FALSE (converter->pull (frame));
    EXPECT_EQ (frame[0], -1.0f);
    for (int i = 0; i < 7; ++i)
        converter->push (block);
    EXPECT_EQ (converter->getAvailable(), 4096u);
    EXPECT_FALSE (converter->pull (frame));
    EXPECT_EQ (converter->getAvailable(), 0u);

    // It starts again from the next push, with the new samples only.
    fill (block, 1000.0f);
    converter->push (block);
    converter->push (block);
    ASSERT_TRUE (converter->pull (frame));
    EXPECT_EQ (frame[0], 1000.0f);
    EXPECT_EQ (frame[1023], 1511.0f);

    ZBuffer out (300, "out");
    fill (block, 0.0f);
    converter->push (block, 400);
    EXPECT_TRUE (converter->pull (out, 300));
    EXPECT_EQ (out[0], 0.0f);
    EXPECT_EQ (out[299], 299.0f);
    EXPECT_FALSE (converter->pull (out, 300));
    EXPECT_EQ (converter->getAvailable(), 100u);
    EXPECT_TRUE (converter->pull (out, 100));
    EXPECT_EQ (out[0], 300.0f);
    EXPECT_EQ (out[99], 399.0f);
}
