#include "app/document/ProcessingAVPlayer.h"

#include "app/document/AudioFileExport.h"
#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/windows/DialogService.h"
#include "app/mediawindow/MediaContainerComponent.h"
#include "platform/media/FFmpegAudioFormat.h"
#include "platform/media/MediaComposition.h"
#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaFileOutput.h"

#include <atomic>

using namespace clarivo::media;

namespace
{
ProcessingAVPlayer* currentPlayer = nullptr;

std::function<juce::int64()>& exportClock()
{
    static std::function<juce::int64()> c;
    return c;
}

bool canRead (const juce::File& file)
{
    juce::String why;
    return detail::RegularFileInputStream::open (file, why) != nullptr;
}
} // namespace

ProcessingAVPlayer::ProcessingAVPlayer() = default;

ProcessingAVPlayer::~ProcessingAVPlayer()
{
    removeMovie();
    if (currentPlayer == this)
        currentPlayer = nullptr;
}

ProcessingAVPlayer* ProcessingAVPlayer::getCurrent() noexcept { return currentPlayer; }
void ProcessingAVPlayer::setCurrent (ProcessingAVPlayer* p) noexcept { currentPlayer = p; }

void ProcessingAVPlayer::setClock (std::function<juce::int64()> c) { exportClock() = std::move (c); }

juce::int64 ProcessingAVPlayer::nowMs()
{
    return exportClock() ? exportClock()() : (juce::int64) juce::Time::getMillisecondCounterHiRes();
}

void ProcessingAVPlayer::setMCC (MediaContainerComponent* view)
{
    mcc = view;
    constrainer = std::make_unique<CustomBoundsConstrainer>();
    constrainer->setSizeLimits (640, 280, 10000, 10000);
    constrainer->setMinimumOnscreenAmounts (10000, 10000, 10000, 10000);
    shareCount = 1;
}

void ProcessingAVPlayer::waitForMessageLoop (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}

//==============================================================================
int ProcessingAVPlayer::assetChannels (Asset& asset)
{
    const auto description = firstAudioStreamDescription (asset);
    return description && description->channelsPerFrame > 0 ? description->channelsPerFrame : 1;
}

double ProcessingAVPlayer::assetSampleRate (Asset& asset)
{
    const auto description = firstAudioStreamDescription (asset);
    return description && description->sampleRate > 0.0 ? description->sampleRate : 44100.0;
}

int ProcessingAVPlayer::windowHeightForVideo (int naturalHeight, int windowTop, int userAreaBottom) noexcept
{
    int height = naturalHeight;
    for (int i = 0; i < 4 && windowTop + height > userAreaBottom - 72; ++i)
        height /= 2;
    return height;
}

//==============================================================================
bool ProcessingAVPlayer::importMediaFile (const juce::File& source, const juce::File& target)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return false;
    auto reader = createReaderForFile (app->getFormatManager(), source);
    if (reader == nullptr || reader->numChannels < 1 || reader->numChannels > 2 || reader->sampleRate <= 0.0)
        return false;

    // Written whole before it takes target's place (a name of our own in
    // the temporary folder, made for it).
    juce::String why;
    detail::PartialFile partial (target, why);
    if (! partial.isValid())
        return false;
    auto failed = std::make_shared<std::atomic<int>> (0);
    auto stream = std::make_unique<detail::CheckedFileOutputStream> (partial.getFile(), failed);
    if (! stream->openedOk())
        return false;
    const int bits = reader->usesFloatingPointData ? 32 : juce::jlimit (16, 24, (int) reader->bitsPerSample);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), reader->sampleRate, reader->numChannels, bits, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release(); // the writer owns it now

    auto& progress = app->overlayProgress();
    progress.show ("Importing...");
    bool ok = AudioFileExport::copyFrames (*reader, *writer, 0, reader->lengthInSamples, progress);
    progress.hide();
    ok = writer->flush() && ok;
    writer.reset();
    return ok && failed->load() == 0 && partial.commit (target, detail::IfTaken::replace, why) != juce::File();
}

bool ProcessingAVPlayer::juceImportWithAsset (std::shared_ptr<Asset>& asset)
{
    const auto target = ClarivoTempFolder::createTempFile ("TempCleanAudioP.wav", &lastExportErrno);
    if (target == juce::File())
        return false;
    if (! importMediaFile (asset->getURL(), target))
    {
        target.deleteFile();
        return false;
    }
    importedFile = target;
    asset = URLAsset::assetWithURL (target);
    return true;
}

//==============================================================================
bool ProcessingAVPlayer::loadMovie (const juce::File& url, std::shared_ptr<Asset> givenAsset, bool showErrors)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return false;

    // One player at a time: a second one would play over the first.
    removeMovie();
    forgetImportedFile();

    std::shared_ptr<Asset> asset = givenAsset != nullptr ? givenAsset->copy() : URLAsset::assetWithURL (url);
    const auto source = givenAsset != nullptr ? givenAsset->getURL() : url;

    // A file that cannot be read, or media too damaged to open, is the
    // document's to report; it is not a file without sound.
    if (source != juce::File() && (! canRead (source) || asset->isDamaged()))
        return false;

    if (asset->getTracksWithMediaType (MediaType::audio).empty())
    {
        // Sound that only the audio readers understand is played from a decoded copy.
        auto reader = createReaderForFile (app->getFormatManager(), source);
        const bool multichannel = reader != nullptr && reader->numChannels > 2;
        reader.reset();
        lastExportErrno = 0;
        if (multichannel || ! juceImportWithAsset (asset) || asset->getTracksWithMediaType (MediaType::audio).empty())
        {
            forgetImportedFile();
            if (lastExportErrno != 0)
                return tellTempFolderUnusable (source, showErrors);
            if (showErrors)
            {
                if (multichannel)
                    DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "Multichannel not supported",
                                                      "Clarivo does not support media files with more than 2 channels of audio.");
                else
                    DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "No Audio",
                                                      "This media file does not contain any audio tracks.");
            }
            return false;
        }
    }

    if (assetChannels (*asset) > 2)
    {
        forgetImportedFile();
        if (showErrors)
            DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "Multichannel not supported",
                                              "Clarivo does not support media files with more than 2 channels of audio.");
        return false;
    }

    auto options = app->playerOptions;
    if (options.deviceManager == nullptr && ! options.useNullDevice)
        options.deviceManager = &app->getDeviceManager();
    player = std::make_shared<Player> (options);
    origAsset = asset->copy();
    origURL = source;

    // The keys load off the main thread; the load waits for them so that a
    // file that cannot be played is refused, not opened silently.
    auto loaded = std::make_shared<std::atomic<bool>> (false);
    const juce::StringArray keys { "playable", "hasProtectedContent", "tracks", "duration" };
    asset->loadValuesAsynchronously (keys, [loaded] { loaded->store (true); });
    while (! loaded->load())
        waitForMessageLoop (1);
    for (const auto& key : keys)
        if (asset->statusOfValueForKey (key) == KeyStatus::failed)
            return failLoad();
    if (! asset->isPlayable() || asset->hasProtectedContent())
        return failLoad();

    // The chain's rate and slice size are the media's from here on, so the
    // video delay and the learn region are measured in its samples.
    const double rate = assetSampleRate (*asset);
    auto& processor = app->getProcessor();
    processor.prepareToPlay (rate, Player::maxFramesPerSlice);
    processor.setPlayConfigDetails (2, 2, rate, Player::maxFramesPerSlice);

    const double latencyMs = processor.getLatencySamples() / rate * 1000.0;
    auto composition = MutableComposition::composition();
    const TimeRange whole { Time::zero(), asset->getDuration() };
    if (auto video = asset->getFirstTrackWithMediaType (MediaType::video))
    {
        auto track = composition->addMutableTrack (MediaType::video, 0);
        track->insertTimeRange (whole, *video, makeTime ((std::int64_t) latencyMs, 1000));
        track->setPreferredTransform (video->getPreferredTransform());
    }
    if (auto audio = asset->getFirstTrackWithMediaType (MediaType::audio))
    {
        auto track = composition->addMutableTrack (MediaType::audio, 0);
        track->insertTimeRange (whole, *audio, Time::zero());
    }

    if (! setUpPlayback (composition, source))
        return failLoad();
    // Without its plain copy the media would open with no waveform and no
    // analysis: it is refused. Sound that only the audio readers could get
    // through opens, but its saves read the media again and may fail, which
    // the user hears now rather than after the work.
    const auto copy = analyzeAsset (composition, source);
    if (copy == AnalysisCopy::noTempRoom)
        return tellTempFolderUnusable (source, showErrors);
    if (copy != AnalysisCopy::whole && showErrors)
        DialogService::get().showMessage (
            juce::MessageBoxIconType::WarningIcon, "Damaged Media",
            "Clarivo could not read the sound of \"" + source.getFileName() + "\" to its end: the file may be damaged or incomplete."
                + (copy == AnalysisCopy::none ? juce::String()
                                              : juce::String ("\n\nThe waveform and the analysis show the sound Clarivo could read; "
                                                              "saving or sharing a processed copy may fail.")));
    return copy == AnalysisCopy::none ? failLoad() : true;
}

bool ProcessingAVPlayer::tellTempFolderUnusable (const juce::File& source, bool showErrors)
{
    // Not the media's fault: the same file opens once the folder has room.
    if (showErrors)
    {
        const auto reason = writeFailureReason (lastExportErrno);
        DialogService::get().showMessage (
            juce::MessageBoxIconType::WarningIcon, "Temporary Folder Unusable",
            "Clarivo could not open \"" + source.getFileName() + "\": it keeps a working copy of the sound in the temporary folder "
                + juce::File::getSpecialLocation (juce::File::tempDirectory).getFullPathName() + ", and could not write there"
                + (reason.isEmpty() ? juce::String() : ": " + reason) + ".\n\nMake room there, or start Clarivo with TMPDIR set "
                + "to a folder that has room.");
    }
    return failLoad();
}

bool ProcessingAVPlayer::failLoad()
{
    removeMovie();
    origAsset = nullptr;
    forgetImportedFile();
    return false;
}

bool ProcessingAVPlayer::setUpPlayback (std::shared_ptr<Asset> composition, const juce::File& url)
{
    auto* app = ClarivoApplication::getApp();
    auto item = PlayerItem::playerItemWithAsset (composition);
    if (item == nullptr || item->getStatus() != PlayerItemStatus::readyToPlay)
        return false;

    // The window keeps the picture's shape; sound alone gets a wide strip.
    juce::Component* window = mcc != nullptr ? mcc->getTopLevelComponent() : nullptr;
    auto* peer = window != nullptr ? window->getPeer() : nullptr;
    const auto saved = window != nullptr ? window->getBounds() : juce::Rectangle<int>();
    constrainer->setFixedAspectRatio (1.66);
    if (mcc != nullptr)
        mcc->audioOnly = false;

    int height = 214;
    auto video = composition->getFirstTrackWithMediaType (MediaType::video);
    const auto natural = video != nullptr ? video->getNaturalSize() : juce::Point<float>();
    if (video == nullptr || natural.y < 1.0f || natural.x < 1.0f)
    {
        constrainer->setFixedAspectRatio (6.4);
        constrainer->setSizeLimits (640, 100, 10000, 10000);
        if (mcc != nullptr)
        {
            mcc->audioOnly = true;
            mcc->setVideoVisible (false);
        }
    }
    else
    {
        constrainer->setFixedAspectRatio ((double) natural.x / (double) natural.y);
        const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
        const int bottom = display != nullptr ? display->userArea.getBottom() : 100000;
        height = windowHeightForVideo ((int) natural.y, saved.getY(), bottom);
    }
    if (peer != nullptr)
    {
        peer->setConstrainer (constrainer.get());
        window->setBounds (saved.getX(), saved.getY(), saved.getWidth(), height);
    }

    player->replaceCurrentItemWithPlayerItem (item);
    if (mcc != nullptr && video != nullptr && natural.y >= 1.0f)
        mcc->setVideoVisible (true);

    juce::Component::SafePointer<MediaContainerComponent> view (mcc);
    rateObserverToken = player->addRateObserver ([this, view] (float rate)
    {
        if (view != nullptr)
            view->sendActionMessage ("time");
        if (rate == 0.0f)
            lastPlayStopTime = nowMs();
    });
    timeObserverToken = player->addPeriodicTimeObserver (makeTime (1, 10), [view] (Time)
    {
        if (view != nullptr)
            view->sendActionMessage ("time");
    });
    player->setActionAtItemEnd (ActionAtItemEnd::none);
    endObserverToken = item->addDidPlayToEndObserver ([] (PlayerItem& ended)
    {
        if (auto* a = ClarivoApplication::getApp(); a != nullptr && a->isLooping())
            ended.seekToTime (Time::zero());
    });

    if (auto audio = composition->getFirstTrackWithMediaType (MediaType::audio))
    {
        atp = std::make_unique<CVAudioTapProcessor> (audio, app->getProcessor());
        if (auto mix = atp->getAudioMix())
            item->setAudioMix (mix);
    }

    player->seekToTime (makeTimeWithSeconds (0.6, 600));
    lastPlayStopTime = nowMs();
    return true;
}

void ProcessingAVPlayer::removeMovie()
{
    if (player != nullptr)
    {
        player->pause();
        if (timeObserverToken != 0)
            player->removeTimeObserver (timeObserverToken);
        if (rateObserverToken != 0)
            player->removeRateObserver (rateObserverToken);
        if (auto item = player->getCurrentItem())
        {
            if (endObserverToken != 0)
                item->removeDidPlayToEndObserver (endObserverToken);
            item->setAudioMix (nullptr);
        }
        player->replaceCurrentItemWithPlayerItem (nullptr);
    }
    timeObserverToken = rateObserverToken = endObserverToken = 0;
    if (mcc != nullptr)
    {
        mcc->getPlayerView().setPlayer ({});
        if (auto* peer = mcc->getTopLevelComponent()->getPeer())
            peer->setConstrainer (nullptr);
    }
    player = nullptr;
    atp = nullptr;
}

void ProcessingAVPlayer::forgetImportedFile()
{
    if (importedFile != juce::File())
        importedFile.deleteFile();
    importedFile = juce::File();
}

void ProcessingAVPlayer::reloadMovie()
{
    auto asset = origAsset;
    const auto url = origURL;
    const auto imported = importedFile;
    removeMovie();
    if (asset == nullptr)
        return;
    // The reload plays the same decoded copy, so it must outlive the unload.
    importedFile = juce::File();
    loadMovie (url, asset, true);
    importedFile = imported;
}

void ProcessingAVPlayer::doPlayPause()
{
    if (player != nullptr)
        player->play();
}

double ProcessingAVPlayer::playableDuration() const
{
    if (player == nullptr)
        return 0.0;
    auto item = player->getCurrentItem();
    if (item == nullptr || item->getStatus() != PlayerItemStatus::readyToPlay)
        return 0.0;
    const auto ranges = item->getLoadedTimeRanges();
    return ranges.empty() ? 0.0 : ranges.front().end().seconds();
}

//==============================================================================
bool ProcessingAVPlayer::togglePlayPause()
{
    if (player == nullptr)
        return false;
    if (player->getRate() == 0.0f)
    {
        player->play();
        return false;
    }
    player->pause();
    return true;
}

void ProcessingAVPlayer::rewindToStart()
{
    if (player != nullptr)
        player->seekToTime (Time::zero(), Time::zero(), Time::zero());
}

void ProcessingAVPlayer::step (int frames, double seconds)
{
    if (player == nullptr || player->getCurrentItem() == nullptr)
        return;
    if (player->getRate() == 0.0f)
    {
        player->getCurrentItem()->stepByCount (frames);
        return;
    }
    player->pause();
    const auto target = makeTimeWithSeconds (juce::jmax (0.0, player->getCurrentTime().seconds() + seconds), 600);
    player->seekToTime (target, Time::zero(), Time::zero());
    player->play();
}

void ProcessingAVPlayer::stepForward() { step (1, 3.0); }
void ProcessingAVPlayer::stepBackward() { step (-1, -3.0); }

void ProcessingAVPlayer::setPosition (double fraction)
{
    if (player != nullptr)
        player->seekToTime (makeTimeWithSeconds (fraction * playableDuration(), 600), Time::zero(), Time::zero());
}

double ProcessingAVPlayer::getPositionSeconds() const
{
    return player != nullptr ? player->getCurrentTime().seconds() : 0.0;
}

double ProcessingAVPlayer::getPositionFraction() const
{
    const double duration = playableDuration();
    return player != nullptr && duration > 0.0 ? getPositionSeconds() / duration : 0.0;
}

bool ProcessingAVPlayer::isPlaying() const { return player != nullptr && player->getRate() != 0.0f; }

void ProcessingAVPlayer::suspend()
{
    if (player == nullptr)
        return;
    suspendedRate = player->getRate();
    player->setRate (0.0f);
}

void ProcessingAVPlayer::restore()
{
    if (player != nullptr)
        player->setRate (suspendedRate);
}

float ProcessingAVPlayer::getRate() const { return player != nullptr ? player->getRate() : 0.0f; }
