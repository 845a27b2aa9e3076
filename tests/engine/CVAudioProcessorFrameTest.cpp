#include <gtest/gtest.h>
#include "engine/ChainTestSignals.h"
#include "engine/SampleFifo.h"

using namespace chain_test;

namespace
{
struct StoppedPlayHead : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override { return PositionInfo {}; } // not playing
};

// Tones and hiss through a processor prepared for 512-sample calls, and its latency:
// the chain sees the same 512-sample blocks in the same order whatever the
// caller's block length, so every other way of calling must give this output,
// moved by the reported latency, to the bit.
const Signal& referenceInput() { static const Signal in = toneMixture (30000, 2.0) + whiteNoise (30000, 0.006f, 17); return in; }

const Signal& referenceOutput (int* latency = nullptr)
{
    static int referenceLatency = 0;
    static const Signal out = [] {
        PreparedProcessor reference;
        referenceLatency = reference.getLatencySamples();
        return runThrough (reference, referenceInput());
    }();
    if (latency != nullptr)
        *latency = referenceLatency;
    return out;
}

void expectSameChainOutput (const Signal& out, int latency, const char* what)
{
    int referenceLatency = 0;
    const auto& reference = referenceOutput (&referenceLatency);
    const size_t n = std::min (reference.size() - (size_t) referenceLatency, out.size() - (size_t) latency);
    ASSERT_GT (n, 1000u) << what;
    for (size_t i = 0; i < n; ++i)
        ASSERT_EQ (out[i + (size_t) latency], reference[i + (size_t) referenceLatency]) << what << " at " << i;
}
} // namespace

TEST (CVAudioProcessorFrame, LatencyIdleTimerFirstShortCallAndOutputIndependentOfTheCallLength)
{
    CVAudioProcessor p;
    EXPECT_EQ (p.getIdlePeriod(), 0);
    p.prepareToPlay (44100.0, 256);

    // Each stage's delay; the latency, max (block, 512) plus their sum, follows.
    EXPECT_EQ (p.getDeclipper (0).getLatency(), 1702);
    EXPECT_EQ (p.getDeclickBay().latency(), 4139);
    EXPECT_EQ (p.getNoiseReductionBay().latency(), 1536);
    EXPECT_EQ (p.getMaximizer (0).getLatency(), 512);
    EXPECT_EQ (p.getIdlePeriod(), 6);

    // A stopped play head makes the message thread's timer feed idle rows
    // every 2T + 1 ms, block size / 512 of them (the configured 4096: eight);
    // without one it feeds none.
    StoppedPlayHead head;
    p.setPlayHead (&head);
    juce::AudioBuffer<float> buffer (2, 300);
    juce::MidiBuffer midi;
    for (int c = 0; c < 2; ++c)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c), 0.5f, 300);
    p.processBlock (buffer, midi);
    EXPECT_FALSE (p.getLastPosition().getIsPlaying());

    auto& idleRows = p.feeds().idleRows;
    p.timerCallback();
    EXPECT_EQ (p.getTimerInterval(), 13);
    EXPECT_EQ (idleRows.load(), 8u);

    // The first call of 300 samples gives the prefill's silence.
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ (buffer.getSample (0, i), 0.0f);

    p.setPlayHead (nullptr);
    p.processBlock (buffer, midi);
    p.timerCallback();
    EXPECT_EQ (idleRows.load(), 8u);

    // The output does not depend on the call length.
    // Before any prepareToPlay a caller may bring 4096 samples at once.
    {
        CVAudioProcessor r;
        EXPECT_EQ (r.getLatencySamples(), 4096 + stageLatency (r));
        expectSameChainOutput (runThrough (r, referenceInput(), 4096), r.getLatencySamples(), "unprepared");
    }

    for (int block : { 64, 256, 300, 1000, 4096 })
    {
        PreparedProcessor r (44100.0, block);
        EXPECT_EQ (r.getLatencySamples(), std::max (block, 512) + stageLatency (r));
        expectSameChainOutput (runThrough (r, referenceInput(), block), r.getLatencySamples(), "prepared");
    }

    // Calls longer than the prepared block are taken in pieces, never
    // overrunning a ring; reset returns the rings and every stage to their start.
    PreparedProcessor r;
    expectSameChainOutput (runThrough (r, referenceInput(), 3000), r.getLatencySamples(), "long calls");
    r.reset();
    expectSameChainOutput (runThrough (r, referenceInput(), 512), r.getLatencySamples(), "after reset");
}

TEST (CVAudioProcessorFrame, WithEveryStageOffOrBypassedTheInputPassesAndChannelCountsAndFrameCountOverrideAreKept)
{
    // Every stage off: the chain's output is its input, once the "Enhance"
    // bay has crossfaded out of its start-up state (one block after the delay).
    const auto& in = referenceInput();
    int latency = 0;
    const auto& chain = referenceOutput (&latency);
    const size_t start = (size_t) latency + 1024;
    double error = 0.0;
    for (size_t i = start; i < in.size(); ++i)
        error = std::max (error, (double) std::abs (chain[i] - in[i - (size_t) latency]));
    EXPECT_LT (error, 1e-3);

    PreparedProcessor p;
    setParameter (p, 11, 1.0f);
    const Signal first (in.begin(), in.begin() + 8192);
    EXPECT_EQ (runThrough (p, first), first);
    EXPECT_EQ (p.getPeakMeter().level[0], peakOf (first)); // the meter follows the unprocessed buffer

    // Released, the output is the chain's, exactly where it would have been.
    setParameter (p, 11, 0.0f);
    EXPECT_EQ (runThrough (p, Signal (in.begin() + 8192, in.end())), Signal (chain.begin() + 8192, chain.end()));

    // A mono buffer runs the per-channel stages for channel 0 only and gives
    // what channel 0 of a stereo buffer gives.
    const Signal firstPart (referenceInput().begin(), referenceInput().begin() + 12000);
    PreparedProcessor stereo, mono;
    EXPECT_EQ (runThrough (mono, firstPart, 512, 1), runThrough (stereo, firstPart, 512, 2));

    // Extra output channels are cleared.
    juce::AudioBuffer<float> wide (3, 512);
    juce::MidiBuffer midi;
    for (int c = 0; c < 3; ++c)
        juce::FloatVectorOperations::fill (wide.getWritePointer (c), 0.25f, 512);
    stereo.processBlock (wide, midi);
    EXPECT_EQ (wide.getMagnitude (2, 0, 512), 0.0f);

    // A zero-frame call touches nothing and puts nothing into the rings.
    PreparedProcessor zero;
    juce::AudioBuffer<float> buffer (2, 512);
    for (int c = 0; c < 2; ++c)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c), 0.5f, 512);
    zero.processBlockWithLength (buffer, midi, 0);
    EXPECT_EQ (buffer.getSample (0, 0), 0.5f);
    EXPECT_EQ (zero.getPeakMeter().level[0], 0.0f);
    EXPECT_EQ (runThrough (zero, referenceInput()), referenceOutput());

    // An override processes only that many samples of a larger buffer.
    PreparedProcessor q;
    q.processBlockWithLength (buffer, midi, 100);
    EXPECT_EQ (buffer.getSample (0, 99), 0.0f);
    EXPECT_EQ (buffer.getSample (0, 100), 0.5f);

    // No channel at all, from the buffer or from the configuration, returns
    // at once with silence instead of waiting for a block that never comes.
    juce::AudioBuffer<float> none (0, 512);
    q.processBlock (none, midi);
    q.setPlayConfigDetails (0, 2, 44100.0, 512);
    q.processBlock (buffer, midi);
    EXPECT_EQ (buffer.getMagnitude (0, 512), 0.0f);
}

TEST (CVAudioProcessorFrame, ChangeMessagesAndParameterReannouncements)
{
    struct Counter : juce::ChangeListener, juce::AudioProcessorListener
    {
        int changes = 0;
        std::vector<int> parameters;
        void changeListenerCallback (juce::ChangeBroadcaster*) override { ++changes; }
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override { parameters.push_back (index); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    } counter;

    CVAudioProcessor p;
    p.addChangeListener (&counter);
    pumpMessages (30);
    counter.changes = 0;

    // The broadband limits change no display: no change message.
    setParameter (p, 15, 0.02f);
    setParameter (p, 16, 0.01f);
    pumpMessages (30);
    EXPECT_EQ (counter.changes, 0);
    setParameter (p, 0, 0.5f);
    pumpMessages (30);
    EXPECT_EQ (counter.changes, 1);

    // The bay's action messages: only "Mode" reannounces the parameters it moves.
    p.addListener (&counter);
    p.actionListenerCallback ("Noise Profile");
    pumpMessages();
    EXPECT_EQ (counter.changes, 2);
    EXPECT_TRUE (counter.parameters.empty());
    p.actionListenerCallback ("Mode");
    pumpMessages();
    EXPECT_EQ (counter.changes, 3);
    EXPECT_EQ (counter.parameters, (std::vector<int> { 2, 3, 7 }));

    p.removeListener (&counter);
    p.removeChangeListener (&counter);
}

// The rings between the caller's calls and the chain's blocks.
TEST (SampleFifo, PrefillWrapClampAndClear)
{
    SampleFifo f;
    f.init (8, 4);
    std::vector<float> out (8);

    // The reader first meets the prefill's zeros, then the first written sample.
    EXPECT_FALSE (f.read (5, false, out.data())); // only the prefill is held
    EXPECT_TRUE (f.read (0, false, out.data()));
    const float a[] = { 1, 2, 3, 4, 5, 6 };
    f.write (4, a);
    ASSERT_TRUE (f.read (8, false, out.data()));
    EXPECT_EQ (out, (std::vector<float> { 0, 0, 0, 0, 1, 2, 3, 4 }));

    // Later samples come out across the wrap.
    f.write (2, a + 4);
    ASSERT_TRUE (f.read (2, false, out.data()));
    EXPECT_EQ (out[0], 5.0f);
    EXPECT_EQ (out[1], 6.0f);
    EXPECT_EQ (f.getCount(), 0);

    // Clamping catches the range and NaN.
    const float loud[] = { 1.5f, -7.0f, std::numeric_limits<float>::quiet_NaN(), 0.25f };
    f.write (4, loud);
    ASSERT_TRUE (f.read (4, true, out.data()));
    EXPECT_EQ ((std::vector<float> (out.begin(), out.begin() + 4)), (std::vector<float> { 1.0f, -1.0f, 0.0f, 0.25f }));

    // clear keeps the indices unless told, then goes back to the prefill.
    f.write (2, a);
    f.clear (false);
    EXPECT_EQ (f.getCount(), 2);
    f.clear (true);
    EXPECT_EQ (f.getCount(), 4);
    ASSERT_TRUE (f.read (4, false, out.data()));
    EXPECT_EQ (out[3], 0.0f);
}
