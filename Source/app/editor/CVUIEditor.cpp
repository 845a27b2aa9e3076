#include "app/editor/CVUIEditor.h"
#include "engine/CVAudioProcessor.h"
#include "app/editor/CVPlusEditor.h"
#include "app/editor/CreditsComponent.h"

CVUIEditor::CVUIEditor (CVAudioProcessor& p, double& progress)
    : juce::AudioProcessorEditor (p),
      owner (p),
      preferences (std::make_unique<Preferences>()),
      firstLaunch (preferences->getFirstLaunch()),
      feedScratch (4096)
{
    setBounds (0, 0, 780, 400);
    credits = std::make_unique<CreditsComponent> (p, *this, preferences.get());
    plusEditor = std::make_unique<CVPlusEditor> (p, this, preferences.get(), progress);
    startTimer (kFeedPollMs);
}

CVUIEditor::~CVUIEditor()
{
    stopTimer();
    removeAllChildren();
    // Both panels read the preferences until they go.
    credits.reset();
    plusEditor.reset();
    preferences.reset();
}

void CVUIEditor::installAsProcessorEditor()
{
    CVAudioProcessor::setEditorFactory ([] (CVAudioProcessor& processor, double& progress) -> juce::AudioProcessorEditor*
    {
        auto* editor = new CVUIEditor (processor, progress);
        editor->showPanel (controlsPanel);
        return editor;
    });
}

void CVUIEditor::showPanel (int panel)
{
    removeAllChildren();

    if (panel == informationPanel)
    {
        addAndMakeVisible (*credits);
        // Adding a child never brings it to the front in the framework's
        // sense, so the toggles would otherwise keep whatever they last showed.
        credits->followPreferences();
    }
    else if (panel == controlsPanel)
    {
        addAndMakeVisible (*plusEditor);
    }
}

void CVUIEditor::setProgressVisible (bool shown) { plusEditor->setProgressVisible (shown); }
void CVUIEditor::setProgressText (const juce::String& text) { plusEditor->setProgressText (text); }
bool CVUIEditor::isProgressVisible() const { return plusEditor->isProgressVisible(); }
void CVUIEditor::setHelpTipsShown (bool shown) { plusEditor->setHelpTips (shown); }

juce::int64 CVUIEditor::getSamplesDisplayed() const noexcept { return plusEditor->getSamplesDisplayed(); }

void CVUIEditor::pollInputFeed()
{
    auto& feed = owner.feeds().input;
    for (int n; (n = feed.read (feedScratch.data(), (int) feedScratch.size())) > 0;)
    {
        const float* channels[] = { feedScratch.data() };
        displayInputAudio (channels, 1, nullptr, 0, n);
    }
}

void CVUIEditor::displayInputAudio (const float* const* inputChannelData, int numInputChannels,
                                    float* const* outputChannelData, int numOutputChannels, int numSamples)
{
    plusEditor->displayInputAudio (inputChannelData, numInputChannels, outputChannelData, numOutputChannels, numSamples);
}
