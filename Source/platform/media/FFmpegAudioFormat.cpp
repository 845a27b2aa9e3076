#include "FFmpegAudioFormat.h"
#include "MediaDecoding.h"

namespace clarivo::media
{
namespace
{
class FFmpegAudioFormatReader : public juce::AudioFormatReader
{
public:
    FFmpegAudioFormatReader (juce::InputStream* stream, std::unique_ptr<detail::AudioDecoder> d)
        : juce::AudioFormatReader (stream, "FFmpeg media"), decoder (std::move (d))
    {
        sampleRate = decoder->getSampleRate();
        numChannels = (unsigned int) decoder->getNumChannels();
        lengthInSamples = decoder->getLengthInSamples();
        bitsPerSample = 32;
        usesFloatingPointData = true;
        scratch.resize (numChannels);
    }

    bool readSamples (int* const* destChannels, int numDestChannels, int startOffsetInDestBuffer, juce::int64 startSampleInFile,
                      int numSamples) override
    {
        // Every destination channel is filled, present or not, so pointers
        // for missing ones go to scratch space.
        std::vector<float*> dest ((size_t) std::max<int> (numDestChannels, (int) numChannels), nullptr);
        for (size_t c = 0; c < dest.size(); ++c)
        {
            if ((int) c < numDestChannels && destChannels[c] != nullptr)
                dest[c] = reinterpret_cast<float*> (destChannels[c]) + startOffsetInDestBuffer;
            else
            {
                auto& s = scratch[(size_t) std::min<size_t> (c, scratch.size() - 1)];
                s.resize ((size_t) numSamples);
                dest[c] = s.data();
            }
        }
        // A file that stops short or holds damaged packets says so, so that a
        // copy made through this reader is not taken for whole.
        return decoder->read (dest.data(), (int) dest.size(), startSampleInFile, numSamples);
    }

private:
    std::unique_ptr<detail::AudioDecoder> decoder;
    std::vector<std::vector<float>> scratch;
};
} // namespace

FFmpegAudioFormat::FFmpegAudioFormat()
    : juce::AudioFormat ("FFmpeg media", ".m4a .mp4 .mov .m4v .caf .mp3 .mkv .mka .webm")
{
}

FFmpegAudioFormat::~FFmpegAudioFormat() = default;

juce::AudioFormatReader* FFmpegAudioFormat::createReaderFor (juce::InputStream* sourceStream, bool deleteStreamIfOpeningFails)
{
    if (sourceStream == nullptr)
        return nullptr;

    juce::String error;
    std::unique_ptr<detail::Demuxer> demuxer;
    const auto startPosition = sourceStream->getPosition();

    // A file is read by a descriptor of its own so that what was measured of
    // it is kept for the next reader; any other stream is read through itself.
    if (auto* regular = dynamic_cast<detail::RegularFileInputStream*> (sourceStream))
        demuxer = detail::Demuxer::openFile (regular->duplicate(), error);
    else if (auto* fileStream = dynamic_cast<juce::FileInputStream*> (sourceStream))
        demuxer = detail::Demuxer::openFile (fileStream->getFile(), error);
    else
    {
        struct Borrowed : juce::InputStream
        {
            explicit Borrowed (juce::InputStream& s) : source (s) {}
            juce::int64 getTotalLength() override { return source.getTotalLength(); }
            bool isExhausted() override { return source.isExhausted(); }
            int read (void* d, int n) override { return source.read (d, n); }
            juce::int64 getPosition() override { return source.getPosition(); }
            bool setPosition (juce::int64 p) override { return source.setPosition (p); }
            juce::InputStream& source;
        };
        demuxer = detail::Demuxer::openStream (std::make_unique<Borrowed> (*sourceStream), error);
    }

    std::unique_ptr<detail::AudioDecoder> decoder;
    if (demuxer != nullptr)
        decoder = detail::AudioDecoder::open (std::move (demuxer), -1, error);

    if (decoder == nullptr)
    {
        if (deleteStreamIfOpeningFails)
            delete sourceStream;
        else
            sourceStream->setPosition (startPosition);
        return nullptr;
    }
    return new FFmpegAudioFormatReader (sourceStream, std::move (decoder));
}

void registerMediaFormats (juce::AudioFormatManager& manager)
{
    manager.registerFormat (new FFmpegAudioFormat(), false);
}

std::unique_ptr<juce::AudioFormatReader> createReaderForFile (juce::AudioFormatManager& manager, const juce::File& file)
{
    for (auto* format : manager)
    {
        if (! format->canHandleFile (file))
            continue;
        juce::String why;
        auto in = detail::RegularFileInputStream::open (file, why);
        if (in == nullptr)
            return nullptr;
        if (auto* reader = format->createReaderFor (in.release(), true))
            return std::unique_ptr<juce::AudioFormatReader> (reader);
    }
    return nullptr;
}
} // namespace clarivo::media
