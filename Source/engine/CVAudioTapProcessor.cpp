#include "engine/CVAudioTapProcessor.h"
#include "engine/CVAudioProcessor.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

using namespace clarivo::media;

namespace
{
std::atomic<AudioProcessingTapRef> activeTapHandle { nullptr };
}

// The tap's storage lives from init to finalize, that is as long as the tap:
// the same tap serves the paused player and then the export, so freeing it at
// the end of one use would leave the other with a dangling record.
struct CVAudioTapProcessor::Storage
{
    bool usable = false;
    double sampleRate = std::numeric_limits<double>::quiet_NaN();
    std::uint32_t channelCount = 0;
    juce::AudioBuffer<float> buffer { 2, 512 };
    juce::MidiBuffer midi;
    CVAudioTapProcessor* client = nullptr;
    CVAudioProcessor* processor = nullptr;
    // The format complaint of a process call goes to the log once per prepare.
    std::atomic<bool> reportedUnusable { false };
};

void CVAudioTapProcessor::setActiveTap (AudioProcessingTapRef activeTap) noexcept
{
    activeTapHandle.store (activeTap);
}

AudioProcessingTapRef CVAudioTapProcessor::getActiveTap() noexcept
{
    return activeTapHandle.load();
}

CVAudioTapProcessor::CVAudioTapProcessor (std::shared_ptr<AssetTrack> audioAssetTrack, CVAudioProcessor& p)
    : track (std::move (audioAssetTrack)), processor (p)
{
    if (track == nullptr || track->getMediaType() != MediaType::audio)
        throw std::invalid_argument ("Invalid parameter not satisfying: audioAssetTrack != nullptr && "
                                     "audioAssetTrack->getMediaType() == MediaType::audio");
}

CVAudioTapProcessor::~CVAudioTapProcessor()
{
    // A tap that outlives this object (a mix still held elsewhere) keeps its
    // storage but must not be taken for the active export any more.
    auto* expected = tap.get();
    activeTapHandle.compare_exchange_strong (expected, nullptr);
}

std::shared_ptr<AudioMix> CVAudioTapProcessor::getAudioMix()
{
    if (audioMix != nullptr)
        return audioMix;

    auto mix = AudioMix::audioMix();
    auto parameters = AudioMixInputParameters::audioMixInputParametersWithTrack (track.get());

    AudioProcessingTapCallbacks callbacks;
    callbacks.version = 0;
    callbacks.clientInfo = this;
    callbacks.init = tapInit;
    callbacks.finalize = tapFinalize;
    callbacks.prepare = tapPrepare;
    callbacks.unprepare = tapUnprepare;
    callbacks.process = tapProcess;

    std::shared_ptr<AudioProcessingTap> created;
    if (AudioProcessingTap::create (callbacks, kTapCreationFlagPreEffects, created) != 0 || created == nullptr)
        return nullptr;

    tap = std::move (created);
    parameters->setAudioTapProcessor (tap);
    mix->setInputParameters ({ parameters });
    audioMix = std::move (mix);
    return audioMix;
}

void CVAudioTapProcessor::reset()
{
    processor.reset();
    if (tap == nullptr)
        return;
    if (auto* storage = static_cast<Storage*> (tap->getStorage()))
    {
        storage->midi.clear();
        storage->buffer.clear();
    }
}

void CVAudioTapProcessor::tapInit (AudioProcessingTapRef, void* clientInfo, void** storageOut)
{
    auto* storage = new Storage();
    storage->client = static_cast<CVAudioTapProcessor*> (clientInfo);
    storage->processor = &storage->client->processor;
    *storageOut = storage;
}

void CVAudioTapProcessor::tapFinalize (AudioProcessingTapRef tapRef)
{
    delete static_cast<Storage*> (tapRef->getStorage());
}

void CVAudioTapProcessor::tapPrepare (AudioProcessingTapRef tapRef, std::int64_t maxFrames, const ProcessingFormat& format)
{
    auto* storage = static_cast<Storage*> (tapRef->getStorage());
    storage->sampleRate = format.sampleRate;
    storage->channelCount = format.channelsPerFrame;
    storage->usable = true;
    storage->reportedUnusable.store (false);

    if (format.formatID != kAudioFormatLinearPCM)
    {
        juce::Logger::writeToLog ("Unsupported audio format ID for audioProcessingTap. LinearPCM only.");
        storage->usable = false;
    }
    if ((format.formatFlags & kAudioFormatFlagIsFloat) == 0)
    {
        juce::Logger::writeToLog ("Unsupported audio format flag for audioProcessingTap. Float only.");
        storage->usable = false;
    }
    // The processor keeps per-channel state for two channels only.
    if (format.channelsPerFrame == 0 || format.channelsPerFrame > (std::uint32_t) maxChannels)
    {
        juce::Logger::writeToLog ("Unsupported channel count for audioProcessingTap. Mono or stereo only.");
        storage->usable = false;
    }

    const int channels = juce::jlimit (1, maxChannels, (int) format.channelsPerFrame);
    const int frames = (int) juce::jmax<std::int64_t> (1, maxFrames);
    storage->buffer.setSize (channels, frames, false, true, false);

    if (storage->usable)
    {
        auto& processor = *storage->processor;
        processor.prepareToPlay (format.sampleRate, frames);
        // The windows read the rate and layout on the message thread, and an
        // export prepares on a thread of its own: what is already set (the
        // application sets it before a render) is not written again.
        if (processor.getTotalNumInputChannels() != channels || processor.getTotalNumOutputChannels() != channels
            || processor.getSampleRate() != format.sampleRate || processor.getBlockSize() != frames)
            processor.setPlayConfigDetails (channels, channels, format.sampleRate, frames);
    }
    storage->midi.clear();
    storage->buffer.clear();
}

void CVAudioTapProcessor::tapUnprepare (AudioProcessingTapRef) {}

void CVAudioTapProcessor::tapProcess (AudioProcessingTapRef tapRef, std::int64_t numberFrames, TapFlags,
                                      AudioBufferList& bufferList, std::int64_t* numberFramesOut, TapFlags* flagsOut)
{
    // The buffers arrive holding the source audio, so every early return
    // below leaves that audio playing.
    const auto active = activeTapHandle.load();
    if (active != nullptr && active != tapRef)
    {
        *numberFramesOut = numberFrames;
        return;
    }

    auto* storage = static_cast<Storage*> (tapRef->getStorage());
    if (! storage->usable)
    {
        if (! storage->reportedUnusable.exchange (true))
            juce::Logger::writeToLog ("Unsupported tap processing format.");
        *numberFramesOut = numberFrames;
        return;
    }

    if (const int status = tapRef->getSourceAudio (numberFrames, bufferList, flagsOut, nullptr, numberFramesOut); status != 0)
    {
        juce::Logger::writeToLog ("MTAudioProcessingTapGetSourceAudio: " + juce::String (status));
        return;
    }

    auto& buffer = storage->buffer;
    const int channels = juce::jmin ((int) bufferList.numberBuffers, buffer.getNumChannels());
    const int frames = (int) juce::jmin<std::int64_t> (numberFrames, buffer.getNumSamples());

    for (int c = 0; c < channels; ++c)
        std::memcpy (buffer.getWritePointer (c), bufferList.buffers[c].data, (size_t) frames * sizeof (float));

    storage->processor->processBlockWithLength (buffer, storage->midi, frames);

    for (int c = 0; c < channels; ++c)
        std::memcpy (bufferList.buffers[c].data, buffer.getReadPointer (c), (size_t) frames * sizeof (float));

    *numberFramesOut = frames;
}
