#include "ClarivoTempFolder.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ClarivoTempFolder
{
namespace
{
std::mutex lock;
juce::File folder;

// The system's temporary folder is shared with everyone: a folder of ours
// that a cleaner removed may come back under the same name as somebody
// else's, so it is used only while it is still a real folder that we own
// and nobody else may enter.
bool stillOurs (const juce::File& candidate)
{
    struct stat info {};
    return ::lstat (candidate.getFullPathName().toRawUTF8(), &info) == 0 && S_ISDIR (info.st_mode)
           && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

// Folders carry their maker's process id, so that a clean-up leaves the
// folders of programs still running alone.
juce::File makeFolder()
{
    auto path = juce::File::getSpecialLocation (juce::File::tempDirectory)
                    .getChildFile ("clarivo-" + juce::String ((int) ::getpid()) + "-XXXXXX")
                    .getFullPathName()
                    .toStdString();
    // mkdtemp makes it 0700 whatever the umask.
    if (::mkdtemp (path.data()) == nullptr)
        return {};
    return juce::File (juce::String::fromUTF8 (path.c_str()));
}

// The process id in a folder's name.
int makerOf (const juce::File& candidate)
{
    return candidate.getFileName().fromFirstOccurrenceOf ("-", false, false).upToFirstOccurrenceOf ("-", false, false).getIntValue();
}
} // namespace

juce::File get()
{
    std::lock_guard<std::mutex> guard (lock);
    if (folder == juce::File() || ! stillOurs (folder))
        folder = makeFolder();
    return folder;
}

juce::File createTempFile (const juce::String& ending)
{
    // An ending is part of one name, never a way into another folder.
    if (ending.containsChar ('/'))
        return {};

    const auto dir = get();
    if (dir == juce::File())
        return {};

    auto path = dir.getFullPathName().toStdString() + "/tmp-XXXXXX" + ending.toStdString();
    // It opens with O_EXCL and tries other names until one is free.
    const int fd = ::mkostemps (path.data(), (int) ending.getNumBytesAsUTF8(), O_CLOEXEC);
    if (fd < 0)
        return {};
    ::close (fd);
    return juce::File (juce::String::fromUTF8 (path.c_str()));
}

juce::Array<juce::File> ownFolders()
{
    juce::Array<juce::File> found;
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    const int self = (int) ::getpid();
    for (const auto& candidate : temp.findChildFiles (juce::File::findDirectories, false, "clarivo-*-??????"))
    {
        const int pid = makerOf (candidate);
        const bool running = pid > 0 && pid != self && (::kill (pid, 0) == 0 || errno == EPERM);
        if (pid > 0 && ! running && stillOurs (candidate))
            found.add (candidate);
    }
    return found;
}

void removeDeadFolders()
{
    const int self = (int) ::getpid();
    for (const auto& candidate : ownFolders())
        // Links inside are removed, never followed.
        if (makerOf (candidate) != self)
            candidate.deleteRecursively (false);
}

void removeAll()
{
    std::lock_guard<std::mutex> guard (lock);
    if (folder != juce::File() && stillOurs (folder))
        folder.deleteRecursively();
    folder = juce::File();
}
} // namespace ClarivoTempFolder
