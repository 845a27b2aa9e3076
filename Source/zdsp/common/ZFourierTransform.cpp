#include "ZFourierTransform.h"

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
