#include "CVUIEditor.h"
#include "CVAudioProcessor.h"

CVUIEditor::CVUIEditor (juce::AudioProcessor& p, double&) : juce::AudioProcessorEditor (p)
{
    setSize (640, 440);
}

CVUIEditor::~CVUIEditor()
{
    // The processing thread must never reach an editor that is gone.
    CVAudioProcessor::clearEditorIfCurrent (this);
}

void CVUIEditor::displayInputAudio (const float* const*, int, float* const*, int, int) {}
void CVUIEditor::showPanel (int) {}
void CVUIEditor::paint (juce::Graphics& g) { g.fillAll (juce::Colours::black); }
