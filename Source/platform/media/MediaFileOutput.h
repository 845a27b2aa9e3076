#pragma once

// Writing finished files safely: each file written without a name (or
// under a hidden one of ours), a move into place that never replaces what
// is there, and an output stream that notices every byte that did not reach
// the disk. The media layer's writers and the application's audio-writer
// exports use them; the temporary folders use the locks and the removal by
// descriptor. And the one test every reader makes before it opens a file a
// user named.
#include <juce_core/juce_core.h>

#include <atomic>
#include <functional>
#include <memory>

namespace clarivo::media::detail
{
// Only a regular file is opened for reading: opening a pipe waits for a
// writer that may never come, and a device reports no size and never ends.
bool isRegularFile (const juce::File& file);
// Whether anything has the name, a link that leads nowhere included (which
// a plain exists() misses): a taken name is never replaced unasked.
bool nameIsTaken (const juce::File& file);

// Open file description locks: held for as long as the descriptor stays
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

// A file being written for target. Where the filesystem allows it, it has
// no name at all until it is whole, so nothing is left should we die
// mid-write; elsewhere it has a hidden name beside target that says it is
// ours and is locked by its writer, so that a later save into the same
// folder removes it once its writer is gone. Anything not moved into place
// goes when the object does.
class PartialFile
{
public:
    // An invalid object (check isValid) with the reason when no file can be made.
    PartialFile (const juce::File& target, juce::String& why);
    ~PartialFile();

    bool isValid() const noexcept { return fd >= 0; }
    // The path the writers open; programs we start may open it too.
    const juce::File& getFile() const noexcept { return path; }
    // Gives the finished file target's name unless a file of that name is
    // there by now, in which case it is discarded and false comes back with
    // the reason.
    bool moveInto (const juce::File& target, juce::String& why);

    // Removes the hidden partials in folder that an earlier writer of ours
    // left and that nobody writes any more; nothing else.
    static void removeAbandonedIn (const juce::File& folder);
    // Tests take the named way on any filesystem.
    static void useNamedFilesOnly (bool namedOnly);

    PartialFile (const PartialFile&) = delete;
    PartialFile& operator= (const PartialFile&) = delete;

private:
    int fd = -1;
    bool unnamed = false;
    juce::File path;
};

// Gives the finished file the target's name unless a file of that name is
// there by now, in which case both are left as they are and false comes
// back with the reason.
bool moveWithoutReplacing (const juce::File& finished, const juce::File& target, juce::String& why);
// The same by a hard link and an unlink, for filesystems without an atomic
// rename that refuses to replace.
bool linkWithoutReplacing (const juce::File& finished, const juce::File& target, juce::String& why);

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
    // The system's error number of the first failure, 0 before one.
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
    int fd = -1;
    bool failed = false;
    int error = 0;
    juce::int64 position = 0;
    juce::HeapBlock<char> buffer;
    size_t buffered = 0;
    std::shared_ptr<std::atomic<bool>> flag;
};
} // namespace clarivo::media::detail
