#pragma once

// A preset: the processor's whole state (every parameter and both noise
// profiles) in a ".cvp" file, exactly the bytes the processor saves.
#include <juce_gui_extra/juce_gui_extra.h>

class CVAudioProcessor;

class ClarivoSettingsDocument : public juce::FileBasedDocument
{
public:
    explicit ClarivoSettingsDocument (CVAudioProcessor& processor);

    // Larger files are no preset: they are refused.
    static constexpr juce::int64 kMaxPresetBytes = 65536;

    // "Load Preset...": asks for a file and applies it; a file that is no
    // preset changes nothing and the user is told.
    juce::Result loadInteractive();
    // "Save Preset...": asks for a file (and before replacing one), writes it,
    // and tells the user when that failed.
    SaveResult saveInteractive();

    juce::String getDocumentTitle() override;
    // Fails, changing nothing, unless the file is a plain file holding a whole state.
    juce::Result loadDocument (const juce::File& file) override;
    // Writes beside the target and renames, so a failure keeps the old preset.
    juce::Result saveDocument (const juce::File& file) override;
    juce::File getLastDocumentOpened() override { return {}; }
    void setLastDocumentOpened (const juce::File&) override {}

private:
    CVAudioProcessor& processor;

    JUCE_DECLARE_NON_COPYABLE (ClarivoSettingsDocument)
};
