#include "MediaAsset.h"
#include "MediaDecoding.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <thread>

namespace clarivo::media
{
juce::String toString (MediaType type)
{
    switch (type)
    {
        case MediaType::audio: return "audio";
        case MediaType::video: return "video";
        case MediaType::text: return "text";
        case MediaType::metadata: return "metadata";
    }
    return {};
}

bool FormatDescription::operator== (const FormatDescription& o) const
{
    const bool sameAudio = audio.has_value() == o.audio.has_value()
        && (! audio || (audio->sampleRate == o.audio->sampleRate && audio->channelsPerFrame == o.audio->channelsPerFrame
                        && audio->bitsPerChannel == o.audio->bitsPerChannel));
    return mediaType == o.mediaType && codec == o.codec && sameAudio && width == o.width && height == o.height;
}

std::optional<AudioStreamDescription> AssetTrack::getAudioStreamDescription() const
{
    for (const auto& f : formats)
        if (f.audio)
            return f.audio;
    return std::nullopt;
}

std::vector<TrackSegment> AssetTrack::getSegments() const
{
    std::lock_guard<std::mutex> lock (segmentLock);
    return segments;
}

// ---------------------------------------------------------------------------
std::vector<std::shared_ptr<AssetTrack>> Asset::getTracksWithMediaType (MediaType type)
{
    std::vector<std::shared_ptr<AssetTrack>> result;
    for (auto& t : getTracks())
        if (t->getMediaType() == type)
            result.push_back (t);
    return result;
}

std::shared_ptr<AssetTrack> Asset::getFirstTrackWithMediaType (MediaType type)
{
    auto tracks = getTracksWithMediaType (type);
    return tracks.empty() ? nullptr : tracks.front();
}

std::shared_ptr<AssetTrack> Asset::getTrackWithID (int trackID)
{
    for (auto& t : getTracks())
        if (t->getTrackID() == trackID)
            return t;
    return nullptr;
}

void Asset::loadValuesAsynchronously (const juce::StringArray& keyNames, std::function<void()> completion)
{
    {
        std::lock_guard<std::mutex> lock (keyLock);
        for (auto& k : keyNames)
            if (keys[k].first != KeyStatus::loaded)
                keys[k] = { KeyStatus::loading, {} };
    }

    std::thread ([self = shared_from_this(), keyNames, completion = std::move (completion)]
    {
        juce::Thread::setCurrentThreadName ("assetKeyLoading");
        for (auto& k : keyNames)
        {
            juce::String why;
            const bool ok = self->loadValue (k, why);
            std::lock_guard<std::mutex> lock (self->keyLock);
            self->keys[k] = { ok ? KeyStatus::loaded : KeyStatus::failed, why };
        }
        if (completion)
            completion();
    }).detach();
}

KeyStatus Asset::statusOfValueForKey (const juce::String& key, juce::String* error) const
{
    std::lock_guard<std::mutex> lock (keyLock);
    auto it = keys.find (key);
    if (it == keys.end())
        return KeyStatus::unknown;
    if (error != nullptr)
        *error = it->second.second;
    return it->second.first;
}

// ---------------------------------------------------------------------------
namespace
{
class FileTrack : public AssetTrack
{
    friend class clarivo::media::URLAsset;
};

juce::AffineTransform transformFromDisplayMatrix (const int32_t* m)
{
    // The display matrix has the QuickTime layout: a b u / c d v / x y w, with
    // a, b, c, d, x and y in 16.16 fixed point; points map as row vectors.
    const auto fx = [] (int32_t v) { return (float) v / 65536.0f; };
    return juce::AffineTransform (fx (m[0]), fx (m[3]), fx (m[6]), fx (m[1]), fx (m[4]), fx (m[7]));
}

bool streamIsProtected (const AVStream* st)
{
    if (av_stream_get_side_data (st, AV_PKT_DATA_ENCRYPTION_INIT_INFO, nullptr) != nullptr)
        return true;
    const auto tag = st->codecpar->codec_tag;
    return tag == MKTAG ('e', 'n', 'c', 'a') || tag == MKTAG ('e', 'n', 'c', 'v') || tag == MKTAG ('d', 'r', 'm', 's')
        || tag == MKTAG ('d', 'r', 'm', 'i');
}
} // namespace

std::shared_ptr<URLAsset> URLAsset::assetWithURL (const juce::File& file)
{
    return std::shared_ptr<URLAsset> (new URLAsset (file));
}

void URLAsset::probe()
{
    std::lock_guard<std::mutex> lock (probeLock);
    if (probed)
        return;
    probed = true;

    juce::String why;
    auto demuxer = detail::Demuxer::openFile (file, why);
    if (demuxer == nullptr)
    {
        error = why;
        damaged = file.existsAsFile() && detail::looksLikeMedia (file);
        return;
    }

    auto* ctx = demuxer->get();
    auto self = shared_from_this();
    Time longest = Time::zero();
    bool anyPlayable = false;

    for (int i = 0; i < demuxer->numStreams(); ++i)
    {
        auto* st = demuxer->stream (i);
        auto* par = st->codecpar;
        // Cover art is a picture attached to the audio, not a video track.
        if (detail::isAttachedPicture (st))
            continue;

        auto track = std::make_shared<FileTrack>();
        track->asset = self;
        track->trackID = st->id > 0 ? st->id : i + 1;

        FormatDescription desc;
        desc.codec = avcodec_get_name (par->codec_id);
        const double tb = av_q2d (st->time_base);
        const double startSeconds = demuxer->startSeconds (st);

        switch (par->codec_type)
        {
            case AVMEDIA_TYPE_AUDIO:
            {
                track->mediaType = MediaType::audio;
                desc.mediaType = MediaType::audio;
                juce::String audioError;
                auto info = detail::measureAudioStream (*demuxer, i, audioError);
                if (info == nullptr)
                    continue;
                desc.audio = AudioStreamDescription { (double) info->sampleRate, info->numChannels,
                                                      detail::isPcmCodec (par->codec_id) ? info->bitsPerSample : 0 };
                track->timeRange = { makeTimeWithSeconds (info->startSeconds, info->sampleRate),
                                     makeTime (info->lengthInSamples, info->sampleRate) };
                track->playable = avcodec_find_decoder (par->codec_id) != nullptr;
                break;
            }
            case AVMEDIA_TYPE_VIDEO:
            {
                track->mediaType = MediaType::video;
                desc.mediaType = MediaType::video;
                desc.width = par->width;
                desc.height = par->height;
                track->encodedSize = { par->width, par->height };
                auto sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : par->sample_aspect_ratio;
                track->sampleAspectRatio = sar.num > 0 && sar.den > 0 ? (float) av_q2d (sar) : 1.0f;
                track->naturalSize = { (float) par->width * track->sampleAspectRatio, (float) par->height };
                if (auto* m = reinterpret_cast<const int32_t*> (av_stream_get_side_data (st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)))
                    track->preferredTransform = transformFromDisplayMatrix (m);
                const auto rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
                track->nominalFrameRate = rate.num > 0 && rate.den > 0 ? (float) av_q2d (rate) : 0.0f;

                double seconds = 0.0;
                if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
                    seconds = (double) st->duration * tb;
                else if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
                    seconds = (double) ctx->duration / AV_TIME_BASE;
                const int scale = st->time_base.num == 1 && st->time_base.den > 0 ? st->time_base.den : 600;
                track->timeRange = { makeTimeWithSeconds (startSeconds, scale), makeTimeWithSeconds (seconds, scale) };
                track->playable = avcodec_find_decoder (par->codec_id) != nullptr;
                break;
            }
            case AVMEDIA_TYPE_SUBTITLE:
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN:
            case AVMEDIA_TYPE_NB:
            default:
            {
                track->mediaType = par->codec_type == AVMEDIA_TYPE_SUBTITLE ? MediaType::text : MediaType::metadata;
                desc.mediaType = track->mediaType;
                double seconds = st->duration != AV_NOPTS_VALUE && st->duration > 0 ? (double) st->duration * tb : 0.0;
                track->timeRange = { makeTimeWithSeconds (startSeconds, 600), makeTimeWithSeconds (seconds, 600) };
                break;
            }
        }

        track->formats.push_back (desc);
        track->segments.push_back ({ file, i, track->timeRange, track->timeRange.start });
        if (streamIsProtected (st))
            isProtected = true;
        if (track->playable && (track->mediaType == MediaType::audio || track->mediaType == MediaType::video))
            anyPlayable = true;
        longest = maximum (longest, track->timeRange.end());
        tracks.push_back (std::move (track));
    }

    duration = longest;
    playable = anyPlayable;
    if (! anyPlayable)
        error = "The media file holds no audio or video that can be played.";
}

std::vector<std::shared_ptr<AssetTrack>> URLAsset::getTracks()
{
    probe();
    return tracks;
}

Time URLAsset::getDuration()
{
    probe();
    return duration;
}

bool URLAsset::isPlayable()
{
    probe();
    return playable;
}

bool URLAsset::hasProtectedContent()
{
    probe();
    return isProtected;
}

bool URLAsset::isDamaged()
{
    probe();
    return damaged;
}

juce::String URLAsset::getError()
{
    probe();
    return error;
}

std::shared_ptr<Asset> URLAsset::copy()
{
    return assetWithURL (file);
}

bool URLAsset::loadValue (const juce::String& key, juce::String& why)
{
    probe();
    if (key != "tracks" && key != "duration" && key != "playable" && key != "hasProtectedContent")
    {
        why = "Unknown key \"" + key + "\".";
        return false;
    }
    if (tracks.empty())
    {
        why = error.isNotEmpty() ? error : juce::String ("The media file holds no tracks.");
        return false;
    }
    return true;
}

std::optional<AudioStreamDescription> firstAudioStreamDescription (Asset& asset)
{
    auto audio = asset.getTracksWithMediaType (MediaType::audio);
    if (audio.empty())
        return std::nullopt;
    return audio.front()->getAudioStreamDescription();
}
} // namespace clarivo::media
