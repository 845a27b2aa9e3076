#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/MeterLevels.h"
#include "engine/ProcessorFeeds.h"
#include "engine/SampleFifo.h"
#include "ZBuffer.h"
#include "ZClickAndCrackleBay.h"
#include "ZDeclipping.h"
#include "ZEnhancementBay.h"
#include "ZExpander.h"
#include "ZMaximizer.h"
#include "ZNoiseAnalyzer.h"
#include "ZNoiseReductionBay.h"

class WashWindowComponent;

// The restoration processor: runs every block it is given through the chain
// declipper, "Declick", "Noise Reduction", expander, "Enhance", boost in fixed
// 512-sample blocks, behind input and output rings that add a fixed delay.
//
// Threads: processBlock runs on one processing thread at a time (the media
// tap's, or the message thread during an analysis) and never locks,
// allocates or reaches a component. Parameters, states and profiles may be
// set on the message thread while it runs; the stages take them over at the
// next block. The displays pull from feeds() on their own timers.
class CVAudioProcessor : public juce::AudioProcessor,
                         public juce::ActionListener,
                         public juce::ChangeBroadcaster,
                         public juce::Timer
{
public:
    static constexpr int kNumChannels = 2;
    static constexpr int kChainBlock = 512;
    // Before the first prepareToPlay callers may bring up to this many samples.
    static constexpr int kInitialMaxBlock = 4096;
    static constexpr int kNumParameters = 20;

    // The parameters by index; the integer calls of the host interface take
    // these values.
    enum class Parameter
    {
        clickCrackle, enhance, threshold, reduction, preserveVoice, removeRumble, humMode, mode,
        boost, declip, track, bypass, numHarmonics, rumbleFrequency, lowPassFrequency,
        broadbandLimitLow, broadbandLimitHigh, enhancePreset, expanderThreshold, expanderAmount
    };

    // Made by the application, so that the engine needs no window of its own.
    using EditorFactory = juce::AudioProcessorEditor* (*) (CVAudioProcessor& processor, double& progress);
    static void setEditorFactory (EditorFactory factory) noexcept;

    CVAudioProcessor();
    ~CVAudioProcessor() override;

    void resetToDefaults();

    // juce::AudioProcessor
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override {}
    void reset() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) noexcept override;
    using juce::AudioProcessor::processBlock;

    // Processes only the first numFrames samples of the buffer; 0 processes nothing.
    void processBlockWithLength (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, int numFrames) noexcept;

    void analyzeBlock (juce::AudioBuffer<float>& buffer, int numSamples) noexcept;
    void finishAnalysis();

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    const juce::String getName() const override { return "Clarivo+"; }
    const juce::String getInputChannelName (int i) const override { return juce::String (i + 1); }
    const juce::String getOutputChannelName (int i) const override { return juce::String (i + 1); }
    bool isInputChannelStereoPair (int) const override { return true; }
    bool isOutputChannelStereoPair (int) const override { return true; }
    bool silenceInProducesSilenceOut() const { return false; }
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return "Default"; }
    void changeProgramName (int, const juce::String&) override {}

    int getNumParameters() override;
    const juce::String getParameterName (int index) override;
    float getParameter (int index) override;
    void setParameter (int index, float value) override;
    const juce::String getParameterText (int index) override;
    float getParameterDefaultValue (int index) override;
    void setParameter (Parameter index, float value) { setParameter ((int) index, value); }
    float getParameter (Parameter index) { return getParameter ((int) index); }
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    // The same, saying whether the state was taken (whole) or refused.
    bool applyState (const void* data, int sizeInBytes);

    // juce::Timer, on the message thread: idle rows for the noise display
    // while playback is stopped, and "Spectrum Update" when rows arrived.
    void timerCallback() override;
    // juce::ActionListener: messages of the "Noise Reduction" bay.
    void actionListenerCallback (const juce::String& message) override;

    // Access for the editor, the document and the displays.
    quarn::ZNoiseReductionBay& getNoiseReductionBay() noexcept { return *noiseReduction; }
    quarn::ZEnhancementBay& getEnhancementBay() noexcept { return *enhance; }
    quarn::ZClickAndCrackleBay& getDeclickBay() noexcept { return *declick; }
    quarn::ZNoiseAnalyzer& getNoiseAnalyzer() noexcept { return *analyzer; }
    quarn::ZDeclipping& getDeclipper (int channel) noexcept { return *channels[(size_t) channel].declipper; }
    quarn::ZExpander& getExpander (int channel) noexcept { return *channels[(size_t) channel].expander; }
    quarn::ZMaximizer& getMaximizer (int channel) noexcept { return *channels[(size_t) channel].boost; }

    MeterLevels& getPeakMeter() noexcept { return peakMeter; }
    MeterLevels& getExpanderMeter() noexcept { return expanderMeter; }
    ProcessorFeeds& feeds() noexcept { return displayFeeds; }
    // Written and read on the message thread only (the long jobs and the
    // editor's progress bar).
    double& getProgress() noexcept { return progress; }
    int getIdlePeriod() const noexcept { return idlePeriod.load(); }
    bool isBypassed() const noexcept { return bypass.load(); }
    // A render takes the Bypass it started with for its whole length: the
    // chain delays the sound and Bypass does not, so a click half way
    // would shift the rest of the copy against the part before. Until
    // released, processBlock follows the held state and leaves the
    // parameter (and the button showing it) to the user.
    void holdBypass (bool on) noexcept { heldBypass.store (on ? 1 : 0); }
    void releaseBypass() noexcept { heldBypass.store (-1); }

    // The noise display registers itself here so that others can find it;
    // the engine never calls it. Message thread only.
    void setNoiseDisplay (WashWindowComponent* display) noexcept { noiseDisplay = display; }
    WashWindowComponent* getNoiseDisplay() const noexcept { return noiseDisplay; }

    struct LearnRegion
    {
        // Two words the editor and the document write (always 0) beside the
        // region; the processor only clears them.
        std::int32_t words[2] = {};
        std::int64_t start = 0;
        std::int64_t length = 0;
    };
    LearnRegion learnRegion;

    // What the play head said at the last block: whether it played and where.
    juce::AudioPlayHead::PositionInfo getLastPosition() const noexcept;

private:
    struct Channel
    {
        SampleFifo input, output;
        std::unique_ptr<quarn::ZBuffer> a, b;
        std::unique_ptr<quarn::ZMaximizer> boost;
        std::unique_ptr<quarn::ZExpander> expander;
        std::unique_ptr<quarn::ZDeclipping> declipper;
    };

    struct ParameterRow;
    static const ParameterRow parameterTable[kNumParameters];

    enum class PlayState { unknown, playing, stopped };

    int chainLatency() const;
    void initRings (int maxBlock);
    void runChain (int numChannels) noexcept;
    void notePosition (const juce::Optional<juce::AudioPlayHead::PositionInfo>& position) noexcept;
    bool readStateAside (const juce::XmlElement& state, std::array<float, kNumParameters>& values,
                         quarn::ZBuffer& profile0, quarn::ZBuffer& profile1, bool& hasProfiles) const;

    std::atomic<int> playState { (int) PlayState::unknown };
    std::atomic<bool> positionKnown { false };
    std::atomic<std::int64_t> positionSamples { 0 };
    double progress = 0.0;
    std::atomic<int> idlePeriod { 0 };
    std::uint64_t spectrumRowsAnnounced = 0;
    int frameCountOverride = 0;
    // Most samples one call may bring without overrunning the rings; larger
    // calls are taken in pieces of this size.
    int maxCallLength = kInitialMaxBlock;

    std::unique_ptr<quarn::ZNoiseReductionBay> noiseReduction;
    std::unique_ptr<quarn::ZEnhancementBay> enhance;
    std::unique_ptr<quarn::ZClickAndCrackleBay> declick;
    std::unique_ptr<quarn::ZNoiseAnalyzer> analyzer;
    std::array<Channel, kNumChannels> channels;
    quarn::ZBuffer* bufferA[kNumChannels] = {};
    quarn::ZBuffer* bufferB[kNumChannels] = {};

    WashWindowComponent* noiseDisplay = nullptr;
    std::atomic<bool> bypass { false };
    std::atomic<int> heldBypass { -1 }; // -1 none, else the held state

    MeterLevels peakMeter;
    MeterLevels expanderMeter;
    ProcessorFeeds displayFeeds;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CVAudioProcessor)
};
