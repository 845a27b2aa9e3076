#pragma once

// Writing finished files safely: a hidden name claimed for each file being
// written, a move into place that never replaces what is there, and an
// output stream that notices every byte that did not reach the disk. The
// media layer's writers and the application's audio-writer exports use them.
// And the one test every reader makes before it opens a file a user named.
#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

namespace clarivo::media::detail
{
// Only a regular file is opened for reading: opening a pipe waits for a
// writer that may never come, and a device reports no size and never ends.
bool isRegularFile (const juce::File& file);

// Creates a new empty file under a hidden name beside target that no other
// writer holds, or returns an empty File with the reason.
juce::File createPartialFile (const juce::File& target, juce::String& why);

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
    juce::int64 position = 0;
    juce::HeapBlock<char> buffer;
    size_t buffered = 0;
    std::shared_ptr<std::atomic<bool>> flag;
};
} // namespace clarivo::media::detail
