#include "ZFourierTransform.h"
#include "ZFourierTransformAV.h"

#include <memory>

namespace quarn
{

namespace
{
const char* const kFile = "Source/zdsp/common/ZFourierTransform";
const char* const kNotSupported = "Fourier Transform is not supported on your processor.";
} // namespace

ZFourierTransform::ZFourierTransform()
{
    setName ("ZFourierTransform");
}

ZFourierTransform* ZFourierTransform::create (unsigned log2n, unsigned direction, unsigned isReal)
{
    const int kind = getProcessorType();
    if (kind < 1 || kind > 4)
        QJ_THROW ("Could not create a ZFourierTransform object", kFile);

    // Owned here until init succeeds, so a failing init does not leak it.
    std::unique_ptr<ZFourierTransform> transform (new ZFourierTransformAV());
    transform->init (log2n, direction, isReal);
    return transform.release();
}

void ZFourierTransform::init (unsigned, unsigned, unsigned)
{
}

void ZFourierTransform::transform (ZBuffer&, ZBuffer&)
{
    QJ_THROW (kNotSupported, kFile);
}

void ZFourierTransform::transform (const ZBuffer&, const ZBuffer&, ZBuffer&, ZBuffer&)
{
    QJ_THROW (kNotSupported, kFile);
}

void ZFourierTransform::transformReal (ZBuffer&, ZBuffer&, ZBuffer&)
{
    QJ_THROW (kNotSupported, kFile);
}

} // namespace quarn
