#include <gtest/gtest.h>
#include "CVAudioProcessor.h"

#include <cmath>
#include <random>
#include <vector>

// The processor reports its delay to the player, which delays the picture by
// it; with the "Noise Reduction" bay in the chain the two must agree at every
// moment, also when the player prepares the processor again without a reset.
namespace
{
std::vector<float> noise (size_t n, unsigned seed)
{
    std::mt19937 rng (seed);
    std::normal_distribution<float> dist (0.0f, 0.2f);
    std::vector<float> v (n);
    for (auto& x : v)
        x = dist (rng);
    return v;
}

std::vector<float> runThrough (CVAudioProcessor& p, const std::vector<float>& in, int callLength)
{
    std::vector<float> out;
    juce::AudioBuffer<float> buffer (2, callLength);
    juce::MidiBuffer midi;
    for (size_t pos = 0; pos + (size_t) callLength <= in.size(); pos += (size_t) callLength)
    {
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, in.data() + pos, callLength);
        p.processBlock (buffer, midi);
        out.insert (out.end(), buffer.getReadPointer (0), buffer.getReadPointer (0) + callLength);
    }
    return out;
}

// The lag of the cross-correlation's peak.
int measuredDelay (const std::vector<float>& in, const std::vector<float>& out, int maxLag)
{
    int best = 0;
    double bestValue = -1.0;
    for (int lag = 0; lag <= maxLag; ++lag)
    {
        double sum = 0.0;
        for (size_t i = (size_t) lag; i < out.size(); ++i)
            sum += (double) out[i] * in[i - (size_t) lag];
        if (sum > bestValue)
            bestValue = sum, best = lag;
    }
    return best;
}

int delayOf (CVAudioProcessor& p, int callLength, unsigned seed)
{
    const auto in = noise (48 * 1024, seed);
    return measuredDelay (in, runThrough (p, in, callLength), 20000);
}
} // namespace

TEST (NoiseReductionLatency, ReportedLatencyIsTheRealDelayAtEveryStage)
{
    CVAudioProcessor p;
    ASSERT_EQ (p.getNoiseReductionBay().latency(), 1536);
    EXPECT_EQ (delayOf (p, 4096, 1), p.getLatencySamples()) << "after construction";

    // The player prepares without a reset, more than once.
    p.prepareToPlay (44100.0, 512);
    EXPECT_EQ (delayOf (p, 512, 2), p.getLatencySamples()) << "after prepareToPlay";
    p.prepareToPlay (48000.0, 1024);
    EXPECT_EQ (delayOf (p, 1024, 3), p.getLatencySamples()) << "after a second prepareToPlay";

    p.reset();
    EXPECT_EQ (delayOf (p, 1024, 4), p.getLatencySamples()) << "after reset";
}

TEST (NoiseReductionLatency, LearningFromTheDocumentLeavesTheDelayAsReported)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    auto& bay = p.getNoiseReductionBay();

    // As the document learns: reset the bay, start, two blocks, stop, one
    // more block, reset the processor.
    const auto learnAudio = noise (3 * 512, 5);
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    bay.reset();
    bay.startLearning();
    for (int block = 0; block < 3; ++block)
    {
        if (block == 2)
            bay.stopLearning();
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, learnAudio.data() + block * 512, 512);
        p.processBlockWithLength (buffer, midi, 512);
    }
    EXPECT_EQ (bay.isLearning(), 0);
    EXPECT_EQ (bay.getMode(), 1);
    p.reset();

    EXPECT_EQ (delayOf (p, 512, 6), p.getLatencySamples());
}
