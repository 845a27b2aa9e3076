#include "ClarivoApplication.h"

#include "AudioFileExport.h"
#include "CVUIEditor.h"
#include "ClarivoDocument.h"
#include "ClarivoTempFolder.h"
#include "MediaWindow.h"
#include "platform/media/FFmpegAudioFormat.h"

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
}

ClarivoApplication* ClarivoApplication::getApp() noexcept
{
    return dynamic_cast<ClarivoApplication*> (juce::JUCEApplicationBase::getInstance());
}

void ClarivoApplication::initialise (const juce::String& commandLine)
{
    CVUIEditor::installAsProcessorEditor();
    processor = std::make_unique<CVAudioProcessor>();
    processor->addChangeListener (this);
    processor->getStateInformation (lastState);
    formatManager.registerBasicFormats();
    clarivo::media::registerMediaFormats (formatManager);
    if (! playerOptions.useNullDevice && playerOptions.deviceManager == nullptr)
        deviceManager.initialiseWithDefaultDevices (0, 2);

    document = std::make_unique<ClarivoDocument>();
    mediaWindow = std::make_unique<MediaWindow>();
    document->setMediaWindow (mediaWindow.get());
    if (showWindows)
        mediaWindow->setVisible (true);
    initialised = true;

    // The first absolute path on the command line is opened.
    for (const auto& token : juce::StringArray::fromTokens (commandLine, true))
    {
        const auto path = token.unquoted();
        if (path.startsWith ("/") || path.startsWith ("~"))
        {
            openMediaFile (juce::File (path), true);
            break;
        }
    }
}

void ClarivoApplication::shutdown()
{
    if (! initialised)
        return;
    initialised = false;
    if (document != nullptr)
        document->setMediaWindow (nullptr);
    mediaWindow = nullptr;
    document = nullptr;
    processor->removeChangeListener (this);
    processor = nullptr;
    deviceManager.closeAudioDevice();
    ClarivoTempFolder::removeAll();
}

void ClarivoApplication::systemRequestedQuit()
{
    // A quit under a running job would close the document it works on. The
    // windows grey their Quit, but a refused command falls through to the
    // application's own.
    if (! isIdle())
        return;
    if (closeMedia().wasOk())
        quit();
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
        setPlayerMode (true);
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
    return formatChooser ? formatChooser() : 1;
}

//==============================================================================
void ClarivoApplication::showProgress (const juce::String& text)
{
    progressVisible = true;
    progressText = text;
    if (mediaWindow != nullptr)
        mediaWindow->setInterceptsMouseClicks (false, false);
    progressTimeline.push_back ({ ProgressEvent::Kind::show, text, 0.0, true });
    juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
}

void ClarivoApplication::setProgress (double p)
{
    if (p < 0.95 && ! progressVisible)
    {
        progressVisible = true;
        if (mediaWindow != nullptr)
            mediaWindow->setInterceptsMouseClicks (false, false);
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
    if (mediaWindow != nullptr)
        mediaWindow->setInterceptsMouseClicks (true, true);
    progressTimeline.push_back ({ ProgressEvent::Kind::hide, progressText, 0.0, false });
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

void ClarivoApplication::setLooping (bool on)
{
    looping = on;
    if (playerMode && mediaWindow != nullptr)
        mediaWindow->getTransport().setLooping (on);
}

void ClarivoApplication::playPause()
{
    if (playerMode && mediaWindow != nullptr)
        mediaWindow->getTransport().togglePlayPause();
}

void ClarivoApplication::rewindToStart()
{
    if (playerMode && mediaWindow != nullptr)
        mediaWindow->getTransport().rewindToStart();
}

void ClarivoApplication::forward()
{
    if (playerMode && mediaWindow != nullptr)
        mediaWindow->getTransport().stepForward();
}

void ClarivoApplication::backward()
{
    if (playerMode && mediaWindow != nullptr)
        mediaWindow->getTransport().stepBackward();
}

bool ClarivoApplication::isPlaying() const
{
    return playerMode && mediaWindow != nullptr && mediaWindow->getTransport().isPlaying();
}

void ClarivoApplication::resetSettings()
{
    processor->resetToDefaults();
    if (mediaWindow != nullptr)
        mediaWindow->repaint();
}

// Presets, batch processing, the editor's panels, the user guide and the
// update check arrive with their own windows.
void ClarivoApplication::loadPreset() {}
void ClarivoApplication::savePreset() {}
void ClarivoApplication::runBatchProcessor() {}
void ClarivoApplication::showEditorPanel (int) {}
void ClarivoApplication::showUserGuide (bool) {}
void ClarivoApplication::checkForUpdates() {}

void ClarivoApplication::analyzeMedia (const juce::File& file) { document->analyzeMedia (file); }

bool ClarivoApplication::readMediaSamples (juce::int64 start, int numSamples, juce::AudioSampleBuffer& buffer)
{
    return document->readSamples (start, numSamples, buffer);
}

void ClarivoApplication::learnNoiseFromMedia() { document->learnNoiseProfile(); }

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
    return AudioFileExport::exportWithAudioFormat (formatManager, request, *overlay);
}
