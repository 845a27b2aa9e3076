#pragma once

#include "ZFourierTransform.h"
#include "ZGain.h"

namespace quarn
{

class ZFFTSetup;

// The Fourier transform on our FFT layer (ZFFTLayer, on FFTW). Keeps the
// packing and scaling of the library's transforms: forward results are X[k]/N,
// inverses are unscaled, and a real transform of N samples exchanges bins 0 to
// N/2 with im[0] = im[N/2] = 0.
class ZFourierTransformAV : public ZFourierTransform
{
public:
    ZFourierTransformAV();
    ~ZFourierTransformAV() override;

    void init (unsigned log2n, unsigned direction, unsigned isReal) override;
    void transform (ZBuffer& re, ZBuffer& im) override;
    void transform (const ZBuffer& inRe, const ZBuffer& inIm, ZBuffer& outRe, ZBuffer& outIm) override;
    void transformReal (ZBuffer& signal, ZBuffer& re, ZBuffer& im) override;

private:
    void release() noexcept;
    void scaleTail (ZBuffer& buffer, unsigned from, float gain);

    ZGain* mGain = nullptr;
    ZFFTSetup* mSetup = nullptr; // owns the plans and the aligned work arrays
    int mPlatformDirection = 0;  // +1 forward, -1 inverse
    unsigned mLog2n = 0;
};

} // namespace quarn
