#include "ZNoiseReductionBay.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

using namespace quarn;
using namespace clarivo_test;

// Off and reduce run the hum, low-pass and rumble filters when they are
// switched on; noise only runs none of them, so that the listener hears
// exactly what reduction takes away.
TEST (ZNoiseReductionBayModes, FiltersRunInOffAndReduceButNeverInNoiseOnly)
{
    constexpr size_t length = 260 * 512;
    // 50 Hz on the first hum cut, 12 kHz above a 2 kHz low-pass, 20 Hz below
    // the 100 Hz rumble filter.
    const auto in = sine (length, 50.0, 0.1) + sine (length, 12000.0, 0.1) + sine (length, 20.0, 0.1);
    const char* const names[] = { "none", "hum", "low-pass", "rumble" };
    const double frequencies[] = { 0.0, 50.0, 12000.0, 20.0 };

    auto run = [&] (int mode, int filter)
    {
        ZNoiseReductionBay bay ("Noise Reduction", 1);
        bay.prepare();
        bay.setTrack (false);
        bay.setLowPassFrequency (2000.0f);
        // A profile far above the signal: reduce keeps it 15 dB down, noise
        // only gives the other part.
        std::fill_n (bay.getChannelProfile (0)->getData(), 513, 40.0f);
        bay.pushProfiles();
        bay.setMode (mode);
        bay.setHumMode (filter == 1 ? 0 : 2);
        bay.setPreserveVoice (filter == 2);
        bay.setRemoveRumble (filter == 3);
        return BayDriver<ZNoiseReductionBay> (bay).run (in);
    };

    for (int mode : { 0, 1, 2 })
    {
        const auto plain = run (mode, 0);
        EXPECT_GT (rms (plain, 44100, length), 0.01) << "mode " << mode;
        for (int filter = 1; filter < 4; ++filter)
        {
            const auto filtered = run (mode, filter);
            const double f = frequencies[filter];
            const double change = db (amplitudeAt (filtered, f, 44100, length) / amplitudeAt (plain, f, 44100, length));
            if (mode == 2)
                EXPECT_TRUE (filtered == plain) << names[filter] << " ran in noise-only mode, " << change << " dB";
            else
                EXPECT_LT (change, -10.0) << names[filter] << " did not run in mode " << mode;
        }
    }
}
