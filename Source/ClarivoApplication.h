#pragma once

// The application object: owns the processor, the audio devices, the format
// manager, the media document and its window, and runs the operations the
// media code calls back into (the progress overlay, the analysis glue, the
// export through the audio writers).
//
// Start-up, preferences, menus and the editor window come later; what stands
// here is what the player, the document and the exports need.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_gui_extra/juce_gui_extra.h>

#include "CVAudioProcessor.h"
#include "platform/media/MediaPlayer.h"

#include <functional>
#include <memory>
#include <vector>

class ClarivoDocument;
class MediaWindow;

namespace AudioFileExport { struct Progress; }

class ClarivoApplication : public juce::JUCEApplication,
                           private juce::ChangeListener
{
public:
    ClarivoApplication();
    ~ClarivoApplication() override;

    // The running application, or null (tests make their own).
    static ClarivoApplication* getApp() noexcept;

    const juce::String getApplicationName() override { return "Clarivo+"; }
    const juce::String getApplicationVersion() override { return "5.0.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void systemRequestedQuit() override;
    void anotherInstanceStarted (const juce::String&) override {}

    CVAudioProcessor& getProcessor() noexcept { return *processor; }
    juce::AudioFormatManager& getFormatManager() noexcept { return formatManager; }
    juce::AudioDeviceManager& getDeviceManager() noexcept { return deviceManager; }
    ClarivoDocument& getDocument() noexcept { return *document; }
    MediaWindow* getMediaWindow() const noexcept { return mediaWindow.get(); }
    juce::ApplicationCommandManager& getCommandManager() noexcept { return commandManager; }

    // How the media window's player reaches the sound card. Set before
    // initialise; tests play into a null device at a multiple of real time.
    clarivo::media::Player::Options playerOptions;
    // Tests and headless runs keep the window off the screen.
    bool showWindows = true;

    //==========================================================================
    // The media document
    juce::Result closeMedia();
    void openMedia();
    juce::Result openMediaFile (const juce::File& file, bool showErrors);
    void saveMedia (bool saveAs);
    // The export format dialog: non-zero when the user accepted a format.
    int chooseSaveFormat();
    // Until the format dialog exists, a chooser can be put in its place.
    std::function<int()> formatChooser;

    //==========================================================================
    // The progress overlay every long job on the message thread shows.
    void showProgress (const juce::String& text);
    void setProgress (double p);
    void hideProgress();
    bool isIdle() const noexcept { return ! progressVisible; }
    const juce::String& getProgressText() const noexcept { return progressText; }

    // What the overlay did, in order, for the tests that check a job shows it
    // once and nothing hides it early.
    struct ProgressEvent
    {
        enum class Kind { show, set, hide } kind;
        juce::String text;
        double value = 0.0;
        bool visibleAfter = false;
    };
    const std::vector<ProgressEvent>& getProgressTimeline() const noexcept { return progressTimeline; }
    void clearProgressTimeline() { progressTimeline.clear(); }
    // The overlay as the copying loops take it.
    AudioFileExport::Progress& overlayProgress() noexcept;

    //==========================================================================
    // Mode and transport
    void setPlayerMode (bool player);
    bool isPlayerMode() const noexcept { return playerMode; }
    void setLooping (bool on);
    bool isLooping() const noexcept { return looping; }
    void playPause();
    void rewindToStart();
    void forward();
    void backward();
    bool isPlaying() const;

    //==========================================================================
    // Settings, windows and panels
    void resetSettings();
    void loadPreset();
    void savePreset();
    void runBatchProcessor();
    void showEditorPanel (int panel);
    void showUserGuide (bool quickStart);
    void checkForUpdates();

    //==========================================================================
    // Analysis glue, forwarded to the document
    void analyzeMedia (const juce::File& file);
    bool readMediaSamples (juce::int64 start, int numSamples, juce::AudioSampleBuffer& buffer);
    void learnNoiseFromMedia();
    bool isAnalyzeEnabled() const noexcept { return analyzeEnabled; }
    // Stands for the "Analyze" preference until preferences exist.
    void setAnalyzeEnabled (bool on) noexcept { analyzeEnabled = on; }

    //==========================================================================
    // Copies frames [startFrame, startFrame + numFrames) of source (all of it
    // from startFrame when numFrames < 0) into destination, a ".flac" or
    // ".mp3" file, at 16 bits. True only when the whole file was written.
    bool exportWithAudioFormat (const juce::File& source, const juce::File& destination, int quality,
                                juce::int64 startFrame = 0, juce::int64 numFrames = -1);
    // Where the MP3 encoder program lives.
    juce::File lameProgram { "/usr/bin/lame" };

private:
    struct OverlayProgress;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;

    std::unique_ptr<OverlayProgress> overlay;
    juce::ApplicationCommandManager commandManager;
    std::unique_ptr<CVAudioProcessor> processor;
    juce::AudioFormatManager formatManager;
    juce::AudioDeviceManager deviceManager;
    std::unique_ptr<ClarivoDocument> document;
    std::unique_ptr<MediaWindow> mediaWindow;

    bool progressVisible = false;
    juce::String progressText;
    std::vector<ProgressEvent> progressTimeline;

    // The settings as the document last saw them.
    juce::MemoryBlock lastState;
    bool playerMode = true;
    bool looping = false;
    bool analyzeEnabled = true;
    bool initialised = false;

    JUCE_DECLARE_NON_COPYABLE (ClarivoApplication)
};
