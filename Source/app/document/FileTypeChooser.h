#pragma once

// The box that asks for the output format of a save and, for the two
// formats the audio writers encode, its quality.
#include <juce_gui_basics/juce_gui_basics.h>

#include "app/editor/CVLookAndFeel.h"

class FileTypeChooser : public juce::Component,
                        public juce::Button::Listener,
                        public juce::ComboBox::Listener
{
public:
    // Starts at an export format index 0-8 and a quality index 0-9.
    FileTypeChooser (int formatIndex, int qualityIndex);
    ~FileTypeChooser() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    // Return accepts the box wherever the keyboard focus is.
    bool keyPressed (const juce::KeyPress& key) override;
    void buttonClicked (juce::Button* button) override;
    void comboBoxChanged (juce::ComboBox* box) override;

    // The quality row shows only for FLAC and MP3.
    void updateQualityVisibility();

    // Ends the dialog (and a modal state of its own) with 1.
    void accept();

    // Shows the chooser in its modal dialog; 1 when accepted, 0 when closed.
    int runModal();

private:
    CVLookAndFeel lookAndFeel;
    juce::Label formatLabel;
    juce::TextButton okButton;

public:
    juce::ComboBox formatBox;
    juce::ComboBox qualityBox;

private:
    juce::Label qualityLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FileTypeChooser)
};
