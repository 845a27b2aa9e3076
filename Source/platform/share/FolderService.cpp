// "Show in Folder": the file highlighted in the user's file manager, through
// the freedesktop file-manager interface on the session bus; when no file
// manager answers there, its folder opened by the desktop's opener.
#include "SharingService.h"

namespace clarivo::share
{
namespace
{
const char* const kFileManager = "org.freedesktop.FileManager1";

// The file's URI with everything but unreserved characters and "/"
// percent-encoded, so that no quote, comma or bracket of a file name can
// end the string in the bus call's argument text.
juce::String fileUri (const juce::File& file)
{
    juce::String uri ("file://");
    for (const auto* p = file.getFullPathName().toRawUTF8(); *p != 0; ++p)
    {
        const auto c = (unsigned char) *p;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain || c == '/' || c == '-' || c == '.' || c == '_' || c == '~')
            uri << (char) c;
        else
            uri << "%" << juce::String::toHexString ((int) c).paddedLeft ('0', 2).toUpperCase();
    }
    return uri;
}

void openFolder (const juce::File& file, FailureHandler failed)
{
    launch ("xdg-open", { file.getParentDirectory().getFullPathName() }, std::move (failed), 10000, [] (int status)
    {
        return xdgStatusMeaning (status,
                                 "No file manager is set up to open folders. Choose one as your desktop's default "
                                 "file manager, then share again.",
                                 "The file manager could not open the copy's folder.");
    });
}
} // namespace

std::optional<Service> folderService()
{
    const bool viaBus = findProgram ("gdbus") != juce::File();
    const bool viaOpener = findProgram ("xdg-open") != juce::File();
    if (! viaBus && ! viaOpener)
        return std::nullopt;
    return Service { "Show in Folder", [viaBus, viaOpener] (const juce::File& file, FailureHandler failed)
    {
        if (! viaBus)
            return openFolder (file, std::move (failed));
        // Nothing waits for the bus: the call itself finds out whether a file
        // manager answers (the bus starts one that is only activatable), and
        // when none does, or the bus is silent for 5 s, the folder opens
        // instead.
        launch ("gdbus",
                { "call", "--session", "--timeout", "5", "--dest", kFileManager, "--object-path", "/org/freedesktop/FileManager1",
                  "--method", juce::String (kFileManager) + ".ShowItems", "['" + fileUri (file) + "']", "" },
                [file, failed, viaOpener] (const juce::String& why)
                {
                    if (viaOpener)
                        openFolder (file, failed);
                    else if (failed)
                        failed (why);
                },
                10000,
                [] (int) { return juce::String ("No file manager answered on the session bus."); });
    } };
}
} // namespace clarivo::share
