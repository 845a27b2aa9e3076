// "Show in Folder": the file highlighted in the user's file manager, through
// the freedesktop file-manager interface on the session bus; without a file
// manager there, its folder opened by the desktop's opener.
#include "ProgramLauncher.h"

namespace clarivo::share
{
namespace
{
const char* const kFileManager = "org.freedesktop.FileManager1";

// Whether a file manager runs on the session bus or would be started by it.
bool fileManagerAnswers (const juce::File& gdbus)
{
    const auto ask = [&] (const char* method, const juce::StringArray& extra)
    {
        juce::StringArray args { "call", "--session", "--timeout", "2", "--dest", "org.freedesktop.DBus",
                                 "--object-path", "/org/freedesktop/DBus", "--method", juce::String ("org.freedesktop.DBus.") + method };
        args.addArray (extra);
        return runAndRead (gdbus, args, 3000).value_or ("");
    };
    return ask ("NameHasOwner", { kFileManager }).contains ("true")
           || ask ("ListActivatableNames", {}).contains (juce::String ("'") + kFileManager + "'");
}

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
} // namespace

std::optional<Service> folderService()
{
    const auto gdbus = findProgram ("gdbus");
    const bool viaBus = gdbus != juce::File() && fileManagerAnswers (gdbus);
    if (! viaBus && findProgram ("xdg-open") == juce::File())
        return std::nullopt;
    return Service { "Show in Folder", [viaBus] (const juce::File& file, FailureHandler failed)
    {
        if (viaBus)
            launch ("gdbus",
                    { "call", "--session", "--dest", kFileManager, "--object-path", "/org/freedesktop/FileManager1",
                      "--method", juce::String (kFileManager) + ".ShowItems", "['" + fileUri (file) + "']", "" },
                    std::move (failed));
        else
            launch ("xdg-open", { file.getParentDirectory().getFullPathName() }, std::move (failed));
    } };
}
} // namespace clarivo::share
