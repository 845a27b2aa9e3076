#include "MediaFileOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

juce::File createPartialFile (const juce::File& target, juce::String& why)
{
    const auto folder = target.getParentDirectory();
    const auto base = "." + target.getFileName() + ".partial";
    // Looking for a free name and taking it are two steps; another writer
    // may take the same name in between, and O_EXCL then sends this one on
    // to the next.
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        const auto candidate = folder.getNonexistentChildFile (base, "", false);
        const int fd = ::open (candidate.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            ::close (fd);
            return candidate;
        }
        if (errno != EEXIST)
        {
            why = "The file cannot be created (" + systemError (errno) + ").";
            return {};
        }
    }
    why = "The file cannot be created (no free name).";
    return {};
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
