#include "engine/CVAudioProcessor.h"
#include "UpdateChecker.h"

#include <algorithm>
#include <cmath>

namespace
{
std::atomic<CVAudioProcessor::EditorFactory> editorFactory { nullptr };

// How often the idle timer looks before the first prepareToPlay says how
// long a block lasts.
constexpr int kUnpreparedTimerPeriod = 100;
} // namespace

void CVAudioProcessor::setEditorFactory (EditorFactory factory) noexcept
{
    editorFactory.store (factory);
}

CVAudioProcessor::CVAudioProcessor()
{
    // Every stage is built here for 44.1 kHz; prepareToPlay rebuilds only
    // what a new rate needs.
    noiseReduction = std::make_unique<quarn::ZNoiseReductionBay> ("Noise Reduction", kNumChannels);
    noiseReduction->prepare (44100.0, kChainBlock);
    noiseReduction->addActionListener (this);

    enhance = std::make_unique<quarn::ZEnhancementBay> ("Enhance", kNumChannels);
    enhance->prepare (44100.0, kChainBlock);
    declick = std::make_unique<quarn::ZClickAndCrackleBay> ("Declick", kNumChannels);
    declick->prepare (44100.0, kChainBlock);

    analyzer = std::make_unique<quarn::ZNoiseAnalyzer>();

    for (int c = 0; c < kNumChannels; ++c)
    {
        auto& ch = channels[(size_t) c];
        ch.a = std::make_unique<quarn::ZBuffer> (kChainBlock, "ZBuffer");
        ch.b = std::make_unique<quarn::ZBuffer> (kChainBlock, "ZBuffer");
        bufferA[c] = ch.a.get();
        bufferB[c] = ch.b.get();
        ch.boost = std::make_unique<quarn::ZMaximizer> (kChainBlock);
        ch.boost->init();
        ch.expander = std::make_unique<quarn::ZExpander>();
        ch.declipper = std::make_unique<quarn::ZDeclipping> (kChainBlock, 44100.0f);
        ch.declipper->setDefaults();
    }

    // Until the first prepareToPlay a caller may bring up to 4096 samples, so
    // the rings hold twice that with a prefill of 4096, and the latency says so.
    initRings (kInitialMaxBlock);

    resetToDefaults();

    setPlayConfigDetails (kNumChannels, kNumChannels, 44100.0, kInitialMaxBlock);
    setLatencySamples (kInitialMaxBlock + chainLatency());

    peakMeter.numChannels = 2;
    expanderMeter.numChannels = 1;

    // The timer belongs to the message thread: it is started here and re-armed
    // only from its own callback, never from the processing thread.
    if (juce::MessageManager::existsAndIsCurrentThread())
        startTimer (kUnpreparedTimerPeriod);
}

CVAudioProcessor::~CVAudioProcessor()
{
    stopTimer();
    noiseReduction->removeActionListener (this);
}

void CVAudioProcessor::initRings (int maxBlock)
{
    maxCallLength = maxBlock;

    for (auto& ch : channels)
    {
        ch.input.init (2 * maxBlock, 0);
        ch.output.init (2 * maxBlock, maxBlock);
    }
}

int CVAudioProcessor::chainLatency() const
{
    const auto& ch = channels[0];
    return ch.declipper->getLatency() + noiseReduction->getLatency() + enhance->getLatency()
         + declick->getLatency() + ch.boost->getLatency() + ch.expander->getLatency();
}

void CVAudioProcessor::resetToDefaults()
{
    noiseReduction->clearNoiseProfile();
    noiseReduction->setDefaults();
    noiseReduction->setTrack (false);
    noiseReduction->setTrackFloor (-36.0f);
    noiseReduction->setTrackRange (18.0f);
    noiseReduction->setLevelAttack (0.001f);
    noiseReduction->setLevelRelease (0.01f);
    noiseReduction->setLowPassFrequency (0.0f);
    noiseReduction->setRumbleFrequency (0.0f);

    for (auto& ch : channels)
    {
        ch.boost->enabled = false;
        ch.boost->setCeiling (-0.3f);
        ch.boost->setThreshold (0.0f);
        ch.expander->enabled = false;
        ch.expander->setThresholdLinear (0.15f);
        ch.expander->setMaxGain (0.0f);
        ch.expander->setRelease (30.0f);
        ch.declipper->enabled = false;
    }

    learnRegion = {};

    enhance->setMode (0);
    enhance->setAmount (0.0f);
    declick->setAmount (0.0f);

    noiseReduction->setNumHumHarmonics (3);
    noiseReduction->setHumMode (2);

    sendChangeMessage();
}

void CVAudioProcessor::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    // The chain always runs 512-sample blocks, whatever the caller brings.
    noiseReduction->prepare (sampleRate, kChainBlock);
    enhance->prepare (sampleRate, kChainBlock);
    declick->prepare (sampleRate, kChainBlock);

    const int maxBlock = std::max (samplesPerBlock, kChainBlock);
    initRings (maxBlock);

    for (auto& ch : channels)
    {
        ch.a->clear();
        ch.b->clear();
        ch.boost->prepare (sampleRate, kChainBlock);
        ch.expander->prepare (sampleRate, kChainBlock);
        ch.declipper->prepare (sampleRate, kChainBlock);
    }

    setLatencySamples (maxBlock + chainLatency());
    idlePeriod = (int) ((double) samplesPerBlock / sampleRate * 1000.0) + 1;
    playState = (int) PlayState::unknown;

    sendChangeMessage();
}

void CVAudioProcessor::reset()
{
    noiseReduction->reset();
    enhance->reset();
    declick->reset();

    for (auto& ch : channels)
    {
        ch.input.clear (true);
        ch.output.clear (true);
        ch.a->clear();
        ch.b->clear();
        ch.boost->reset();
        ch.expander->reset();
        ch.declipper->reset();
    }
}

void CVAudioProcessor::processBlockWithLength (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, int numFrames) noexcept
{
    if (numFrames <= 0)
        return;

    frameCountOverride = numFrames;
    processBlock (buffer, midi);
    frameCountOverride = 0;
}

void CVAudioProcessor::runChain (int numChannels) noexcept
{
    for (int c = 0; c < numChannels; ++c)
        channels[(size_t) c].declipper->process (*bufferA[c], *bufferB[c], kChainBlock);

    declick->process (bufferB, bufferA, kChainBlock);
    noiseReduction->process (bufferA, bufferB, kChainBlock);

    for (int c = 0; c < numChannels; ++c)
        channels[(size_t) c].expander->process (*bufferB[c], *bufferA[c]);

    enhance->process (bufferA, bufferB, kChainBlock);

    for (int c = 0; c < numChannels; ++c)
        channels[(size_t) c].boost->process (*bufferB[c], *bufferA[c]);
}

void CVAudioProcessor::notePosition (const juce::Optional<juce::AudioPlayHead::PositionInfo>& position) noexcept
{
    if (! position.hasValue())
    {
        positionKnown.store (false);
        positionSamples.store (0);
        playState.store ((int) PlayState::unknown);
        return;
    }

    positionSamples.store (position->getTimeInSamples().orFallback (0));
    positionKnown.store (true);
    playState.store ((int) (position->getIsPlaying() ? PlayState::playing : PlayState::stopped));
}

juce::AudioPlayHead::PositionInfo CVAudioProcessor::getLastPosition() const noexcept
{
    juce::AudioPlayHead::PositionInfo info;
    if (positionKnown.load())
    {
        info.setTimeInSamples (positionSamples.load());
        info.setIsPlaying (playState.load() == (int) PlayState::playing);
    }
    return info;
}

void CVAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&) noexcept
{
    const int available = buffer.getNumSamples();
    const int n = std::max (0, std::min (frameCountOverride != 0 ? frameCountOverride : available, available));
    const int numChannels = std::min ({ getTotalNumInputChannels(), buffer.getNumChannels(), kNumChannels });

    // The play head is asked once: whether it plays tells the idle timer on
    // the message thread to feed silent rows, and its place is kept.
    juce::Optional<juce::AudioPlayHead::PositionInfo> position;
    if (auto* playHead = getPlayHead())
        position = playHead->getPosition();

    // With no channel there is nothing to wait for: the ring loop below would
    // wait for a channel that never comes.
    if (numChannels <= 0)
    {
        buffer.clear();
        notePosition (position);
        return;
    }

    displayFeeds.input.write (buffer.getReadPointer (0), n);

    // The rings hold at most one call's worth beyond the prefill, so a longer
    // call is taken in pieces; the delay stays the same.
    const int held = heldBypass.load();
    const bool bypassed = held >= 0 ? held != 0 : bypass.load();

    for (int done = 0; done < n;)
    {
        const int m = std::min (n - done, maxCallLength);

        for (int c = 0; c < numChannels; ++c)
            channels[(size_t) c].input.write (m, buffer.getReadPointer (c, done));

        for (;;)
        {
            bool complete = true;
            for (int c = 0; c < numChannels && complete; ++c)
                complete = channels[(size_t) c].input.read (kChainBlock, false, bufferA[c]->getData());

            if (! complete)
                break;

            runChain (numChannels);

            for (int c = 0; c < numChannels; ++c)
                channels[(size_t) c].output.write (kChainBlock, bufferA[c]->getData());

            if (auto* spectrum = noiseReduction->getSpectrum())
                displayFeeds.spectrum.publish (spectrum->getData(), (int) spectrum->getLength());
        }

        // While bypassed the processed audio is dropped as it would have been
        // played, so the delay lines up again the moment bypass is released.
        for (int c = 0; c < numChannels; ++c)
        {
            if (bypassed)
                channels[(size_t) c].output.skip (m);
            else
                channels[(size_t) c].output.read (m, true, buffer.getWritePointer (c, done));
        }

        done += m;
    }

    for (int c = 0; c < numChannels; ++c)
        peakMeter.raise (c, buffer.getMagnitude (c, 0, n));

    expanderMeter.level[0].store (channels[0].expander->getMeanGain() / -96.0f, std::memory_order_relaxed);

    for (int c = numChannels; c < buffer.getNumChannels(); ++c)
        buffer.clear (c, 0, available);

    notePosition (position);
}

void CVAudioProcessor::analyzeBlock (juce::AudioBuffer<float>& buffer, int numSamples) noexcept
{
    if (buffer.getNumChannels() > 0)
        analyzer->analyzeBlock (buffer.getWritePointer (0), std::clamp (numSamples, 0, buffer.getNumSamples()));
}

void CVAudioProcessor::finishAnalysis()
{
    analyzer->finishAnalysis();
}

juce::AudioProcessorEditor* CVAudioProcessor::createEditor()
{
    if (clarivo::update::checksInBackgroundOn (juce::SystemStats::getOperatingSystemType()))
        clarivo::update::launchUpdateCheck();
    auto factory = editorFactory.load();
    return factory != nullptr ? factory (*this, progress) : nullptr;
}

void CVAudioProcessor::timerCallback()
{
    const int period = idlePeriod.load();
    const int wanted = period != 0 ? 2 * period + 1 : kUnpreparedTimerPeriod;
    if (getTimerInterval() != wanted)
        startTimer (wanted);

    // Listeners hear of new rows once a tick, not once a block.
    const auto published = displayFeeds.spectrum.getPublishedCount();
    if (published != spectrumRowsAnnounced)
    {
        spectrumRowsAnnounced = published;
        if (auto* spectrum = noiseReduction->getSpectrum())
            spectrum->sendActionMessage ("Spectrum Update");
    }

    if (period == 0 || playState.load() != (int) PlayState::stopped)
        return;

    const int blockSize = getBlockSize();
    const int rounds = blockSize < kChainBlock ? 1 : blockSize / kChainBlock;
    displayFeeds.idleRows.fetch_add ((std::uint64_t) rounds, std::memory_order_relaxed);
}

void CVAudioProcessor::actionListenerCallback (const juce::String& message)
{
    sendChangeMessage();

    if (message == "Mode")
    {
        JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
        for (auto index : { Parameter::threshold, Parameter::reduction, Parameter::mode })
            setParameterNotifyingHost ((int) index, getParameter (index));
        JUCE_END_IGNORE_WARNINGS_GCC_LIKE
    }
}
