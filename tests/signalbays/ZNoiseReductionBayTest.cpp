#include "ZNoiseReductionBay.h"
#include "TestSignals.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace quarn;
using namespace clarivo_test;

namespace
{
constexpr int kBlock = 512;

using Driver = BayDriver<ZNoiseReductionBay>;

// A stereo bay; given a rate, as the processor's prepareToPlay leaves it, with
// the controls as its resetToDefaults sets them (tracking off).
struct StereoBay : ZNoiseReductionBay
{
    explicit StereoBay (float rate = 0.0f) : ZNoiseReductionBay ("Noise Reduction", 2)
    {
        if (rate > 0.0f)
            prepareAt (rate);
    }

    void prepareAt (float rate)
    {
        prepare();
        setSampleRate (rate);
        setBlockSize (kBlock);
        setTrack (false);
    }
};

// Learns the noise of `noise` (whole blocks), as the document does: reset,
// start, the audio, stop, and the last two blocks, which end the pass.
void learn (ZNoiseReductionBay& bay, Driver& driver, const Signal& noise)
{
    const auto split = noise.end() - 2 * kBlock;
    bay.reset();
    bay.startLearning();
    driver.run (Signal (noise.begin(), split));
    bay.stopLearning();
    driver.run (Signal (split, noise.end()));
}

// Sum of the bay's 1024-point Hamming window, or of its squares.
double hammingSum (int power)
{
    double sum = 0.0;
    for (int i = 0; i < 1024; ++i)
        sum += std::pow (0.54 - 0.46 * std::cos (kTwoPi * i / 1023.0), power);
    return sum;
}
} // namespace

TEST (ZNoiseReductionBay, DelayIsTheReportedLatencyHalfOfItWhileLearningAndStopLearningSettlesTheProfileThenSwitchesToReduce)
{
    StereoBay bay;
    EXPECT_EQ (bay.latency(), 0); // not prepared: passes its input through
    const auto unprepared = whiteNoise (4 * kBlock, 0.1f, 1);
    EXPECT_EQ (Driver (bay).run (unprepared), unprepared);

    bay.prepareAt (44100.0f);

    // The first 1536 samples are silence; after that the input comes back.
    {
        const auto in = whiteNoise (20 * kBlock, 0.1f, 2);
        const auto out = Driver (bay).run (in);
        for (size_t i = 0; i < 1536; ++i)
            ASSERT_EQ (out[i], 0.0f) << i;
        for (size_t i = 1536 + 1024; i < out.size(); ++i)
            ASSERT_NEAR (out[i], in[i - 1536], 1e-4f) << i;
    }

    // A second prepare, the same block size again and a reset keep it; a new
    // block size keeps latency() and the delay equal.
    bay.prepareAt (48000.0f);
    for (int mode : { 0, 1, 2 })
    {
        bay.setMode (mode);
        const auto in = whiteNoise (24 * kBlock, 0.3f, 3);
        EXPECT_EQ (measuredDelay (in, Driver (bay).run (in), 4000), bay.latency()) << "mode " << mode;
        bay.reset();
    }

    bay.setMode (0);
    for (int blockSize : { 256, 1024, 300, 512 })
    {
        bay.setBlockSize (blockSize);
        const auto in = whiteNoise ((size_t) (blockSize * 40), 0.3f, 4);
        EXPECT_EQ (measuredDelay (in, Driver (bay, blockSize).run (in), 4000), bay.latency()) << "block " << blockSize;
    }
    EXPECT_EQ (bay.latency(), 1536);

    // Learning passes the input through with half the delay, whatever
    // filters that would change the sound are on.
    bay.setHumMode (1);
    bay.setRemoveRumble (true);
    bay.setPreserveVoice (true);
    bay.setLowPassFrequency (2000.0f);
    bay.reset();
    bay.startLearning();
    Driver d (bay);
    const auto in = whiteNoise (40 * kBlock, 0.01f, 5);
    const auto out = d.run (in);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ (out[i], i < 768 ? 0.0f : in[i - 768]) << i;
    // Nothing but learning frames: the display shows its floor everywhere.
    EXPECT_EQ (valuesOf (*bay.getSpectrum()), Signal (ZNoiseReductionBay::kNumBins, -120.0f));

    // Stopping a pass settles the profile, then switches to reduce.
    StereoBay learner (44100.0f);
    MessageLog log;
    learner.addActionListener (&log);
    pumpMessages();
    log.messages.clear();

    Driver learnDriver (learner);
    learner.reset();
    learner.startLearning();
    const float noiseRms = 0.01f;
    learnDriver.run (whiteNoise (88 * kBlock, noiseRms, 6));

    // The request alone changes nothing until a frame is learned.
    learner.stopLearning();
    pumpMessages();
    EXPECT_TRUE (log.messages.empty());
    EXPECT_EQ (learner.getMode(), 0);
    EXPECT_EQ (learner.isLearning(), 1);

    learnDriver.run (whiteNoise (2 * kBlock, noiseRms, 7));
    pumpMessages();
    EXPECT_EQ (log.messages, (std::vector<juce::String> { "Noise Profile", "Mode" }));
    EXPECT_EQ (learner.getMode(), 1);
    EXPECT_EQ (learner.isLearning(), 0);

    // White noise of variance s2 through a 1024-point Hamming window and the
    // 1/N-scaled transform has power s2 * sum(w^2) / N^2 in every bin.
    const double expected = 10.0 * std::log10 ((double) noiseRms * noiseRms * hammingSum (2) / (1024.0 * 1024.0));
    auto medianProfile = [&] (int c)
    {
        const auto& profile = *learner.getChannelProfile (c);
        std::vector<float> bins (profile.getData() + 10, profile.getData() + 500);
        std::nth_element (bins.begin(), bins.begin() + (long) bins.size() / 2, bins.end());
        return bins[bins.size() / 2];
    };
    for (int c = 0; c < 2; ++c)
        EXPECT_NEAR (medianProfile (c), expected, 1.5) << c;
    EXPECT_EQ (firstBad (*learner.getSpectrum()), -1);

    // The same end of a pass, reached from another thread, arrives once each,
    // in the same order, on the message thread, whether the pass was started
    // there (polled) or on the processing thread (posted); the channel
    // profiles then hold what was learned (noise 14 dB louder). No block
    // announces the spectrum.
    MessageLog display;
    learner.getSpectrum()->addActionListener (&display);
    for (bool startedHere : { true, false })
    {
        log.messages.clear();
        log.offThread = false;
        if (startedHere)
            learner.startLearning();
        std::thread audio ([&] {
            if (! startedHere)
                learner.startLearning();
            learnDriver.run (whiteNoise (16 * kBlock, 5.0f * noiseRms, 8));
            learner.stopLearning();
            learnDriver.run (whiteNoise (2 * kBlock, 5.0f * noiseRms, 9));
        });
        audio.join();
        for (int wait = 0; wait < 100 && log.messages.size() < 2; ++wait)
            pumpMessages (20);
        pumpMessages (30);
        EXPECT_EQ (log.messages, (std::vector<juce::String> { "Noise Profile", "Mode" })) << startedHere;
        EXPECT_FALSE (log.offThread);
        for (int c = 0; c < 2; ++c)
            EXPECT_NEAR (medianProfile (c), expected + db (5.0), 1.5) << c;
    }
    EXPECT_EQ (std::count (display.messages.begin(), display.messages.end(), "Spectrum Update"), 0);
    learner.getSpectrum()->removeActionListener (&display);

    // The channels stay in step across the end of the pass.
    learner.setMode (0);
    const auto stepIn = whiteNoise (20 * kBlock, 0.2f, 13);
    const auto stepOut = learnDriver.run (std::vector<Signal> { stepIn, stepIn });
    EXPECT_EQ (stepOut[0], stepOut[1]);
    EXPECT_EQ (measuredDelay (stepIn, stepOut[0], 4000), 1536);

    // A stop request made while no pass ran does not cut the next one short.
    learner.stopLearning();
    learner.startLearning();
    learnDriver.run (whiteNoise (8 * kBlock, noiseRms, 10));
    EXPECT_EQ (learner.isLearning(), 1);

    learner.removeActionListener (&log);
}

TEST (ZNoiseReductionBay, ReducesStationaryNoiseKeepsTheToneModesAddUpAndHumRumbleAndLowPassCutTheirBandsOnly)
{
    // Three bays (off, reduce, noise only) that learned the same -40 dBFS
    // white noise for two seconds; track, hum, rumble and low-pass off.
    const double rate = 44100.0;
    const float noiseRms = 0.01f;
    const auto noise = whiteNoise (172 * kBlock, noiseRms, 20);
    std::vector<std::unique_ptr<StereoBay>> bays;
    std::vector<std::unique_ptr<Driver>> drivers;
    for (int mode : { 0, 1, 2 })
    {
        bays.push_back (std::make_unique<StereoBay> ((float) rate));
        drivers.push_back (std::make_unique<Driver> (*bays.back()));
        learn (*bays.back(), *drivers.back(), noise);
        bays.back()->setMode (mode);
    }
    auto& d = *drivers[1];
    EXPECT_FLOAT_EQ (bays[1]->getReduction(), 15.0f);

    // Reduced by 15 dB: the noise drops by 10 dB or more.
    const size_t length = 344 * kBlock; // 4 s
    const size_t from = length / 4, to = length;
    EXPECT_LE (db (rms (d.run (whiteNoise (length, noiseRms, 21)), from, to) / noiseRms), -10.0);

    // A -12 dBFS tone over the same noise: the tone stays within 1 dB, the
    // noise around it still drops by 10 dB or more.
    const double toneFrequency = 1000.0;
    const float toneAmplitude = std::pow (10.0f, -12.0f / 20.0f);
    const auto out = d.run (sine (length, toneFrequency, toneAmplitude, rate) + whiteNoise (length, noiseRms, 22));
    const double toneOut = amplitudeAt (out, toneFrequency, from, to, rate);
    EXPECT_NEAR (db (toneOut / toneAmplitude), 0.0, 1.0);
    // What is left after taking the tone's power out is the remaining noise.
    const double residual = std::sqrt (std::pow (rms (out, from, to), 2.0) - toneOut * toneOut / 2.0);
    EXPECT_LE (db (residual / noiseRms), -10.0);

    // Reduce and noise only split what off passes, and each part carries something.
    const size_t splitLength = 60 * kBlock;
    const auto in = whiteNoise (splitLength, 2.0f * noiseRms, 31) + sine (splitLength, 440.0, 0.2f) + sine (splitLength, 6000.0, 0.01f);
    std::vector<Signal> outs;
    for (size_t mode = 0; mode < 3; ++mode)
    {
        bays[mode]->reset();
        outs.push_back (drivers[mode]->run (in));
    }
    double largestError = 0.0;
    for (size_t i = 0; i < splitLength; ++i)
        largestError = std::max (largestError, (double) std::abs (outs[1][i] + outs[2][i] - outs[0][i]));
    EXPECT_LT (largestError, 1e-5);
    EXPECT_GT (rms (outs[2], 4096, splitLength), 0.005);

    // The hum, rumble and low-pass filters cut their bands only.
    StereoBay cuts (44100.0f);
    Driver filterDriver (cuts);
    const size_t filterLength = 260 * kBlock; // 3 s
    Signal tones (filterLength, 0.0f);
    for (double f : { 30.0, 60.0, 120.0, 180.0, 240.0, 1000.0, 12000.0 })
        tones = tones + sine (filterLength, f, 0.1);

    // Each step's settings, then bounds on the change in dB at some of the
    // tones, measured over whole seconds from the second second on.
    const double cut = -1000.0;
    struct Bound { double frequency, low, high; };
    const struct { std::function<void()> set; std::vector<Bound> bounds; } steps[] = {
        // 60 Hz hum, three harmonics: the skirts of the three deep cuts take
        // about 0.65 dB off 240 Hz.
        { [&] { cuts.setNumHumHarmonics (3); cuts.setHumMode (1); }, { { 60, cut, -40 }, { 120, cut, -40 }, { 180, cut, -40 }, { 240, -1, 1 } } },
        { [&] { cuts.setNumHumHarmonics (5); }, { { 240, cut, -40 } } },
        // Off keeps the filters but stops using them.
        { [&] { cuts.setHumMode (2); }, { { 60, -0.1, 0.1 } } },
        // As the processor's reset leaves them: 0 Hz is stored but ignored by
        // the filters, which keep 100 Hz and 8000 Hz.
        { [&] { cuts.setRumbleFrequency (0.0f); cuts.setLowPassFrequency (0.0f); cuts.setRemoveRumble (true); },
          { { 30, cut, -15 }, { 1000, -0.2, 0.2 }, { 12000, -0.2, 0.2 } } },
        { [&] { cuts.setRemoveRumble (false); cuts.setPreserveVoice (true); }, { { 30, -0.2, 0.2 }, { 1000, -0.2, 0.2 }, { 12000, cut, -6 } } },
        { [&] { cuts.setLowPassFrequency (3000.0f); }, { { 12000, cut, -20 } } },
    };
    for (size_t step = 0; step < std::size (steps); ++step)
    {
        steps[step].set();
        cuts.reset();
        const auto cutOut = filterDriver.run (tones);
        for (const auto& b : steps[step].bounds)
        {
            const double change = db (amplitudeAt (cutOut, b.frequency, 44100, 3 * 44100) / 0.1);
            EXPECT_TRUE (change >= b.low && change <= b.high) << "step " << step << ", " << b.frequency << " Hz: " << change << " dB";
        }
    }

    // There are 14 hum filters per channel.
    cuts.setNumHumHarmonics (99);
    EXPECT_EQ (cuts.getNumHumHarmonics(), 14);
    cuts.setNumHumHarmonics (-3);
    EXPECT_EQ (cuts.getNumHumHarmonics(), 0);
    cuts.setNumHumHarmonics (14);
    cuts.setHumMode (0);
    EXPECT_NO_THROW (filterDriver.run (tones));
}

TEST (ZNoiseReductionBay, BroadbandLimitsProfilesAndDisplayBadChannelCountsAndModesAndBrokenInputAtExtremeRates)
{
    // At 48 kHz the bay's own limits (22050 Hz / 0 Hz) hold before anything
    // sets them: content above 22050 Hz is left alone.
    const double rate = 48000.0;
    StereoBay bay ((float) rate);
    EXPECT_EQ (bay.getCompressor (0)->getUpperLimit(), 22050.0f);
    EXPECT_EQ (bay.getCompressor (1)->getLowerLimit(), 0.0f);

    bay.setMode (1); // against the cleared profile of -48 dB
    Driver d (bay);
    const size_t length = 200 * kBlock;
    const float level = 0.001f;
    const auto out = d.run (sine (length, 23000.0, level, rate) + sine (length, 10000.0, level, rate));
    const size_t from = 48000, to = 48000 * 2;
    EXPECT_NEAR (db (amplitudeAt (out, 23000.0, from, to, rate) / level), 0.0, 1.0);
    EXPECT_LT (db (amplitudeAt (out, 10000.0, from, to, rate) / level), -10.0);

    // Profiles and their display.
    StereoBay nr (44100.0f);
    MessageLog log;
    nr.addActionListener (&log);

    nr.clearNoiseProfile();
    const double windowSum = hammingSum (1);
    const double shown = -48.0 + 20.0 * std::log10 (2048.0 / windowSum) + 3.0;
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ ((*nr.getChannelProfile (c))[100], -48.0f);
    for (unsigned i = 0; i < ZNoiseReductionBay::kNumBins; ++i)
        ASSERT_NEAR ((*nr.getNoiseProfile())[i], shown, 1e-3) << i;
    EXPECT_EQ (nr.getChannelProfile (2), nullptr);

    nr.setThreshold (-5.0f);
    EXPECT_NEAR ((*nr.getNoiseProfile())[0], shown - 8.0, 1e-3);

    // A profile restored from outside reaches the compressors through
    // pushProfiles, at the next block; the display shows it at once.
    std::fill_n (nr.getChannelProfile (0)->getData(), ZNoiseReductionBay::kNumBins, -70.0f);
    std::fill_n (nr.getChannelProfile (1)->getData(), ZNoiseReductionBay::kNumBins, -80.0f);
    nr.pushProfiles();
    EXPECT_NEAR ((*nr.getNoiseProfile())[7], -75.0 + 20.0 * std::log10 (2048.0 / windowSum) - 5.0, 1e-3);
    EXPECT_EQ (nr.getCompressor (1)->getThresholds()[7], -48.0f);
    Driver driver (nr);
    driver.run (whiteNoise (kBlock, 0.1f, 49));
    EXPECT_EQ (nr.getCompressor (0)->getThresholds()[7], -70.0f);
    EXPECT_EQ (nr.getCompressor (1)->getThresholds()[7], -80.0f);

    // An export's render prepares the chain on a thread of its own: the
    // display's profile, which the noise display reads, is drawn again on
    // the message thread, not under the display's feet.
    std::fill_n (nr.getChannelProfile (0)->getData(), ZNoiseReductionBay::kNumBins, -90.0f);
    std::fill_n (nr.getChannelProfile (1)->getData(), ZNoiseReductionBay::kNumBins, -90.0f);
    std::thread render ([&] { nr.prepare (44100.0, kBlock); });
    render.join();
    EXPECT_NEAR ((*nr.getNoiseProfile())[7], -75.0 + 20.0 * std::log10 (2048.0 / windowSum) - 5.0, 1e-3);
    pumpMessages();
    EXPECT_NEAR ((*nr.getNoiseProfile())[7], -90.0 + 20.0 * std::log10 (2048.0 / windowSum) - 5.0, 1e-3);
    // The display is drawn again (a threshold moved) while a render prepares.
    std::thread again ([&] { for (int i = 0; i < 8; ++i) nr.prepare (44100.0, kBlock); });
    for (int i = 0; i < 8; ++i)
        nr.setThreshold (-5.0f);
    again.join();
    pumpMessages();
    EXPECT_NEAR ((*nr.getNoiseProfile())[7], -90.0 + 20.0 * std::log10 (2048.0 / windowSum) - 5.0, 1e-3);

    // setDefaults puts the settings back and clears the profiles.
    nr.setReduction (25.0f);
    nr.setRemoveRumble (true);
    nr.setDefaults();
    EXPECT_EQ (nr.getThreshold(), 3.0f);
    EXPECT_EQ (nr.getReduction(), 15.0f);
    EXPECT_FALSE (nr.getRemoveRumble());
    EXPECT_EQ ((*nr.getChannelProfile (1))[7], -48.0f);

    driver.run (whiteNoise (3 * kBlock, 0.1f, 50));
    pumpMessages();
    EXPECT_EQ (std::count (log.messages.begin(), log.messages.end(), "Noise Profile"), 3);
    nr.removeActionListener (&log);

    expectDspFailure ([] { ZNoiseReductionBay bay ("Noise Reduction", 9); },
                      "Noise Reduction does not support that many channels.", "signalbays/common/ZNoiseReductionBay");
    EXPECT_THROW (ZNoiseReductionBay ("Noise Reduction", 0), qj_dsp_exception);
    EXPECT_TRUE (ZNoiseReductionBay ("Noise Reduction", 8).prepare());

    for (float rate : { 8000.0f, 44100.0f, 192000.0f })
    {
        StereoBay bay (rate);
        EXPECT_EQ (bay.latency(), 1536);
        bay.setHumMode (0);
        bay.setNumHumHarmonics (14);
        bay.setRemoveRumble (true);
        bay.setPreserveVoice (true);
        bay.setLowPassFrequency (18000.0f); // above half of 8 kHz
        bay.setTrack (true);
        Driver d (bay);
        learn (bay, d, whiteNoise (40 * kBlock, 0.01f, 60));

        // A mode outside 0..2 is refused where it is set and never reaches processing.
        bay.setMode (2);
        for (int mode : { 3, -1, 1000 })
            expectDspFailure ([&] { bay.setMode (mode); }, "Unsupported Noise Reduction Mode", "signalbays/common/ZNoiseReductionBay");
        EXPECT_EQ (bay.getMode(), 2);

        for (int mode : { 2, 0, 1 })
        {
            if (mode != 2) // 2 is still the one set before the refusals
                bay.setMode (mode);
            auto broken = whiteNoise (8 * kBlock, 0.1f, 61);
            broken[100] = std::numeric_limits<float>::quiet_NaN();
            broken[700] = std::numeric_limits<float>::infinity();
            broken[1500] = -std::numeric_limits<float>::infinity();
            broken[2000] = 1e30f;
            EXPECT_EQ (firstBad (d.run (broken)), -1) << rate << " mode " << mode;

            // The huge sample rings out of the hum cuts like any loud click
            // would; after that the sound is back to normal.
            const size_t second = (size_t) rate / kBlock * kBlock;
            EXPECT_EQ (firstBad (d.run (whiteNoise (second, 0.1f, 62))), -1) << rate << " mode " << mode;
            const auto out = d.run (whiteNoise (16 * kBlock, 0.1f, 63));
            EXPECT_LT (rms (out, 0, out.size()), 0.2) << rate << " mode " << mode;
        }
        EXPECT_EQ (firstBad (*bay.getSpectrum()), -1) << rate;
    }
}

// Off and reduce run the hum, low-pass and rumble filters when they are
// switched on; noise only runs none of them, so that the listener hears
// exactly what reduction takes away.
TEST (ZNoiseReductionBayModes, FiltersRunInOffAndReduceButNeverInNoiseOnly)
{
    constexpr size_t length = 260 * 512;
    // 50 Hz on the first hum cut, 12 kHz above a 2 kHz low-pass, 20 Hz below
    // the 100 Hz rumble filter.
    const auto in = sine (length, 50.0, 0.1) + sine (length, 12000.0, 0.1) + sine (length, 20.0, 0.1);
    const std::pair<const char*, double> filters[] = { { "none", 0.0 }, { "hum", 50.0 }, { "low-pass", 12000.0 }, { "rumble", 20.0 } };

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
            const auto cuts = run (mode, filter);
            const auto [name, f] = filters[filter];
            const double change = db (amplitudeAt (cuts, f, 44100, length) / amplitudeAt (plain, f, 44100, length));
            if (mode == 2)
                EXPECT_TRUE (cuts == plain) << name << " ran in noise-only mode, " << change << " dB";
            else
                EXPECT_LT (change, -10.0) << name << " did not run in mode " << mode;
        }
    }
}
