#pragma once

#include "MediaAsset.h"
#include "MediaTap.h"

#include <atomic>
#include <functional>
#include <optional>

namespace clarivo::media
{
enum class FileType
{
    quickTimeMovie, // .mov
    mpeg4,          // .mp4
    appleM4V,       // .m4v
    appleM4A,       // .m4a
    coreAudioFormat, // .caf
    wave,           // .wav
    aiff,           // .aif
};

juce::String fileExtension (FileType type);
std::optional<FileType> fileTypeForExtension (const juce::String& extension);
// True for the file types that hold sound only.
bool isAudioOnly (FileType type);
// Whether a movie of this type carries pictures in the codec (FFmpeg's short
// name, as a track's format description gives it) as they are, packet for
// packet; false for the sound-only types.
bool carriesPicture (FileType type, const juce::String& codec);
// The codec of the asset's first picture track, empty without one.
juce::String pictureCodec (Asset& asset);
// The name a person knows a picture codec by ("MPEG-2 video", "DV (Digital Video)").
juce::String pictureCodecTitle (const juce::String& codec);
// The tags of a media file as a whole, as FFmpeg's readers name them: when,
// where and with what it was recorded ("creation_time", "location",
// "com.apple.quicktime.make", a broadcast wave's "description" and
// "time_reference"). Empty when the file cannot be read.
juce::StringPairArray fileMetadata (const juce::File& file);

// Renders the first audio track of the asset through the mix's taps and
// encodes it as AAC in an M4A file.
inline constexpr const char* kExportPresetAppleM4A = "ExportPresetAppleM4A";
// Renders as the M4A preset does, into a wave file of 32-bit float samples at
// the track's own rate and channel count (RF64 past 4 GiB of data).
inline constexpr const char* kExportPresetLinearPCM = "ExportPresetLinearPCM";
// Copies the packets of every track unchanged into the chosen container.
inline constexpr const char* kExportPresetPassthrough = "ExportPresetPassthrough";

enum class ExportStatus
{
    unknown = 0,
    waiting = 1,
    exporting = 2,
    completed = 3,
    failed = 4,
    cancelled = 5,
};

// What stopped a failed export, told where it happened: the application
// words it for the user, never by reading the log text.
enum class ExportFailure
{
    none,
    sourceUnreadable, // a source file gone, cut short or damaged
    pictureRefused,   // the container would not take a track as it is
    writeFailed,      // the output could not be made, written or put in place; see getFailureErrno
    encoderFailed,    // the encoder refused the sound
    cancelled,
    other,
};

namespace detail
{
struct ExportFault;
}

// Writes an asset to a file on a worker thread. The file appears only when
// the export completes: a failed or cancelled export leaves nothing behind,
// and an existing file is never replaced.
class AssetExportSession : public std::enable_shared_from_this<AssetExportSession>
{
public:
    // Null for a preset this layer does not know.
    static std::shared_ptr<AssetExportSession> exportSessionWithAsset (std::shared_ptr<Asset> asset,
                                                                       const juce::String& presetName);
    ~AssetExportSession();

    std::shared_ptr<Asset> getAsset() const { return asset; }
    juce::String getPresetName() const { return preset; }

    // Set before exportAsynchronously.
    void setOutputURL (const juce::File& file) { outputURL = file; }
    juce::File getOutputURL() const { return outputURL; }
    void setOutputFileType (FileType type) { fileType = type; }
    std::optional<FileType> getOutputFileType() const { return fileType; }
    // Null exports the plain audio.
    void setAudioMix (std::shared_ptr<AudioMix> mix) { audioMix = std::move (mix); }
    std::shared_ptr<AudioMix> getAudioMix() const { return audioMix; }
    // Tags for the file as a whole, as fileMetadata gives them; a copy
    // keeps those its container can hold.
    void setMetadata (const juce::StringPairArray& tags) { metadata = tags; }
    // The part of the asset to export; the whole asset unless set. A render
    // fills what lies before or past the asset with silence.
    void setTimeRange (TimeRange range) { timeRange = range; }

    // Starts the export; the completion runs once, on the worker thread.
    void exportAsynchronously (std::function<void()> completion);
    void cancelExport() noexcept { cancelRequested.store (true); }

    ExportStatus getStatus() const noexcept { return status.load(); }
    float getProgress() const noexcept { return progress.load(); }
    // The log's account of a failure, with the library's own detail.
    juce::String getError() const;
    ExportFailure getFailure() const noexcept { return failure.load(); }
    // The system's error number behind a writeFailed, 0 when none was given.
    int getFailureErrno() const noexcept { return failureErrno.load(); }
    // Whether a failed export failed on reading its sources, not on writing.
    bool failedOnSource() const noexcept { return getFailure() == ExportFailure::sourceUnreadable; }

    // The largest slice a tap is given during an export.
    static constexpr int maxFramesPerSlice = 4096;

private:
    AssetExportSession (std::shared_ptr<Asset> asset, const juce::String& preset);
    void run();
    // The rendering presets: the track through its tap, then encoded.
    bool render (const juce::File& target, detail::ExportFault& why);
    bool passthrough (const juce::File& target, detail::ExportFault& why);

    std::shared_ptr<Asset> asset;
    juce::String preset;
    juce::File outputURL;
    std::optional<FileType> fileType;
    std::shared_ptr<AudioMix> audioMix;
    std::optional<TimeRange> timeRange;
    juce::StringPairArray metadata;

    std::atomic<ExportStatus> status { ExportStatus::unknown };
    std::atomic<float> progress { 0.0f };
    std::atomic<bool> cancelRequested { false };
    std::atomic<ExportFailure> failure { ExportFailure::none };
    std::atomic<int> failureErrno { 0 };
    mutable std::mutex errorLock;
    juce::String error;
    std::function<void()> completion;
};
} // namespace clarivo::media
