#pragma once

#include "MediaAsset.h"

namespace clarivo::media
{
class MutableComposition;

// A track of a composition: stretches of other tracks placed on its timeline.
class MutableCompositionTrack : public AssetTrack
{
public:
    // Places the part of range (on source's timeline) that the source track
    // covers at time at, moving what lay at or after at later by that length.
    // Fails when the source is of another media type or the times are invalid.
    bool insertTimeRange (TimeRange range, const AssetTrack& source, Time at, juce::String* error = nullptr);
    void setPreferredTransform (const juce::AffineTransform& transform);

private:
    MutableCompositionTrack() = default;
    friend class MutableComposition;
};

// An asset made of tracks that borrow media from other assets. It has no file.
class MutableComposition : public Asset
{
public:
    static std::shared_ptr<MutableComposition> composition();

    // preferredTrackID 0 lets the composition choose the next free ID.
    std::shared_ptr<MutableCompositionTrack> addMutableTrack (MediaType type, int preferredTrackID = 0);

    std::vector<std::shared_ptr<AssetTrack>> getTracks() override;
    Time getDuration() override;
    bool isPlayable() override;
    bool hasProtectedContent() override { return false; }
    std::shared_ptr<Asset> copy() override;

protected:
    bool loadValue (const juce::String& key, juce::String& error) override;

private:
    MutableComposition() = default;

    std::mutex lock;
    std::vector<std::shared_ptr<MutableCompositionTrack>> tracks;
};
} // namespace clarivo::media
