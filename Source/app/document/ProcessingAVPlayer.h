#pragma once

// Plays the open media file with its sound running through the restoration
// chain, and writes the processed copies: the one player of the media view,
// reached through the process-wide current-player pointer.
#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/CVAudioTapProcessor.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaExportSession.h"
#include "platform/media/MediaPlayer.h"
#include "platform/share/SharingService.h"

#include <functional>
#include <memory>

class MediaContainerComponent;
class CustomBoundsConstrainer;

class ProcessingAVPlayer
{
public:
    ProcessingAVPlayer();
    ~ProcessingAVPlayer();

    // The media view's player, or null while there is no view.
    static ProcessingAVPlayer* getCurrent() noexcept;
    static void setCurrent (ProcessingAVPlayer* player) noexcept;

    void setMCC (MediaContainerComponent* view);
    CustomBoundsConstrainer* getConstrainer() const noexcept { return constrainer.get(); }

    //==========================================================================
    // Loading and playback
    //
    // Loads a file, or a copy of the given asset, and waits until it is set
    // up for playback and analysed. False (after telling the user when
    // showErrors is set, except for a file that cannot be opened at all,
    // which the document reports) when it cannot be played.
    bool loadMovie (const juce::File& url, std::shared_ptr<clarivo::media::Asset> asset, bool showErrors);
    void removeMovie();
    // Deletes the decoded copy the loaded media played from, if it needed one.
    void forgetImportedFile();
    void reloadMovie();
    void doPlayPause();
    bool isLoaded() const noexcept { return player != nullptr && player->getCurrentItem() != nullptr; }

    double playableDuration() const;

    // The first audio track's channel count and rate (1 and 44100 without one).
    static int assetChannels (clarivo::media::Asset& asset);
    static double assetSampleRate (clarivo::media::Asset& asset);

    // Decodes source with the application's audio readers into a fresh WAV
    // file at target.
    bool importMediaFile (const juce::File& source, const juce::File& target);

    // The window height for a picture of naturalHeight: halved while the
    // window would reach below userAreaBottom - 72, at most four times.
    static int windowHeightForVideo (int naturalHeight, int windowTop, int userAreaBottom) noexcept;

    //==========================================================================
    // Controls; none acts without a loaded player.
    bool togglePlayPause(); // true when it paused
    void rewindToStart();
    void stepForward();
    void stepBackward();
    void setPosition (double fraction);
    double getPositionSeconds() const;
    double getPositionFraction() const;
    bool isPlaying() const;
    void suspend();
    void restore();
    float getRate() const;

    //==========================================================================
    // Exports
    //
    // Writes the processed sound (with the video for formats 0-2) to
    // destination, which must not exist, in format index 0-8. True only when
    // the whole file is in place.
    bool exportAsset (const juce::File& destination, bool performAsync, bool bogusPass, int format, int quality);
    // Why the last exportAsset returned false.
    enum class ExportFailure
    {
        none,
        told,             // the user has been told already (the MP3 encoder is missing)
        pictureRefused,   // the container would not take the picture
        sourceUnreadable, // the media could not be read to its end
        writeFailed,      // a write failed; getLastExportErrno says why when known
        encoderFailed,    // an encoder refused the sound or ended with a failure
        other,
    };
    ExportFailure getLastExportFailure() const noexcept { return lastExportFailure; }
    // The system's error number behind a writeFailed, 0 when unknown.
    int getLastExportErrno() const noexcept { return lastExportErrno; }
    // Why a write into a folder failed, as the end of a sentence ("the disk
    // is full"); empty when the error number is 0 (unknown).
    static juce::String writeFailureReason (int error);
    // The format a copy asked for in format index 0-8 is written in: the
    // movie formats keep the picture packet for packet, so where the one
    // asked for cannot carry the loaded picture another movie format that
    // can is taken; where none can, the user is told before anything is
    // written (verb: "save" or "share") and offered the sound-only formats.
    // -1 when the user declined. Unattended (a batch), nobody is asked: the
    // sound goes into the format the box offers first.
    int formatForCopy (int format, const juce::String& verb, bool unattended = false);
    // The plain-sound copy that the thumbnail and the analysis read: made
    // whole from the media, made by the audio readers when the media could
    // not be decoded to its end, not made at all, or not made because the
    // temporary folder took nothing (getLastExportErrno says why).
    enum class AnalysisCopy { whole, byReaders, none, noTempRoom };
    AnalysisCopy analyzeAsset (std::shared_ptr<clarivo::media::Asset> asset, const juce::File& url);

    //==========================================================================
    // Sharing
    //
    // Lists the desktop's sharing services in a menu under sender; the one
    // chosen gets a processed copy. Nothing while a job runs or without media.
    void showServicePicker (juce::Component& sender);
    // The picker's answer; null when it was dismissed.
    void sharingServicePicker (const clarivo::share::Service* service);
    // Writes the processed copy a share hands on, whole, into the share
    // folder as "<name>-<shareCount><extension>"; an invalid file, and why,
    // when it could not be made (empty when the user has been told already).
    juce::File prepareSharedCopy (juce::String& whyNot);
    // The format index of a shared copy: the one the media's extension
    // names, else a movie for media with pictures and AAC sound without.
    static int shareFormatFor (const juce::File& media, bool hasVideo);
    int getShareCount() const noexcept { return shareCount; }
    // The copy the last share prepared.
    juce::File saveTempURL;
    // How the picker's menu is shown (empty: on the screen); tests answer it
    // in the menu's place.
    using MenuPresenter = std::function<void (juce::PopupMenu&, const juce::PopupMenu::Options&, std::function<void (int)>)>;
    static void setMenuPresenter (MenuPresenter presenter);

    //==========================================================================
    // For tests: the framework player, the tap, and the clock the export's
    // settling wait reads (milliseconds).
    std::shared_ptr<clarivo::media::Player> getPlayer() const { return player; }
    CVAudioTapProcessor* getTapProcessor() const noexcept { return atp.get(); }
    // Leaves the loaded media without its tap, as when one cannot be made.
    void dropTapForTesting() { atp = nullptr; }
    std::shared_ptr<clarivo::media::Asset> getOriginalAsset() const { return origAsset; }
    static void setClock (std::function<juce::int64()> millisecondClock);
    static juce::int64 nowMs();

    // When playback last stopped or a load finished, on the clock above.
    juce::int64 lastPlayStopTime = 0;

private:
    bool setUpPlayback (std::shared_ptr<clarivo::media::Asset> composition, const juce::File& origURL);
    bool juceImportWithAsset (std::shared_ptr<clarivo::media::Asset>& asset);
    bool failLoad();
    // Refuses the load, telling why (when showErrors) in terms of the
    // temporary folder and lastExportErrno.
    bool tellTempFolderUnusable (const juce::File& source, bool showErrors);
    void step (int frames, double seconds);
    void waitForMessageLoop (int ms);
    // Clears the last failure when ok; returns ok.
    bool succeeded (bool ok) noexcept;
    // Records why the last export failed; returns false.
    bool failed (ExportFailure failure, int error = 0) noexcept;
    bool failed (clarivo::media::AssetExportSession& session) noexcept;
    // What a share says when its copy could not be made; empty when the
    // user has been told already.
    juce::String shareFailureText (ExportFailure failure, int error, const juce::File& media, int format) const;
    // Runs the message loop until the session has finished, showing its
    // progress between from and to.
    void waitForSession (clarivo::media::AssetExportSession& session, double from, double to);

    MediaContainerComponent* mcc = nullptr;
    std::unique_ptr<CustomBoundsConstrainer> constrainer;
    std::shared_ptr<clarivo::media::Player> player;
    std::unique_ptr<CVAudioTapProcessor> atp;
    std::shared_ptr<clarivo::media::Asset> origAsset;
    juce::File origURL;
    int timeObserverToken = 0, rateObserverToken = 0, endObserverToken = 0;
    int shareCount = 1;
    ExportFailure lastExportFailure = ExportFailure::none;
    int lastExportErrno = 0;
    float suspendedRate = 0.0f;
    // The decoded copy the loaded media plays from, when it needed one.
    juce::File importedFile;

    JUCE_DECLARE_NON_COPYABLE (ProcessingAVPlayer)
};
