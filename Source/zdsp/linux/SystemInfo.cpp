#include "SystemInfo.h"

#include <cstdint>
#include <cstring>

namespace clarivo::platform
{

namespace
{
SystemValueQuery replacement = nullptr;

int writeValue (std::int64_t v, void* value, std::size_t* size)
{
    if (value == nullptr || size == nullptr || *size == 0)
        return -1;

    // Like the platform call, a narrower destination gets the low bytes.
    const auto n = *size < sizeof (v) ? *size : sizeof (v);
    std::memcpy (value, &v, n);
    *size = n;
    return 0;
}

int machineQuery (const char* name, void* value, std::size_t* size)
{
    if (name == nullptr)
        return -1;

#if defined(__x86_64__) || defined(__i386__)
    if (std::strcmp (name, "hw.optional.sse") == 0)
        return writeValue (__builtin_cpu_supports ("sse") ? 1 : 0, value, size);
    if (std::strcmp (name, "hw.optional.sse2") == 0)
        return writeValue (__builtin_cpu_supports ("sse2") ? 1 : 0, value, size);
#endif
    // We always run as a native process; there is no AltiVec on these machines,
    // so that name is unknown, as it is on any Intel system.
    if (std::strcmp (name, "sysctl.proc_native") == 0)
        return writeValue (1, value, size);

    return -1;
}
} // namespace

int querySystemValue (const char* name, void* value, std::size_t* size)
{
    return replacement != nullptr ? replacement (name, value, size)
                                  : machineQuery (name, value, size);
}

void setSystemValueQueryForTesting (SystemValueQuery query)
{
    replacement = query;
}

} // namespace clarivo::platform
