#pragma once

#include <cstddef>

namespace clarivo::platform
{

// Named system values about the processor, answered the way the DSP library's
// processor-kind probe expects: "hw.optional.altivec", "hw.optional.sse",
// "hw.optional.sse2" and "sysctl.proc_native". Returns 0 and writes the value
// (an integer of *size bytes) when the name is known here, -1 otherwise.
int querySystemValue (const char* name, void* value, std::size_t* size);

using SystemValueQuery = int (*) (const char* name, void* value, std::size_t* size);

// Replaces the answers (tests only); nullptr restores the machine's own.
void setSystemValueQueryForTesting (SystemValueQuery query);

} // namespace clarivo::platform
