#include <gtest/gtest.h>
#include "CVAudioProcessor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

// The declipper, "Declick", expander and boost inside the processor's chain.
namespace
{
std::vector<float> runThrough (CVAudioProcessor& p, const std::vector<float>& in, int callLength = 512)
{
    std::vector<float> out;
    juce::AudioBuffer<float> buffer (2, callLength);
    juce::MidiBuffer midi;
    for (size_t pos = 0; pos + (size_t) callLength <= in.size(); pos += (size_t) callLength)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < callLength; ++i)
                buffer.setSample (c, i, in[pos + (size_t) i]);
        p.processBlock (buffer, midi);
        for (int i = 0; i < callLength; ++i)
            out.push_back (buffer.getSample (0, i));
    }
    return out;
}

std::vector<float> clippedSine (size_t n, double rate, double freq, double peak, float clipAt)
{
    std::vector<float> v (n);
    for (size_t i = 0; i < n; ++i)
        v[i] = std::clamp ((float) (peak * std::sin (2.0 * M_PI * freq * (double) i / rate)), -clipAt, clipAt);
    return v;
}

void enableRestoration (CVAudioProcessor& p)
{
    p.getDeclickBay().setAmount (1.0f);
    for (int c = 0; c < 2; ++c)
    {
        p.getDeclipper (c).enabled = true;
        p.getExpander (c).setRatioBelow (4.0f);
        p.getExpander (c).enabled = true;
        p.getMaximizer (c).setThreshold (-20.0f);
        p.getMaximizer (c).enabled = true;
    }
}
} // namespace

TEST (CVAudioProcessorRestoration, LatencyCountsEveryStage)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    EXPECT_EQ (p.getDeclipper (0).getLatency(), 1702);
    EXPECT_EQ (p.getDeclickBay().latency(), 4139);
    EXPECT_EQ (p.getMaximizer (0).getLatency(), 512);
    EXPECT_EQ (p.getExpander (0).getLatency(), 0);
    EXPECT_EQ (p.getLatencySamples(), 512 + 1702 + 4139 + 512 + p.getNoiseReductionBay().latency()
                                          + p.getEnhancementBay().latency());
}

TEST (CVAudioProcessorRestoration, DeclipperRedrawsClippedPeaksInTheChain)
{
    const std::vector<float> clean = clippedSine (120 * 512, 44100.0, 200.0, 0.8, 1.0f);
    const std::vector<float> clipped = clippedSine (120 * 512, 44100.0, 200.0, 0.8, 0.48f);

    auto clippedError = [&] (bool declip)
    {
        CVAudioProcessor p;
        p.prepareToPlay (44100.0, 512);
        for (int c = 0; c < 2; ++c)
            p.getDeclipper (c).enabled = declip;
        const std::vector<float> out = runThrough (p, clipped);
        const auto delay = (size_t) p.getLatencySamples();
        double error = 0.0;
        for (size_t i = 22050; i + delay < out.size(); ++i)
            if (std::abs (clean[i]) > 0.48f)
                error += std::pow (out[i + delay] - clean[i], 2.0);
        return error;
    };

    EXPECT_GE (10.0 * std::log10 (clippedError (false) / clippedError (true)), 10.0);
}

TEST (CVAudioProcessorRestoration, HostileInputAtUnusualRatesStaysFinite)
{
    for (double rate : { 8000.0, 44100.0, 192000.0 })
    {
        CVAudioProcessor p;
        p.prepareToPlay (rate, 512);
        enableRestoration (p);
        p.getExpander (0).setThresholdLinear (0.0f); // parameter 18 at 1.0
        p.getExpander (1).setThresholdLinear (0.0f);

        std::vector<float> in = clippedSine (80 * 512, rate, 50.0, 1.5, 0.3f);
        std::fill (in.begin() + 10000, in.begin() + 30000, 0.0f); // digital silence
        in[5000] = std::numeric_limits<float>::quiet_NaN();
        in[5001] = std::numeric_limits<float>::infinity();
        in[7000] += 0.9f;
        const std::vector<float> out = runThrough (p, in);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_TRUE (std::isfinite (out[i]) && std::abs (out[i]) <= 1.0f) << rate << " Hz, sample " << i;
        EXPECT_TRUE (std::isfinite (p.getExpanderMeter().level[0])) << rate;
    }
}
