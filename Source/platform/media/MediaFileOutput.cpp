#include "MediaFileOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <map>
#include <mutex>
#include <optional>
#include <sys/random.h>
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

FileCalls fileCalls;

int syncFile (int fd)
{
    return fileCalls.sync ? fileCalls.sync (fd) : ::fsync (fd);
}

int renameFile (int fromDir, const char* from, int toDir, const char* to, unsigned int flags)
{
    if (fileCalls.rename)
        return fileCalls.rename (fromDir, from, toDir, to, flags);
    return flags == 0 ? ::renameat (fromDir, from, toDir, to) : (int) ::syscall (SYS_renameat2, fromDir, from, toDir, to, flags);
}

int linkFile (int fromDir, const char* from, int toDir, const char* to, int flags)
{
    return fileCalls.link ? fileCalls.link (fromDir, from, toDir, to, flags) : ::linkat (fromDir, from, toDir, to, flags);
}

// A hidden name beside the target that no one guesses: a planted name (a
// link leading nowhere) costs one more try, never the save. At most 100
// bytes of the target's name, cut at a character's start, so that a name
// near the 255-byte limit still has a hidden one.
std::string hiddenNameFor (const std::string& targetName)
{
    constexpr size_t keptBytes = 100;
    auto kept = targetName.substr (0, keptBytes);
    if (targetName.size() > keptBytes)
        while (! kept.empty() && (((unsigned char) targetName[kept.size()]) & 0xC0) == 0x80)
            kept.pop_back();
    std::uint64_t random = 0;
    if (::getrandom (&random, sizeof (random), GRND_NONBLOCK) != (ssize_t) sizeof (random))
        random = (std::uint64_t) juce::Random::getSystemRandom().nextInt64();
    char hex[17];
    std::snprintf (hex, sizeof (hex), "%016llx", (unsigned long long) random);
    return "." + kept + "-" + hex + ".partial";
}

// What the running saves agreed to, by target path.
struct Terms
{
    bool replace = false;
    struct stat agreed {};
    juce::File placed;
};
std::mutex termsLock;
std::map<juce::String, Terms> runningTerms;

std::optional<Terms> termsFor (const juce::File& target)
{
    std::lock_guard<std::mutex> guard (termsLock);
    const auto found = runningTerms.find (target.getFullPathName());
    return found != runningTerms.end() ? std::optional<Terms> (found->second) : std::nullopt;
}

// The file at target now is the one the user agreed to give up: a file
// made there since is another, even with a freed inode's number.
bool agreedToReplace (const juce::File& target, const Terms& terms)
{
    struct stat now {};
    return terms.replace && ::lstat (target.getFullPathName().toRawUTF8(), &now) == 0 && sameFile (now, terms.agreed)
           && now.st_ctim.tv_sec == terms.agreed.st_ctim.tv_sec && now.st_ctim.tv_nsec == terms.agreed.st_ctim.tv_nsec;
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

SaveTerms::SaveTerms (const juce::File& target, bool replaceWhatIsThere) : path (target.getFullPathName())
{
    Terms terms;
    terms.replace = replaceWhatIsThere && ::lstat (path.toRawUTF8(), &terms.agreed) == 0;
    std::lock_guard<std::mutex> guard (termsLock);
    runningTerms[path] = terms;
}

SaveTerms::~SaveTerms()
{
    std::lock_guard<std::mutex> guard (termsLock);
    runningTerms.erase (path);
}

juce::File SaveTerms::placedAt() const
{
    std::lock_guard<std::mutex> guard (termsLock);
    const auto found = runningTerms.find (path);
    return found != runningTerms.end() ? found->second.placed : juce::File();
}

bool mayWriteTo (const juce::File& target)
{
    if (! nameIsTaken (target))
        return true;
    const auto terms = termsFor (target);
    return terms && agreedToReplace (target, *terms);
}

void setFileCalls (FileCalls calls)
{
    fileCalls = std::move (calls);
}

bool PartialFile::fail (int code, const juce::String& text, juce::String& why)
{
    error = code;
    why = text;
    return false;
}

PartialFile::PartialFile (const juce::File& target, juce::String& why)
{
    const auto folder = target.getParentDirectory();
    dirFd = ::open (folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
    {
        fail (errno, "The file cannot be created (" + systemError (errno) + ").", why);
        return;
    }

    if (! namedOnly.load())
    {
        fd = ::openat (dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
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

    const auto targetName = target.getFileName().toStdString();
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        auto name = hiddenNameFor (targetName);
        fd = ::openat (dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            hiddenName = std::move (name);
            path = folder.getChildFile (juce::String::fromUTF8 (hiddenName.c_str()));
            return;
        }
        if (errno != EEXIST)
        {
            fail (errno, "The file cannot be created (" + systemError (errno) + ").", why);
            return;
        }
    }
    fail (EEXIST, "The file cannot be created (no free name).", why);
}

PartialFile::~PartialFile()
{
    if (fd >= 0 && ! hiddenName.empty())
    {
        // Only while the name is still the file we made.
        struct stat opened {}, named {};
        if (::fstat (fd, &opened) == 0 && ::fstatat (dirFd, hiddenName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && sameFile (opened, named))
            ::unlinkat (dirFd, hiddenName.c_str(), 0);
    }
    if (fd >= 0)
        ::close (fd);
    if (dirFd >= 0)
        ::close (dirFd);
}

bool PartialFile::giveName (const char* name, bool replacing)
{
    if (unnamed)
    {
        // linkat never replaces: a file that appeared meanwhile is kept.
        const auto self = procPath (fd, false);
        if (! replacing)
        {
            if (linkFile (AT_FDCWD, self.toRawUTF8(), dirFd, name, AT_SYMLINK_FOLLOW) == 0
                || (errno != EEXIST && linkFile (fd, "", dirFd, name, AT_EMPTY_PATH) == 0))
                return true;
            error = errno;
            return false;
        }
        // Only a file with a name can be renamed over another.
        for (int attempt = 0; hiddenName.empty(); ++attempt)
        {
            auto hidden = hiddenNameFor (name);
            if (linkFile (AT_FDCWD, self.toRawUTF8(), dirFd, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0)
                hiddenName = std::move (hidden);
            else if (errno != EEXIST || attempt >= 100)
            {
                error = errno;
                return false;
            }
        }
        unnamed = false;
    }

    const auto* hidden = hiddenName.c_str();
    if (replacing)
    {
        if (renameFile (dirFd, hidden, dirFd, name, 0) == 0)
            return true;
        error = errno;
        return false;
    }
    if (renameFile (dirFd, hidden, dirFd, name, RENAME_NOREPLACE) == 0)
        return true;
    // Kernels and filesystems (FUSE, SMB) without the flag: a hard link
    // never replaces either.
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    {
        error = errno;
        return false;
    }
    if (linkFile (dirFd, hidden, dirFd, name, 0) == 0)
    {
        ::unlinkat (dirFd, hidden, 0);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL && errno != EMLINK)
    {
        error = errno;
        return false;
    }
    // Without either (FAT, SMB without UNIX extensions): the name is looked
    // up just before a plain rename. A file made in the instant between the
    // two is replaced; any file there before is kept.
    struct stat there {};
    if (::fstatat (dirFd, name, &there, AT_SYMLINK_NOFOLLOW) == 0)
    {
        error = EEXIST;
        return false;
    }
    if (renameFile (dirFd, hidden, dirFd, name, 0) == 0)
        return true;
    error = errno;
    return false;
}

juce::File PartialFile::commit (const juce::File& target, IfTaken ifTaken, juce::String& why)
{
    if (fd < 0)
    {
        fail (error != 0 ? error : EBADF, "The file cannot be created.", why);
        return {};
    }
    const auto name = target.getFileName().toStdString();
    struct stat replaced {};
    const bool replacing = ifTaken == IfTaken::replace && ::fstatat (dirFd, name.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing && S_ISREG (replaced.st_mode))
    {
        // A replaced file's readers stay its readers, and no more: its
        // group where we may give it (the group first, since a change of
        // group can clear mode bits), then its mode.
        if (::fchown (fd, (uid_t) -1, replaced.st_gid) != 0)
            ::fchown (fd, (uid_t) -1, (gid_t) -1);
        ::fchmod (fd, replaced.st_mode & 0777);
    }

    // The data reaches the disk before the name does: a crash in between
    // leaves the old file whole.
    if (syncFile (fd) != 0)
    {
        fail (errno, "The file could not be written to the disk (" + systemError (errno) + ").", why);
        return {};
    }

    auto placed = target;
    bool named = giveName (name.c_str(), replacing);
    // Finished work is never thrown away for a name someone took meanwhile.
    for (int n = 2; ! named && error == EEXIST && ifTaken == IfTaken::keepBeside && n < 1000; ++n)
    {
        placed = target.getSiblingFile (target.getFileNameWithoutExtension() + " (" + juce::String (n) + ")" + target.getFileExtension());
        named = giveName (placed.getFileName().toRawUTF8(), false);
    }
    if (! named)
    {
        fail (error, error == EEXIST ? alreadyExists()
                                     : "The finished file could not be moved into place (" + systemError (error) + ").",
              why);
        return {};
    }
    hiddenName.clear();
    error = 0;
    // And the folder's new entry after it. Some filesystems (a few FUSE
    // ones) cannot flush a folder; the file itself is on the disk already.
    syncFile (dirFd);
    ::close (fd);
    fd = -1;
    return placed;
}

bool PartialFile::moveInto (const juce::File& target, juce::String& why)
{
    const auto terms = termsFor (target);
    if (! terms)
        return commit (target, IfTaken::fail, why) != juce::File();
    const auto placed = commit (target, agreedToReplace (target, *terms) ? IfTaken::replace : IfTaken::keepBeside, why);
    std::lock_guard<std::mutex> guard (termsLock);
    if (const auto found = runningTerms.find (target.getFullPathName()); found != runningTerms.end())
        found->second.placed = placed;
    return placed != juce::File();
}

void PartialFile::useNamedFilesOnly (bool only)
{
    namedOnly.store (only);
}

int writeWholeFile (const juce::File& target, const void* data, size_t size, IfTaken ifTaken, juce::String& why)
{
    PartialFile partial (target, why);
    if (! partial.isValid())
        return partial.getError();
    {
        CheckedFileOutputStream out (partial.getFile());
        out.write (data, size);
        if (! out.close())
        {
            why = "The file could not be written (" + systemError (out.getError()) + ").";
            return out.getError();
        }
    }
    return partial.commit (target, ifTaken, why) != juce::File() ? 0 : partial.getError();
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
            // A short write that reports no error is a full disk.
            if (n == 0)
                errno = ENOSPC;
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
