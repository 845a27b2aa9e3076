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

std::vector<float> ramp (size_t n)
{
    std::vector<float> v (n);
    for (size_t i = 0; i < n; ++i)
        v[i] = 0.001f * (float) ((i % 997) + 1);
    return v;
}

// With every stage at its defaults the chain passes audio through, up to the
// rounding of its transforms; neighbouring ramp samples differ by 1e-3, so a
// delay off by one sample cannot pass.
void expectDelayedBy (const std::vector<float>& in, const std::vector<float>& out, int delay)
{
    ASSERT_EQ (in.size(), out.size());
    for (size_t i = 0; i < out.size(); ++i)
    {
        const float expected = i < (size_t) delay ? 0.0f : in[i - (size_t) delay];
        ASSERT_NEAR (out[i], expected, 1e-4f) << "at sample " << i << " for delay " << delay;
    }
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
} // namespace

TEST (CVAudioProcessorFrame, FirstShortCallGivesSilenceThenOneBlockIsProcessed)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    const int latency = p.getLatencySamples();
    ASSERT_EQ (latency, 512 + stageLatency (p));

    juce::AudioBuffer<float> buffer (2, 300);
    juce::MidiBuffer midi;
    for (int i = 0; i < 300; ++i)
        buffer.setSample (0, i, 0.5f), buffer.setSample (1, i, 0.5f);

    p.processBlock (buffer, midi);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ (buffer.getSample (0, i), 0.0f);

    // The rings hand out exactly the prefill before the first processed block.
    const auto in = ramp (4000);
    CVAudioProcessor q;
    q.prepareToPlay (44100.0, 512);
    expectDelayedBy (in, runThrough (q, in, 300), q.getLatencySamples());
}

TEST (CVAudioProcessorFrame, DelayMatchesReportedLatencyForEveryCallLength)
{
    const auto in = ramp (20000);

    // Before any prepareToPlay a caller may bring 4096 samples at once.
    {
        CVAudioProcessor p;
        EXPECT_EQ (p.getLatencySamples(), 4096 + stageLatency (p));
        expectDelayedBy (in, runThrough (p, in, 4096), p.getLatencySamples());
    }

    for (int block : { 64, 256, 512, 1000, 4096 })
    {
        CVAudioProcessor p;
        p.prepareToPlay (44100.0, block);
        EXPECT_EQ (p.getLatencySamples(), std::max (block, 512) + stageLatency (p));
        expectDelayedBy (in, runThrough (p, in, block), p.getLatencySamples());
    }

    // Calls longer than the prepared block are taken in pieces, never overrunning a ring.
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    expectDelayedBy (in, runThrough (p, in, 3000), p.getLatencySamples());
}

TEST (CVAudioProcessorFrame, ResetRestoresTheStartingDelay)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 256);
    runThrough (p, ramp (1000), 256);
    p.reset();
    const auto in = ramp (5000);
    expectDelayedBy (in, runThrough (p, in, 256), p.getLatencySamples());
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

TEST (CVAudioProcessorFrame, BypassPassesInputAndKeepsTheDelayAligned)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    setParameter (p, 11, 1.0f);

    const auto in = ramp (3000);
    const auto out = runThrough (p, in, 512);
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ (out[i], in[i]);
    EXPECT_NEAR (p.getPeakMeter().level[0], 0.997f, 1e-6f);

    // Released, the output carries on exactly one latency behind the input.
    setParameter (p, 11, 0.0f);
    const auto later = ramp (6000);
    const auto out2 = runThrough (p, later, 512);
    const int d = p.getLatencySamples();
    for (size_t i = (size_t) d; i < later.size(); ++i)
        ASSERT_NEAR (out2[i], later[i - (size_t) d], 1e-4f);
}

TEST (CVAudioProcessorFrame, OutputIsClampedAndNeverNaN)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    std::vector<float> in (4096);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = (i % 3 == 0) ? 3.0f : (i % 3 == 1 ? -2.5f : std::numeric_limits<float>::quiet_NaN());

    const auto out = runThrough (p, in, 512);
    for (float x : out)
    {
        ASSERT_TRUE (std::isfinite (x));
        ASSERT_LE (std::abs (x), 1.0f);
    }
    EXPECT_EQ (out[(size_t) p.getLatencySamples()], 1.0f);
}

TEST (CVAudioProcessorFrame, MonoBufferAndExtraChannels)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    const auto in = ramp (3000);
    expectDelayedBy (in, runThrough (p, in, 512, 1), p.getLatencySamples());

    juce::AudioBuffer<float> wide (3, 512);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 512; ++i)
            wide.setSample (c, i, 0.25f);
    juce::MidiBuffer midi;
    p.processBlock (wide, midi);
    EXPECT_EQ (wide.getMagnitude (2, 0, 512), 0.0f);
}

TEST (CVAudioProcessorFrame, ZeroFrameCallProcessesNothing)
{
    CVAudioProcessor p;
    p.prepareToPlay (44100.0, 512);
    juce::AudioBuffer<float> buffer (2, 512);
    for (int i = 0; i < 512; ++i)
        buffer.setSample (0, i, 0.5f), buffer.setSample (1, i, 0.5f);
    juce::MidiBuffer midi;

    p.processBlockWithLength (buffer, midi, 0);
    EXPECT_EQ (buffer.getSample (0, 0), 0.5f);  // untouched
    EXPECT_EQ (p.getPeakMeter().level[0], 0.0f);

    // Nothing went into the rings either: the delay is still exact.
    const auto in = ramp (3000);
    expectDelayedBy (in, runThrough (p, in, 512), p.getLatencySamples());

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
