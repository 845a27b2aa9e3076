#include "app/document/ClarivoTempFolder.h"

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
juce::File folder, sharedFolder;

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

// The name leaves out the "-XXXXXX" of the per-run folders, so their
// clean-up never takes the shared copies with them.
juce::String shareFolderName() { return "clarivo.share." + juce::String ((int) ::geteuid()); }

bool isPlainFile (const juce::File& candidate)
{
    struct stat info {};
    return ::lstat (candidate.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
}

juce::File makeShareFolder()
{
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    const auto usual = temp.getChildFile (shareFolderName());
    if (::mkdir (usual.getFullPathName().toRawUTF8(), 0700) == 0)
        ::chmod (usual.getFullPathName().toRawUTF8(), 0700); // whatever the umask took away
    if (stillOurs (usual))
        return usual;
    // Somebody else holds the name: a folder of our own beside it.
    auto path = temp.getChildFile (shareFolderName() + ".XXXXXX").getFullPathName().toStdString();
    if (::mkdtemp (path.data()) == nullptr)
        return {};
    return juce::File (juce::String::fromUTF8 (path.c_str()));
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
//==============================================================================
juce::File shareFolder()
{
    std::lock_guard<std::mutex> guard (lock);
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    if (sharedFolder == juce::File() || ! stillOurs (sharedFolder) || sharedFolder.getParentDirectory() != temp)
        sharedFolder = makeShareFolder();
    return sharedFolder;
}

juce::File createSharedFile (const juce::String& name)
{
    if (name.isEmpty() || name.containsChar ('/') || name == "." || name == "..")
        return {};
    const auto dir = shareFolder();
    if (dir == juce::File())
        return {};
    const auto file = dir.getChildFile (name);
    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return {};
    ::close (fd);
    return file;
}

void removeSharedCopiesOlderThan (juce::Time cutoff)
{
    juce::File inUse;
    {
        std::lock_guard<std::mutex> guard (lock);
        inUse = sharedFolder;
    }
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    const auto usual = temp.getChildFile (shareFolderName());
    juce::Array<juce::File> folders { usual };
    folders.addArray (temp.findChildFiles (juce::File::findDirectories, false, shareFolderName() + ".??????",
                                           juce::File::FollowSymlinks::no));
    for (const auto& dir : folders)
    {
        if (! stillOurs (dir))
            continue;
        for (const auto& file : dir.findChildFiles (juce::File::findFiles, false, "*", juce::File::FollowSymlinks::no))
            if (isPlainFile (file) && file.getLastModificationTime() < cutoff)
                file.deleteFile();
        if (dir != usual && dir != inUse && dir.getNumberOfChildFiles (juce::File::findFilesAndDirectories) == 0)
            dir.deleteFile();
    }
}
} // namespace ClarivoTempFolder
