#include "MediaTrackRender.h"

#include <algorithm>
#include <cmath>

namespace clarivo::media::detail
{
TrackAudioSource::TrackAudioSource (const AssetTrack& track)
{
    if (track.getMediaType() != MediaType::audio)
    {
        error = "The track holds no audio.";
        return;
    }

    for (const auto& seg : track.getSegments())
    {
        auto* decoder = decoderFor (seg.file, seg.streamIndex);
        if (decoder == nullptr)
            continue;

        if (sampleRate == 0)
        {
            // The track plays at its first segment's rate and channel count.
            sampleRate = decoder->getSampleRate();
            numChannels = decoder->getNumChannels();
        }

        Segment s;
        s.file = seg.file;
        s.streamIndex = seg.streamIndex;
        s.decoder = decoder;
        s.targetStart = seg.target.start.toSamples (sampleRate);
        s.targetEnd = seg.target.end().toSamples (sampleRate);
        s.sourceStart = seg.sourceStart.toSamples (sampleRate)
                      - (std::int64_t) std::llround (decoder->info().startSeconds * sampleRate);
        // Joining segments at another rate would need resampling that no
        // caller asks for; they stay silent rather than play at a wrong pitch.
        s.usable = decoder->getSampleRate() == sampleRate;
        segments.push_back (s);
        endSample = std::max (endSample, s.targetEnd);
    }

    if (sampleRate == 0 && error.isEmpty())
        error = "The track's audio cannot be decoded.";
    offsetPointers.resize ((size_t) std::max (1, numChannels));
}

AudioDecoder* TrackAudioSource::decoderFor (const juce::File& file, int stream)
{
    const auto key = std::make_pair (file.getFullPathName(), stream);
    if (auto it = decoders.find (key); it != decoders.end())
        return it->second.get();

    juce::String why;
    auto decoder = AudioDecoder::open (file, stream, why);
    if (decoder == nullptr)
    {
        if (error.isEmpty())
            error = why;
        return nullptr;
    }
    auto* raw = decoder.get();
    decoders[key] = std::move (decoder);
    return raw;
}

bool TrackAudioSource::read (float* const* dest, std::int64_t start, int numFrames)
{
    for (int c = 0; c < numChannels; ++c)
        std::fill (dest[c], dest[c] + numFrames, 0.0f);

    bool ok = true;
    const std::int64_t end = start + numFrames;
    for (auto& seg : segments)
    {
        if (! seg.usable || seg.targetEnd <= start || seg.targetStart >= end)
            continue;
        const auto from = std::max (start, seg.targetStart);
        const auto to = std::min (end, seg.targetEnd);
        for (int c = 0; c < numChannels; ++c)
            offsetPointers[(size_t) c] = dest[c] + (from - start);
        ok = seg.decoder->read (offsetPointers.data(), numChannels, seg.sourceStart + (from - seg.targetStart), (int) (to - from))
          && ok;
    }
    return ok;
}
} // namespace clarivo::media::detail
