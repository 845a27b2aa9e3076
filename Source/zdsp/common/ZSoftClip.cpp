#include "ZSoftClip.h"

#include <algorithm>
#include <cmath>

namespace quarn
{

ZSoftClip::ZSoftClip()
{
    setName ("ZSoftClip");
}

ZSoftClip::~ZSoftClip() = default;

ZSoftClip* ZSoftClip::create (unsigned blockSize)
{
    auto* clip = new ZSoftClip();
    try
    {
        clip->init (blockSize);
    }
    catch (...)
    {
        delete clip;
        throw;
    }
    return clip;
}

void ZSoftClip::init (unsigned blockSize)
{
    mCeiling = 1.0f;
    mLookAhead.resetGains();
    mLookAhead.setBlockSize (blockSize);
}

void ZSoftClip::setBlockSize (unsigned blockSize)
{
    mLookAhead.setBlockSize (blockSize);
}

void ZSoftClip::setCeiling (float dB)
{
    if (std::isnan (dB))
        return;
    mCeiling = std::pow (10.0f, dB / 20.0f);
}

void ZSoftClip::clear()
{
    mLookAhead.clear();
}

void ZSoftClip::flush (ZBuffer& out)
{
    mLookAhead.flush (out);
}

void ZSoftClip::process (const ZBuffer& in, ZBuffer& out) noexcept
{
    const unsigned n = std::min ({ mLookAhead.getBlockSize(), in.getLength(), out.getLength() });
    const float peak = mLookAhead.hold (in, n);

    float required = 1.0f;
    if (peak > mCeiling && enabled)
        required = mCeiling * 0.9999f / peak;

    mLookAhead.playOut (out, n, required);
}

} // namespace quarn
