#include "app/windows/ClarivoApplication.h"

#include "app/document/AudioFileExport.h"
#include "app/document/BatchProcessor.h"
#include "app/windows/CVEditorWindow.h"
#include "app/editor/CVUIEditor.h"
#include "app/document/ClarivoDocument.h"
#include "app/artwork/ClarivoFonts.h"
#include "app/document/ClarivoSettingsDocument.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/windows/DialogService.h"
#include "app/document/FileTypeChooser.h"
#include "app/mediawindow/MediaWindow.h"
#include "app/windows/Preferences.h"
#include "UpdateChecker.h"
#include "app/help/UserGuideWindow.h"
#include "app/help/iRate.h"
#include "platform/launch/SingleInstance.h"
#include "platform/process/ProgramLauncher.h"
#include "platform/media/FFmpegAudioFormat.h"

#include <dlfcn.h>
#include <iostream>

namespace juce
{
// The arguments JUCE keeps from main().
extern const char* const* juce_argv;
extern int juce_argc;
} // namespace juce

namespace
{
// The device scan opens a JACK client to list JACK's ports; without a
// server, JACK's client library prints its failure to the terminal at every
// start. The scan learns of the failure from the open's result all the same,
// so what the library prints goes nowhere. The library stays loaded: JUCE's
// own dlopen of it later finds it, quiet, as it is.
void quietenJack()
{
    static void* const jack = []
    {
        auto* handle = dlopen ("libjack.so.0", RTLD_LAZY);
        return handle != nullptr ? handle : dlopen ("libjack.so", RTLD_LAZY);
    }();
    if (jack == nullptr)
        return;
    using Printer = void (*) (const char*);
    for (const char* setter : { "jack_set_error_function", "jack_set_info_function" })
        if (auto* set = reinterpret_cast<void (*) (Printer)> (dlsym (jack, setter)))
            set ([] (const char*) {});
}

// A file name's bytes as a person can read them: UTF-8 as it is, anything
// else, and control characters, as \xNN.
juce::String readableName (const std::string& bytes)
{
    juce::String shown;
    for (size_t i = 0; i < bytes.size();)
    {
        const auto lead = (unsigned char) bytes[i];
        const size_t length = lead < 0x80 ? 1 : lead >= 0xc2 && lead < 0xe0 ? 2 : lead >= 0xe0 && lead < 0xf0 ? 3 : lead >= 0xf0 && lead < 0xf5 ? 4 : 0;
        if (lead >= 0x20 && lead != 0x7f && length > 0 && i + length <= bytes.size()
            && juce::CharPointer_UTF8::isValidString (bytes.data() + i, (int) length))
        {
            shown += juce::String::fromUTF8 (bytes.data() + i, (int) length);
            i += length;
        }
        else
        {
            shown += "\\x" + juce::String::toHexString ((int) lead).toUpperCase().paddedLeft ('0', 2);
            ++i;
        }
    }
    return shown;
}
} // namespace

// The overlay as the copying loops of the exports see it.
struct ClarivoApplication::OverlayProgress : AudioFileExport::Progress
{
    explicit OverlayProgress (ClarivoApplication& a) : app (a) {}
    void show (const juce::String& text) override { app.showProgress (text); }
    void set (double fraction) override { app.setProgress (fraction); }
    void hide() override { app.hideProgress(); }
    void runMessageLoop (int ms) override { juce::MessageManager::getInstance()->runDispatchLoopUntil (ms); }
    ClarivoApplication& app;
};

ClarivoApplication::ClarivoApplication() : overlay (std::make_unique<OverlayProgress> (*this)) {}

ClarivoApplication::~ClarivoApplication()
{
    if (initialised)
        shutdown();
    stopTimer();
}

ClarivoApplication* ClarivoApplication::getApp() noexcept
{
    return dynamic_cast<ClarivoApplication*> (juce::JUCEApplicationBase::getInstance());
}

CVUIEditor* ClarivoApplication::getEditor() const noexcept
{
    return editorWindow != nullptr ? dynamic_cast<CVUIEditor*> (editorWindow->getContentComponent()) : nullptr;
}

Preferences* ClarivoApplication::getPreferences() const noexcept
{
    auto* editor = getEditor();
    return editor != nullptr ? &editor->getPreferences() : nullptr;
}

void ClarivoApplication::initialise (const juce::String& commandLine)
{
    // A second launch hands its command line to the running instance and
    // goes without a window; when no instance takes it, this one runs.
    if (instanceName.isNotEmpty())
    {
        auto launch = clarivo::launch::SingleInstance::claimOrHandOver (
            instanceName, juce::juce_argc, juce::juce_argv, [this] (const Arguments& arguments) { queueHandOver (arguments); },
            handOverTimeoutMs);
        if (launch.handedOver || launch.refusal.isNotEmpty())
        {
            if (launch.refusal.isNotEmpty())
            {
                std::cerr << launch.refusal << std::endl;
                // Started from the desktop, nobody reads the terminal.
                clarivo::installDefaultLookAndFeel();
                juce::LookAndFeel::getDefaultLookAndFeel().setUsingNativeAlertWindows (true);
                DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "Clarivo+", launch.refusal);
            }
            setApplicationReturnValue (launch.handedOver ? 0 : 1);
            if (quitHandler)
                quitHandler();
            else
                quit();
            return;
        }
        singleInstance = std::move (launch.service);
    }

    clarivo::process::startReports();
    // Before anything lists the audio devices: the recorder's panel does
    // too, even when the player plays into no device at all.
    quietenJack();
    deleteTemporaryAudioFiles();
    deleteOldSharedCopies (juce::Time::getCurrentTime());
    clarivo::installDefaultLookAndFeel();
    juce::LookAndFeel::getDefaultLookAndFeel().setUsingNativeAlertWindows (true);

    CVUIEditor::installAsProcessorEditor();
    installUpdatePresenter();
    processor = std::make_unique<CVAudioProcessor>();
    processor->addChangeListener (this);
    processor->getStateInformation (lastState);
    formatManager.registerBasicFormats();
    clarivo::media::registerMediaFormats (formatManager);

    editorWindow = std::make_unique<CVEditorWindow> (*processor);
    auto* preferences = getPreferences();

    // Without a sound card the player plays into a null device; nothing is said.
    if (! playerOptions.useNullDevice && playerOptions.deviceManager == nullptr)
    {
        const auto saved = preferences != nullptr ? preferences->getAudioConfiguration() : nullptr;
        deviceManager.initialise (2, 2, saved.get(), true);
    }

    jassert (preferences != nullptr);
    mediaWindow = std::make_unique<MediaWindow> (&deviceManager, *preferences);
    mediaWindow->setResizable (true, false);
    mediaWindow->setResizeLimits (640, 280, 100000, 100000);
    placeMediaWindow();
    if (showWindows)
        mediaWindow->toFront (true);
    else
    {
        mediaWindow->setVisible (false);
        editorWindow->setVisible (false);
    }

    document = std::make_unique<ClarivoDocument>();
    document->setMediaWindow (mediaWindow.get());

    commandManager.registerAllCommandsForTarget (mediaWindow.get());
    commandManager.registerAllCommandsForTarget (this);
    // Commands reach a window that knows them whichever window (or none)
    // has the keyboard focus.
    commandManager.setFirstCommandTarget (mediaWindow.get());
    mediaWindow->setApplicationCommandManagerToWatch (&commandManager);
    editorWindow->setApplicationCommandManagerToWatch (&commandManager);

    looping = true;
    playerMode = true;
    initialised = true;
    startTimer (50);

    auto* editor = getEditor();
    const bool firstLaunch = editor != nullptr && editor->wasFirstLaunch();
    if (preferences != nullptr)
        preferences->setFirstLaunch (false);
    if (firstLaunch
        && DialogService::get().ask (juce::MessageBoxIconType::QuestionIcon, "Welcome to Clarivo!",
                                     "It looks like this is the first time you are using Clarivo.  Would you like to view "
                                     "the QuickStart Guide?",
                                     { "OK", "Cancel" })
               == 0)
        showUserGuide (true);

    if (ratingPrompt)
    {
        rating = std::make_unique<iRate> (iRate::defaultDefaultsFile());
        // Its box would stop an export or a batch inside the job's own
        // message loop: while one runs there is no window to ask over.
        rating->mainWindow = [this]() -> juce::Component* { return isIdle() ? mediaWindow.get() : nullptr; };
    }

    // A file named at the first launch opens as one handed over later would,
    // from the bytes it was named with where we have them.
    const auto own = clarivo::launch::SingleInstance::argumentsFrom (juce::juce_argc, juce::juce_argv);
    if (instanceName.isNotEmpty() && ! own.empty())
        queueHandOver (own);
    else if (commandLine.isNotEmpty())
        anotherInstanceStarted (commandLine);
}

void ClarivoApplication::shutdown()
{
    if (! initialised)
        return;
    initialised = false;
    stopTimer();
    // A launch from here on waits for this instance to be gone, which it is
    // only once the lock goes below, after the last write to the settings.
    if (singleInstance != nullptr)
        singleInstance->refuseLaunches (true);
    // Nothing from the network or a started program arrives once we are going.
    clarivo::process::stopReports();
    rating = nullptr;
    updateProgress = nullptr;
    clarivo::update::cancelAllChecks();
    // Their threads let go at once when cancelled; a second is plenty.
    clarivo::update::BackgroundRequest::stopAll (1000);

    // Nothing may run the processor or feed a window while they go.
    if (mediaWindow != nullptr)
        mediaWindow->getTransport().loadMedia ({}, false);
    if (auto* preferences = getPreferences())
        preferences->setAudioConfiguration (deviceManager);
    deviceManager.closeAudioDevice();

    if (document != nullptr)
        document->setMediaWindow (nullptr);
    commandManager.setFirstCommandTarget (nullptr);
    editorWindow = nullptr;
    mediaWindow = nullptr;
    userGuideWindow = nullptr;
    document = nullptr;
    processor->removeChangeListener (this);
    processor = nullptr;
    ClarivoTempFolder::removeAll();
    singleInstance = nullptr;
}

void ClarivoApplication::systemRequestedQuit()
{
    // Nothing closes the document under a running job; a second Ctrl+Q
    // while the first one's question is up asks nothing more.
    if (! isIdle() || ! initialised || quitState == QuitState::asking)
        return;
    // From here a launch would hand over a file that the quit then closes:
    // it is told to wait, and runs on its own once this instance is gone.
    quitState = QuitState::asking;
    if (singleInstance != nullptr)
        singleInstance->refuseLaunches (true);
    if (closeMedia().failed())
        return resumeAfterQuit();
    // Launches told "ready" before the refusal are queued before the loop
    // below ends; such a launch has gone believing its file will be shown,
    // so the quit gives way to it.
    if (singleInstance != nullptr)
        singleInstance->waitForAcceptedLaunches (2500);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (500);
    if (! pendingHandOvers.empty())
        return resumeAfterQuit();
    quitState = QuitState::going;
    deleteTemporaryAudioFiles();
    if (quitHandler)
        quitHandler();
    else
        quit();
}

void ClarivoApplication::resumeAfterQuit()
{
    quitState = QuitState::running;
    if (singleInstance != nullptr)
        singleInstance->refuseLaunches (false);
    timerCallback();
}

void ClarivoApplication::anotherInstanceStarted (const juce::String& commandLine)
{
    Arguments arguments;
    for (const auto& token : juce::StringArray::fromTokens (commandLine, true))
        arguments.push_back (token.unquoted().toStdString());
    queueHandOver (arguments);
}

void ClarivoApplication::queueHandOver (const Arguments& arguments)
{
    if (! initialised)
        return;
    pendingHandOvers.push_back (arguments);
    timerCallback();
}

void ClarivoApplication::timerCallback()
{
    if (! startTimerFired)
    {
        startTimerFired = true;
        setPlayerMode (true);
    }
    // A hand-over waits until the job or the question on screen is done.
    // Those that came meanwhile would each close the one before: only the
    // last launch's file is opened.
    while (! pendingHandOvers.empty() && readyForHandOver())
    {
        const auto arguments = std::move (pendingHandOvers.back());
        pendingHandOvers.clear();
        handOver (arguments);
    }
    while (! pendingNotices.empty() && isIdle() && ! DialogService::get().isAsking())
    {
        const auto notice = std::move (pendingNotices.front());
        pendingNotices.erase (pendingNotices.begin());
        notice();
    }
    if (pendingHandOvers.empty() && pendingNotices.empty())
        stopTimer();
    else
        startTimer (100);
}

bool ClarivoApplication::readyForHandOver() const
{
    return isIdle() && ! DialogService::get().isAsking() && quitState == QuitState::running;
}

void ClarivoApplication::handOver (const Arguments& arguments)
{
    if (closeMedia().failed())
        return;
    // A later launch came while the question was up: its file is the one to open.
    if (! pendingHandOvers.empty())
        return;
    for (const auto& argument : arguments)
    {
        if (argument.empty() || (argument[0] != '/' && argument[0] != '~'))
            continue;
        // A name that is not UTF-8 has no juce::File: the user learns which
        // file that was rather than seeing nothing happen.
        if (! juce::CharPointer_UTF8::isValidString (argument.data(), (int) argument.size()))
            DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, TRANS ("Failed to open file..."),
                                              TRANS ("There was an error while trying to load the file: FLNM")
                                                      .replace ("FLNM", "\n" + readableName (argument))
                                                  + "\n\n" + TRANS ("Clarivo can only open files whose names are UTF-8 text. Rename the file and open it again."));
        else
            openMediaFile (juce::File (juce::String::fromUTF8 (argument.data(), (int) argument.size())), true);
        return;
    }
}

void ClarivoApplication::deleteTemporaryAudioFiles()
{
    // A run that died (a crash, a kill during a save) left analysis copies,
    // renders and partial exports of gigabytes in a folder only it used.
    ClarivoTempFolder::removeDeadFolders();
    for (const auto& folder : ClarivoTempFolder::ownFolders())
        for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "*.m4a"))
            file.deleteFile();
}

void ClarivoApplication::deleteOldSharedCopies (juce::Time now)
{
    ClarivoTempFolder::removeSharedCopiesOlderThan (now - juce::RelativeTime::days (1.0));
}

void ClarivoApplication::showWhenIdle (std::function<void()> notice)
{
    if (isIdle() && ! DialogService::get().isAsking())
    {
        notice();
        return;
    }
    pendingNotices.push_back (std::move (notice));
    startTimer (100);
}

juce::Rectangle<int> ClarivoApplication::mediaWindowBounds (juce::Rectangle<int> editor, juce::Rectangle<int> area)
{
    const int bottom = editor.getBottom();
    const int height = area.getHeight() < bottom + 522 ? area.getY() + area.getHeight() - 32 - bottom : 490;
    return { area.getCentreX() - 390, bottom + 32, 780, height };
}

void ClarivoApplication::placeMediaWindow()
{
    if (mediaWindow == nullptr || editorWindow == nullptr)
        return;
    const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
    if (display == nullptr)
        return;
    mediaWindow->setVisible (false);
    mediaWindow->setBounds (mediaWindowBounds (editorWindow->getBounds(), display->userArea));
    mediaWindow->setVisible (showWindows);
}

void ClarivoApplication::changeListenerCallback (juce::ChangeBroadcaster*)
{
    // New settings (parameters or a learned profile) make the open media's
    // processed copy out of date; the processor also speaks when it is only
    // prepared for playback, which changes nothing the user set.
    juce::MemoryBlock state;
    processor->getStateInformation (state);
    if (state != lastState && document != nullptr && document->getMediaFile() != juce::File())
        document->changed();
    lastState = std::move (state);
}

//==============================================================================
juce::Result ClarivoApplication::closeMedia()
{
    auto result = document->closeDocument();
    if (result.wasOk())
    {
        placeMediaWindow();
        setPlayerMode (true);
    }
    return result;
}

void ClarivoApplication::openMedia()
{
    document->showErrors = true;
    document->openInteractive();
}

juce::Result ClarivoApplication::openMediaFile (const juce::File& file, bool showErrors)
{
    document->showErrors = showErrors;
    return document->open (file, showErrors);
}

void ClarivoApplication::saveMedia (bool saveAs)
{
    if (document->getMediaFile() != juce::File())
        document->saveMedia (saveAs);
}

int ClarivoApplication::chooseSaveFormat()
{
    if (formatChooser)
        return formatChooser();
    FileTypeChooser chooser (document->formatIndex, document->qualityIndex);
    const int button = DialogService::get().runCustom ("Select File Format for Save", chooser, { "OK" },
                                                       [&chooser] { return chooser.runModal() - 1; });
    if (button != 0)
        return 0;
    document->formatIndex = chooser.formatBox.getSelectedItemIndex();
    document->qualityIndex = chooser.qualityBox.getSelectedItemIndex();
    return 1;
}

//==============================================================================
void ClarivoApplication::showProgress (const juce::String& text)
{
    progressVisible = true;
    progressText = text;
    if (auto* editor = getEditor())
    {
        editor->setProgressVisible (true);
        editor->setProgressText (text);
    }
    setWindowsTakeClicks (false);
    progressTimeline.push_back ({ ProgressEvent::Kind::show, text, 0.0, true });
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
}

void ClarivoApplication::setProgress (double p)
{
    // A job that reports progress brings the overlay back, except in its last 5 %.
    if (p < 0.95 && ! progressVisible)
    {
        progressVisible = true;
        if (auto* editor = getEditor())
            editor->setProgressVisible (true);
        setWindowsTakeClicks (false);
    }
    if (processor != nullptr)
        processor->getProgress() = p;
    if (mediaWindow != nullptr)
        mediaWindow->repaint();
    progressTimeline.push_back ({ ProgressEvent::Kind::set, progressText, p, progressVisible });
}

void ClarivoApplication::hideProgress()
{
    progressVisible = false;
    if (auto* editor = getEditor())
        editor->setProgressVisible (false);
    setWindowsTakeClicks (true);
    progressTimeline.push_back ({ ProgressEvent::Kind::hide, progressText, 0.0, false });
}

void ClarivoApplication::setWindowsTakeClicks (bool take)
{
    take = take && ! batchRunning;
    for (juce::Component* window : { (juce::Component*) editorWindow.get(), (juce::Component*) mediaWindow.get() })
        if (window != nullptr)
            window->setInterceptsMouseClicks (take, take);
}

AudioFileExport::Progress& ClarivoApplication::overlayProgress() noexcept { return *overlay; }

//==============================================================================
void ClarivoApplication::setPlayerMode (bool player)
{
    playerMode = player;
    if (mediaWindow != nullptr)
    {
        const auto file = document->getFile();
        mediaWindow->setPlayerMode (player, file.existsAsFile(), file.existsAsFile() ? file.getFileName() : juce::String());
    }
}

TransportComponent* ClarivoApplication::playerTransport() const noexcept
{
    return playerMode && mediaWindow != nullptr ? &mediaWindow->getTransport() : nullptr;
}

void ClarivoApplication::setLooping (bool on)
{
    looping = on;
    if (auto* transport = playerTransport())
        transport->setLooping (on);
}

void ClarivoApplication::playPause()
{
    if (auto* transport = playerTransport())
        transport->togglePlayPause();
}

void ClarivoApplication::rewindToStart()
{
    if (auto* transport = playerTransport())
        transport->rewindToStart();
}

void ClarivoApplication::forward()
{
    if (auto* transport = playerTransport())
        transport->stepForward();
}

void ClarivoApplication::backward()
{
    if (auto* transport = playerTransport())
        transport->stepBackward();
}

bool ClarivoApplication::isPlaying() const
{
    auto* transport = playerTransport();
    return transport != nullptr && transport->isPlaying();
}

void ClarivoApplication::resetSettings()
{
    processor->resetToDefaults();
    if (mediaWindow != nullptr)
        mediaWindow->repaint();
}

void ClarivoApplication::loadPreset()
{
    ClarivoSettingsDocument (*processor).loadInteractive();
}

void ClarivoApplication::savePreset()
{
    ClarivoSettingsDocument (*processor).saveInteractive();
}

void ClarivoApplication::runBatchProcessor()
{
    if (batchRunning)
        return;
    batchRunning = true;
    // Between files the overlay is down, yet a click (Learn, a press on the
    // waveform, play) would run inside the batch's own message loop.
    setWindowsTakeClicks (false);
    const juce::ScopeGuard done { [this]
    {
        batchRunning = false;
        setWindowsTakeClicks (! progressVisible);
    } };
    BatchProcessor (*this).run();
}

void ClarivoApplication::showEditorPanel (int panel)
{
    if (auto* editor = getEditor())
        editor->showPanel (panel);
}

void ClarivoApplication::showUserGuide (bool quickStart)
{
    lastGuideRequest = quickStart ? 2 : 1;
    if (userGuideWindow == nullptr)
    {
        userGuideWindow = std::make_unique<UserGuideWindow>();
        userGuideWindow->setResizable (true, false);
    }
    userGuideWindow->setVisible (true);
    if (quickStart)
        userGuideWindow->showQuickStart();
}

void ClarivoApplication::checkForUpdates()
{
    // Its box is up already: that check answers.
    if (updateProgress != nullptr)
        return;
    const int check = clarivo::update::runUpdateCheck();
    updateProgress = DialogService::get().showProgress (juce::String::fromUTF8 ("Checking for updates\xe2\x80\xa6"), { "Cancel" },
                                                        [this, check] (int)
                                                        {
                                                            // Cancelled or dismissed alike: the request and its answer go.
                                                            clarivo::update::cancelCheck (check);
                                                            updateProgress = nullptr;
                                                        });
}

namespace
{
void presentUpdate (const clarivo::update::Result& result, bool interactive)
{
    using clarivo::update::Result;
    auto& dialogs = DialogService::get();
    const juce::String installed (clarivo::update::installedVersion);
    if (result.outcome == Result::Outcome::newVersion)
    {
        const auto text = "Clarivo+ " + result.version
                          + juce::String::fromUTF8 (" is now available\xe2\x80\x94you have ") + installed
                          + ". Would you like to download it now?";
        if (dialogs.ask (juce::MessageBoxIconType::InfoIcon, "A new version of Clarivo+ is available!", text, { "OK", "Cancel" }) == 0
            && ! result.link.isEmpty())
            clarivo::update::openInBrowser (result.link);
    }
    // The quiet check speaks only of a newer version.
    else if (! interactive)
        return;
    else if (result.outcome == Result::Outcome::upToDate)
        dialogs.showMessage (juce::MessageBoxIconType::InfoIcon, juce::String::fromUTF8 ("You\xe2\x80\x99re up-to-date!"),
                             "Clarivo+ " + installed + " is currently the newest version available.");
    else
        dialogs.showMessage (juce::MessageBoxIconType::WarningIcon, "Update Error!",
                             "An error occurred in retrieving update information. Please try again later.");
}
} // namespace

void ClarivoApplication::installUpdatePresenter()
{
    clarivo::update::setPresenter ([] (const clarivo::update::Result& result, bool interactive)
    {
        // The answer's box takes the place of the menu check's progress.
        if (auto* app = getApp(); app != nullptr && interactive)
            app->updateProgress = nullptr;
        // An answer arriving in the message loop of an export or a batch
        // would stop the job under its box: it waits for the job's end.
        if (auto* app = getApp())
            app->showWhenIdle ([result, interactive] { presentUpdate (result, interactive); });
        else
            presentUpdate (result, interactive);
    });
}

void ClarivoApplication::analyzeMedia (const juce::File& file) { document->analyzeMedia (file); }

bool ClarivoApplication::readMediaSamples (juce::int64 start, int numSamples, juce::AudioSampleBuffer& buffer)
{
    return document->readSamples (start, numSamples, buffer);
}

void ClarivoApplication::learnNoiseFromMedia() { document->learnNoiseProfile(); }

bool ClarivoApplication::isAnalyzeEnabled() const
{
    auto* preferences = getPreferences();
    return preferences == nullptr || preferences->getAnalyze();
}

void ClarivoApplication::setAnalyzeEnabled (bool on)
{
    if (auto* preferences = getPreferences())
        preferences->setAnalyze (on);
}

bool ClarivoApplication::exportWithAudioFormat (const juce::File& source, const juce::File& destination, int quality,
                                                juce::int64 startFrame, juce::int64 numFrames)
{
    AudioFileExport::Request request;
    request.source = source;
    request.destination = destination;
    request.quality = quality;
    request.startFrame = startFrame;
    request.numFrames = numFrames;
    request.lameProgram = lameProgram;
    request.openPage = openPage;
    return AudioFileExport::exportWithAudioFormat (formatManager, request, *overlay);
}
