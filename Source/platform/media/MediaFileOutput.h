#pragma once

// Writing finished files: the one way every writer of the program creates
// and commits a file, and an output stream that notices every byte that did
// not reach the disk. The temporary folders use the locks on their markers
// and the removal by descriptor. And the one test every reader makes before
// it opens a file a user named.
//
// What a committed file is promised, on every filesystem:
// - It takes its name only when whole and flushed to the disk (fsync), and
//   the folder is flushed after it, so a crash or power loss leaves the old
//   file or the new one under the name, never part of one.
// - No byte-range lock is taken on it: writers reach it through descriptors
//   of their own (FFmpeg, lame), and shares refuse those writes under a lock.
// - Every descriptor opened for it carries O_CLOEXEC.
// - A taken name is kept unless the caller replaces it: a replaced file's
//   mode (never wider) and, where allowed, its group pass to the new file
//   before the name does.
// Where it lives meanwhile:
// - With O_TMPFILE (ext4, xfs, btrfs, tmpfs) it has no name at all, and a
//   crash leaves nothing.
// - Elsewhere (NFS, SMB, FUSE, FAT) it is a hidden sibling with a random
//   part, at most 100 bytes of the target's name, made with O_EXCL. A crash
//   leaves it behind: with no lock, nothing tells it from a live writer's,
//   so nothing removes it.
// - Without a rename that refuses to replace, a hard link stands in; without
//   hard links as well (FAT, SMB without UNIX extensions) the name is looked
//   up just before a plain rename, and only a file made in that instant
//   could be replaced.
#include <juce_core/juce_core.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace clarivo::media::detail
{
// Only a regular file is opened for reading: opening a pipe waits for a
// writer that may never come, and a device reports no size and never ends.
bool isRegularFile (const juce::File& file);
// Whether anything has the name, a link that leads nowhere included (which
// a plain exists() misses): a taken name is never replaced unasked.
bool nameIsTaken (const juce::File& file);

// Open file description locks, for the temporary folders' markers (never a
// file that data is written to): held for as long as the descriptor stays
// open, dropped by the kernel when the holder dies however it dies, and
// seen by every process on the machine whatever its PID namespace.
// takeLock takes a write lock without waiting; isLockedElsewhere tells
// whether another open description holds one.
bool takeLock (int fd);
bool isLockedElsewhere (int fd);

// Removes the entry name under the folder dirFd with everything in it,
// walking by descriptor: a link is removed, never followed, and so is a
// folder swapped for a link while the walk is on.
bool removeTreeAt (int dirFd, const char* name);
// Tests swap a folder under the walk: called with each folder's parent
// descriptor and name between looking at it and opening it.
void setTreeWalkHook (std::function<void (int dirFd, const char* name)> hook);

// What a commit does when the target's name is taken.
enum class IfTaken
{
    fail,      // keeps the other file and discards the finished one
    replace,   // the caller's own file, or one the user agreed to give up
    keepBeside // keeps both: the finished file takes the next free name
};

// What the user agreed to for one target while a save runs, for writers
// that commit without knowing the user (the media layer's). The file at
// target now, by device and inode, may be replaced when replacing is
// agreed; a file put there meanwhile is not. Either way a taken name keeps
// the finished work under the next free name beside target.
class SaveTerms
{
public:
    SaveTerms (const juce::File& target, bool replaceWhatIsThere);
    ~SaveTerms();
    // Where the finished file went: target, a free name beside it, or
    // nothing when no commit succeeded.
    juce::File placedAt() const;

    SaveTerms (const SaveTerms&) = delete;
    SaveTerms& operator= (const SaveTerms&) = delete;

private:
    juce::String path;
};

// Whether a writer may start on target: the name is free, or the file there
// is one the running save's terms let it replace.
bool mayWriteTo (const juce::File& target);

// A file being written for target (see above for where it lives). Anything
// not committed goes when the object does.
class PartialFile
{
public:
    // An invalid object (check isValid) with the reason when no file can be made.
    PartialFile (const juce::File& target, juce::String& why);
    ~PartialFile();

    bool isValid() const noexcept { return fd >= 0; }
    // The path the writers open; programs we start may open it too.
    const juce::File& getFile() const noexcept { return path; }
    // The errno of the last failure, 0 when none.
    int getError() const noexcept { return error; }

    // Flushes the finished file and gives it target's name (target's folder
    // must be the one it was made for). Returns the file it became, or
    // nothing with the reason.
    juce::File commit (const juce::File& target, IfTaken ifTaken, juce::String& why);
    // The same on the running save's terms for target, if any; without
    // them a taken name fails.
    bool moveInto (const juce::File& target, juce::String& why);

    // Tests take the named way on any filesystem.
    static void useNamedFilesOnly (bool namedOnly);

    PartialFile (const PartialFile&) = delete;
    PartialFile& operator= (const PartialFile&) = delete;

private:
    bool giveName (const char* name, bool replacing);
    bool fail (int code, const juce::String& text, juce::String& why);

    int fd = -1, dirFd = -1, error = 0;
    bool unnamed = false;
    juce::File path;
    std::string hiddenName;
};

// Writes data whole into target through a PartialFile: 0, or the errno
// of the failure with the reason.
int writeWholeFile (const juce::File& target, const void* data, size_t size, IfTaken ifTaken, juce::String& why);

// The calls that flush and name a finished file, for tests to watch or
// refuse: sync is fsync (files and folders), rename renameat2 (flags 0 or
// RENAME_NOREPLACE), link linkat. Empty members take the system's.
struct FileCalls
{
    std::function<int (int fd)> sync;
    std::function<int (int fromDir, const char* from, int toDir, const char* to, unsigned int flags)> rename;
    std::function<int (int fromDir, const char* from, int toDir, const char* to, int flags)> link;
};
void setFileCalls (FileCalls calls);

// A buffered output stream over an existing file (emptied on opening) that
// fails for good on the first write, seek or close that does not fully
// succeed, a short write on a full disk included.
class CheckedFileOutputStream : public juce::OutputStream
{
public:
    // Failures are also reported to failureFlag, which outlives the stream:
    // an audio format writer closes the stream it owns out of sight.
    explicit CheckedFileOutputStream (const juce::File& file, std::shared_ptr<std::atomic<bool>> failureFlag = {});
    ~CheckedFileOutputStream() override;

    bool openedOk() const noexcept { return fd >= 0; }
    bool hasFailed() const noexcept { return failed; }
    // The errno of the first failure, 0 when none.
    int getError() const noexcept { return error; }
    // Writes what is buffered and closes the file: true when every byte
    // since opening is on the disk.
    bool close();

    void flush() override;
    juce::int64 getPosition() override { return position; }
    bool setPosition (juce::int64 newPosition) override;
    bool write (const void* data, size_t numBytes) override;

private:
    bool flushBuffer();
    bool writeAll (const char* data, size_t numBytes);
    void markFailed();

    static constexpr size_t capacity = 65536;
    int fd = -1, error = 0;
    bool failed = false;
    juce::int64 position = 0;
    juce::HeapBlock<char> buffer;
    size_t buffered = 0;
    std::shared_ptr<std::atomic<bool>> flag;
};
} // namespace clarivo::media::detail
