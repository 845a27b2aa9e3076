#include "ZFourierTransformAV.h"
#include "ZFFTLayer.h"

#include <memory>

namespace quarn
{

namespace
{
const char* const kFile = "Source/zdsp/macos/ZFourierTransformAV";
const char* const kFactoryFile = "Source/zdsp/common/ZFourierTransform";
} // namespace

// The factory lives beside the one implementation it can make, so the common
// code needs nothing from this folder.
ZFourierTransform* ZFourierTransform::create (unsigned log2n, unsigned direction, unsigned isReal)
{
    const int kind = getProcessorType();
    if (kind < 1 || kind > 4)
        QJ_THROW ("Could not create a ZFourierTransform object", kFactoryFile);

    // Owned here until init succeeds, so a failing init does not leak it.
    std::unique_ptr<ZFourierTransform> transform (new ZFourierTransformAV());
    transform->init (log2n, direction, isReal);
    return transform.release();
}

ZFourierTransformAV::ZFourierTransformAV()
{
    setName ("ZFourierTransformAV");
}

ZFourierTransformAV::~ZFourierTransformAV()
{
    release();
}

void ZFourierTransformAV::release() noexcept
{
    delete mGain;
    mGain = nullptr;
    delete mSetup;
    mSetup = nullptr;
}

void ZFourierTransformAV::init (unsigned log2n, unsigned direction, unsigned isReal)
{
    release();

    mLog2n = log2n;
    mSize = log2n < 32 ? 1u << log2n : 0u;
    mDirection = direction;
    mIsReal = isReal;
    mGain = ZGain::create (false);

    if (direction == 1)
        mPlatformDirection = -1;
    else if (direction == 0)
        mPlatformDirection = 1;
    else
        QJ_THROW ("This should be impossible.", kFile);

    // The setup holds the work arrays; it is missing when they could not be
    // allocated (or the order is beyond what the layer can plan).
    mSetup = ZFFTSetup::create (log2n, direction == 0);
    if (mSetup == nullptr)
        QJ_THROW ("Unable to allocate a ZBuffer.", kFile);
}

// Values of a result buffer past the transform's points are scaled along with
// the result, as every forward transform scales its buffers whole.
void ZFourierTransformAV::scaleTail (ZBuffer& buffer, unsigned from, float gain)
{
    const auto length = buffer.getLength();
    if (length > from)
        mGain->scaleRange (buffer, from, length - from, gain);
}

void ZFourierTransformAV::transform (ZBuffer& re, ZBuffer& im)
{
    if (mSetup == nullptr)
        return ZFourierTransform::transform (re, im);

    transform (re, im, re, im);
}

void ZFourierTransformAV::transform (const ZBuffer& inRe, const ZBuffer& inIm, ZBuffer& outRe, ZBuffer& outIm)
{
    // Not initialised: behave as the interface does.
    if (mSetup == nullptr)
        return ZFourierTransform::transform (inRe, inIm, outRe, outIm);

    const float gain = mDirection == 0 ? 1.0f / (float) mSize : 1.0f;
    mSetup->complex (inRe.getData(), inIm.getData(), outRe.getData(), outIm.getData(), gain);

    if (mDirection == 0)
    {
        scaleTail (outRe, mSize, gain);
        scaleTail (outIm, mSize, gain);
    }
}

void ZFourierTransformAV::transformReal (ZBuffer& signal, ZBuffer& re, ZBuffer& im)
{
    if (mSetup == nullptr)
        return ZFourierTransform::transformReal (signal, re, im);

    const unsigned half = mSize / 2;

    if (mDirection == 0)
    {
        mSetup->realForward (signal.getData(), re.getData(), im.getData(), 1.0f / (float) mSize);

        // The packed transform scales by half of 1/N, its result being twice
        // the transform; untouched values past the Nyquist bin see that factor.
        const float tailGain = 0.5f / (float) mSize;
        scaleTail (re, half + 1, tailGain);
        scaleTail (im, half + 1, tailGain);
    }
    else
    {
        // The Nyquist bin travels in im[0]; the caller's spectrum is changed.
        im[0] = re[half];
        mSetup->realInverse (re.getData(), im.getData(), signal.getData());
    }
}

} // namespace quarn
