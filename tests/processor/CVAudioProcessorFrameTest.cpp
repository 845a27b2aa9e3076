#include <gtest/gtest.h>
#include "CVAudioProcessor.h"

#include <cmath>
#include <vector>

namespace
{
// Runs a signal through the processor in calls of `callLength` samples and
// returns channel 0 of what came out.
std::vector<float> runThrough (CVAudioProcessor& p, const std::vector<float>& in, int callLength, int numChannels = 2)
{
    std::vector<float> out;
    juce::AudioBuffer<float> buffer (numChannels, callLength);
    juce::MidiBuffer midi;

    for (size_t pos = 0; pos < in.size(); pos += (size_t) callLength)
    {
        const int n = (int) std::min<size_t> ((size_t) callLength, in.size() - pos);
        buffer.setSize (numChannels, n, false, false, true);
        for (int c = 0; c < numChannels; ++c)
            for (int i = 0; i < n; ++i)
                buffer.setSample (c, i, in[pos + (size_t) i] * (c == 0 ? 1.0f : -1.0f));
        p.processBlock (buffer, midi);
        for (int i = 0; i < n; ++i)
            out.push_back (buffer.getSample (0, i));
    }
    return out;
}

void setParameter (CVAudioProcessor& p, int index, float value)
{
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE
}

int stageLatency (CVAudioProcessor& p)
{
    return p.getDeclipper (0).getLatency() + p.getNoiseReductionBay().latency() + p.getEnhancementBay().latency()
         + p.getDeclickBay().latency() + p.getMaximizer (0).getLatency() + p.getExpander (0).getLatency();
}

struct StoppedPlayHead : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (false);
        return info;
    }
};

// The chain sees the same 512-sample blocks in the same order whatever the
// caller's block length, so its output, moved by the reported latency, must be
// the same to the bit.
void expectSameChainOutput (const std::vector<float>& reference, int referenceLatency,
                            const std::vector<float>& out, int latency, const char* what)
{
    const size_t n = std::min (reference.size() - (size_t) referenceLatency, out.size() - (size_t) latency);
    ASSERT_GT (n, 1000u) << what;
    for (size_t i = 0; i < n; ++i)
        ASSERT_EQ (out[i + (size_t) latency], reference[i + (size_t) referenceLatency]) << what << " at " << i;
}

std::vector<float> music (size_t n)
{
    std::vector<float> v (n);
    juce::Random random (17);
    for (size_t i = 0; i < n; ++i)
        v[i] = 0.3f * (float) std::sin (0.031 * (double) i) + 0.2f * (float) std::sin (0.0071 * (double) i)
             + 0.02f * (random.nextFloat() - 0.5f);
    return v;
}
} // namespace

TEST (CVAudioProcessorFrame, FirstShortCallGivesSilenceThenOneBlockIsProcessed)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    ASSERT_EQ (p.getLatencySamples(), 512 + stageLatency (p));

    juce::AudioBuffer<float> buffer (2, 300);
    juce::MidiBuffer midi;
    for (int i = 0; i < 300; ++i)
        buffer.setSample (0, i, 0.5f), buffer.setSample (1, i, 0.5f);

    p.processBlock (buffer, midi);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ (buffer.getSample (0, i), 0.0f);
}

TEST (CVAudioProcessorFrame, OutputDoesNotDependOnTheCallLength)
{
    const auto in = music (30000);
    CVAudioProcessor reference;
    reference.prepareToPlay (44100.0, 512);
    const auto expected = runThrough (reference, in, 512);
    const int referenceLatency = reference.getLatencySamples();

    // Before any prepareToPlay a caller may bring 4096 samples at once.
    {
        CVAudioProcessor p;
        EXPECT_EQ (p.getLatencySamples(), 4096 + stageLatency (p));
        expectSameChainOutput (expected, referenceLatency, runThrough (p, in, 4096), p.getLatencySamples(), "unprepared");
    }

    for (int block : { 64, 256, 300, 1000, 4096 })
    {
        CVAudioProcessor p;
        p.prepareToPlay (44100.0, block);
        EXPECT_EQ (p.getLatencySamples(), std::max (block, 512) + stageLatency (p));
        expectSameChainOutput (expected, referenceLatency, runThrough (p, in, block), p.getLatencySamples(), "prepared");
    }

    // Calls longer than the prepared block are taken in pieces, never overrunning a ring.
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    expectSameChainOutput (expected, referenceLatency, runThrough (p, in, 3000), p.getLatencySamples(), "long calls");

    // reset returns the rings and every stage to their start.
    p.reset();
    expectSameChainOutput (expected, referenceLatency, runThrough (p, in, 512), p.getLatencySamples(), "after reset");
}

TEST (CVAudioProcessorFrame, IdlePeriodFollowsTheBlockLength)
{
    CVAudioProcessor p;
    EXPECT_EQ (p.getIdlePeriod(), 0);
    p.prepareToPlay (44100.0, 256);
    EXPECT_EQ (p.getIdlePeriod(), 6);

    StoppedPlayHead head;
    p.setPlayHead (&head);
    juce::AudioBuffer<float> buffer (2, 256);
    buffer.clear();
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi);
    EXPECT_TRUE (p.isTimerRunning());
    EXPECT_EQ (p.getTimerInterval(), 13);
    p.setPlayHead (nullptr);
    p.processBlock (buffer, midi);
    EXPECT_FALSE (p.isTimerRunning());
}

TEST (CVAudioProcessorFrame, BypassPassesInputAndKeepsTheChainAligned)
{
    const auto in = music (20000);
    CVAudioProcessor reference;
    reference.prepareToPlay (44100.0, 512);
    const auto expected = runThrough (reference, in, 512);

    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    setParameter (p, 11, 1.0f);
    const std::vector<float> first (in.begin(), in.begin() + 8192);
    const auto bypassed = runThrough (p, first, 512);
    for (size_t i = 0; i < first.size(); ++i)
        ASSERT_EQ (bypassed[i], first[i]);
    EXPECT_EQ (p.getPeakMeter().level[0], juce::FloatVectorOperations::findMinAndMax (first.data(), (int) first.size()).getEnd());

    // Released, the output is the chain's, exactly where it would have been.
    setParameter (p, 11, 0.0f);
    const std::vector<float> rest (in.begin() + 8192, in.end());
    const auto out = runThrough (p, rest, 512);
    for (size_t i = 0; i < rest.size(); ++i)
        ASSERT_EQ (out[i], expected[i + 8192]) << "at " << i;
}

TEST (CVAudioProcessorFrame, OutputIsClampedAndNeverNaN)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    std::vector<float> in (8192);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = (i % 3 == 0) ? 3.0f : (i % 3 == 1 ? -2.5f : std::numeric_limits<float>::quiet_NaN());

    for (float x : runThrough (p, in, 512))
    {
        ASSERT_TRUE (std::isfinite (x));
        ASSERT_LE (std::abs (x), 1.0f);
    }
}

TEST (CVAudioProcessorFrame, MonoBufferAndExtraChannels)
{
    const auto in = music (12000);
    CVAudioProcessor stereo, mono;
    stereo.prepareToPlay (44100.0, 512);
    mono.prepareToPlay (44100.0, 512);
    EXPECT_EQ (runThrough (mono, in, 512, 1), runThrough (stereo, in, 512, 2));

    juce::AudioBuffer<float> wide (3, 512);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 512; ++i)
            wide.setSample (c, i, 0.25f);
    juce::MidiBuffer midi;
    stereo.processBlock (wide, midi);
    EXPECT_EQ (wide.getMagnitude (2, 0, 512), 0.0f);
}

TEST (CVAudioProcessorFrame, ZeroFrameCallProcessesNothing)
{
    const auto in = music (12000);
    CVAudioProcessor reference;
    reference.prepareToPlay (44100.0, 512);
    const auto expected = runThrough (reference, in, 512);

    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    for (int i = 0; i < 512; ++i)
        buffer.setSample (0, i, 0.5f), buffer.setSample (1, i, 0.5f);
    juce::MidiBuffer midi;

    p.processBlockWithLength (buffer, midi, 0);
    EXPECT_EQ (buffer.getSample (0, 0), 0.5f);  // untouched
    EXPECT_EQ (p.getPeakMeter().level[0], 0.0f);
    EXPECT_EQ (runThrough (p, in, 512), expected);  // nothing went into the rings

    // A length override processes only that many samples of a larger buffer.
    CVAudioProcessor q;
    q.prepareToPlay (44100.0, 512);
    juce::AudioBuffer<float> big (2, 512);
    big.clear();
    for (int i = 0; i < 512; ++i)
        big.setSample (0, i, 0.5f);
    q.processBlockWithLength (big, midi, 100);
    EXPECT_EQ (big.getSample (0, 99), 0.0f);
    EXPECT_EQ (big.getSample (0, 100), 0.5f);
}

TEST (CVAudioProcessorFrame, ActionMessagesReannounceParametersOnlyForMode)
{
    struct Counter : juce::ChangeListener, juce::AudioProcessorListener
    {
        int changes = 0;
        std::vector<int> parameters;
        void changeListenerCallback (juce::ChangeBroadcaster*) override { ++changes; }
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override { parameters.push_back (index); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    };

    CVAudioProcessor p;
    Counter counter;
    p.addChangeListener (&counter);
    p.addListener (&counter);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    counter.changes = 0;

    p.actionListenerCallback ("Noise Profile");
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (counter.changes, 1);
    EXPECT_TRUE (counter.parameters.empty());

    p.actionListenerCallback ("Mode");
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (counter.changes, 2);
    EXPECT_EQ (counter.parameters, (std::vector<int> { 2, 3, 7 }));

    p.removeListener (&counter);
    p.removeChangeListener (&counter);
}

TEST (CVAudioProcessorFrame, FixedAnswers)
{
    CVAudioProcessor p;
    EXPECT_EQ (p.getName(), "Clarivo+");
    EXPECT_EQ (p.getSampleRate(), 44100.0);
    EXPECT_EQ (p.getBlockSize(), 4096);
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getInputChannelName (0), "1");
    EXPECT_EQ (p.getProgramName (0), "Default");
}
