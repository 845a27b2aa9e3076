#pragma once

// Renders the audio of one track (a file's stream or a composition's
// segments) on the asset's timeline. Used only inside the media layer.
#include "MediaAsset.h"
#include "MediaDecoding.h"

#include <map>

namespace clarivo::media::detail
{
class TrackAudioSource
{
public:
    explicit TrackAudioSource (const AssetTrack& track);

    bool isValid() const noexcept { return sampleRate > 0; }
    const juce::String& getError() const noexcept { return error; }
    int getSampleRate() const noexcept { return sampleRate; }
    int getNumChannels() const noexcept { return numChannels; }
    // One past the track's last sample on the asset's timeline.
    std::int64_t getEndSample() const noexcept { return endSample; }

    // Planar float from the asset's sample start (sample 0 = time 0); silence
    // where no segment plays. False when some audio could not be decoded.
    bool read (float* const* dest, std::int64_t start, int numFrames);

private:
    struct Segment
    {
        juce::File file;
        int streamIndex = -1;
        std::int64_t targetStart = 0, targetEnd = 0;
        std::int64_t sourceStart = 0; // decoder sample that plays at targetStart
        AudioDecoder* decoder = nullptr;
        bool usable = false;
    };

    AudioDecoder* decoderFor (const juce::File& file, int stream);

    std::vector<Segment> segments;
    std::map<std::pair<juce::String, int>, std::unique_ptr<AudioDecoder>> decoders;
    int sampleRate = 0;
    int numChannels = 0;
    std::int64_t endSample = 0;
    juce::String error;
    std::vector<float*> offsetPointers;
};
} // namespace clarivo::media::detail
