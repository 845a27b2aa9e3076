#pragma once

// The open media file as a document: opening loads it into the player,
// saving writes a processed copy (never over the original), closing offers
// to save and unloads. It also runs the automatic noise analysis of every
// newly loaded file and the learning of a noise profile from it.
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_gui_extra/juce_gui_extra.h>

class MediaWindow;
class TransportComponent;

class ClarivoDocument : public juce::FileBasedDocument
{
public:
    ClarivoDocument();
    ~ClarivoDocument() override;

    void setMediaWindow (MediaWindow* window) noexcept { mediaWindow = window; }

    // The export format index 0-8: extension, and the index for a file's extension.
    static juce::String extensionForFormat (int formatIndex);
    static int formatForFile (const juce::File& file);
    // The index the file's extension names, or -1 when it names none of the nine.
    static int ownFormatForFile (const juce::File& file);

    int formatIndex = 0;
    int qualityIndex = 9;
    // Handed to the player's load: whether it tells the user why a file cannot be played.
    bool showErrors = true;

    juce::File getMediaFile() const { return mediaFile; }
    juce::File getAnalysisFile() const { return analysisFile; }

    //==========================================================================
    // juce::FileBasedDocument
    juce::String getDocumentTitle() override;
    juce::Result loadDocument (const juce::File& file) override;
    juce::Result saveDocument (const juce::File& file) override;
    juce::File getLastDocumentOpened() override { return {}; }
    void setLastDocumentOpened (const juce::File&) override {}
    juce::File getSuggestedSaveAsFile (const juce::File& defaultFile) override;

    // Opening and saving with the framework document's behaviour, their
    // questions and failure boxes asked through the dialog service.
    juce::Result open (const juce::File& file, bool showMessageOnFailure);
    juce::Result openInteractive();
    SaveResult saveMedia (bool saveAs);
    // Saves to file (with the format's extension) without asking for a name,
    // telling the user when writing failed.
    SaveResult saveTo (const juce::File& file);

    juce::Result closeDocument();
    double getPlayPosition();

    //==========================================================================
    // Analysis
    void analyzeMedia (const juce::File& file);
    void learnNoiseProfile();
    bool readSamples (juce::int64 start, int count, juce::AudioSampleBuffer& buffer);

    // The analyzer's confidence must exceed this before a profile is learned.
    static constexpr float kConfidenceNeeded = 0.6f;

private:
    TransportComponent* getTransport() const;

    MediaWindow* mediaWindow = nullptr;
    juce::File mediaFile, analysisFile;
    // Why the last save failed, for the failure box.
    juce::String lastSaveError;
    // Where the last save put the copy when its name was taken meanwhile.
    juce::File savedElsewhere;

    JUCE_DECLARE_NON_COPYABLE (ClarivoDocument)
};
