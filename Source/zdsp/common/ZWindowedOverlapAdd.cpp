#include "ZWindowedOverlapAdd.h"

#include <algorithm>
#include <memory>

namespace quarn
{

namespace
{
constexpr int kMaxOverlap = 4;
}

ZWindowedOverlapAdd::ZWindowedOverlapAdd()
{
    setName ("ZWindowedOverlapAdd");
}

ZWindowedOverlapAdd::~ZWindowedOverlapAdd()
{
    delete mGain;
    delete mAnalysisWindow;
    delete mSynthesisWindow;
    delete mOldBuffer;
    delete mOldWindowedSum;
    delete mMixBuffer;
    for (auto*& segment : mSegments)
    {
        delete segment;
        segment = nullptr;
    }
}

ZWindowedOverlapAdd* ZWindowedOverlapAdd::create (unsigned frameSize, unsigned overlap)
{
    std::unique_ptr<ZWindowedOverlapAdd> framer (new ZWindowedOverlapAdd());
    framer->init (frameSize, overlap);
    return framer.release();
}

void ZWindowedOverlapAdd::init (unsigned frameSize, unsigned overlap)
{
    // The segment array has room for four frames; an overlap outside 1..4
    // would write past it (or divide by zero), so it is held to that range.
    const int k = (int) std::clamp (overlap, 1u, (unsigned) kMaxOverlap);

    delete mGain;
    mGain = nullptr;
    delete mAnalysisWindow;
    mAnalysisWindow = nullptr;
    delete mSynthesisWindow;
    mSynthesisWindow = nullptr;
    delete mOldBuffer;
    mOldBuffer = nullptr;
    delete mOldWindowedSum;
    mOldWindowedSum = nullptr;
    delete mMixBuffer;
    mMixBuffer = nullptr;
    for (auto*& segment : mSegments)
    {
        delete segment;
        segment = nullptr;
    }

    mFrameSize = frameSize;
    mOverlap = k;
    mLatency = (int) ((float) frameSize * ((float) (k - 1) / (float) k));

    mGain = ZGain::create (false);
    mAnalysisWindow = ZHammingWindow::create (frameSize);
    mSynthesisWindow = ZHammingWindow::create (frameSize);
    mSynthesisWindow->normalizeForPower ((unsigned) k);

    const unsigned latency = (unsigned) mLatency;

    // With an overlap of 1 there is no tail to carry, but a buffer cannot be
    // empty: it keeps one unused sample and only the first T are ever touched.
    mOldBuffer = new ZBuffer (frameSize, "mOldBuffer");
    mOldWindowedSum = new ZBuffer (std::max (latency, 1u), "mOldWindowedSum");
    mMixBuffer = new ZBuffer (latency + frameSize, "mMixBuffer");

    for (int j = 0; j < k; ++j)
        mSegments[j] = new ZBuffer (frameSize, "SegmentBuffer");
}

void ZWindowedOverlapAdd::analyze (const ZBuffer& input, ZBuffer**& segments)
{
    const unsigned frame = mFrameSize;
    const int k = mOverlap;

    // Segment j is the frame that ends s samples into the current input: the
    // tail of the previous input followed by the head of this one.
    for (int j = 0; j < k - 1; ++j)
    {
        const auto s = (unsigned) ((double) frame * ((double) (j + 1) / (double) k));
        auto& segment = *mSegments[j];
        segment.copyFrom (*mOldBuffer, { (int) s, (int) frame }, 0);
        segment.copyFrom (input, { 0, (int) s }, frame - s);
    }

    mSegments[k - 1]->copy (input);

    for (int j = 0; j < k; ++j)
        mAnalysisWindow->apply (*mSegments[j]);

    mOldBuffer->copy (input);
    segments = mSegments;
}

void ZWindowedOverlapAdd::synthesize (ZBuffer** segments, ZBuffer& output)
{
    const unsigned frame = mFrameSize;
    const unsigned latency = (unsigned) mLatency;
    const int k = mOverlap;

    for (int j = 0; j < k; ++j)
        mSynthesisWindow->apply (*segments[j]);

    auto& mix = *mMixBuffer;
    mix.copyFrom (*mOldWindowedSum, { 0, (int) latency }, 0);
    mix.clear ({ (int) latency, (int) (latency + frame) });

    for (int j = 0; j < k; ++j)
    {
        const auto offset = (unsigned) ((float) frame * ((float) j / (float) k));
        mGain->scaleAddAt (*segments[j], mix, offset, 1.0f);
    }

    output.copyFrom (mix, { 0, (int) frame }, 0);
    mOldWindowedSum->copyFrom (mix, { (int) frame, (int) (frame + latency) }, 0);
}

int ZWindowedOverlapAdd::flush (ZBuffer& output)
{
    const unsigned latency = (unsigned) mLatency;
    const unsigned length = output.getLength();
    const unsigned tail = std::min (latency, length);

    output.copyFrom (*mOldWindowedSum, { 0, (int) tail }, 0);
    if (length > latency)
        output.clear ({ (int) latency, (int) length });

    reset();
    return mLatency;
}

void ZWindowedOverlapAdd::reset()
{
    mOldBuffer->clear();
    mOldWindowedSum->clear();
}

} // namespace quarn
