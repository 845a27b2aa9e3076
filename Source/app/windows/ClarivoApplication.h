#pragma once

// The one application object: starts and stops the program, owns the
// processor, the two main windows, the media document, the command manager,
// the audio devices and the audio formats, answers the quit request and the
// command line a second launch hands over, and carries out every command.
// Everything here runs on the message thread.
#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_gui_extra/juce_gui_extra.h>

#include "engine/CVAudioProcessor.h"
#include "app/windows/DialogService.h"
#include "platform/media/MediaPlayer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ClarivoDocument;
class CVEditorWindow;
class CVUIEditor;
class MediaWindow;
class TransportComponent;
class Preferences;
class UserGuideWindow;
class iRate;

namespace AudioFileExport { struct Progress; }
namespace clarivo::launch { class SingleInstance; }

class ClarivoApplication : public juce::JUCEApplication,
                           private juce::Timer,
                           private juce::ChangeListener
{
public:
    ClarivoApplication();
    ~ClarivoApplication() override;

    // The running application, or null.
    static ClarivoApplication* getApp() noexcept;

    const juce::String getApplicationName() override { return "Clarivo+"; }
    const juce::String getApplicationVersion() override { return "5.0.0"; }
    // A second launch is caught by our own service (JUCE's is empty here)
    // and hands its command line over.
    bool moreThanOneInstanceAllowed() override { return true; }
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    CVAudioProcessor& getProcessor() noexcept { return *processor; }
    juce::AudioFormatManager& getFormatManager() noexcept { return formatManager; }
    juce::AudioDeviceManager& getDeviceManager() noexcept { return deviceManager; }
    ClarivoDocument& getDocument() noexcept { return *document; }
    MediaWindow* getMediaWindow() const noexcept { return mediaWindow.get(); }
    CVEditorWindow* getEditorWindow() const noexcept { return editorWindow.get(); }
    // The editor in the editor window, or null.
    CVUIEditor* getEditor() const noexcept;
    juce::ApplicationCommandManager& getCommandManager() noexcept { return commandManager; }
    // The editor's preferences; null before start-up and after shutdown.
    Preferences* getPreferences() const noexcept;

    //==========================================================================
    // Set before initialise.
    //
    // How the player reaches the sound card; tests play into a null device
    // at a multiple of real time and open no device at all.
    clarivo::media::Player::Options playerOptions;
    // Tests keep the windows off the screen.
    bool showWindows = true;
    // The name a second launch finds this instance under; empty: no service.
    juce::String instanceName { "Clarivo+ 5" };
    // How long a launch waits for the running instance to take its files.
    int handOverTimeoutMs = 10000;
    // What an accepted quit request, or a launch that must end, does; tests
    // put a recorder in JUCE's place.
    std::function<void()> quitHandler;
    // Whether the rating prompt counts this start and looks the program up
    // in the store; tests that are not about it keep off the network.
    bool ratingPrompt = true;

    //==========================================================================
    // The media document
    juce::Result closeMedia();
    void openMedia();
    juce::Result openMediaFile (const juce::File& file, bool showErrors);
    void saveMedia (bool saveAs);
    // The export format dialog: non-zero when the user accepted a format.
    int chooseSaveFormat();
    // Tests choose the format here in the dialog's place.
    std::function<int()> formatChooser;
    void placeMediaWindow();
    // Where the media window goes: 780 wide, centred, 32 pixels under the
    // editor window, 490 high unless the screen's user area is too short.
    static juce::Rectangle<int> mediaWindowBounds (juce::Rectangle<int> editorBounds, juce::Rectangle<int> userArea);

    // Removes the private temporary folders that runs no longer alive left
    // behind, whole, and deletes the "*.m4a" files in ours; nothing else.
    static void deleteTemporaryAudioFiles();
    // Deletes the shared copies (which outlive each run, for the programs
    // they were handed to) written more than a day before now.
    static void deleteOldSharedCopies (juce::Time now);

    //==========================================================================
    // The progress overlay every long job on the message thread shows.
    void showProgress (const juce::String& text);
    void setProgress (double p);
    void hideProgress();
    // A batch is one job from its start to its end, overlay or not; so is a
    // media load, which waits in the message loop with no overlay up.
    bool isIdle() const noexcept { return ! progressVisible && ! batchRunning && mediaLoads == 0; }
    // Runs notice now when idle, else once the running job has ended: a box
    // put up in a job's message loop would stop the job under it.
    void showWhenIdle (std::function<void()> notice);
    void setMediaLoading (bool loading) noexcept { mediaLoads += loading ? 1 : -1; }
    bool isOverlayShowing() const noexcept { return progressVisible; }
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
    // How the guide was last asked for (0 never, 1 its contents, 2 its
    // QuickStart page).
    int lastGuideRequest = 0;
    // Made on first use; null before.
    UserGuideWindow* getUserGuideWindow() const noexcept { return userGuideWindow.get(); }
    // The menu's check, with a box that shows it runs until its answer comes;
    // the box's Cancel ends it and nothing more is shown.
    void checkForUpdates();
    // The rating prompt of this start, or null.
    iRate* getRatingPrompt() const noexcept { return rating.get(); }

    //==========================================================================
    // Analysis glue, forwarded to the document
    void analyzeMedia (const juce::File& file);
    bool readMediaSamples (juce::int64 start, int numSamples, juce::AudioSampleBuffer& buffer);
    void learnNoiseFromMedia();
    // The "Analyze" preference.
    bool isAnalyzeEnabled() const;
    void setAnalyzeEnabled (bool on);

    //==========================================================================
    // Copies frames [startFrame, startFrame + numFrames) of source (all of it
    // from startFrame when numFrames < 0) into destination, a ".flac" or
    // ".mp3" file, at 16 bits. True only when the whole file was written.
    bool exportWithAudioFormat (const juce::File& source, const juce::File& destination, int quality,
                                juce::int64 startFrame = 0, juce::int64 numFrames = -1);
    // Where the MP3 encoder program lives.
    juce::File lameProgram { "/usr/bin/lame" };
    // Opens a web page; empty: the default browser.
    std::function<void (const juce::URL&)> openPage;
    // Whether Escape is held down, which cancels a batch; empty: the keyboard.
    std::function<bool()> escapeHeldDown;

private:
    struct OverlayProgress;
    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void timerCallback() override;
    using Arguments = std::vector<std::string>;
    // A launch's arguments, opened once the application is idle and asks
    // nothing, and is not quitting.
    void queueHandOver (const Arguments& arguments);
    void handOver (const Arguments& arguments);
    bool readyForHandOver() const;
    // A quit that was refused or called off: launches are taken again.
    void resumeAfterQuit();
    // Shows what an update check found, through the dialog service.
    static void installUpdatePresenter();
    // The transport bar while the media window shows the player, else null.
    TransportComponent* playerTransport() const noexcept;
    // Both main windows take mouse clicks, or neither.
    void setWindowsTakeClicks (bool take);

    std::unique_ptr<OverlayProgress> overlay;
    juce::ApplicationCommandManager commandManager;
    juce::AudioDeviceManager deviceManager;
    juce::AudioFormatManager formatManager;
    std::unique_ptr<CVAudioProcessor> processor;
    std::unique_ptr<CVEditorWindow> editorWindow;
    std::unique_ptr<MediaWindow> mediaWindow;
    std::unique_ptr<UserGuideWindow> userGuideWindow;
    std::unique_ptr<ClarivoDocument> document;
    std::unique_ptr<iRate> rating;
    std::unique_ptr<clarivo::launch::SingleInstance> singleInstance;
    // Up while the menu's update check runs.
    std::unique_ptr<DialogService::OpenBox> updateProgress;

    bool progressVisible = false;
    bool batchRunning = false;
    int mediaLoads = 0;
    juce::String progressText;
    std::vector<ProgressEvent> progressTimeline;

    // The settings as the document last saw them.
    juce::MemoryBlock lastState;
    // Arguments handed over while a job ran, opened when it is done.
    std::vector<Arguments> pendingHandOvers;
    // Update answers that came in while a job ran, shown once it is done.
    std::vector<std::function<void()>> pendingNotices;
    bool startTimerFired = false;
    // running; asking: a quit request is being carried out (its question
    // may be up); going: the quit was accepted.
    enum class QuitState { running, asking, going } quitState = QuitState::running;
    bool looping = true;
    bool playerMode = true;
    bool initialised = false;

    JUCE_DECLARE_NON_COPYABLE (ClarivoApplication)
};
