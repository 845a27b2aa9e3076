#include "ZDSPObject.h"

#include <cstring>

namespace quarn
{

ZDSPObject::~ZDSPObject()
{
    delete[] mName;
}

void ZDSPObject::setName (const char* name)
{
    delete[] mName;
    mName = nullptr;

    if (name != nullptr)
    {
        const auto length = std::strlen (name);
        mName = new char[length + 1];
        std::memcpy (mName, name, length + 1);
    }
}

} // namespace quarn
