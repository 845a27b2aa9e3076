#include "app/document/ClarivoSettingsDocument.h"

#include "engine/CVAudioProcessor.h"
#include "app/windows/DialogService.h"
#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaFileOutput.h"


ClarivoSettingsDocument::ClarivoSettingsDocument (CVAudioProcessor& p)
    : juce::FileBasedDocument (".cvp", "*", "Select a settings file to open...", "Save settings as..."), processor (p)
{
}

juce::String ClarivoSettingsDocument::getDocumentTitle()
{
    return getFile().getFileName();
}

juce::Result ClarivoSettingsDocument::loadDocument (const juce::File& file)
{
    const auto notAPreset = juce::Result::fail (TRANS ("The file is not a Clarivo preset; the settings were not changed."));
    // Judged and read through one descriptor: a pipe put in the file's place
    // between a look and a read would hold the message thread until written to.
    juce::String why;
    const auto in = clarivo::media::detail::RegularFileInputStream::open (file, why);
    if (in == nullptr)
        return why.startsWith ("The file cannot be opened")
                 ? juce::Result::fail (TRANS ("The file could not be read; the settings were not changed."))
                 : notAPreset;
    const auto size = in->getTotalLength();
    if (size < 0 || size >= kMaxPresetBytes)
        return notAPreset;
    juce::MemoryBlock data;
    if (in->readIntoMemoryBlock (data, size) != (size_t) size)
        return juce::Result::fail (TRANS ("The file could not be read; the settings were not changed."));
    return processor.applyState (data.getData(), (int) data.getSize()) ? juce::Result::ok() : notAPreset;
}

juce::Result ClarivoSettingsDocument::saveDocument (const juce::File& file)
{
    const auto failed = juce::Result::fail ("Unable to save file.");
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    // A processor without its profiles has no state to give; an empty
    // preset would silently load as nothing.
    if (state.isEmpty())
        return failed;

    // saveInteractive asked before a preset is replaced.
    juce::String why;
    namespace files = clarivo::media::detail;
    return files::writeWholeFile (file, state.getData(), state.getSize(), files::IfTaken::replace, why) == 0 ? juce::Result::ok()
                                                                                                         : failed;
}

juce::Result ClarivoSettingsDocument::loadInteractive()
{
    const auto chosen = DialogService::get().chooseFileToOpen ("Select a settings file to open...", {}, "*");
    if (chosen == juce::File())
        return juce::Result::fail (TRANS ("User cancelled"));
    const auto result = loadFrom (chosen, false, false);
    if (result.failed())
        DialogService::get().showMessage (juce::MessageBoxIconType::WarningIcon, TRANS ("Failed to open file..."),
                                          TRANS ("There was an error while trying to load the file: FLNM")
                                                  .replace ("FLNM", "\n" + chosen.getFullPathName())
                                              + "\n\n" + result.getErrorMessage());
    return result;
}

juce::FileBasedDocument::SaveResult ClarivoSettingsDocument::saveInteractive()
{
    auto& dialogs = DialogService::get();
    const auto suggested = DialogService::documentsFolder()
                               .getChildFile ("unnamed")
                               .withFileExtension (".cvp")
                               .getNonexistentSibling (true);
    auto chosen = dialogs.chooseFileToSave ("Save settings as...", suggested, "*");
    if (chosen == juce::File())
        return userCancelledSave;
    if (chosen.getFileExtension().isEmpty())
        chosen = chosen.withFileExtension (".cvp");

    // A link that leads nowhere is a name the user has, replaced only when asked.
    if (clarivo::media::detail::nameIsTaken (chosen)
        && dialogs.ask (juce::MessageBoxIconType::WarningIcon, TRANS ("File already exists"),
                        TRANS ("There's already a file called: FLNM").replace ("FLNM", chosen.getFullPathName()) + "\n\n"
                            + TRANS ("Are you sure you want to overwrite it?"),
                        { TRANS ("Overwrite"), TRANS ("Cancel") })
               != 0)
        return userCancelledSave;

    const auto result = saveDocument (chosen);
    if (result.wasOk())
    {
        setFile (chosen);
        setChangedFlag (false);
        return savedOk;
    }
    dialogs.showMessage (juce::MessageBoxIconType::WarningIcon, TRANS ("Error writing to file..."),
                         TRANS ("An error occurred while trying to save \"DCNM\" to the file: FLNM")
                                 .replace ("DCNM", chosen.getFileName())
                                 .replace ("FLNM", "\n" + chosen.getFullPathName())
                             + "\n\n" + result.getErrorMessage());
    return failedToWriteToFile;
}
