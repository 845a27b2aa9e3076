#include "MediaFileOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/xattr.h>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
 #define RENAME_NOREPLACE (1 << 0)
#endif

namespace clarivo::media::detail
{
bool isRegularFile (const juce::File& file)
{
    struct stat info {};
    return ::stat (file.getFullPathName().toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode);
}

bool nameIsTaken (const juce::File& file)
{
    struct stat info {};
    return ::lstat (file.getFullPathName().toRawUTF8(), &info) == 0;
}

namespace
{
juce::String systemError (int code)
{
    return juce::String (std::strerror (code));
}

juce::String alreadyExists()
{
    return "The output file already exists.";
}
} // namespace

bool takeLock (int fd)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl (fd, F_OFD_SETLK, &lock) == 0;
}

bool isLockedElsewhere (int fd)
{
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // An error says nothing about the holder: take it as held.
    return ::fcntl (fd, F_OFD_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
}

namespace
{
// Deeper than any folder of ours, and a bound on the descriptors a walk holds.
constexpr int maxDepth = 64;
std::function<void (int, const char*)> treeWalkHook;

bool removeTree (int parent, const char* name, int depth)
{
    struct stat info {};
    if (::fstatat (parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (! S_ISDIR (info.st_mode))
        return ::unlinkat (parent, name, 0) == 0 || errno == ENOENT;
    if (depth >= maxDepth)
        return false;
    if (treeWalkHook)
        treeWalkHook (parent, name);

    const int fd = ::openat (parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        // Swapped for a link (or a file) since the look above: it goes, what it points at stays.
        return (errno == ELOOP || errno == ENOTDIR) && ::unlinkat (parent, name, 0) == 0;
    DIR* dir = ::fdopendir (fd);
    if (dir == nullptr)
    {
        ::close (fd);
        return false;
    }
    std::vector<std::string> names;
    while (const auto* entry = ::readdir (dir))
        if (std::strcmp (entry->d_name, ".") != 0 && std::strcmp (entry->d_name, "..") != 0)
            names.emplace_back (entry->d_name);
    bool ok = true;
    for (const auto& child : names)
        ok = removeTree (::dirfd (dir), child.c_str(), depth + 1) && ok;
    ::closedir (dir);
    return ::unlinkat (parent, name, AT_REMOVEDIR) == 0 && ok;
}

// The mark a hidden partial of ours carries while it has a name.
constexpr const char* partialMark = "user.clarivo.partial";
constexpr char partialMarkValue[] = "clarivo";

std::atomic<bool> namedOnly { false };

bool sameFile (const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

juce::String procPath (int fd, bool forOtherProcesses)
{
    return forOtherProcesses ? "/proc/" + juce::String ((int) ::getpid()) + "/fd/" + juce::String (fd)
                             : "/proc/self/fd/" + juce::String (fd);
}
} // namespace

bool removeTreeAt (int dirFd, const char* name)
{
    return removeTree (dirFd, name, 0);
}

void setTreeWalkHook (std::function<void (int, const char*)> hook)
{
    treeWalkHook = std::move (hook);
}

PartialFile::PartialFile (const juce::File& target, juce::String& why)
{
    const auto folder = target.getParentDirectory();
    removeAbandonedIn (folder);

    if (! namedOnly.load())
    {
        fd = ::open (folder.getFullPathName().toRawUTF8(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            // Writers (and lame, in a process of its own) reach it by this
            // path; without /proc it has no path at all.
            path = juce::File (procPath (fd, true));
            struct stat opened {}, reached {};
            if (::fstat (fd, &opened) == 0 && ::stat (path.getFullPathName().toRawUTF8(), &reached) == 0
                && sameFile (opened, reached))
            {
                unnamed = true;
                return;
            }
            ::close (fd);
            fd = -1;
            path = juce::File();
        }
    }

    const auto base = "." + target.getFileName() + ".partial";
    // Looking for a free name and taking it are two steps; another writer
    // may take the same name in between, and O_EXCL then sends this one on
    // to the next.
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        const auto candidate = folder.getNonexistentChildFile (base, "", false);
        fd = ::open (candidate.getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            // Locked before it is marked: a cleaner never sees a mark
            // without its writer's lock. A filesystem without extended
            // attributes gets no mark, and such a file is never removed.
            takeLock (fd);
            ::fsetxattr (fd, partialMark, partialMarkValue, sizeof (partialMarkValue), 0);
            path = candidate;
            return;
        }
        if (errno != EEXIST)
        {
            why = "The file cannot be created (" + systemError (errno) + ").";
            return;
        }
    }
    why = "The file cannot be created (no free name).";
}

PartialFile::~PartialFile()
{
    if (fd < 0)
        return;
    if (! unnamed)
    {
        // Only while the name is still the file we made.
        struct stat opened {}, named {};
        if (::fstat (fd, &opened) == 0 && ::lstat (path.getFullPathName().toRawUTF8(), &named) == 0 && sameFile (opened, named))
            ::unlink (path.getFullPathName().toRawUTF8());
    }
    ::close (fd);
}

bool PartialFile::moveInto (const juce::File& target, juce::String& why)
{
    if (fd < 0)
    {
        why = "The file cannot be created.";
        return false;
    }
    bool moved = false;
    if (unnamed)
    {
        // linkat never replaces: a file that appeared meanwhile is kept.
        const auto destination = target.getFullPathName().toRawUTF8();
        moved = ::linkat (AT_FDCWD, procPath (fd, false).toRawUTF8(), AT_FDCWD, destination, AT_SYMLINK_FOLLOW) == 0;
        if (! moved && errno != EEXIST)
            moved = ::linkat (fd, "", AT_FDCWD, destination, AT_EMPTY_PATH) == 0;
        if (! moved)
            why = errno == EEXIST ? alreadyExists()
                                  : "The finished file could not be moved into place (" + systemError (errno) + ").";
    }
    else
    {
        // The finished file is the user's, not a partial of ours.
        ::fremovexattr (fd, partialMark);
        moved = moveWithoutReplacing (path, target, why);
    }
    if (moved)
    {
        ::close (fd);
        fd = -1;
    }
    return moved;
}

void PartialFile::removeAbandonedIn (const juce::File& folder)
{
    const int dirFd = ::open (folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = ::fdopendir (dirFd);
    if (dir == nullptr)
    {
        ::close (dirFd);
        return;
    }
    while (const auto* entry = ::readdir (dir))
    {
        const char* name = entry->d_name;
        if (name[0] != '.' || std::strstr (name, ".partial") == nullptr)
            continue;
        const int fd = ::openat (dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {}, named {};
        char mark[sizeof (partialMarkValue)] {};
        if (::fstat (fd, &opened) == 0 && S_ISREG (opened.st_mode) && opened.st_uid == ::geteuid()
            && ::fgetxattr (fd, partialMark, mark, sizeof (mark)) == (ssize_t) sizeof (partialMarkValue)
            && std::memcmp (mark, partialMarkValue, sizeof (mark)) == 0 && ! isLockedElsewhere (fd)
            && ::fstatat (dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile (opened, named))
            ::unlinkat (dirFd, name, 0);
        ::close (fd);
    }
    ::closedir (dir);
}

void PartialFile::useNamedFilesOnly (bool only)
{
    namedOnly.store (only);
}

bool linkWithoutReplacing (const juce::File& finished, const juce::File& target, juce::String& why)
{
    if (::link (finished.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
    {
        why = errno == EEXIST ? alreadyExists()
                              : "The finished file could not be moved into place (" + systemError (errno) + ").";
        return false;
    }
    // The file is in place; a hidden name left behind is only clutter.
    ::unlink (finished.getFullPathName().toRawUTF8());
    return true;
}

bool moveWithoutReplacing (const juce::File& finished, const juce::File& target, juce::String& why)
{
    if (::syscall (SYS_renameat2, AT_FDCWD, finished.getFullPathName().toRawUTF8(), AT_FDCWD,
                   target.getFullPathName().toRawUTF8(), RENAME_NOREPLACE) == 0)
        return true;
    const int error = errno;
    if (error == EEXIST)
    {
        why = alreadyExists();
        return false;
    }
    // Kernels or filesystems that do not offer the flag.
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
        return linkWithoutReplacing (finished, target, why);
    why = "The finished file could not be moved into place (" + systemError (error) + ").";
    return false;
}

// ---------------------------------------------------------------------------
CheckedFileOutputStream::CheckedFileOutputStream (const juce::File& file, std::shared_ptr<std::atomic<bool>> failureFlag)
    : buffer (capacity), flag (std::move (failureFlag))
{
    fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        markFailed();
}

CheckedFileOutputStream::~CheckedFileOutputStream()
{
    close();
}

void CheckedFileOutputStream::markFailed()
{
    // The first failure is the one to tell; a write that took nothing and
    // said nothing is a device that stopped answering.
    if (! failed)
        error = errno != 0 ? errno : EIO;
    failed = true;
    if (flag != nullptr)
        flag->store (true);
}

bool CheckedFileOutputStream::writeAll (const char* data, size_t numBytes)
{
    while (numBytes > 0)
    {
        const auto n = ::write (fd, data, numBytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            if (n == 0)
                errno = 0;
            markFailed();
            return false;
        }
        data += n;
        numBytes -= (size_t) n;
    }
    return true;
}

bool CheckedFileOutputStream::flushBuffer()
{
    if (failed || fd < 0)
        return false;
    const auto n = buffered;
    buffered = 0;
    return writeAll (buffer.get(), n);
}

void CheckedFileOutputStream::flush()
{
    flushBuffer();
}

bool CheckedFileOutputStream::close()
{
    if (fd < 0)
        return ! failed;
    flushBuffer();
    if (::close (fd) != 0)
        markFailed();
    fd = -1;
    return ! failed;
}

bool CheckedFileOutputStream::setPosition (juce::int64 newPosition)
{
    if (! flushBuffer())
        return false;
    if (::lseek (fd, (off_t) newPosition, SEEK_SET) < 0)
    {
        markFailed();
        return false;
    }
    position = newPosition;
    return true;
}

bool CheckedFileOutputStream::write (const void* data, size_t numBytes)
{
    if (failed || fd < 0)
        return false;
    if (buffered + numBytes > capacity && ! flushBuffer())
        return false;
    if (numBytes >= capacity)
    {
        if (! writeAll (static_cast<const char*> (data), numBytes))
            return false;
    }
    else
    {
        std::memcpy (buffer.get() + buffered, data, numBytes);
        buffered += numBytes;
    }
    position += (juce::int64) numBytes;
    return true;
}
} // namespace clarivo::media::detail
