#include <gtest/gtest.h>
#include "TestSignals.h"

#include "ZDSPObject.h"
#include "ZFourierTransform.h"
#include "ZGainAccelerate.h"
#include "SystemInfo.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

using namespace quarn;
using clarivo_test::owned;

namespace
{
// A machine described by a table of system values; names not in the table are
// unknown, as on a system that lacks them.
std::map<std::string, std::int64_t> fakeValues;
int fakeQueries = 0;

int fakeQuery (const char* name, void* value, std::size_t* size)
{
    ++fakeQueries;
    const auto it = fakeValues.find (name);
    if (it == fakeValues.end())
        return -1;
    std::memcpy (value, &it->second, sizeof (std::int64_t));
    *size = sizeof (std::int64_t);
    return 0;
}

bool isAccelerated (ZGain* gain)
{
    return dynamic_cast<ZGainAccelerate*> (gain) != nullptr;
}
} // namespace

TEST (ZDSPObject, NamesExceptionTextAndAProbeAskedOnceWhoseLaterAnswersOverwriteTheEarlierOnesAndWhoseKindPicksTheGain)
{
    // The most derived class's whole name.
    EXPECT_STREQ ("ZGain", owned (ZGain::create (true))->getName());
    EXPECT_STREQ ("ZGainAccelerate", ZGainAccelerate().getName());
    EXPECT_STREQ ("ZFourierTransformAV", owned (ZFourierTransform::create (10, 0, 1))->getName());

    const qj_dsp_exception e ("Something failed", "Source/zdsp/common/Somewhere", 7);
    EXPECT_STREQ ("Something failed, at File: Source/zdsp/common/Somewhere, Line: 7", e.what());
    // The macro reports the line it stands on.
    const int throwLine = __LINE__ + 1;
    try { QJ_THROW ("m", "f"); }
    catch (const std::exception& caught) { EXPECT_EQ ("m, at File: f, Line: " + std::to_string (throwLine), caught.what()); }

#if defined(__x86_64__)
    // This machine, probed for real, gets the vectorised gain.
    resetProcessorTypeForTesting();
    EXPECT_EQ (4, getProcessorType());
    EXPECT_TRUE (isAccelerated (owned (ZGain::create (false)).get()));
#endif

    const struct { std::map<std::string, std::int64_t> values; int kind; } machines[] = {
        { { { "hw.optional.sse", 1 }, { "hw.optional.sse2", 1 }, { "sysctl.proc_native", 1 } }, 4 },
        // The sse2 answer 0 overwrites the sse answer, leaving no kind: generic.
        { { { "hw.optional.sse", 1 }, { "hw.optional.sse2", 0 } }, 1 },
        // Not native: kind 2, a plain gain.
        { { { "hw.optional.sse", 1 }, { "hw.optional.sse2", 1 }, { "sysctl.proc_native", 0 } }, 2 },
        { { { "hw.optional.altivec", 1 } }, 2 },
        { { { "hw.optional.altivec", 1 }, { "hw.optional.sse", 1 } }, 3 },
        { { { "hw.optional.altivec", 0 } }, 1 },
        { {}, 1 },
    };

    clarivo::platform::setSystemValueQueryForTesting (fakeQuery);
    for (const auto& machine : machines)
    {
        SCOPED_TRACE (machine.kind);
        resetProcessorTypeForTesting();
        fakeValues = machine.values;
        fakeQueries = 0;
        // The generic gain is asked for without probing.
        EXPECT_FALSE (isAccelerated (owned (ZGain::create (true)).get()));
        EXPECT_EQ (0, fakeQueries);
        EXPECT_EQ (machine.kind, getProcessorType());
        EXPECT_EQ (4, fakeQueries);
        EXPECT_EQ (machine.kind >= 3, isAccelerated (owned (ZGain::create (false)).get()));
        // Every known kind gets the one transform.
        EXPECT_STREQ ("ZFourierTransformAV", owned (ZFourierTransform::create (4, 0, 1))->getName());
        // The answer is kept: later queries would find nothing.
        fakeValues.clear();
        EXPECT_EQ (machine.kind, getProcessorType());
        EXPECT_EQ (4, fakeQueries);
    }
    clarivo::platform::setSystemValueQueryForTesting (nullptr);
    resetProcessorTypeForTesting();
}
