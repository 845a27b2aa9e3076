#include "ZEnhancementBay.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

// Every field of every band for the seven modes. Mode 6 moves only the
// mid/high crossover (0: unchanged), so its low/mid one stays where the
// previous mode left it: 500 Hz after mode 5, 250 Hz after mode 3.
TEST (ZEnhancementBayModes, EachModeSetsItsWholeRow)
{
    struct Band
    {
        bool bypass;
        float ratio, range, makeup, attack, release;
    };
    const struct
    {
        float crossover[2];
        Band band[3];
    } table[] = {
        { { 200, 6000 }, { { false, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 } } },
        { { 250, 6000 }, { { false, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 }, { true, 3, 0, 0, 0, 0 } } },
        { { 500, 6000 }, { { true, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 }, { false, 3, 9, 9, 5, 5 } } },
        { { 250, 6000 }, { { false, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { true, 1, 0, 0, 0, 0 } } },
        { { 500, 6000 }, { { true, 3, 9, 9, 5, 5 }, { false, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 } } },
        { { 500, 6000 }, { { true, 3, 9, 9, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { false, 3, 9, 9, 5, 5 } } },
        { { 0, 18000 }, { { false, 0.1f, 18, 0, 5, 5 }, { true, 1, 0, 0, 0, 0 }, { true, 3, 9, 9, 5, 5 } } },
    };

    ZEnhancementBay bay ("Enhance", 2);
    bay.prepare();
    BayDriver<ZEnhancementBay> driver (bay);
    float lowMid = 0.0f;
    for (int mode : { 0, 1, 2, 3, 4, 5, 6, 3, 6 })
    {
        // A mode switch may wait for the next block.
        bay.setMode (mode);
        driver.run (Signal (512, 0.0f));
        const auto& comp = *bay.getCompressor();
        const auto& row = table[mode];
        lowMid = row.crossover[0] != 0.0f ? row.crossover[0] : lowMid;
        EXPECT_EQ (comp.crossover[0], lowMid) << "mode " << mode;
        EXPECT_EQ (comp.crossover[1], row.crossover[1]) << "mode " << mode;
        for (int b = 0; b < 3; ++b)
        {
            SCOPED_TRACE (testing::Message() << "mode " << mode << ", band " << b);
            EXPECT_EQ (comp.bypass[b], row.band[b].bypass);
            EXPECT_EQ (comp.ratio[b], row.band[b].ratio);
            EXPECT_EQ (comp.range[b], row.band[b].range);
            EXPECT_EQ (comp.makeup[b], row.band[b].makeup);
            EXPECT_EQ (comp.attack[b], row.band[b].attack);
            EXPECT_EQ (comp.release[b], row.band[b].release);
        }
    }
}
