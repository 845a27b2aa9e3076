#pragma once

#include "engine/CVAudioProcessor.h"

#include <gtest/gtest.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <mutex>
#include <vector>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace mediatest
{
using Planar = std::vector<std::vector<float>>;

// One of the generated test files (the recipes in MediaTestSupport.cpp say
// what each holds), made on the first call for it and shared by the test
// processes of the build tree. Other names give a file that does not exist.
juce::File media (const char* name);
// A fresh, not yet existing file in a scratch folder emptied for each test.
juce::File scratchFile (const juce::String& name);
juce::File scratchFolder();

bool runFFmpeg (const juce::StringArray& args);

// The whole first audio track of a file, decoded by the media layer.
Planar decodeAll (const juce::File& file, int* sampleRate = nullptr);

// What the restoration chain makes of the audio when run offline, in the
// slice size the media layer prepares its taps for.
Planar processOffline (const Planar& input, double sampleRate, const std::function<void (CVAudioProcessor&)>& setup = {});

// Runs the message loop until the condition holds or the time is up.
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs);

// The packets of a file's first video or audio stream, as stored, and where
// each starts in the file.
struct StoredPacket
{
    juce::MemoryBlock data;
    std::int64_t position;
};
std::vector<StoredPacket> storedPackets (const juce::File& file, bool video);
std::vector<juce::MemoryBlock> videoPackets (const juce::File& file);

double correlation (const float* a, const float* b, int n);
// True when block matches whole from position within codec noise, and
// clearly better there than one sample to either side.
bool landsOn (const float* block, const std::vector<float>& whole, std::int64_t position, int length, float tolerance = 1.0e-4f);

// The offset into haystack at which needle appears sample for sample, or -1.
int findExact (const std::vector<float>& haystack, const float* needle, int needleLength, int from = 0);

// While alive, files of this process cannot grow past the limit, as on a
// full disk: writes past it fail instead of raising a signal.
class FileSizeLimit
{
public:
    explicit FileSizeLimit (std::int64_t bytes) : previousHandler (std::signal (SIGXFSZ, SIG_IGN))
    {
        getrlimit (RLIMIT_FSIZE, &previous);
        auto limited = previous;
        limited.rlim_cur = (rlim_t) bytes;
        setrlimit (RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit (RLIMIT_FSIZE, &previous);
        std::signal (SIGXFSZ, previousHandler);
    }

private:
    void (*previousHandler) (int);
    rlimit previous {};
};

// Blocks that end where an unreadable page begins, for the media layer's
// picture conversion: a write one byte past the block kills the test there.
inline size_t guardedSpan (size_t bytes)
{
    const auto page = (size_t) ::sysconf (_SC_PAGESIZE);
    return (bytes + page - 1) / page * page;
}

inline void* guardedBlock (size_t bytes)
{
    const auto span = guardedSpan (bytes);
    const auto page = (size_t) ::sysconf (_SC_PAGESIZE);
    void* mapped = ::mmap (nullptr, span + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    auto* base = static_cast<std::uint8_t*> (mapped);
    ::mprotect (base + span, page, PROT_NONE);
    return base + span - bytes;
}

inline void releaseGuardedBlock (void* block, size_t bytes)
{
    const auto span = guardedSpan (bytes);
    ::munmap (static_cast<std::uint8_t*> (block) + bytes - span, span + (size_t) ::sysconf (_SC_PAGESIZE));
}

// Collects the lines written to the log while alive.
class LogCapture : public juce::Logger
{
public:
    LogCapture() { juce::Logger::setCurrentLogger (this); }
    ~LogCapture() override { juce::Logger::setCurrentLogger (previous); }
    int count (const juce::String& line) const
    {
        std::lock_guard<std::mutex> guard (lock);
        return (int) std::count (captured.begin(), captured.end(), line);
    }

private:
    void logMessage (const juce::String& message) override
    {
        std::lock_guard<std::mutex> guard (lock);
        captured.add (message);
    }
    juce::Logger* const previous = juce::Logger::getCurrentLogger();
    mutable std::mutex lock;
    juce::StringArray captured;
};
} // namespace mediatest
