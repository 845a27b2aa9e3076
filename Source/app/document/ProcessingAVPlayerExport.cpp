// The player's exports: the plain-sound copy made after every load, the
// processed copy a save writes in one of the nine formats, and the copy a
// share hands to another program.
#include "app/document/ProcessingAVPlayer.h"

#include "app/document/AudioFileExport.h"
#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoDocument.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/windows/DialogService.h"
#include "app/mediawindow/MediaContainerComponent.h"
#include "platform/media/MediaAssetReaderWriter.h"
#include "platform/media/MediaComposition.h"
#include "platform/media/MediaDecoding.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <wctype.h>

using namespace clarivo::media;

namespace
{
// The waveform's reading of the analysis copy: like juce::FileInputSource,
// but the file is opened without waiting for whatever stands at its name.
class RegularFileSource : public juce::InputSource
{
public:
    explicit RegularFileSource (const juce::File& f) : file (f) {}
    juce::InputStream* createInputStream() override
    {
        juce::String why;
        return detail::RegularFileInputStream::open (file, why).release();
    }
    juce::InputStream* createInputStreamFor (const juce::String& relatedItemPath) override
    {
        juce::String why;
        return detail::RegularFileInputStream::open (file.getSiblingFile (relatedItemPath), why).release();
    }
    juce::int64 hashCode() const override { return file.hashCode64(); }

private:
    const juce::File file;
};

// A name in the private temporary folder that nothing holds yet: the
// sessions write only to names that are free.
juce::File freshTempName (const juce::String& ending, int* error = nullptr)
{
    auto file = ClarivoTempFolder::createTempFile (ending, error);
    file.deleteFile();
    return file;
}

ProcessingAVPlayer::MenuPresenter menuPresenter;

// " in <folder>: <why>." for a share's failure sentences.
juce::String inFolder (const juce::File& folder, int error)
{
    const auto reason = ProcessingAVPlayer::writeFailureReason (error);
    return " in " + folder.getFullPathName() + (reason.isEmpty() ? juce::String (".") : ": " + reason + ".");
}

// Removes the intermediate files of one export whatever way it ends.
struct TempFiles
{
    std::vector<juce::File> files;
    juce::File add (const juce::String& ending, int* error = nullptr)
    {
        files.push_back (freshTempName (ending, error));
        return files.back();
    }
    ~TempFiles()
    {
        for (auto& f : files)
            f.deleteFile();
    }
};

// The render's tap is the only one that may fetch audio while it runs.
struct ActiveTap
{
    explicit ActiveTap (AudioProcessingTapRef tap) { CVAudioTapProcessor::setActiveTap (tap); }
    ~ActiveTap() { CVAudioTapProcessor::setActiveTap (nullptr); }
};

// Bypass as the export found it, held for the whole render: Bypass passes
// the sound on undelayed, so whether the chain's delay is cut from the
// copy's head follows from this one reading.
struct HeldBypass
{
    explicit HeldBypass (CVAudioProcessor& p) : processor (p), on (p.isBypassed()) { processor.holdBypass (on); }
    ~HeldBypass() { processor.releaseBypass(); }
    CVAudioProcessor& processor;
    const bool on;
};

struct Overlay
{
    Overlay (ClarivoApplication& a, const juce::String& text) : app (a) { app.showProgress (text); }
    ~Overlay() { hide(); }
    void hide()
    {
        if (shown)
            app.hideProgress();
        shown = false;
    }
    ClarivoApplication& app;
    bool shown = true;
};

// Formats 0-6 are the containers the media layer writes, by extension.
std::optional<FileType> fileTypeForFormat (int format)
{
    return format >= 0 && format <= 6 ? fileTypeForExtension (ClarivoDocument::extensionForFormat (format)) : std::nullopt;
}

// Copies frames [first, first + count) of the rendered sound into a 24-bit
// WAV or AIFF file at the source's rate and channel count, and waits for it.
bool copyAsLinearPCM (std::shared_ptr<Asset> rendered, const juce::File& destination, FileType type, double rate,
                      int channels, std::int64_t first, std::int64_t count, const juce::StringPairArray& tags)
{
    LinearPCMSettings settings;
    settings.sampleRate = rate;
    settings.numberOfChannels = channels;
    settings.bitDepth = 24;
    settings.isFloat = false;
    settings.isBigEndian = type != FileType::wave;

    auto reader = AssetReader::create (rendered);
    if (reader == nullptr)
        return false;
    auto output = AssetReaderAudioMixOutput::create (rendered->getTracksWithMediaType (MediaType::audio), settings);
    if (output == nullptr || ! reader->canAddOutput (*output))
        return false;
    reader->addOutput (output);
    const auto scale = (std::int32_t) std::lround (rate);
    reader->setTimeRange ({ makeTime (first, scale), makeTime (count, scale) });
    if (! reader->startReading())
        return false;

    auto writer = AssetWriter::create (destination, type);
    auto input = AssetWriterInput::create (MediaType::audio, settings);
    input->setExpectsMediaDataInRealTime (false);
    if (writer == nullptr || ! writer->canAddInput (*input))
        return false;
    writer->addInput (input);
    writer->setMetadata (tags);
    if (! writer->startWriting())
        return false;
    writer->startSessionAtSourceTime (Time::zero());

    auto done = std::make_shared<std::atomic<int>> (0); // 1 written, -1 failed
    auto queue = SerialQueue::create ("assetWriterQueue");
    input->requestMediaDataWhenReadyOnQueue (queue, [input, output, reader, writer, done]
    {
        if (done->load() != 0)
            return;
        juce::Logger::writeToLog ("start");
        bool ok = true;
        while (ok && input->isReadyForMoreMediaData())
        {
            auto buffer = output->copyNextSampleBuffer();
            if (buffer == nullptr)
                break;
            ok = input->appendSampleBuffer (*buffer);
        }
        ok = ok && reader->getStatus() != ReaderStatus::failed;
        input->markAsFinished();
        if (ok)
            ok = writer->finishWriting();
        else
            writer->cancelWriting();
        juce::Logger::writeToLog ("finish");
        done->store (ok ? 1 : -1);
    });
    // Runs after the request: a writer that wanted no data at all has failed.
    queue->async ([done]
    {
        int unanswered = 0;
        done->compare_exchange_strong (unanswered, -1);
    });
    while (done->load() == 0)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
    queue->waitUntilIdle();
    return done->load() == 1;
}

// What the media layer said stopped a session; one that did not fail
// failed nothing the user can be told of.
ProcessingAVPlayer::ExportFailure failureOf (AssetExportSession& session)
{
    using Failure = ProcessingAVPlayer::ExportFailure;
    if (session.getStatus() != ExportStatus::failed)
        return Failure::other;
    switch (session.getFailure())
    {
        case clarivo::media::ExportFailure::sourceUnreadable: return Failure::sourceUnreadable;
        case clarivo::media::ExportFailure::pictureRefused: return Failure::pictureRefused;
        case clarivo::media::ExportFailure::writeFailed: return Failure::writeFailed;
        case clarivo::media::ExportFailure::encoderFailed: return Failure::encoderFailed;
        case clarivo::media::ExportFailure::none:
        case clarivo::media::ExportFailure::cancelled:
        case clarivo::media::ExportFailure::other: break;
    }
    return Failure::other;
}

void logStatus (AssetExportSession& session, const char* suffix)
{
    switch (session.getStatus())
    {
        case ExportStatus::completed: juce::Logger::writeToLog (juce::String ("AVAssetExportSessionStatusCompleted") + suffix); break;
        case ExportStatus::failed:
            juce::Logger::writeToLog (juce::String ("AVAssetExportSessionStatusFailed") + suffix + ": " + session.getError());
            break;
        default:
            juce::Logger::writeToLog (juce::String ("Export Session") + (suffix[0] != 0 ? "2" : "") + " Status: "
                                      + juce::String ((int) session.getStatus()));
            break;
    }
}
} // namespace

void ProcessingAVPlayer::waitForSession (AssetExportSession& session, double from, double to)
{
    auto* app = ClarivoApplication::getApp();
    auto finished = std::make_shared<std::atomic<bool>> (false);
    session.exportAsynchronously ([finished] { finished->store (true); });
    double shown = -1.0;
    while (! finished->load())
    {
        waitForMessageLoop (1);
        const double p = from + (to - from) * session.getProgress();
        if (app != nullptr && p - shown >= 0.01)
        {
            app->setProgress (p);
            shown = p;
        }
    }
}

//==============================================================================
ProcessingAVPlayer::AnalysisCopy ProcessingAVPlayer::analyzeAsset (std::shared_ptr<Asset> asset, const juce::File& url)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr || asset == nullptr)
        return AnalysisCopy::none;

    // A lossless copy of the plain sound: the analysis and the learning read
    // exactly what the chain is given.
    lastExportErrno = 0;
    auto copy = freshTempName ("TempCleanAudio.wav", &lastExportErrno);
    if (copy == juce::File())
        return AnalysisCopy::noTempRoom;
    bool made = false;
    {
        Overlay overlay (*app, "Loading...");
        auto session = AssetExportSession::exportSessionWithAsset (asset, kExportPresetLinearPCM);
        if (session != nullptr && copy != juce::File())
        {
            session->setOutputURL (copy);
            session->setOutputFileType (FileType::wave);
            session->setAudioMix (nullptr);
            if (auto audio = asset->getFirstTrackWithMediaType (MediaType::audio))
                session->setTimeRange (audio->getTimeRange());
            if (atp != nullptr)
                atp->reset();
            waitForMessageLoop (100);
            waitForSession (*session, 0.0, 1.0);
            logStatus (*session, "");
            made = session->getStatus() == ExportStatus::completed;
            // What could not be written there, the readers could not write either.
            if (! made && failureOf (*session) == ExportFailure::writeFailed)
            {
                lastExportErrno = session->getFailureErrno();
                return AnalysisCopy::noTempRoom;
            }
        }
        if (! made)
        {
            // The readers may still understand it. The failed session has
            // removed its output, and the import writes only into a file
            // that exists, so it gets a name of its own.
            overlay.hide();
            copy.deleteFile();
            if (url == juce::File())
                return AnalysisCopy::none;
            copy = ClarivoTempFolder::createTempFile ("TempCleanAudio.wav", &lastExportErrno);
            if (copy == juce::File())
                return AnalysisCopy::noTempRoom;
            if (! importMediaFile (url, copy))
            {
                copy.deleteFile();
                return AnalysisCopy::none;
            }
        }
    }

    if (mcc != nullptr)
    {
        mcc->getThumbnailCache().clear();
        mcc->getThumbnail().setSource (new RegularFileSource (copy));
        mcc->repaint();
    }
    app->analyzeMedia (copy);
    return made ? AnalysisCopy::whole : AnalysisCopy::byReaders;
}

//==============================================================================
bool ProcessingAVPlayer::exportAsset (const juce::File& destination, bool, bool, int format, int quality)
{
    // Set where the cause is known; every other way out is "other".
    lastExportFailure = ExportFailure::other;
    lastExportErrno = 0;
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr || player == nullptr || player->getCurrentItem() == nullptr || atp == nullptr || origAsset == nullptr
        || format < 0 || format > 8 || ! detail::mayWriteTo (destination))
        return false;

    Overlay overlay (*app, "Working...");
    const HeldBypass bypass (app->getProcessor());
    if (player->getRate() != 0.0f)
        player->pause();
    atp->reset();

    // Let playback wind down before the render takes the chain: until the
    // player has stopped calling the tap (at once when nothing played since
    // the load), and never longer than five seconds.
    for (juce::int64 elapsed = nowMs() - lastPlayStopTime; elapsed >= 0 && elapsed < 5000 && ! player->hasTapStopped();
         elapsed = nowMs() - lastPlayStopTime)
    {
        waitForMessageLoop (10);
        app->setProgress ((double) elapsed / 5000.0 * 0.02);
    }
    atp->reset();

    // Without the tap the copy would hold the unprocessed sound.
    auto mix = atp->getAudioMix();
    if (mix == nullptr)
        return false;

    auto composition = player->getCurrentItem()->getAsset();
    auto audio = composition->getFirstTrackWithMediaType (MediaType::audio);
    if (audio == nullptr)
        return false;
    const double rate = assetSampleRate (*origAsset);
    const int channels = assetChannels (*origAsset);
    const auto scale = (std::int32_t) std::lround (rate);
    const std::int64_t frames = audio->getTimeRange().duration.toSamples (rate);
    auto& processor = app->getProcessor();

    // The render runs the chain once over the whole sound and on through its
    // latency in silence, so the last of the sound comes out too; the head
    // it delays by is cut off below, to the sample.
    TempFiles temp;
    int tempError = 0;
    const auto rendered = temp.add ("TempCleanAudio.wav", &tempError);
    if (rendered == juce::File())
        return failed (ExportFailure::writeFailed, tempError);
    {
        auto session = AssetExportSession::exportSessionWithAsset (composition, kExportPresetLinearPCM);
        if (session == nullptr)
            return false;
        session->setOutputURL (rendered);
        session->setOutputFileType (FileType::wave);
        session->setAudioMix (mix);
        const std::int64_t latency = bypass.on ? 0 : processor.getLatencySamples();
        session->setTimeRange ({ Time::zero(), makeTime (frames + latency, scale) });
        // The render's tap prepares the chain on the export's thread while
        // the windows go on reading the rate and layout here; set here first,
        // they are not written there.
        processor.setPlayConfigDetails (channels, channels, rate, AssetExportSession::maxFramesPerSlice);
        ActiveTap active (atp->getTap());
        atp->reset();
        waitForSession (*session, 0.02, format <= 4 ? 0.5 : 0.9);
        logStatus (*session, "");
        atp->reset();
        if (session->getStatus() != ExportStatus::completed)
            return failed (*session);
    }
    const std::int64_t latency = bypass.on ? 0 : processor.getLatencySamples();
    auto renderedAsset = URLAsset::assetWithURL (rendered);

    if (format == 5 || format == 6)
    {
        // The render has just been read whole: what fails here is the writing.
        lastExportFailure = ExportFailure::writeFailed;
        return succeeded (copyAsLinearPCM (renderedAsset, destination, *fileTypeForFormat (format), rate, channels, latency,
                                           frames, fileMetadata (origURL)));
    }

    if (format == 7 || format == 8)
    {
        overlay.hide();
        const bool withoutEncoder = format == 8 && ! app->lameProgram.existsAsFile();
        AudioFileExport::Outcome outcome;
        if (app->exportWithAudioFormat (rendered, destination, quality, latency, frames, &outcome))
            return succeeded (true);
        return failed (withoutEncoder ? ExportFailure::told : outcome.encoderFailed ? ExportFailure::encoderFailed : ExportFailure::writeFailed,
                       outcome.error);
    }

    // The movie and AAC formats: the trimmed sound encoded once, then put
    // beside the source's untouched pictures.
    auto renderedTrack = renderedAsset->getFirstTrackWithMediaType (MediaType::audio);
    if (renderedTrack == nullptr)
        return false;
    const auto encoded = temp.add ("TempCleanAudio.m4a", &tempError);
    if (encoded == juce::File())
        return failed (ExportFailure::writeFailed, tempError);
    {
        auto trimmed = MutableComposition::composition();
        trimmed->addMutableTrack (MediaType::audio, 0)
            ->insertTimeRange ({ makeTime (latency, scale), makeTime (frames, scale) }, *renderedTrack, Time::zero());
        auto session = AssetExportSession::exportSessionWithAsset (trimmed, kExportPresetAppleM4A);
        if (session == nullptr)
            return false;
        session->setOutputURL (encoded);
        session->setOutputFileType (FileType::appleM4A);
        waitForSession (*session, 0.5, 0.9);
        if (session->getStatus() != ExportStatus::completed)
            return failed (*session);
    }

    auto encodedAsset = URLAsset::assetWithURL (encoded);
    auto movie = MutableComposition::composition();
    auto source = origAsset;
    if (format <= 2)
        if (auto video = source->getFirstTrackWithMediaType (MediaType::video))
        {
            auto track = movie->addMutableTrack (MediaType::video, 0);
            track->insertTimeRange ({ Time::zero(), source->getDuration() }, *video, Time::zero());
            track->setPreferredTransform (video->getPreferredTransform());
        }
    // A copy without its sound would be no processed copy at all.
    auto sound = encodedAsset->getFirstTrackWithMediaType (MediaType::audio);
    if (sound == nullptr)
        return false;
    movie->addMutableTrack (MediaType::audio, 0)->insertTimeRange (sound->getTimeRange(), *sound, Time::zero());

    auto session = AssetExportSession::exportSessionWithAsset (movie, kExportPresetPassthrough);
    if (session == nullptr)
        return false;
    session->setOutputURL (destination);
    session->setOutputFileType (*fileTypeForFormat (format));
    // Photo libraries file a copy by the day, place and camera its source names.
    session->setMetadata (fileMetadata (origURL));
    waitForSession (*session, 0.9, 1.0);
    logStatus (*session, "(2)");
    return session->getStatus() == ExportStatus::completed ? succeeded (true) : failed (*session);
}

bool ProcessingAVPlayer::succeeded (bool ok) noexcept
{
    if (ok)
    {
        lastExportFailure = ExportFailure::none;
        lastExportErrno = 0;
    }
    return ok;
}

bool ProcessingAVPlayer::failed (ExportFailure failure, int error) noexcept
{
    lastExportFailure = failure;
    lastExportErrno = error;
    return false;
}

bool ProcessingAVPlayer::failed (AssetExportSession& session) noexcept
{
    return failed (failureOf (session), session.getFailureErrno());
}

juce::String ProcessingAVPlayer::writeFailureReason (int error)
{
    switch (error)
    {
        case 0: return {};
        case ENOSPC:
        case EDQUOT: return "the disk is full";
        case EROFS: return "the disk is read-only";
        case EACCES:
        case EPERM: return "Clarivo has no permission to write there";
        case EIO: return "the device reported an error";
        case ENOENT: return "the folder does not exist";
        case ENOTDIR: return "part of its path is not a folder";
        default: break;
    }
    return "the system reported \"" + juce::String (std::strerror (error)) + "\"";
}

int ProcessingAVPlayer::formatForCopy (int format, const juce::String& verb, bool unattended)
{
    const auto movie = fileTypeForFormat (format);
    const auto codec = origAsset != nullptr ? pictureCodec (*origAsset) : juce::String();
    if (! movie || isAudioOnly (*movie) || codec.isEmpty() || carriesPicture (*movie, codec))
        return format;
    // MP4 first: it carries the most, and its name says what the copy is.
    for (int other : { 1, 0, 2 })
        if (carriesPicture (*fileTypeForFormat (other), codec))
            return other;

    const juce::StringArray soundOnly { "M4A", "CoreAudio", "WAVE", "AIFF", "FLAC", "MP3" };
    if (unattended)
        return 3;
    auto buttons = soundOnly;
    buttons.add ("Cancel");
    const auto name = origURL != juce::File() ? origURL.getFileName() : juce::String ("the media");
    const int answer = DialogService::get().ask (
        juce::MessageBoxIconType::WarningIcon, "Picture Cannot Be Kept",
        "The picture of \"" + name + "\" is " + pictureCodecTitle (codec)
            + ", which none of the movie formats (QuickTime, MPEG-4, M4V) can carry. Nothing has been written.\n\n"
              "Clarivo can "
            + verb + " the processed sound alone in one of these formats:",
        buttons);
    return answer >= 0 && answer < soundOnly.size() ? 3 + answer : -1;
}

//==============================================================================
void ProcessingAVPlayer::setMenuPresenter (MenuPresenter presenter) { menuPresenter = std::move (presenter); }

int ProcessingAVPlayer::shareFormatFor (const juce::File& media, bool hasVideo)
{
    const int own = ClarivoDocument::ownFormatForFile (media);
    return own >= 0 ? own : hasVideo ? 0 : 3;
}

void ProcessingAVPlayer::showServicePicker (juce::Component& sender)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr || ! app->isIdle() || ! isLoaded())
        return;

    auto services = std::make_shared<std::vector<clarivo::share::Service>> (clarivo::share::findServices());
    juce::PopupMenu menu;
    menu.setLookAndFeel (&sender.getLookAndFeel());
    for (size_t i = 0; i < services->size(); ++i)
        menu.addItem ((int) i + 1, (*services)[i].name);
    if (services->empty())
        menu.addItem (1000, TRANS ("No sharing service is installed"), false);

    const auto options = juce::PopupMenu::Options().withTargetComponent (&sender).withPreferredPopupDirection (
        juce::PopupMenu::Options::PopupDirection::downwards);
    // The answer comes later, when the player may be gone or busy.
    auto chosen = [services] (int id)
    {
        if (auto* player = getCurrent())
            player->sharingServicePicker (id >= 1 && id <= (int) services->size() ? &(*services)[(size_t) id - 1] : nullptr);
    };
    if (menuPresenter)
        menuPresenter (menu, options, std::move (chosen));
    else
        menu.showMenuAsync (options, std::move (chosen));
}

void ProcessingAVPlayer::sharingServicePicker (const clarivo::share::Service* service)
{
    auto* app = ClarivoApplication::getApp();
    if (service == nullptr || app == nullptr || ! app->isIdle() || ! isLoaded())
        return;
    juce::String whyNot;
    const auto copy = prepareSharedCopy (whyNot);
    if (copy == juce::File())
    {
        if (whyNot.isNotEmpty())
            DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "Sharing Failed", whyNot);
        return;
    }
    service->share (copy, [name = service->name, copy] (const juce::String& why)
    {
        const auto tell = [name, copy, why]
        {
            DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "Sharing Failed",
                                              "Clarivo could not hand the copy to " + name + ": " + why
                                                  + "\n\nThe copy is kept at:\n" + copy.getFullPathName());
        };
        if (auto* a = ClarivoApplication::getApp())
            a->showWhenIdle (tell);
    });
}

juce::String ProcessingAVPlayer::shareFailureText (ExportFailure failure, int error, const juce::File& media, int format) const
{
    const auto name = "\"" + media.getFileName() + "\"";
    const juce::String nothing = " Nothing was shared.";
    switch (failure)
    {
        case ExportFailure::told:
            return {};
        case ExportFailure::pictureRefused:
            if (format > 2)
                return "The " + ClarivoDocument::extensionForFormat (format) + " container refused the processed sound of " + name + "."
                     + nothing;
            return "The " + ClarivoDocument::extensionForFormat (format) + " container refused the picture of " + name + " ("
                 + pictureCodecTitle (origAsset != nullptr ? pictureCodec (*origAsset) : juce::String()) + ")." + nothing;
        case ExportFailure::sourceUnreadable:
            return "Clarivo could not read " + name + " to its end, so there is no whole processed copy to share." + nothing;
        case ExportFailure::writeFailed:
            return "Clarivo could not write the processed copy of " + name + " to share"
                 + inFolder (juce::File::getSpecialLocation (juce::File::tempDirectory), error) + nothing;
        case ExportFailure::encoderFailed:
            if (format != 8)
                return "The sound encoder refused the processed sound of " + name + "." + nothing;
            return "The MP3 encoder (" + ClarivoApplication::getApp()->lameProgram.getFullPathName()
                 + ") failed on the processed copy of " + name + "." + nothing;
        case ExportFailure::none: // a failure nobody named is still a failure
        case ExportFailure::other:
            break;
    }
    return "Clarivo could not make the processed copy of " + name + "." + nothing;
}

namespace
{
// Other programs take the copy's name as part of a command of their own (a
// mail helper pastes it into "attachment='...'" after decoding escapes), so
// Clarivo makes it plain: letters and digits of any script, space, '-', '_'
// and '.', every other character '_', never read as an option or a hidden
// file, and short enough for any folder.
juce::String sharedCopyName (const juce::String& stem, int number, const juce::String& extension)
{
    static const locale_t unicode = ::newlocale (LC_CTYPE_MASK, "C.UTF-8", (locale_t) nullptr);
    constexpr size_t maxStemBytes = 100;
    juce::String plain;
    size_t bytes = 0;
    for (auto p = stem.getCharPointer(); ! p.isEmpty();)
    {
        auto c = p.getAndAdvance();
        const bool ascii = c < 0x80;
        const bool kept = c == ' ' || c == '-' || c == '_' || c == '.'
                          || (ascii ? juce::CharacterFunctions::isLetterOrDigit ((char) c)
                                    : unicode != (locale_t) nullptr && ::iswalnum_l ((wint_t) c, unicode) != 0);
        if (! kept || (plain.isEmpty() && (c == '-' || c == '.')))
            c = '_';
        bytes += juce::CharPointer_UTF8::getBytesRequiredFor (c);
        if (bytes > maxStemBytes)
            break;
        plain += juce::String::charToString (c);
    }
    return (plain.isEmpty() ? juce::String ("_") : plain) + "-" + juce::String (number) + extension;
}
} // namespace

juce::File ProcessingAVPlayer::prepareSharedCopy (juce::String& whyNot)
{
    auto* app = ClarivoApplication::getApp();
    auto media = origURL;
    if (mcc != nullptr && ! mcc->getMediaURL().isEmpty())
        media = mcc->getMediaURL().getLocalFile();
    if (app == nullptr || origAsset == nullptr || media == juce::File())
    {
        whyNot = "No media is open.";
        return {};
    }
    int error = 0;
    const auto folder = ClarivoTempFolder::shareFolder (&error);
    if (folder == juce::File())
    {
        whyNot = "Clarivo could not make a private folder for shared copies"
                 + inFolder (juce::File::getSpecialLocation (juce::File::tempDirectory), error) + " Nothing was shared.";
        return {};
    }

    const bool hasVideo = origAsset->getFirstTrackWithMediaType (MediaType::video) != nullptr;
    // The user was told already why no movie can be made, and declined the sound alone.
    const int format = formatForCopy (shareFormatFor (media, hasVideo), "share");
    if (format < 0)
        return {};
    const auto extension = ClarivoDocument::extensionForFormat (format);
    // Copies of an earlier run may still hold the first numbers: the next
    // free one is taken, never an existing file. The copy takes it only
    // when whole: a service (or a signal that ends us) never meets part of one.
    juce::File shared;
    for (int tries = 0; shared == juce::File() && tries < 1000; ++tries)
    {
        const auto name = sharedCopyName (media.getFileNameWithoutExtension(), shareCount++, extension);
        if (! detail::nameIsTaken (folder.getChildFile (name)))
            shared = folder.getChildFile (name);
    }
    if (shared == juce::File())
    {
        whyNot = "Clarivo could not make a file for the shared copy" + inFolder (folder, error) + " Nothing was shared.";
        return {};
    }
    if (! exportAsset (shared, false, false, format, app->getDocument().qualityIndex))
    {
        whyNot = shareFailureText (lastExportFailure, lastExportErrno, media, format);
        return {};
    }
    saveTempURL = shared;
    return shared;
}
