#include <gtest/gtest.h>
#include "AllocationCounter.h"
#include "engine/CVAudioProcessor.h"
#include "app/editor/CVUIEditor.h"
#include "app/editor/WashWindowComponent.h"
#include "ZFourierTransform.h"
#include "ZGain.h"

#include <algorithm>
#include <thread>

using clarivo_test::countRealtimeFaults;

namespace
{
// `calls` calls of the processor on fresh test signal, clipped hard with a
// click now and then so that the declipper and Declick have work.
struct Player
{
    CVAudioProcessor& p;
    juce::AudioBuffer<float> buffer;
    juce::Random random { 7 };
    double phase = 0.0;
    juce::MidiBuffer midi;
    int call = 0;

    Player (CVAudioProcessor& processor, int block) : p (processor), buffer (2, block) {}

    void run (int calls)
    {
        for (int i = 0; i < calls; ++i, ++call)
        {
            for (int k = 0; k < buffer.getNumSamples(); ++k, phase += juce::MathConstants<double>::twoPi * 440.0 / 44100.0)
                for (int c = 0; c < 2; ++c)
                    buffer.setSample (c, k, std::clamp (0.5f * (float) std::sin (phase) + 0.05f * (random.nextFloat() - 0.5f), -0.2f, 0.2f));
            for (int c = 0; c < 2; ++c)
                if (call % 3 == 0)
                    buffer.getWritePointer (c)[buffer.getNumSamples() / 2] += 0.9f;
            p.processBlock (buffer, midi);
        }
    }
};

struct SwitchablePlayHead : juce::AudioPlayHead
{
    std::atomic<bool> playing { true };
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (playing.load());
        return info;
    }
};

// Everything a window will hang on the processor: change and action
// listeners, and the level meters' reader, read and reset at 60 Hz.
struct Listeners : juce::ActionListener, juce::ChangeListener, juce::Timer
{
    CVAudioProcessor& p;
    int spectrumUpdates = 0, modes = 0, profiles = 0, changes = 0;
    float peakSeen = 0.0f;

    explicit Listeners (CVAudioProcessor& processor) : p (processor)
    {
        p.addChangeListener (this);
        p.getNoiseReductionBay().addActionListener (this);
        p.getNoiseReductionBay().getSpectrum()->addActionListener (this);
        startTimer (16);
    }

    ~Listeners() override
    {
        p.removeChangeListener (this);
        p.getNoiseReductionBay().removeActionListener (this);
        p.getNoiseReductionBay().getSpectrum()->removeActionListener (this);
    }

    void actionListenerCallback (const juce::String& message) override
    {
        spectrumUpdates += message == "Spectrum Update";
        modes += message == "Mode";
        profiles += message == "Noise Profile";
    }

    void changeListenerCallback (juce::ChangeBroadcaster*) override { ++changes; }

    void timerCallback() override
    {
        for (auto* meter : { &p.getPeakMeter(), &p.getExpanderMeter() })
            for (int c = 0; c < meter->numChannels; ++c)
                peakSeen = std::max (peakSeen, meter->level[c].exchange (0.0f));
    }
};
} // namespace

TEST (Realtime, AudioThreadNeitherAllocatesNorLocksWhileEveryDisplayPolls)
{
    CVAudioProcessor p;
    double progress = 0.0;
    CVUIEditor editor (p, progress);
    WashWindowComponent display (editor, true);
    display.startTimer (16);
    Listeners listeners (p);
    SwitchablePlayHead head;
    p.setPlayHead (&head);

    // Every stage at work: declipper, Declick at 1, noise reduction reducing
    // with hum, rumble and low-pass, expander, Enhance at 0.5 and boost at 0.5.
    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    for (auto [index, value] : { std::pair { 9, 1.0f }, { 0, 1.0f }, { 7, 0.5f }, { 6, 0.5f }, { 5, 1.0f }, { 4, 1.0f },
                                 { 13, 0.6f }, { 14, 0.6f }, { 10, 1.0f }, { 19, 1.0f }, { 1, 0.5f }, { 8, 0.5f } })
        p.setParameter (index, value);
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    auto& bay = p.getNoiseReductionBay();
    auto* mm = juce::MessageManager::getInstance();

    for (int block : { 64, 256, 512, 1024, 4096 })
    {
        p.prepareToPlay (44100.0, block);
        Player player (p, block);
        player.run (2); // first-touch work of any lazy member, outside the count

        std::atomic<bool> done { false };
        clarivo_test::RealtimeCounts counts;
        std::thread audio ([&] { counts = countRealtimeFaults ([&] { while (! done) player.run (1); }); });

        // The message thread meanwhile does what a user does: learn a profile
        // (its end is met on the audio thread), switch modes (an Enhance mode
        // brings its band table, new masks and a reset), change a reduction
        // curve and the hum filters, load a profile, pause and play.
        mm->runDispatchLoopUntil (60);
        bay.startLearning();
        mm->runDispatchLoopUntil (60);
        bay.stopLearning();
        mm->runDispatchLoopUntil (60);
        bay.setMode (2);
        p.getEnhancementBay().setMode (block % 7);
        bay.setReduction (block % 30);
        bay.setHumMode (block % 2);
        bay.pushProfiles();
        head.playing = false;
        mm->runDispatchLoopUntil (60);
        bay.setMode (1);
        head.playing = true;
        mm->runDispatchLoopUntil (60);

        done = true;
        audio.join();
        EXPECT_EQ (counts.allocations, 0) << "block size " << block;
        EXPECT_EQ (counts.locks, 0) << "block size " << block;
        EXPECT_EQ (bay.isLearning(), 0) << "block size " << block;
    }

    // The feeds really flowed to every reader.
    EXPECT_GT (editor.getSamplesDisplayed(), 0);
    EXPECT_GT (display.getRowsPushed(), 0);
    EXPECT_GT (display.getSilentRowsPushed(), 0);
    EXPECT_GT (listeners.spectrumUpdates, 0);
    EXPECT_GE (listeners.modes, 5);
    EXPECT_GE (listeners.profiles, 5);
    EXPECT_GT (listeners.changes, 0);
    EXPECT_GT (listeners.peakSeen, 0.0f);
    p.setPlayHead (nullptr);
}

TEST (Realtime, TransformsAndSteadyGainCallsDoNotAllocate)
{
    std::unique_ptr<quarn::ZFourierTransform> forward (quarn::ZFourierTransform::create (10, 0, 1));
    std::unique_ptr<quarn::ZFourierTransform> inverse (quarn::ZFourierTransform::create (10, 1, 1));
    std::unique_ptr<quarn::ZFourierTransform> complexForward (quarn::ZFourierTransform::create (10, 0, 0));
    std::unique_ptr<quarn::ZGain> gain (quarn::ZGain::create (false));

    quarn::ZBuffer signal (1024, "ZBuffer"), re (513, "mSpectrum"), im (513, "ZBuffer");
    quarn::ZBuffer cre (1024, "ZBuffer"), cim (1024, "ZBuffer"), out (1024, "ZBuffer");
    for (unsigned i = 0; i < 1024; ++i)
        signal[i] = (float) (i % 17) / 17.0f - 0.5f;

    // First calls size the ramp table and the complex scratch arrays.
    gain->rampCopy (signal, out, 0.0f, 1.0f);
    gain->complexMultiply (re, im, re, im, re, im);

    const long count = countRealtimeFaults ([&]
    {
        for (int i = 0; i < 50; ++i)
        {
            forward->transformReal (signal, re, im);
            gain->complexMultiply (re, im, re, im, re, im);
            gain->powerToDecibels (re);
            inverse->transformReal (signal, re, im);
            complexForward->transform (cre, cim);
            complexForward->transform (cre, cim, out, cim);
            gain->rampCopy (signal, out, 0.0f, 1.0f + (float) (i % 2)); // refilled, same length
            gain->scaleAddAt (signal, out, 0, 0.5f);
        }
    }).allocations;
    EXPECT_EQ (0, count);
}
