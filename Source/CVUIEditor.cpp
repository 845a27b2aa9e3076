#include "CVUIEditor.h"
#include "CVAudioProcessor.h"

CVUIEditor::CVUIEditor (CVAudioProcessor& p, double&)
    : juce::AudioProcessorEditor (p),
      owner (p),
      preferences (std::make_unique<Preferences>()),
      firstLaunch (preferences->getFirstLaunch()),
      feedScratch (4096)
{
    setSize (780, 400);
    startTimer (kFeedPollMs);
}

CVUIEditor::~CVUIEditor() = default;

void CVUIEditor::installAsProcessorEditor()
{
    CVAudioProcessor::setEditorFactory ([] (CVAudioProcessor& processor, double& progress) -> juce::AudioProcessorEditor*
    {
        auto* editor = new CVUIEditor (processor, progress);
        editor->showPanel (3);
        return editor;
    });
}

void CVUIEditor::timerCallback()
{
    auto& feed = owner.feeds().input;
    for (int n; (n = feed.read (feedScratch.data(), (int) feedScratch.size())) > 0;)
    {
        const float* channels[] = { feedScratch.data() };
        displayInputAudio (channels, 1, nullptr, 0, n);
    }
}

void CVUIEditor::displayInputAudio (const float* const*, int, float* const*, int, int numSamples)
{
    samplesDisplayed += numSamples;
}

void CVUIEditor::showPanel (int) {}
void CVUIEditor::paint (juce::Graphics& g) { g.fillAll (juce::Colours::black); }
