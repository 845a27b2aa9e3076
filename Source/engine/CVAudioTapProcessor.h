#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaTap.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <memory>

class CVAudioProcessor;

// Puts the restoration chain into the media layer's audio path: a tap on one
// audio track whose process callback runs each slice through the processor,
// and the audio mix that carries it to a player item or an export.
class CVAudioTapProcessor
{
public:
    // The track must be an audio track; anything else throws std::invalid_argument.
    CVAudioTapProcessor (std::shared_ptr<clarivo::media::AssetTrack> audioAssetTrack, CVAudioProcessor& processor);
    ~CVAudioTapProcessor();

    // Built on the first call; null when the tap cannot be created (the next call tries again).
    std::shared_ptr<clarivo::media::AudioMix> getAudioMix();
    // Null before getAudioMix.
    clarivo::media::AudioProcessingTapRef getTap() const noexcept { return tap.get(); }
    std::shared_ptr<clarivo::media::AssetTrack> getAudioAssetTrack() const { return track; }

    // Clears the processor's rings and the tap's buffers between passes of an export.
    void reset();

    // The tap of the running processed export; every other tap passes its
    // audio through untouched while it is set.
    static void setActiveTap (clarivo::media::AudioProcessingTapRef activeTap) noexcept;
    static clarivo::media::AudioProcessingTapRef getActiveTap() noexcept;

    // The processor is built for two channels; wider audio is left as it is.
    static constexpr int maxChannels = 2;

private:
    struct Storage;

    static void tapInit (clarivo::media::AudioProcessingTapRef, void* clientInfo, void** storageOut);
    static void tapFinalize (clarivo::media::AudioProcessingTapRef);
    static void tapPrepare (clarivo::media::AudioProcessingTapRef, std::int64_t maxFrames,
                            const clarivo::media::ProcessingFormat& format);
    static void tapUnprepare (clarivo::media::AudioProcessingTapRef);
    static void tapProcess (clarivo::media::AudioProcessingTapRef, std::int64_t numberFrames, clarivo::media::TapFlags flags,
                            clarivo::media::AudioBufferList& bufferList, std::int64_t* numberFramesOut,
                            clarivo::media::TapFlags* flagsOut);

    std::shared_ptr<clarivo::media::AssetTrack> track;
    CVAudioProcessor& processor;
    std::shared_ptr<clarivo::media::AudioProcessingTap> tap;
    std::shared_ptr<clarivo::media::AudioMix> audioMix;

    JUCE_DECLARE_NON_COPYABLE (CVAudioTapProcessor)
};
