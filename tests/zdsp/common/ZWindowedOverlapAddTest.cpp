#include "ZWindowedOverlapAdd.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using clarivo_test::Signal;
using clarivo_test::uniformNoise;

namespace
{
constexpr unsigned frameSize = 1024;

std::unique_ptr<ZWindowedOverlapAdd> makeFramer (unsigned frame = frameSize, unsigned overlap = 4)
{
    return std::unique_ptr<ZWindowedOverlapAdd> (ZWindowedOverlapAdd::create (frame, overlap));
}

// Runs the signal through analyze and synthesize without touching the
// segments, frame by frame, and returns everything that came out.
Signal passThrough (ZWindowedOverlapAdd& framer, const Signal& signal)
{
    ZBuffer input (frameSize, "input"), output (frameSize, "output");
    Signal result;
    for (size_t start = 0; start + frameSize <= signal.size(); start += frameSize)
    {
        std::copy_n (signal.begin() + (long) start, frameSize, input.getData());
        ZBuffer** segments = nullptr;
        framer.analyze (input, segments);
        framer.synthesize (segments, output);
        result.insert (result.end(), output.getData(), output.getData() + frameSize);
    }
    return result;
}
} // namespace

TEST (ZWindowedOverlapAdd, SegmentsEndEveryHopTheInputComesBackExactlyOneLatencyLateAndFlushHandsOutTheTail)
{
    auto framer = makeFramer();
    std::unique_ptr<ZHammingWindow> window (ZHammingWindow::create (frameSize));
    const auto& w = *window->getWindow();

    ZBuffer previous (frameSize, "previous"), current (frameSize, "current");
    for (unsigned i = 0; i < frameSize; ++i)
    {
        previous[i] = 1.0f + (float) i;
        current[i] = 1.0f + (float) (frameSize + i);
    }

    ZBuffer** segments = nullptr;
    framer->analyze (previous, segments);
    framer->analyze (current, segments);
    ASSERT_NE (segments, nullptr);

    // Segment j ends 256 (j + 1) samples into the current input; unwindowed,
    // it is the running sample count.
    for (unsigned j = 0; j < 4; ++j)
        for (unsigned i = 0; i < frameSize; ++i)
            ASSERT_NEAR ((*segments[j])[i], (float) (256 * (j + 1) + i + 1) * w[i], 1e-3f) << "segment " << j << " sample " << i;

    EXPECT_EQ (makeFramer()->getLatency(), 768);
    // Overlap 1 has no tail to carry; it must still build.
    EXPECT_EQ (makeFramer (1024, 1)->getLatency(), 0);
    // The segment array holds four frames at most.
    EXPECT_EQ (makeFramer (1024, 9)->getOverlap(), 4);

    // The first 768 samples stand for the silence before the stream began;
    // from the very first frame on the rest is the input, aligned to the
    // sample and clearly not one sample off.
    const auto signal = uniformNoise (16 * frameSize, 1.0f, 11);
    const auto output = passThrough (*makeFramer(), signal);
    double misaligned = 0.0;
    for (size_t n = 0; n < output.size(); ++n)
    {
        ASSERT_NEAR (output[n], n < 768 ? 0.0f : signal[n - 768], n < 768 ? 0.0f : 1e-4f) << n;
        if (n > 768)
            misaligned = std::max (misaligned, (double) std::abs (output[n] - signal[n - 769]));
    }
    EXPECT_GT (misaligned, 0.5);

    const auto shortSignal = uniformNoise (4 * frameSize, 1.0f, 3);
    auto flushed = makeFramer();
    auto continued = makeFramer();
    passThrough (*flushed, shortSignal);
    passThrough (*continued, shortSignal);

    ZBuffer tail (frameSize, "tail");
    std::fill_n (tail.getData(), frameSize, 7.0f);
    EXPECT_EQ (flushed->flush (tail), 768);

    // The tail is what the twin gives when its next segments are all silent.
    ZBuffer silence (frameSize, "silence"), expected (frameSize, "expected");
    ZBuffer** tailSegments = nullptr;
    continued->analyze (silence, tailSegments);
    for (int j = 0; j < 4; ++j)
        tailSegments[j]->clear();
    continued->synthesize (tailSegments, expected);
    for (unsigned i = 0; i < frameSize; ++i)
        ASSERT_EQ (tail[i], i < 768 ? expected[i] : 0.0f) << i;
    EXPECT_GT (std::abs (tail[0]), 0.0f);

    // A shorter buffer takes only what fits.
    auto shortFlush = makeFramer();
    passThrough (*shortFlush, shortSignal);
    ZBuffer small (100, "small");
    EXPECT_EQ (shortFlush->flush (small), 768);
    EXPECT_EQ (small[99], tail[99]);

    // After a flush or a reset the next frame starts from silence.
    const auto next = uniformNoise (2 * frameSize, 1.0f, 6);
    const auto fresh = passThrough (*makeFramer(), next);
    EXPECT_EQ (passThrough (*flushed, next), fresh);
    continued->reset();
    EXPECT_EQ (passThrough (*continued, next), fresh);
}
