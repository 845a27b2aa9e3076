#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZGain.h"
#include "ZSignalWindow.h"

namespace quarn
{

// Cuts a stream into K overlapping Hamming-windowed frames of F samples and
// adds processed frames back together; the output lags the input by
// T = F (K - 1) / K samples.
class ZWindowedOverlapAdd : protected ZDSPObject
{
public:
    ZWindowedOverlapAdd();
    ~ZWindowedOverlapAdd() override;

    using ZDSPObject::getName;

    static ZWindowedOverlapAdd* create (unsigned frameSize, unsigned overlap);

    virtual void init (unsigned frameSize, unsigned overlap);
    virtual int getOverlap() const { return mOverlap; }
    virtual void analyze (const ZBuffer& input, ZBuffer**& segments);
    virtual void synthesize (ZBuffer** segments, ZBuffer& output);
    virtual int flush (ZBuffer& output);
    virtual void reset();
    virtual int getLatency() const { return mLatency; }

private:
    unsigned mFrameSize = 0;
    int mOverlap = 0;
    int mLatency = 0;
    ZGain* mGain = nullptr;
    ZHammingWindow* mAnalysisWindow = nullptr;
    ZHammingWindow* mSynthesisWindow = nullptr;
    ZBuffer* mOldBuffer = nullptr;
    ZBuffer* mOldWindowedSum = nullptr;
    ZBuffer* mMixBuffer = nullptr;
    ZBuffer* mSegments[4] = { nullptr, nullptr, nullptr, nullptr };
};

} // namespace quarn
