#include "app/document/BatchProcessor.h"

#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoDocument.h"
#include "app/windows/DialogService.h"
#include "app/document/ProcessingAVPlayer.h"
#include "platform/media/MediaFileOutput.h"

#include <cstdlib>
#include <sys/stat.h>

bool BatchProcessor::batchCancelled = false;

namespace
{
// The folder with every link resolved; a folder that does not exist yet is
// resolved through the nearest one that does.
juce::File realFolder (const juce::File& folder)
{
    if (! folder.exists() && folder.getParentDirectory() != folder)
        return realFolder (folder.getParentDirectory()).getChildFile (folder.getFileName());
    if (char* real = ::realpath (folder.getFullPathName().toRawUTF8(), nullptr))
    {
        const juce::File resolved { juce::String::fromUTF8 (real) };
        std::free (real);
        return resolved;
    }
    return folder;
}

bool isSameOrInside (const juce::File& folder, const juce::File& outer)
{
    return folder == outer || folder.isAChildOf (outer);
}

std::pair<juce::uint64, juce::uint64> identity (const juce::File& folder)
{
    struct stat st {};
    if (::stat (folder.getFullPathName().toRawUTF8(), &st) != 0)
        return { 0, 0 };
    return { (juce::uint64) st.st_dev, (juce::uint64) st.st_ino };
}

void tell (const juce::String& text)
{
    DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, "Batch Processor", text);
}
} // namespace

BatchProcessor::BatchProcessor (ClarivoApplication& a) : app (a) {}

void BatchProcessor::run()
{
    batchCancelled = false;

    juce::MemoryBlock snapshot;
    app.getProcessor().getStateInformation (snapshot);

    if (app.closeMedia().failed())
        return;

    auto& dialogs = DialogService::get();
    const auto input = dialogs.chooseFolder ("Select a directory of input files for processing:", {});
    if (input == juce::File())
        return;
    const auto output = dialogs.chooseFolder ("Select a directory to save processed files:", {});
    if (output == juce::File())
        return;

    // Saved files would become input further down the walk, without end.
    outputRoot = realFolder (output);
    inputRoot = realFolder (input);
    if (isSameOrInside (outputRoot, inputRoot))
    {
        tell ("The output folder must not be the input folder or lie inside it.");
        return;
    }
    visited = { identity (outputRoot) };

    processFolder (input, output, snapshot);

    if (! batchCancelled)
    {
        app.closeMedia();
        if (! batchCancelled)
            tell ("Batch File Processing has completed.");
    }
    else
    {
        tell ("Batch File Processing was canceled.");
    }
}

bool BatchProcessor::processFolder (const juce::File& inputFolder, const juce::File& outputFolder, const juce::MemoryBlock& state)
{
    if (batchCancelled || ! inputFolder.isDirectory() || ! outputFolder.createDirectory())
        return false;
    visited.insert (identity (inputFolder));

    auto files = inputFolder.findChildFiles (juce::File::findFiles | juce::File::ignoreHiddenFiles, false, "*");
    files.sort();
    for (const auto& file : files)
    {
        processFile (file, outputFolder, state);
        if (batchCancelled)
            return false;
    }

    auto folders = inputFolder.findChildFiles (juce::File::findDirectories, false, "*");
    folders.sort();
    for (const auto& folder : folders)
    {
        // What lies in the output is not walked, unless the output holds
        // the input itself: then its subfolders are the input's.
        const auto real = realFolder (folder);
        if (visited.count (identity (folder)) != 0 || (isSameOrInside (real, outputRoot) && ! real.isAChildOf (inputRoot)))
            continue;
        if (! processFolder (folder, outputFolder.getChildFile (folder.getFileName()), state))
            return false;
    }
    return true;
}

void BatchProcessor::processFile (const juce::File& input, const juce::File& outputFolder, const juce::MemoryBlock& state)
{
    if (! clarivo::media::detail::isRegularFile (input))
        return;
    auto& document = app.getDocument();
    document.showErrors = false;
    if (document.loadFrom (input, false, false).failed() || ! waitForLoad())
        return;

    if (app.escapeHeldDown ? app.escapeHeldDown() : juce::KeyPress::isKeyCurrentlyDown (juce::KeyPress::escapeKey))
    {
        batchCancelled = true;
        return;
    }

    // Whatever the analysis learned from this file, the batch's settings are saved.
    app.getProcessor().setStateInformation (state.getData(), (int) state.getSize());
    // Its change message marks the document changed; taken before the save,
    // the save clears it again and the batch's end asks nothing.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    // Two inputs can become one output (g.mkv and g.mov both give g.mov),
    // and a second run meets its first one's files: a batch never replaces
    // and never asks.
    // The format is settled first, for this file alone: its picture may need
    // another movie format than the batch's, or the sound alone, which a
    // batch left to run on its own saves without asking.
    auto* player = ProcessingAVPlayer::getCurrent();
    const int batchFormat = document.formatIndex;
    const int format = player != nullptr ? player->formatForCopy (batchFormat, "save", true) : batchFormat;
    if (format < 0)
        return;
    const auto first = outputFolder.getChildFile (input.getFileName())
                           .withFileExtension (ClarivoDocument::extensionForFormat (format));
    auto target = first;
    for (int n = 2; clarivo::media::detail::nameIsTaken (target); ++n)
        target = first.getSiblingFile (first.getFileNameWithoutExtension() + "(" + juce::String (n) + ")" + first.getFileExtension());
    document.formatIndex = format;
    document.saveTo (target);
    document.formatIndex = batchFormat;
}

bool BatchProcessor::waitForLoad()
{
    // The load and its analysis run in the document's load; queued messages
    // (the analysis's change messages among them) are delivered before the
    // snapshot goes back, so none of them lands after it.
    const auto started = ProcessingAVPlayer::nowMs();
    auto* messages = juce::MessageManager::getInstance();
    for (;;)
    {
        messages->runDispatchLoopUntil (10);
        auto* player = ProcessingAVPlayer::getCurrent();
        if (player != nullptr && player->isLoaded() && ! app.isOverlayShowing())
            return true;
        if (ProcessingAVPlayer::nowMs() - started > kLoadTimeoutMs)
            return false;
    }
}
