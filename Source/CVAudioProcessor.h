#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "MeterLevels.h"
#include "SampleFifo.h"
#include "ZBuffer.h"
#include "ZClickAndCrackleBay.h"
#include "ZDeclipping.h"
#include "ZEnhancementBay.h"
#include "ZExpander.h"
#include "ZMaximizer.h"
#include "ZNoiseAnalyzer.h"
#include "ZNoiseReductionBay.h"

class CVUIEditor;
class WashWindowComponent;

// The restoration processor: runs every block it is given through the chain
// declipper, "Declick", "Noise Reduction", expander, "Enhance", boost in fixed
// 512-sample blocks, behind input and output rings that add a fixed delay.
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

    CVAudioProcessor();
    ~CVAudioProcessor() override;

    void resetToDefaults();

    // juce::AudioProcessor
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override {}
    void reset() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    // Processes only the first numFrames samples of the buffer; 0 processes nothing.
    void processBlockWithLength (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi, int numFrames);

    void analyzeBlock (juce::AudioBuffer<float>& buffer, int numSamples);
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
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    // juce::Timer: idle rows for the noise display while nothing plays.
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
    double& getProgress() noexcept { return progress; }
    int getIdlePeriod() const noexcept { return idlePeriod; }
    bool isBypassed() const noexcept { return bypass; }

    void setNoiseDisplay (WashWindowComponent* display) noexcept { noiseDisplay.store (display); }
    WashWindowComponent* getNoiseDisplay() const noexcept { return noiseDisplay.load(); }

    struct LearnRegion
    {
        // Two words the editor and the document write (always 0) beside the
        // region; the processor only clears them.
        std::int32_t words[2] = {};
        std::int64_t start = 0;
        std::int64_t length = 0;
    };
    LearnRegion learnRegion;

    const juce::AudioPlayHead::PositionInfo& getLastPosition() const noexcept { return lastPosition; }

    // The editor that receives the per-block input feed (one per process).
    static CVUIEditor* getCurrentEditor() noexcept;
    static void clearEditorIfCurrent (CVUIEditor* editor) noexcept;

private:
    struct Channel
    {
        SampleFifo input, output;
        std::unique_ptr<quarn::ZBuffer> a, b;
        std::unique_ptr<quarn::ZMaximizer> boost;
        std::unique_ptr<quarn::ZExpander> expander;
        std::unique_ptr<quarn::ZDeclipping> declipper;
    };

    int chainLatency() const;
    void initRings (int maxBlock);
    void runChain (int numChannels);

    juce::AudioPlayHead::PositionInfo lastPosition;
    double progress = 0.0;
    int idlePeriod = 0;
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

    std::array<float, 20> parameterCache {};
    std::atomic<WashWindowComponent*> noiseDisplay { nullptr };
    bool bypass = false;

    MeterLevels peakMeter;
    MeterLevels expanderMeter;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CVAudioProcessor)
};
