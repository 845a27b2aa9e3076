#include "MediaComposition.h"

#include <algorithm>

namespace clarivo::media
{
bool MutableCompositionTrack::insertTimeRange (TimeRange range, const AssetTrack& source, Time at, juce::String* error)
{
    const auto fail = [error] (const char* why)
    {
        if (error != nullptr)
            *error = why;
        return false;
    };

    if (source.getMediaType() != mediaType)
        return fail ("The source track is of another media type.");
    if (! range.start.isNumeric() || ! range.duration.isNumeric() || range.duration.value < 0 || ! at.isNumeric()
        || at.value < 0)
        return fail ("The time range or the insertion time is not valid.");

    // Only the part the source covers: a range running past the source's end
    // inserts what there is.
    const auto covered = range.intersection (source.getTimeRange());
    if (covered.isEmpty())
        return true;
    const Time place = at + (covered.start - range.start);

    std::vector<TrackSegment> added;
    for (const auto& seg : source.getSegments())
    {
        const auto part = seg.target.intersection (covered);
        if (part.isEmpty())
            continue;
        TrackSegment s = seg;
        s.sourceStart = seg.sourceStart + (part.start - seg.target.start);
        s.target = { place + (part.start - covered.start), part.duration };
        added.push_back (s);
    }

    {
        std::lock_guard<std::mutex> guard (segmentLock);
        std::vector<TrackSegment> result;
        for (const auto& seg : segments)
        {
            if (seg.target.end() <= place)
            {
                result.push_back (seg);
                continue;
            }
            if (seg.target.start < place)
            {
                // Split around the insertion point.
                TrackSegment head = seg;
                head.target.duration = place - seg.target.start;
                result.push_back (head);
                TrackSegment tail = seg;
                tail.sourceStart = seg.sourceStart + head.target.duration;
                tail.target = { place + covered.duration, seg.target.end() - place };
                result.push_back (tail);
                continue;
            }
            TrackSegment moved = seg;
            moved.target.start = seg.target.start + covered.duration;
            result.push_back (moved);
        }
        result.insert (result.end(), added.begin(), added.end());
        std::sort (result.begin(), result.end(),
                   [] (const TrackSegment& a, const TrackSegment& b) { return a.target.start < b.target.start; });
        segments = std::move (result);

        Time end = Time::zero();
        for (const auto& seg : segments)
            end = maximum (end, seg.target.end());
        timeRange = { Time::zero(), end };
    }

    if (formats.empty())
    {
        naturalSize = source.getNaturalSize();
        encodedSize = source.getEncodedSize();
        sampleAspectRatio = source.getSampleAspectRatio();
        nominalFrameRate = source.getNominalFrameRate();
    }
    for (const auto& f : source.getFormatDescriptions())
        if (std::find (formats.begin(), formats.end(), f) == formats.end())
            formats.push_back (f);
    playable = playable || source.isPlayable();
    return true;
}

void MutableCompositionTrack::setPreferredTransform (const juce::AffineTransform& transform)
{
    preferredTransform = transform;
}

// ---------------------------------------------------------------------------
std::shared_ptr<MutableComposition> MutableComposition::composition()
{
    return std::shared_ptr<MutableComposition> (new MutableComposition());
}

std::shared_ptr<MutableCompositionTrack> MutableComposition::addMutableTrack (MediaType type, int preferredTrackID)
{
    std::lock_guard<std::mutex> guard (lock);
    int id = preferredTrackID;
    const auto taken = [this] (int candidate)
    {
        return std::any_of (tracks.begin(), tracks.end(), [candidate] (auto& t) { return t->getTrackID() == candidate; });
    };
    if (id <= 0 || taken (id))
        for (id = 1; taken (id); ++id) {}

    auto track = std::shared_ptr<MutableCompositionTrack> (new MutableCompositionTrack());
    track->trackID = id;
    track->mediaType = type;
    track->asset = weak_from_this();
    track->timeRange = { Time::zero(), Time::zero() };
    tracks.push_back (track);
    return track;
}

std::vector<std::shared_ptr<AssetTrack>> MutableComposition::getTracks()
{
    std::lock_guard<std::mutex> guard (lock);
    return { tracks.begin(), tracks.end() };
}

Time MutableComposition::getDuration()
{
    Time end = Time::zero();
    for (auto& t : getTracks())
        end = maximum (end, t->getTimeRange().end());
    return end;
}

bool MutableComposition::isPlayable()
{
    for (auto& t : getTracks())
        if (t->isPlayable())
            return true;
    return false;
}

std::shared_ptr<Asset> MutableComposition::copy()
{
    auto result = composition();
    for (auto& t : getTracks())
    {
        auto c = result->addMutableTrack (t->getMediaType(), t->getTrackID());
        std::lock_guard<std::mutex> guard (t->segmentLock);
        c->naturalSize = t->naturalSize;
        c->encodedSize = t->encodedSize;
        c->sampleAspectRatio = t->sampleAspectRatio;
        c->preferredTransform = t->preferredTransform;
        c->nominalFrameRate = t->nominalFrameRate;
        c->formats = t->formats;
        c->timeRange = t->timeRange;
        c->playable = t->playable;
        c->segments = t->segments;
    }
    return result;
}

bool MutableComposition::loadValue (const juce::String& key, juce::String& error)
{
    if (key != "tracks" && key != "duration" && key != "playable" && key != "hasProtectedContent")
    {
        error = "Unknown key \"" + key + "\".";
        return false;
    }
    return true;
}
} // namespace clarivo::media
