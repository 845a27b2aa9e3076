#include "app/document/ClarivoDocument.h"

#include "app/windows/ClarivoApplication.h"
#include "app/windows/DialogService.h"
#include "app/mediawindow/MediaWindow.h"
#include "app/document/ProcessingAVPlayer.h"
#include "platform/media/FFmpegAudioFormat.h"
#include "platform/media/MediaFileOutput.h"

#include <sys/stat.h>

namespace
{
const char* const kExtensions[] = { ".mov", ".mp4", ".m4v", ".m4a", ".caf", ".wav", ".aif", ".flac", ".mp3" };

// One file whatever the path: a symlink, a hard link or another spelling
// on a case-insensitive volume all reach the same inode.
bool isSameFile (const juce::File& a, const juce::File& b)
{
    struct stat sa {}, sb {};
    if (::stat (a.getFullPathName().toRawUTF8(), &sa) == 0 && ::stat (b.getFullPathName().toRawUTF8(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a == b;
}

} // namespace

ClarivoDocument::ClarivoDocument()
    : juce::FileBasedDocument ({}, "*", "Select a media file to open...", "Save media file as...")
{
}

ClarivoDocument::~ClarivoDocument()
{
    if (analysisFile.existsAsFile())
        analysisFile.deleteFile();
}

juce::String ClarivoDocument::extensionForFormat (int formatIndex)
{
    return formatIndex >= 0 && formatIndex < 9 ? juce::String (kExtensions[formatIndex]) : juce::String();
}

int ClarivoDocument::formatForFile (const juce::File& file)
{
    return juce::jmax (0, ownFormatForFile (file));
}

int ClarivoDocument::ownFormatForFile (const juce::File& file)
{
    const auto extension = file.getFileExtension();
    for (int i = 0; i < 9; ++i)
        if (extension.equalsIgnoreCase (kExtensions[i]))
            return i;
    // AIFF by its other names: the long one, and that of AIFF-C.
    if (extension.equalsIgnoreCase (".aiff") || extension.equalsIgnoreCase (".aifc"))
        return 6;
    return -1;
}

TransportComponent* ClarivoDocument::getTransport() const
{
    return mediaWindow != nullptr ? &mediaWindow->getTransport() : nullptr;
}

juce::String ClarivoDocument::getDocumentTitle()
{
    return getFile().getFileName();
}

juce::File ClarivoDocument::getSuggestedSaveAsFile (const juce::File& defaultFile)
{
    return defaultFile.withFileExtension (extensionForFormat (formatIndex)).getNonexistentSibling (true);
}

double ClarivoDocument::getPlayPosition()
{
    auto* transport = getTransport();
    return transport != nullptr ? transport->getPlayPosition() : 0.0;
}

//==============================================================================
juce::Result ClarivoDocument::loadDocument (const juce::File& file)
{
    auto* transport = getTransport();
    auto* app = ClarivoApplication::getApp();
    if (transport == nullptr || app == nullptr)
        return juce::Result::fail ("Unable to load document.");
    // A close or a second open taken from the message loop the load waits
    // in would pull the player from under it.
    app->setMediaLoading (true);
    {
        const juce::ScopeGuard loadEnds { [app] { app->setMediaLoading (false); } };
        if (! transport->loadMedia (file.getFullPathName(), showErrors))
            return juce::Result::fail ("Unable to load document.");
    }
    app->setPlayerMode (true);
    mediaFile = file;
    formatIndex = formatForFile (file);
    return juce::Result::ok();
}

juce::Result ClarivoDocument::open (const juce::File& file, bool showMessageOnFailure)
{
    const auto result = loadFrom (file, false, false);
    if (result.failed() && showMessageOnFailure)
        DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, TRANS ("Failed to open file..."),
                                          TRANS ("There was an error while trying to load the file: FLNM")
                                                  .replace ("FLNM", "\n" + file.getFullPathName())
                                              + "\n\n" + result.getErrorMessage());
    return result;
}

juce::Result ClarivoDocument::openInteractive()
{
    const auto chosen = DialogService::get().chooseFileToOpen ("Select a media file to open...", {}, "*");
    if (chosen == juce::File())
        return juce::Result::fail (TRANS ("User cancelled"));
    return open (chosen, true);
}

//==============================================================================
juce::FileBasedDocument::SaveResult ClarivoDocument::saveMedia (bool saveAsNew)
{
    if (! saveAsNew && ! getFile().getFullPathName().equalsIgnoreCase (mediaFile.getFullPathName()) && getFile() != juce::File())
        return saveTo (getFile());

    auto* app = ClarivoApplication::getApp();
    if (app == nullptr || app->chooseSaveFormat() == 0)
        return userCancelledSave;

    auto suggested = getFile().existsAsFile() ? getFile() : mediaFile;
    suggested = getSuggestedSaveAsFile (suggested.getSiblingFile (juce::File::createLegalFileName (getDocumentTitle())));
    const auto chosen = DialogService::get().chooseFileToSave ("Save media file as...", suggested, "*");
    if (chosen == juce::File())
        return userCancelledSave;
    return saveTo (chosen);
}

juce::FileBasedDocument::SaveResult ClarivoDocument::saveTo (const juce::File& file)
{
    lastSaveError = {};
    savedElsewhere = juce::File();
    const auto result = saveAs (file, false, false, false, false);
    // The document is the copy the user has, wherever it went.
    if (result == savedOk && savedElsewhere != juce::File())
        setFile (savedElsewhere);
    // The user's own answer, and the refusal the "No Overwrite" box has just
    // explained, need no second box.
    if (result == failedToWriteToFile && lastSaveError == "Unable to save file.")
        DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, TRANS ("Error writing to file..."),
                                          TRANS ("An error occurred while trying to save \"DCNM\" to the file: FLNM")
                                                  .replace ("DCNM", getDocumentTitle())
                                                  .replace ("FLNM", "\n" + file.withFileExtension (extensionForFormat (formatIndex)).getFullPathName())
                                              + "\n\n" + lastSaveError);
    if (result == failedToWriteToFile && lastSaveError == "User cancelled save.")
        return userCancelledSave;
    return result;
}

juce::Result ClarivoDocument::saveDocument (const juce::File& file)
{
    const auto fail = [this] (const juce::String& why)
    {
        lastSaveError = why;
        return juce::Result::fail (why);
    };
    // Settled before anything is written: the picture may need another
    // movie format, or none can carry it and the user picks a sound-only one.
    auto* player = ProcessingAVPlayer::getCurrent();
    const int format = player != nullptr ? player->formatForCopy (formatIndex, "save") : formatIndex;
    if (format < 0)
        return fail ("User cancelled save.");
    const auto target = file.withFileExtension (extensionForFormat (format));

    if (isSameFile (target, mediaFile))
    {
        DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "No Overwrite",
                                          "Clarivo cannot overwrite the media document it is working with.  Please choose a "
                                          "document name that is not the same as the original media document.");
        return fail ("Clarivo does not overwrite the original media document.");
    }

    // Only the file the user agreed to give up is replaced: a file put at
    // the name while the copy was made (another save to it) is kept, and so
    // is the finished copy, under the next free name.
    const bool replacing = clarivo::media::detail::nameIsTaken (target);
    if (replacing
        && DialogService::get().ask (juce::MessageBoxIconType::QuestionIcon, TRANS ("Replace file?"),
                                     TRANS ("Are you sure you want to overwrite \"DCNM\"?").replace ("DCNM", target.getFileName()),
                                     { TRANS ("Overwrite"), TRANS ("Cancel") })
               != 0)
        return fail ("User cancelled save.");

    // The writers take the target's name only when the copy is whole, so a
    // failed save leaves the old file as it was.
    auto* transport = getTransport();
    clarivo::media::detail::SaveTerms terms (target, replacing);
    const bool exported = transport != nullptr && transport->exportMedia (target.getFullPathName(), format, qualityIndex);
    const auto placed = terms.placedAt();
    if (! exported || placed == juce::File())
        return fail ("Unable to save file.");
    if (placed != target)
    {
        DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, TRANS ("Saved Under Another Name"),
                                          TRANS ("Another file was saved as \"FLNM\" while Clarivo made the copy, and Clarivo kept it. "
                                                 "The copy was saved as:")
                                                  .replace ("FLNM", target.getFileName())
                                              + "\n" + placed.getFullPathName());
        savedElsewhere = placed;
    }
    return juce::Result::ok();
}

//==============================================================================
juce::Result ClarivoDocument::closeDocument()
{
    if (hasChangedSinceSaved() && getFile() != juce::File())
    {
        const int answer = DialogService::get().ask (
            juce::MessageBoxIconType::QuestionIcon, TRANS ("Apply Clarivo before closing?"),
            TRANS ("Do you want to save a copy of \"DCNM\" with the current Clarivo settings?").replace ("DCNM", getDocumentTitle()),
            { TRANS ("Save"), TRANS ("Discard Changes"), TRANS ("Cancel") });
        if (answer == 0)
        {
            const auto saved = saveMedia (false);
            if (saved == userCancelledSave)
                return juce::Result::fail ("User Cancelled.");
            if (saved != savedOk)
                return juce::Result::fail ("Unable to save file.");
        }
        else if (answer != 1)
        {
            return juce::Result::fail ("User Cancelled.");
        }
    }

    if (auto* transport = getTransport())
        transport->loadMedia ({}, false);
    if (mediaWindow != nullptr)
        mediaWindow->setName ({});
    setChangedFlag (false);
    setFile ({});
    mediaFile = getFile();
    if (analysisFile.existsAsFile())
        analysisFile.deleteFile();
    analysisFile = juce::File();
    return juce::Result::ok();
}

//==============================================================================
void ClarivoDocument::analyzeMedia (const juce::File& file)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return;
    auto& processor = app->getProcessor();
    processor.learnRegion = {};
    if (analysisFile != file && analysisFile.existsAsFile())
        analysisFile.deleteFile();
    analysisFile = file;
    if (! app->isAnalyzeEnabled())
        return;

    auto reader = clarivo::media::createReaderForFile (app->getFormatManager(), file);
    if (reader == nullptr)
        return;
    const juce::int64 total = reader->lengthInSamples;
    auto& analyzer = processor.getNoiseAnalyzer();
    const int block = analyzer.getBlockSize();
    juce::AudioSampleBuffer buffer (2, block);
    analyzer.prepare (total);
    analyzer.setSensitivity (0.29f);

    app->showProgress ("Analyzing...");
    double shown = 0.0;
    for (juce::int64 start = 0; start < total; start += block)
    {
        const double fraction = (double) start / (double) total;
        if (fraction - shown > 0.05)
        {
            shown = fraction;
            app->setProgress (fraction);
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
        }
        buffer.clear();
        reader->read (&buffer, 0, block, start, true, true);
        processor.analyzeBlock (buffer, block);
    }
    app->hideProgress();
    processor.finishAnalysis();

    if (analyzer.getConfidence() <= kConfidenceNeeded)
        return;
    processor.learnRegion.start = analyzer.getNoiseStart();
    processor.learnRegion.length = analyzer.getNoiseLength();
    app->learnNoiseFromMedia();
}

void ClarivoDocument::learnNoiseProfile()
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr)
        return;
    auto& processor = app->getProcessor();
    const int block = processor.getBlockSize();
    if (block <= 0)
        return;

    // Everything is read, in one go, before learning starts: a file that
    // cannot be read leaves the profile the user has.
    const auto start = processor.learnRegion.start;
    juce::AudioSampleBuffer region (2, 3 * block);
    region.clear();
    if (! readSamples (start, 3 * block, region))
        return;
    std::array<juce::AudioSampleBuffer, 3> blocks;
    for (int i = 0; i < 3; ++i)
        blocks[(size_t) i] = juce::AudioSampleBuffer (region.getArrayOfWritePointers(), 2, i * block, block);

    // The chain has one processing thread at a time.
    auto* player = ProcessingAVPlayer::getCurrent();
    const bool playing = player != nullptr && player->isPlaying();
    if (playing)
        player->suspend();

    juce::MidiBuffer midi;
    auto& bay = processor.getNoiseReductionBay();
    bay.reset();
    bay.startLearning();
    processor.processBlockWithLength (blocks[0], midi, block);
    processor.processBlockWithLength (blocks[1], midi, block);
    bay.stopLearning();
    processor.processBlockWithLength (blocks[2], midi, block);
    processor.reset();

    if (playing)
        player->restore();
}

bool ClarivoDocument::readSamples (juce::int64 start, int count, juce::AudioSampleBuffer& buffer)
{
    auto* app = ClarivoApplication::getApp();
    if (app == nullptr || ! analysisFile.existsAsFile() || count > buffer.getNumSamples())
        return false;
    auto reader = clarivo::media::createReaderForFile (app->getFormatManager(), analysisFile);
    if (reader == nullptr)
        return false;
    return reader->read (&buffer, 0, count, start, true, true);
}
