#include "ZDSPObject.h"
#include "SystemInfo.h"

#include <cstdint>

// The processor-kind probe sits beside the system queries it asks, so the
// common code needs nothing from this folder.
namespace quarn
{

namespace
{
int processorType = 0;

// Each successful query overwrites the earlier answer; a failed one keeps it.
void query (const char* key, int valueWhenSet, int& kind)
{
    std::int64_t value = 0;
    size_t size = sizeof (value);

    if (clarivo::platform::querySystemValue (key, &value, &size) == 0)
        kind = (value == 1) ? valueWhenSet : 0;
}
} // namespace

int getProcessorType()
{
    if (processorType != 0)
        return processorType;

    int kind = 0;
    query ("hw.optional.altivec", 2, kind);
    query ("hw.optional.sse", 3, kind);
    query ("hw.optional.sse2", 4, kind);

    std::int64_t native = 0;
    size_t size = sizeof (native);
    if (clarivo::platform::querySystemValue ("sysctl.proc_native", &native, &size) == 0 && native == 0)
        kind = 2;

    if (kind == 0)
        kind = 1;

    processorType = kind;
    return kind;
}

void resetProcessorTypeForTesting()
{
    processorType = 0;
}

} // namespace quarn
