#include "app/document/ClarivoTempFolder.h"

#include "platform/media/MediaFileOutput.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
bool isPrivateFolder (const struct stat& info)
{
    return S_ISDIR (info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

bool stillOurs (const juce::File& candidate)
{
    struct stat info {};
    return ::lstat (candidate.getFullPathName().toRawUTF8(), &info) == 0 && isPrivateFolder (info);
}

// The run holds its folder's marker locked for its whole life; the kernel
// drops the lock however the run ends. That, not the pid in the name, tells
// a clean-up that a folder is in use: a run in another PID namespace (a
// container, a sandbox, another host over NFS) has a pid that means nothing
// here.
int markerFd = -1;

void releaseMarker()
{
    if (markerFd >= 0)
        ::close (markerFd);
    markerFd = -1;
}

// Marked under a name of its own first: a clean-up looks only at the
// marker's own name, so it never finds the marker before its lock.
bool holdMarker (const juce::File& dir)
{
    const int dirFd = ::open (dir.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    const auto making = std::string (runMarkerName) + ".new";
    const int fd = ::openat (dirFd, making.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool held = fd >= 0 && clarivo::media::detail::takeLock (fd)
                      && ::renameat (dirFd, making.c_str(), dirFd, runMarkerName) == 0;
    ::close (dirFd);
    if (! held)
    {
        if (fd >= 0)
            ::close (fd);
        return false;
    }
    releaseMarker();
    markerFd = fd;
    return true;
}

juce::File makeFolder()
{
    auto path = juce::File::getSpecialLocation (juce::File::tempDirectory)
                    .getChildFile ("clarivo-" + juce::String ((int) ::getpid()) + "-XXXXXX")
                    .getFullPathName()
                    .toStdString();
    // mkdtemp makes it 0700 whatever the umask.
    if (::mkdtemp (path.data()) == nullptr)
        return {};
    const juce::File made (juce::String::fromUTF8 (path.c_str()));
    if (! holdMarker (made))
    {
        made.deleteRecursively();
        return {};
    }
    return made;
}

// Exactly what mkdtemp makes of the run folder's pattern: "clarivo-",
// digits, "-" and six letters or digits. A user's "clarivo-2023-export" or
// "clarivo-123abc-backup" is not one.
bool isRunFolderName (const char* name)
{
    if (std::strncmp (name, "clarivo-", 8) != 0)
        return false;
    const char* p = name + 8;
    const char* digits = p;
    while (*p >= '0' && *p <= '9')
        ++p;
    if (p == digits || p - digits > 10 || *digits == '0' || *p != '-')
        return false;
    ++p;
    for (int i = 0; i < 6; ++i, ++p)
        if (! ((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
            return false;
    return *p == '\0';
}

// The run folders in the temporary folder whose run is gone: a real private
// folder of ours with the exact name, holding a marker nobody has locked.
// Each comes with its marker locked by us, so that two clean-ups never
// take the same folder, and a new run never finds a folder being removed.
struct DeadRun
{
    std::string name;
    int markerFd = -1;
};

std::vector<DeadRun> findDeadRuns (int tempFd)
{
    std::vector<DeadRun> found;
    const int listFd = ::dup (tempFd);
    DIR* dir = listFd >= 0 ? ::fdopendir (listFd) : nullptr;
    if (dir == nullptr)
    {
        if (listFd >= 0)
            ::close (listFd);
        return found;
    }
    while (const auto* entry = ::readdir (dir))
    {
        if (! isRunFolderName (entry->d_name))
            continue;
        const int runFd = ::openat (tempFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (runFd < 0)
            continue;
        struct stat info {};
        if (::fstat (runFd, &info) == 0 && isPrivateFolder (info))
        {
            const int fd = ::openat (runFd, runMarkerName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            struct stat marker {};
            if (fd >= 0 && ::fstat (fd, &marker) == 0 && S_ISREG (marker.st_mode) && marker.st_uid == ::geteuid()
                && clarivo::media::detail::takeLock (fd))
                found.push_back ({ entry->d_name, fd });
            else if (fd >= 0)
                ::close (fd);
        }
        ::close (runFd);
    }
    ::closedir (dir);
    return found;
}

int openTempFolder()
{
    return ::open (juce::File::getSpecialLocation (juce::File::tempDirectory).getFullPathName().toRawUTF8(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    {
        // Whatever the umask took away, on the folder just made and never
        // through a link somebody put in its place since.
        const int fd = ::open (usual.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
        {
            ::fchmod (fd, 0700);
            ::close (fd);
        }
    }
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
    {
        std::lock_guard<std::mutex> guard (lock);
        if (folder != juce::File() && stillOurs (folder))
            found.add (folder);
    }
    const int tempFd = openTempFolder();
    if (tempFd < 0)
        return found;
    const auto temp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    for (auto& dead : findDeadRuns (tempFd))
    {
        found.add (temp.getChildFile (juce::String::fromUTF8 (dead.name.c_str())));
        ::close (dead.markerFd);
    }
    ::close (tempFd);
    return found;
}

void removeDeadFolders()
{
    const int tempFd = openTempFolder();
    if (tempFd < 0)
        return;
    for (auto& dead : findDeadRuns (tempFd))
    {
        // By descriptor from the temporary folder down: links inside are
        // removed, never followed. The lock is held until the folder is gone.
        clarivo::media::detail::removeTreeAt (tempFd, dead.name.c_str());
        ::close (dead.markerFd);
    }
    ::close (tempFd);
}

void removeAll()
{
    std::lock_guard<std::mutex> guard (lock);
    if (folder != juce::File() && stillOurs (folder))
    {
        const int tempFd = ::open (folder.getParentDirectory().getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (tempFd >= 0)
        {
            clarivo::media::detail::removeTreeAt (tempFd, folder.getFileName().toRawUTF8());
            ::close (tempFd);
        }
    }
    releaseMarker();
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
