#pragma once

#include "qj_exception.h"

namespace quarn
{

// Root of the processing classes: gives every object the name of its class.
class ZDSPObject
{
public:
    ZDSPObject() = default;
    virtual ~ZDSPObject();

    ZDSPObject (const ZDSPObject&) = delete;
    ZDSPObject& operator= (const ZDSPObject&) = delete;

    virtual void setName (const char* name);
    virtual const char* getName() const { return mName; }

private:
    char* mName = nullptr;
};

// Processor kind: 1 generic, 2 AltiVec or not native, 3 SSE, 4 SSE2. Probed once.
int getProcessorType();

// Forgets the cached kind so the next call probes again (tests only).
void resetProcessorTypeForTesting();

} // namespace quarn
