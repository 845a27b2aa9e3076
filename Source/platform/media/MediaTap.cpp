#include "MediaTap.h"
#include "MediaAsset.h"

#include <algorithm>
#include <cstring>

namespace clarivo::media
{
ProcessingFormat ProcessingFormat::floatNonInterleaved (double sampleRate, int numChannels)
{
    ProcessingFormat f;
    f.sampleRate = sampleRate;
    f.channelsPerFrame = (std::uint32_t) std::max (0, numChannels);
    return f;
}

int AudioProcessingTap::create (const AudioProcessingTapCallbacks& callbacks, TapFlags flags,
                                std::shared_ptr<AudioProcessingTap>& tapOut)
{
    tapOut.reset();
    if (callbacks.version != 0 || callbacks.process == nullptr)
        return -50; // a parameter error, as the callers expect non-zero

    std::shared_ptr<AudioProcessingTap> tap (new AudioProcessingTap());
    tap->callbacks = callbacks;
    tap->creationFlags = flags;
    if (callbacks.init != nullptr)
        callbacks.init (tap.get(), callbacks.clientInfo, &tap->storage);
    tapOut = std::move (tap);
    return 0;
}

AudioProcessingTap::~AudioProcessingTap()
{
    if (inUse.exchange (false) && callbacks.unprepare != nullptr)
        callbacks.unprepare (this);
    if (callbacks.finalize != nullptr)
        callbacks.finalize (this);
}

bool AudioProcessingTap::beginUse (std::int64_t maxFramesPerCall, const ProcessingFormat& processingFormat)
{
    bool expected = false;
    if (! inUse.compare_exchange_strong (expected, true))
        return false;

    maxFrames = maxFramesPerCall;
    format = processingFormat;
    if (callbacks.prepare != nullptr)
        callbacks.prepare (this, maxFrames, format);
    return true;
}

void AudioProcessingTap::endUse()
{
    if (! inUse.load())
        return;
    if (callbacks.unprepare != nullptr)
        callbacks.unprepare (this);
    inUse.store (false);
}

void AudioProcessingTap::process (const float* const* source, float* const* out, int numFrames, std::int64_t startSample,
                                  TapFlags flags)
{
    const int channels = (int) std::min<std::uint32_t> (format.channelsPerFrame, AudioBufferList::maxBuffers);
    numFrames = (int) std::min<std::int64_t> (numFrames, maxFrames);

    // The buffers hold the source audio before the call, so a tap that does
    // not fetch (or gives up) leaves the audio as it came.
    AudioBufferList list;
    list.numberBuffers = (std::uint32_t) channels;
    for (int c = 0; c < channels; ++c)
    {
        if (out[c] != source[c])
            std::memcpy (out[c], source[c], (size_t) numFrames * sizeof (float));
        list.buffers[c] = { 1, (std::uint32_t) ((size_t) numFrames * sizeof (float)), out[c] };
    }

    currentSource = source;
    currentFrames = numFrames;
    currentStart = startSample;

    std::int64_t framesOut = numFrames;
    TapFlags flagsOut = 0;
    callbacks.process (this, numFrames, flags, list, &framesOut, &flagsOut);

    // Fewer frames than asked for: the rest is silent.
    if (framesOut < numFrames)
        for (int c = 0; c < channels; ++c)
            std::fill (out[c] + std::max<std::int64_t> (0, framesOut), out[c] + numFrames, 0.0f);

    currentSource = nullptr;
    currentFrames = 0;
}

int AudioProcessingTap::getSourceAudio (std::int64_t numberFrames, AudioBufferList& bufferList, TapFlags* flagsOut,
                                        TimeRange* timeRangeOut, std::int64_t* numberFramesOut)
{
    if (currentSource == nullptr)
        return -12780; // not inside a process call
    if (numberFrames > currentFrames || numberFrames < 0)
        return -12781; // more than the slice holds
    if (bufferList.numberBuffers != format.channelsPerFrame)
        return -12782; // the list does not fit the processing format

    for (std::uint32_t c = 0; c < bufferList.numberBuffers; ++c)
    {
        auto& b = bufferList.buffers[c];
        if (b.data == nullptr || b.dataByteSize < (std::uint32_t) (numberFrames * (std::int64_t) sizeof (float)))
            return -12782;
        if (b.data != currentSource[c])
            std::memmove (b.data, currentSource[c], (size_t) numberFrames * sizeof (float));
    }

    if (flagsOut != nullptr)
        *flagsOut = 0;
    if (timeRangeOut != nullptr)
        *timeRangeOut = { makeTime (currentStart, (std::int32_t) format.sampleRate),
                          makeTime (numberFrames, (std::int32_t) format.sampleRate) };
    if (numberFramesOut != nullptr)
        *numberFramesOut = numberFrames;
    return 0;
}

// ---------------------------------------------------------------------------
std::shared_ptr<AudioMixInputParameters> AudioMixInputParameters::audioMixInputParametersWithTrack (const AssetTrack* track)
{
    auto p = std::shared_ptr<AudioMixInputParameters> (new AudioMixInputParameters());
    if (track != nullptr)
        p->trackID = track->getTrackID();
    return p;
}

std::shared_ptr<AudioProcessingTap> AudioMixInputParameters::getAudioTapProcessor() const
{
    std::lock_guard<std::mutex> guard (lock);
    return tap;
}

void AudioMixInputParameters::setAudioTapProcessor (std::shared_ptr<AudioProcessingTap> t)
{
    std::lock_guard<std::mutex> guard (lock);
    tap = std::move (t);
}

std::shared_ptr<AudioMix> AudioMix::audioMix()
{
    return std::shared_ptr<AudioMix> (new AudioMix());
}

std::vector<std::shared_ptr<AudioMixInputParameters>> AudioMix::getInputParameters() const
{
    std::lock_guard<std::mutex> guard (lock);
    return inputs;
}

void AudioMix::setInputParameters (std::vector<std::shared_ptr<AudioMixInputParameters>> parameters)
{
    std::lock_guard<std::mutex> guard (lock);
    inputs = std::move (parameters);
}

std::shared_ptr<AudioProcessingTap> AudioMix::tapForTrack (int trackID) const
{
    std::lock_guard<std::mutex> guard (lock);
    for (auto& p : inputs)
        if (p->getTrackID() == trackID)
            return p->getAudioTapProcessor();
    return nullptr;
}
} // namespace clarivo::media
