#pragma once

#include "MediaTime.h"

#include <juce_core/juce_core.h>
#include <juce_graphics/juce_graphics.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace clarivo::media
{
enum class MediaType
{
    audio,
    video,
    text,     // subtitles and captions
    metadata, // timecode and other data tracks
};

juce::String toString (MediaType type);

// What a track's audio looks like: the counterpart of a stream description.
struct AudioStreamDescription
{
    double sampleRate = 0.0;
    int channelsPerFrame = 0;
    int bitsPerChannel = 0; // 0 for compressed formats
};

struct FormatDescription
{
    MediaType mediaType = MediaType::audio;
    juce::String codec; // the codec's short name, e.g. "aac", "h264"
    // Present for audio only.
    std::optional<AudioStreamDescription> audio;
    int width = 0, height = 0; // video only, in encoded pixels

    bool operator== (const FormatDescription& o) const;
};

// A stretch of one stream of a file placed on a track's timeline: the stream's
// media from sourceStart (seconds on the file's timeline) plays during target.
struct TrackSegment
{
    juce::File file;
    int streamIndex = -1;
    TimeRange target;
    Time sourceStart = Time::zero();
};

class Asset;

class AssetTrack
{
public:
    virtual ~AssetTrack() = default;

    int getTrackID() const noexcept { return trackID; }
    MediaType getMediaType() const noexcept { return mediaType; }
    bool hasMediaType (MediaType type) const noexcept { return mediaType == type; }

    // Display size in square pixels: the encoded width is scaled by the
    // sample aspect ratio. Zero for tracks without pictures.
    juce::Point<float> getNaturalSize() const noexcept { return naturalSize; }
    juce::Point<int> getEncodedSize() const noexcept { return encodedSize; }
    float getSampleAspectRatio() const noexcept { return sampleAspectRatio; }
    // Maps the natural-size picture onto the display (rotation, flips).
    juce::AffineTransform getPreferredTransform() const noexcept { return preferredTransform; }
    float getNominalFrameRate() const noexcept { return nominalFrameRate; }

    const std::vector<FormatDescription>& getFormatDescriptions() const noexcept { return formats; }
    // The stream description of the first audio format description, if any.
    std::optional<AudioStreamDescription> getAudioStreamDescription() const;

    TimeRange getTimeRange() const noexcept { return timeRange; }
    bool isPlayable() const noexcept { return playable; }

    // Where the track's media comes from, in timeline order.
    std::vector<TrackSegment> getSegments() const;

    std::shared_ptr<Asset> getAsset() const { return asset.lock(); }

protected:
    AssetTrack() = default;

    int trackID = 0;
    MediaType mediaType = MediaType::audio;
    juce::Point<float> naturalSize;
    juce::Point<int> encodedSize;
    float sampleAspectRatio = 1.0f;
    juce::AffineTransform preferredTransform;
    float nominalFrameRate = 0.0f;
    std::vector<FormatDescription> formats;
    TimeRange timeRange;
    bool playable = false;
    std::vector<TrackSegment> segments;
    std::weak_ptr<Asset> asset;
    mutable std::mutex segmentLock;

    friend class URLAsset;
    friend class MutableComposition;
    friend class MutableCompositionTrack;
};

enum class KeyStatus
{
    unknown = 0,
    loading = 1,
    loaded = 2,
    failed = 3,
    cancelled = 4,
};

class Asset : public std::enable_shared_from_this<Asset>
{
public:
    virtual ~Asset() = default;

    // The file the asset reads; none for compositions.
    virtual juce::File getURL() const { return {}; }

    virtual std::vector<std::shared_ptr<AssetTrack>> getTracks() = 0;
    std::vector<std::shared_ptr<AssetTrack>> getTracksWithMediaType (MediaType type);
    // The first track of that type in track order, or null.
    std::shared_ptr<AssetTrack> getFirstTrackWithMediaType (MediaType type);
    std::shared_ptr<AssetTrack> getTrackWithID (int trackID);
    virtual Time getDuration() = 0;
    virtual bool isPlayable() = 0;
    virtual bool hasProtectedContent() = 0;
    // Why the asset cannot be read, when it cannot.
    virtual juce::String getError() { return {}; }
    // A media file that cannot be read (cut short, damaged), as against a
    // file that holds no media at all.
    virtual bool isDamaged() { return false; }

    // An independent asset with the same content (a composition is frozen).
    virtual std::shared_ptr<Asset> copy() = 0;

    // Loads the named values ("tracks", "duration", "playable",
    // "hasProtectedContent") on a worker thread; the completion runs there
    // too, once, when every key is loaded or failed.
    void loadValuesAsynchronously (const juce::StringArray& keys, std::function<void()> completion);
    KeyStatus statusOfValueForKey (const juce::String& key, juce::String* error = nullptr) const;

protected:
    Asset() = default;
    // Loads one key's value now; false with a reason when it cannot be had.
    virtual bool loadValue (const juce::String& key, juce::String& error) = 0;

private:
    mutable std::mutex keyLock;
    std::map<juce::String, std::pair<KeyStatus, juce::String>> keys;
};

// An asset that reads a media file.
class URLAsset : public Asset
{
public:
    static std::shared_ptr<URLAsset> assetWithURL (const juce::File& file);

    juce::File getURL() const override { return file; }
    std::vector<std::shared_ptr<AssetTrack>> getTracks() override;
    Time getDuration() override;
    bool isPlayable() override;
    bool hasProtectedContent() override;
    juce::String getError() override;
    bool isDamaged() override;
    std::shared_ptr<Asset> copy() override;

protected:
    bool loadValue (const juce::String& key, juce::String& error) override;

private:
    explicit URLAsset (const juce::File& f) : file (f) {}
    void probe();

    const juce::File file;
    std::mutex probeLock;
    bool probed = false;
    juce::String error;
    std::vector<std::shared_ptr<AssetTrack>> tracks;
    Time duration = Time::zero();
    bool playable = false;
    bool isProtected = false;
    bool damaged = false;
};

// The stream description of the asset's first audio track: its channel count
// and sample rate, whatever kind of track comes first in the container.
std::optional<AudioStreamDescription> firstAudioStreamDescription (Asset& asset);
} // namespace clarivo::media
