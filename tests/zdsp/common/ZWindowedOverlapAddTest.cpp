#include "ZWindowedOverlapAdd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

using namespace quarn;

namespace
{
constexpr unsigned frameSize = 1024;

std::unique_ptr<ZWindowedOverlapAdd> makeFramer (unsigned frame = frameSize, unsigned overlap = 4)
{
    return std::unique_ptr<ZWindowedOverlapAdd> (ZWindowedOverlapAdd::create (frame, overlap));
}

// Runs the signal through analyze and synthesize without touching the
// segments, frame by frame, and returns everything that came out.
std::vector<float> passThrough (ZWindowedOverlapAdd& framer, const std::vector<float>& signal)
{
    ZBuffer input (frameSize, "input"), output (frameSize, "output");
    std::vector<float> result;

    for (size_t start = 0; start + frameSize <= signal.size(); start += frameSize)
    {
        for (unsigned i = 0; i < frameSize; ++i)
            input[i] = signal[start + i];

        ZBuffer** segments = nullptr;
        framer.analyze (input, segments);
        framer.synthesize (segments, output);
        result.insert (result.end(), output.getData(), output.getData() + frameSize);
    }
    return result;
}

std::vector<float> randomSignal (size_t length, unsigned seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> sample (-1.0f, 1.0f);
    std::vector<float> signal (length);
    for (auto& s : signal)
        s = sample (random);
    return signal;
}
} // namespace

TEST (ZWindowedOverlapAdd, LatencyFollowsFrameAndOverlap)
{
    auto framer = makeFramer();
    EXPECT_EQ (framer->getLatency(), 768);
    EXPECT_EQ (framer->getOverlap(), 4);
    EXPECT_STREQ (framer->getName(), "ZWindowedOverlapAdd");

    EXPECT_EQ (makeFramer (1024, 3)->getLatency(), 682);
    EXPECT_EQ (makeFramer (1024, 2)->getLatency(), 512);

    // Overlap 1 has no tail to carry; it must still build.
    auto single = makeFramer (1024, 1);
    EXPECT_EQ (single->getLatency(), 0);
    EXPECT_EQ (single->getOverlap(), 1);

    // The segment array holds four frames at most.
    EXPECT_EQ (makeFramer (1024, 9)->getOverlap(), 4);
}

TEST (ZWindowedOverlapAdd, SegmentsAreFramesEndingEveryHop)
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
    {
        const unsigned end = frameSize + 256 * (j + 1);
        for (unsigned i = 0; i < frameSize; ++i)
            ASSERT_NEAR ((*segments[j])[i], (float) (end - frameSize + i + 1) * w[i], 1e-3f)
                << "segment " << j << " sample " << i;
    }
}

TEST (ZWindowedOverlapAdd, ConstantInputComesBackAsOne)
{
    auto framer = makeFramer();
    const auto output = passThrough (*framer, std::vector<float> (8 * frameSize, 1.0f));

    for (size_t n = 768; n < output.size(); ++n)
        ASSERT_NEAR (output[n], 1.0f, 1e-4f) << n;

    // The first 768 samples stand for the silence before the stream began.
    for (size_t n = 0; n < 768; ++n)
        ASSERT_EQ (output[n], 0.0f) << n;
}

TEST (ZWindowedOverlapAdd, RandomSignalComesBackDelayedByExactlyTheLatency)
{
    auto framer = makeFramer();
    const auto signal = randomSignal (16 * frameSize, 11);
    const auto output = passThrough (*framer, signal);
    const auto latency = (size_t) framer->getLatency();

    double error = 0.0, misaligned = 0.0;
    for (size_t n = latency + 1; n < output.size(); ++n)
    {
        error = std::max (error, (double) std::abs (output[n] - signal[n - latency]));
        misaligned = std::max (misaligned, (double) std::abs (output[n] - signal[n - latency - 1]));
    }
    EXPECT_LT (error, 1e-4);
    EXPECT_GT (misaligned, 0.5);

    for (size_t n = 0; n < latency; ++n)
        ASSERT_EQ (output[n], 0.0f) << n;
}

TEST (ZWindowedOverlapAdd, FlushHandsOutTheTailAsIfSilenceWereSynthesized)
{
    const auto signal = randomSignal (4 * frameSize, 3);
    auto flushed = makeFramer();
    auto continued = makeFramer();
    passThrough (*flushed, signal);
    passThrough (*continued, signal);

    ZBuffer tail (frameSize, "tail");
    for (unsigned i = 0; i < frameSize; ++i)
        tail[i] = 7.0f;
    EXPECT_EQ (flushed->flush (tail), 768);

    // The tail is what the twin gives when its next segments are all silent.
    ZBuffer silence (frameSize, "silence"), expected (frameSize, "expected");
    ZBuffer** segments = nullptr;
    continued->analyze (silence, segments);
    for (int j = 0; j < 4; ++j)
        segments[j]->clear();
    continued->synthesize (segments, expected);

    for (unsigned i = 0; i < 768; ++i)
        ASSERT_EQ (tail[i], expected[i]) << i;
    for (unsigned i = 768; i < frameSize; ++i)
        ASSERT_EQ (tail[i], 0.0f) << i;
    EXPECT_GT (std::abs (tail[0]), 0.0f);

    // A shorter buffer takes only what fits.
    auto shortFlush = makeFramer();
    passThrough (*shortFlush, signal);
    ZBuffer small (100, "small");
    EXPECT_EQ (shortFlush->flush (small), 768);
    EXPECT_EQ (small[0], tail[0]);
    EXPECT_EQ (small[99], tail[99]);
}

TEST (ZWindowedOverlapAdd, FlushAndResetStartTheNextFrameFromSilence)
{
    const auto history = randomSignal (3 * frameSize, 5);
    const auto next = randomSignal (2 * frameSize, 6);
    const auto fresh = passThrough (*makeFramer(), next);

    auto reset = makeFramer();
    passThrough (*reset, history);
    reset->reset();
    EXPECT_EQ (passThrough (*reset, next), fresh);

    auto flushed = makeFramer();
    passThrough (*flushed, history);
    ZBuffer tail (frameSize, "tail");
    flushed->flush (tail);
    EXPECT_EQ (passThrough (*flushed, next), fresh);
}
