#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"

namespace quarn
{

// Fast Fourier transform of one size, direction and kind. Forward transforms
// are scaled by 1/N so a forward transform followed by an inverse gives back
// the input. Complex data is split: real parts in one buffer, imaginary parts
// in another; a real transform of N samples exchanges N/2 + 1 bins.
class ZFourierTransform : protected ZDSPObject
{
public:
    ZFourierTransform();
    ~ZFourierTransform() override = default;

    using ZDSPObject::getName;
    using ZDSPObject::setName;

    enum class Direction : unsigned { forward = 0, inverse = 1 };
    enum class Kind : unsigned { complex = 0, real = 1 };

    // direction: 0 forward, 1 inverse. isReal: 1 for a real transform.
    static ZFourierTransform* create (unsigned log2n, unsigned direction, unsigned isReal);
    static ZFourierTransform* create (unsigned log2n, Direction direction, Kind kind)
    {
        return create (log2n, (unsigned) direction, (unsigned) kind);
    }

    virtual void init (unsigned log2n, unsigned direction, unsigned isReal);
    virtual void transform (ZBuffer& re, ZBuffer& im);
    virtual void transform (const ZBuffer& inRe, const ZBuffer& inIm, ZBuffer& outRe, ZBuffer& outIm);
    // Forward: signal -> re, im. Inverse: re, im -> signal (re and im are used as work area).
    virtual void transformReal (ZBuffer& signal, ZBuffer& re, ZBuffer& im);

    unsigned getSize() const noexcept { return mSize; }
    unsigned getDirection() const noexcept { return mDirection; }
    unsigned getIsReal() const noexcept { return mIsReal; }

protected:
    unsigned mSize = 0;
    unsigned mDirection = 0;
    unsigned mIsReal = 0;
};

} // namespace quarn
