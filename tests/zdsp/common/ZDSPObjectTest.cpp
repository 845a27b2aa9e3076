#include <gtest/gtest.h>

#include "ZDSPObject.h"
#include "ZFourierTransform.h"
#include "ZGain.h"
#include "SystemInfo.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

using namespace quarn;

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

class ProcessorProbe : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fakeValues.clear();
        fakeQueries = 0;
        clarivo::platform::setSystemValueQueryForTesting (fakeQuery);
        resetProcessorTypeForTesting();
    }

    void TearDown() override
    {
        clarivo::platform::setSystemValueQueryForTesting (nullptr);
        resetProcessorTypeForTesting();
    }
};

bool isAccelerated (ZGain* gain)
{
    return dynamic_cast<ZGainAccelerate*> (gain) != nullptr;
}
} // namespace

TEST (ZDSPObject, ObjectsCarryTheMostDerivedClassName)
{
    std::unique_ptr<ZGain> plain (ZGain::create (true));
    EXPECT_STREQ ("ZGain", plain->getName());

    ZGainAccelerate accelerated;
    EXPECT_STREQ ("ZGainAccelerate", accelerated.getName());

    std::unique_ptr<ZFourierTransform> fft (ZFourierTransform::create (10, 0, 1));
    EXPECT_STREQ ("ZFourierTransformAV", fft->getName());

    ZFourierTransform base;
    EXPECT_STREQ ("ZFourierTransform", base.getName());
}

TEST (ZDSPObject, SetNameTwiceKeepsOnlyTheSecondName)
{
    ZGain gain;
    gain.setName ("first name, rather long");
    gain.setName ("b");
    EXPECT_STREQ ("b", gain.getName());
}

#if defined(__x86_64__)
TEST (ZDSPObject, ThisMachineGetsTheVectorisedGain)
{
    resetProcessorTypeForTesting();
    EXPECT_EQ (4, getProcessorType());
    std::unique_ptr<ZGain> gain (ZGain::create (false));
    EXPECT_TRUE (isAccelerated (gain.get()));
    EXPECT_STREQ ("ZGainAccelerate", gain->getName());
}
#endif

TEST (ZDSPObject, ExceptionTextNamesFileAndLine)
{
    const qj_dsp_exception e ("Something failed", "Source/zdsp/common/Somewhere", 7);
    EXPECT_STREQ ("Something failed, at File: Source/zdsp/common/Somewhere, Line: 7", e.what());
    EXPECT_EQ (7, e.line);

    try
    {
        QJ_THROW ("m", "f", -12);
    }
    catch (const std::exception& caught)
    {
        EXPECT_STREQ ("m, at File: f, Line: -12", caught.what());
    }
}

TEST_F (ProcessorProbe, ProbesOnceAndCachesTheKind)
{
    fakeValues = { { "hw.optional.sse", 1 }, { "hw.optional.sse2", 1 }, { "sysctl.proc_native", 1 } };
    EXPECT_EQ (4, getProcessorType());
    EXPECT_EQ (4, fakeQueries);

    fakeValues.clear();
    EXPECT_EQ (4, getProcessorType());
    EXPECT_EQ (4, fakeQueries);
}

TEST_F (ProcessorProbe, SseWithoutSse2EndsAsAGenericProcessor)
{
    // The sse2 answer 0 overwrites the sse answer, leaving no kind: generic.
    fakeValues = { { "hw.optional.sse", 1 }, { "hw.optional.sse2", 0 } };
    EXPECT_EQ (1, getProcessorType());

    std::unique_ptr<ZGain> gain (ZGain::create (false));
    EXPECT_FALSE (isAccelerated (gain.get()));
    EXPECT_STREQ ("ZGain", gain->getName());
}

TEST_F (ProcessorProbe, NonNativeProcessGetsThePlainGain)
{
    fakeValues = { { "hw.optional.sse", 1 }, { "hw.optional.sse2", 1 }, { "sysctl.proc_native", 0 } };
    EXPECT_EQ (2, getProcessorType());

    std::unique_ptr<ZGain> gain (ZGain::create (false));
    EXPECT_FALSE (isAccelerated (gain.get()));

    // Every known kind still gets the one transform.
    std::unique_ptr<ZFourierTransform> fft (ZFourierTransform::create (4, 0, 1));
    EXPECT_STREQ ("ZFourierTransformAV", fft->getName());
}

TEST_F (ProcessorProbe, EachAnswerOverwritesTheEarlierOnes)
{
    fakeValues = { { "hw.optional.altivec", 1 } };
    EXPECT_EQ (2, getProcessorType());

    resetProcessorTypeForTesting();
    fakeValues = { { "hw.optional.altivec", 1 }, { "hw.optional.sse", 1 } };
    EXPECT_EQ (3, getProcessorType());
    std::unique_ptr<ZGain> sse (ZGain::create (false));
    EXPECT_TRUE (isAccelerated (sse.get()));

    resetProcessorTypeForTesting();
    fakeValues = { { "hw.optional.altivec", 0 } };
    EXPECT_EQ (1, getProcessorType());

    resetProcessorTypeForTesting();
    fakeValues.clear();
    EXPECT_EQ (1, getProcessorType());
}

TEST_F (ProcessorProbe, GenericGainSkipsTheProbe)
{
    std::unique_ptr<ZGain> gain (ZGain::create (true));
    EXPECT_FALSE (isAccelerated (gain.get()));
    EXPECT_EQ (0, fakeQueries);
}
