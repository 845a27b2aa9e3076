#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

namespace clarivo::media
{
// Reads the sound of media files through FFmpeg: the first audio track that
// is not cover art, as float, with sample-exact positioning. It does not write.
class FFmpegAudioFormat : public juce::AudioFormat
{
public:
    FFmpegAudioFormat();
    ~FFmpegAudioFormat() override;

    juce::Array<int> getPossibleSampleRates() override { return {}; }
    juce::Array<int> getPossibleBitDepths() override { return {}; }
    bool canDoStereo() override { return true; }
    bool canDoMono() override { return true; }
    bool isCompressed() override { return true; }

    juce::AudioFormatReader* createReaderFor (juce::InputStream* sourceStream, bool deleteStreamIfOpeningFails) override;
    juce::AudioFormatWriter* createWriterFor (juce::OutputStream*, double, unsigned int, int, const juce::StringPairArray&,
                                              int) override
    {
        return nullptr;
    }
    using juce::AudioFormat::createWriterFor;
};

// Registers the format in a manager, after whatever is there already, so the
// basic formats keep their own files.
void registerMediaFormats (juce::AudioFormatManager& manager);

// What AudioFormatManager::createReaderFor (File) does, but each format gets
// the file opened without waiting and judged by its descriptor: a pipe or a
// device under the name, however recently swapped in, gives no reader rather
// than an open that waits for a writer.
std::unique_ptr<juce::AudioFormatReader> createReaderForFile (juce::AudioFormatManager& manager, const juce::File& file);
} // namespace clarivo::media
