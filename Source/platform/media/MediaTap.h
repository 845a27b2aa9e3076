#pragma once

#include "MediaTime.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace clarivo::media
{
class AssetTrack;

constexpr std::uint32_t fourCharCode (const char (&s)[5]) noexcept
{
    return ((std::uint32_t) (unsigned char) s[0] << 24) | ((std::uint32_t) (unsigned char) s[1] << 16)
         | ((std::uint32_t) (unsigned char) s[2] << 8) | (std::uint32_t) (unsigned char) s[3];
}

constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode ("lpcm");
constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;
constexpr std::uint32_t kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr std::uint32_t kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr std::uint32_t kAudioFormatFlagIsPacked = 1u << 3;
constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

// The format a tap processes in; the layer always offers native-endian,
// non-interleaved 32-bit float at the track's own rate and channel count.
struct ProcessingFormat
{
    double sampleRate = 0.0;
    std::uint32_t formatID = kAudioFormatLinearPCM;
    std::uint32_t formatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    std::uint32_t bytesPerPacket = 4;
    std::uint32_t framesPerPacket = 1;
    std::uint32_t bytesPerFrame = 4;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 32;

    static ProcessingFormat floatNonInterleaved (double sampleRate, int numChannels);
};

struct AudioBuffer
{
    std::uint32_t numberChannels = 1;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

// One buffer per channel for non-interleaved audio.
struct AudioBufferList
{
    static constexpr int maxBuffers = 16;
    std::uint32_t numberBuffers = 0;
    AudioBuffer buffers[maxBuffers];
};

class AudioProcessingTap;
using AudioProcessingTapRef = AudioProcessingTap*;

using TapFlags = std::uint32_t;
constexpr TapFlags kTapCreationFlagPreEffects = 1u << 0;
constexpr TapFlags kTapCreationFlagPostEffects = 1u << 1;
constexpr TapFlags kTapFlagStartOfStream = 1u << 8;
constexpr TapFlags kTapFlagEndOfStream = 1u << 9;

struct AudioProcessingTapCallbacks
{
    int version = 0;
    void* clientInfo = nullptr;
    // Runs once when the tap is created; may hand back a storage pointer.
    void (*init) (AudioProcessingTapRef tap, void* clientInfo, void** tapStorageOut) = nullptr;
    // Runs once when the tap goes.
    void (*finalize) (AudioProcessingTapRef tap) = nullptr;
    // Runs before each use (a playback or an export) with the largest frame
    // count a process call of that use will bring.
    void (*prepare) (AudioProcessingTapRef tap, std::int64_t maxFrames, const ProcessingFormat& format) = nullptr;
    // Runs after each use.
    void (*unprepare) (AudioProcessingTapRef tap) = nullptr;
    // The buffers arrive holding the source audio; a call that returns without
    // touching them leaves that audio playing.
    void (*process) (AudioProcessingTapRef tap, std::int64_t numberFrames, TapFlags flags, AudioBufferList& bufferList,
                     std::int64_t* numberFramesOut, TapFlags* flagsOut) = nullptr;
};

// A tap on one track's audio. Created with its callbacks; init runs at
// creation and finalize when the last reference goes, so the storage lives
// exactly as long as the tap. prepare and unprepare bracket each use, and a
// tap serves one use at a time.
class AudioProcessingTap
{
public:
    // 0 on success.
    static int create (const AudioProcessingTapCallbacks& callbacks, TapFlags flags,
                       std::shared_ptr<AudioProcessingTap>& tapOut);
    ~AudioProcessingTap();

    void* getStorage() const noexcept { return storage; }
    TapFlags getCreationFlags() const noexcept { return creationFlags; }

    // From inside process: copies the current slice's source audio into the
    // list. Non-zero when more frames are asked for than the slice holds or
    // the list does not fit the format.
    int getSourceAudio (std::int64_t numberFrames, AudioBufferList& bufferList, TapFlags* flagsOut, TimeRange* timeRangeOut,
                        std::int64_t* numberFramesOut);

    // --- the layer's side -------------------------------------------------
    // Starts a use: false (and no prepare) while another use holds the tap.
    bool beginUse (std::int64_t maxFrames, const ProcessingFormat& format);
    void endUse();
    bool isInUse() const noexcept { return inUse.load(); }
    std::int64_t getMaxFrames() const noexcept { return maxFrames; }
    const ProcessingFormat& getFormat() const noexcept { return format; }

    // Runs process on one slice. source holds the track's audio (one pointer
    // per channel of the prepared format); out receives the processed audio
    // and may be the same memory. Nothing is allocated.
    void process (const float* const* source, float* const* out, int numFrames, std::int64_t startSample, TapFlags flags);

    AudioProcessingTap (const AudioProcessingTap&) = delete;
    AudioProcessingTap& operator= (const AudioProcessingTap&) = delete;

private:
    AudioProcessingTap() = default;

    AudioProcessingTapCallbacks callbacks;
    TapFlags creationFlags = 0;
    void* storage = nullptr;
    std::atomic<bool> inUse { false };
    std::int64_t maxFrames = 0;
    ProcessingFormat format;

    // The slice being processed, for getSourceAudio.
    const float* const* currentSource = nullptr;
    std::int64_t currentFrames = 0;
    std::int64_t currentStart = 0;
};

// Settings for one track inside an audio mix.
class AudioMixInputParameters
{
public:
    static std::shared_ptr<AudioMixInputParameters> audioMixInputParametersWithTrack (const AssetTrack* track);

    int getTrackID() const noexcept { return trackID; }
    void setTrackID (int id) noexcept { trackID = id; }
    std::shared_ptr<AudioProcessingTap> getAudioTapProcessor() const;
    void setAudioTapProcessor (std::shared_ptr<AudioProcessingTap> tap);

private:
    AudioMixInputParameters() = default;
    int trackID = 0;
    mutable std::mutex lock;
    std::shared_ptr<AudioProcessingTap> tap;
};

// How the audio tracks of an item are mixed: here, which tap each track runs through.
class AudioMix
{
public:
    static std::shared_ptr<AudioMix> audioMix();

    std::vector<std::shared_ptr<AudioMixInputParameters>> getInputParameters() const;
    void setInputParameters (std::vector<std::shared_ptr<AudioMixInputParameters>> parameters);
    // The tap for a track, or null.
    std::shared_ptr<AudioProcessingTap> tapForTrack (int trackID) const;

private:
    AudioMix() = default;
    mutable std::mutex lock;
    std::vector<std::shared_ptr<AudioMixInputParameters>> inputs;
};
} // namespace clarivo::media
