#include "MediaTestSupport.h"

#include "platform/media/MediaAssetReaderWriter.h"

#include <thread>

using namespace clarivo::media;
using namespace mediatest;

namespace
{
struct Copy
{
    std::shared_ptr<AssetWriter> writer; // null when the copy could not start
    std::shared_ptr<juce::String> queueName = std::make_shared<juce::String>();
};

// The copy the program makes for ".wav" and ".aif": the asset's audio from an
// offset as 24-bit stereo PCM, pulled and written on a serial queue, and left
// to finish there after the caller has returned. The block keeps what it uses
// (the output, the input and the writer), not the reader.
Copy startCopy (std::shared_ptr<Asset> asset, const juce::File& target, std::shared_ptr<SerialQueue> queue, FileType type = FileType::wave,
                Time offset = Time::zero(), double rate = 48000.0, std::function<void (AssetWriterInput&)> afterFirstBuffer = {})
{
    LinearPCMSettings settings;
    settings.sampleRate = rate;
    settings.isBigEndian = type != FileType::wave;

    Copy copy;
    auto reader = AssetReader::create (asset);
    auto output = AssetReaderAudioMixOutput::create (asset->getTracksWithMediaType (MediaType::audio), settings);
    auto input = AssetWriterInput::create (MediaType::audio, settings);
    input->setExpectsMediaDataInRealTime (false);
    if (reader == nullptr || ! reader->canAddOutput (*output))
        return copy;
    reader->addOutput (output);
    reader->setTimeRange ({ offset, asset->getDuration() });
    if (! reader->startReading())
        return copy;
    auto writer = AssetWriter::create (target, type);
    if (writer == nullptr || ! writer->canAddInput (*input))
        return copy;
    writer->addInput (input);
    if (! writer->startWriting())
        return copy;
    writer->startSessionAtSourceTime (Time::zero());

    std::weak_ptr<AssetWriter> weakWriter = writer;
    input->requestMediaDataWhenReadyOnQueue (queue, [=, name = copy.queueName]
    {
        *name = SerialQueue::currentQueueName();
        bool first = true;
        while (input->isReadyForMoreMediaData())
        {
            auto buffer = output->copyNextSampleBuffer();
            if (buffer == nullptr)
                break;
            input->appendSampleBuffer (*buffer);
            if (first && afterFirstBuffer)
                afterFirstBuffer (*input);
            first = false;
        }
        input->markAsFinished();
        if (auto w = weakWriter.lock())
            w->finishWriting();
    });
    copy.writer = writer;
    return copy;
}

// The same, waited for. The caller returns before the copy starts, so the
// reader has gone with it.
Copy copyAudio (std::shared_ptr<Asset> asset, const juce::File& target, FileType type, Time offset, double rate)
{
    auto queue = SerialQueue::create ("assetWriterQueue");
    queue->async ([] { juce::Thread::sleep (50); });
    auto copy = startCopy (asset, target, queue, type, offset, rate);
    queue->waitUntilIdle();
    return copy;
}

WriterStatus statusOf (const Copy& copy)
{
    return copy.writer != nullptr ? copy.writer->getStatus() : WriterStatus::unknown;
}

// A wave writer with one input, started.
std::pair<std::shared_ptr<AssetWriter>, std::shared_ptr<AssetWriterInput>> openWave (const juce::File& file, const LinearPCMSettings& settings)
{
    auto writer = AssetWriter::create (file, FileType::wave);
    auto input = AssetWriterInput::create (MediaType::audio, settings);
    writer->addInput (input);
    EXPECT_TRUE (writer->startWriting());
    return { writer, input };
}

SampleBuffer silence (std::int64_t frames, const LinearPCMSettings& format)
{
    SampleBuffer buffer;
    buffer.numFrames = frames;
    buffer.format = format;
    buffer.data.setSize ((size_t) (frames * format.bytesPerFrame()), true);
    return buffer;
}

std::vector<std::vector<int>> readInts (const juce::File& file, int& bits, double& rate)
{
    juce::AudioFormatManager manager;
    manager.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (manager.createReaderFor (file));
    if (reader == nullptr)
        return {};
    bits = (int) reader->bitsPerSample;
    rate = reader->sampleRate;
    std::vector<std::vector<int>> out (reader->numChannels, std::vector<int> ((size_t) reader->lengthInSamples));
    std::vector<int*> pointers;
    for (auto& ch : out)
        pointers.push_back (ch.data());
    reader->read (pointers.data(), (int) pointers.size(), 0, (int) reader->lengthInSamples, false);
    return out;
}
} // namespace

TEST (MediaAssetReaderWriter, CopiesTwentyFourBitAudioExactlyAndCompressedSoundToTheNearest24BitStep)
{
    int sourceBits = 0;
    double sourceRate = 0;
    const auto source = readInts (media ("rate48k.wav"), sourceBits, sourceRate);
    ASSERT_EQ (sourceBits, 24);
    auto asset = URLAsset::assetWithURL (media ("rate48k.wav"));

    for (auto type : { FileType::wave, FileType::aiff })
    {
        SCOPED_TRACE (fileExtension (type).toStdString());
        const auto target = scratchFile ("copy" + fileExtension (type));
        const auto copied = copyAudio (asset, target, type, makeTime (100, 1000), 48000.0);
        EXPECT_EQ (*copied.queueName, "assetWriterQueue");
        ASSERT_EQ (statusOf (copied), WriterStatus::completed);

        int bits = 0;
        double rate = 0;
        const auto copy = readInts (target, bits, rate);
        EXPECT_EQ (bits, 24);
        EXPECT_EQ (rate, 48000.0);
        ASSERT_EQ (copy.size(), 2u);
        ASSERT_EQ (copy[0].size(), source[0].size() - 4800);
        for (int c = 0; c < 2; ++c)
            for (size_t i = 0; i < copy[0].size(); ++i)
                ASSERT_EQ (copy[(size_t) c][i], source[(size_t) c][i + 4800]) << c << " " << i;
    }

    // The file's byte order is the container's: big-endian AIFF, little-endian wave.
    juce::MemoryBlock aiff;
    scratchFolder().getChildFile ("copy.aif").loadFileAsData (aiff);
    EXPECT_EQ (juce::String (static_cast<const char*> (aiff.getData()) + 8, 4), "AIFF");

    const auto song = scratchFile ("song.wav");
    ASSERT_EQ (statusOf (copyAudio (URLAsset::assetWithURL (media ("song.mp3")), song, FileType::wave, makeTime (250, 1000), 44100.0)),
               WriterStatus::completed);
    const auto decoded = decodeAll (media ("song.mp3"));
    int bits = 0;
    double rate = 0;
    const auto copy = readInts (song, bits, rate);
    ASSERT_EQ (copy[0].size(), decoded[0].size() - 11025);
    for (size_t i = 0; i < copy[0].size(); ++i)
    {
        const double expected = std::clamp (std::nearbyint ((double) decoded[0][i + 11025] * 8388608.0), -8388608.0, 8388607.0);
        ASSERT_EQ ((double) (copy[0][i] >> 8), expected) << i;
    }
}

TEST (MediaAssetReaderWriter, RefusesWhatItCannotWriteAndLeavesNoFile)
{
    const auto dir = scratchFolder();
    const LinearPCMSettings littleEndian; // 44.1 kHz stereo, 24-bit
    LinearPCMSettings bigEndian = littleEndian;
    bigEndian.isBigEndian = true;

    EXPECT_EQ (AssetWriter::create (dir.getChildFile ("x.mov"), FileType::quickTimeMovie), nullptr);
    auto aiff = AssetWriter::create (dir.getChildFile ("x.aif"), FileType::aiff);
    ASSERT_NE (aiff, nullptr);
    EXPECT_FALSE (aiff->canAddInput (*AssetWriterInput::create (MediaType::audio, littleEndian)));
    EXPECT_TRUE (aiff->canAddInput (*AssetWriterInput::create (MediaType::audio, bigEndian)));
    EXPECT_FALSE (AssetWriter::create (dir.getChildFile ("x.wav"), FileType::wave)->canAddInput (*AssetWriterInput::create (MediaType::audio, bigEndian)));

    // A writer that fails or is cancelled half way leaves nothing.
    auto [wave, input] = openWave (dir.getChildFile ("x.wav"), littleEndian);
    EXPECT_FALSE (input->appendSampleBuffer (silence (10, bigEndian)));
    EXPECT_EQ (wave->getStatus(), WriterStatus::failed);
    EXPECT_FALSE (wave->finishWriting());

    auto [cancelled, second] = openWave (dir.getChildFile ("y.wav"), littleEndian);
    EXPECT_TRUE (second->appendSampleBuffer (silence (100, littleEndian)));
    cancelled->cancelWriting();
    EXPECT_EQ (cancelled->getStatus(), WriterStatus::cancelled);

    // A file saved at the target while the copy ran is kept; the copy fails.
    const auto late = dir.getChildFile ("late.wav");
    auto [lateWriter, third] = openWave (late, littleEndian);
    EXPECT_TRUE (third->appendSampleBuffer (silence (100, littleEndian)));
    late.replaceWithText ("saved meanwhile");
    EXPECT_FALSE (lateWriter->finishWriting());
    EXPECT_EQ (lateWriter->getStatus(), WriterStatus::failed);
    EXPECT_EQ (late.loadFileAsString(), "saved meanwhile");
    late.deleteFile();

    // The disk fills up with ten bytes to go, within the last buffered write:
    // the copy fails and leaves nothing.
    auto pcm = URLAsset::assetWithURL (media ("rate48k.wav"));
    for (auto type : { FileType::wave, FileType::aiff })
    {
        SCOPED_TRACE (fileExtension (type).toStdString());
        const auto whole = dir.getChildFile ("whole" + fileExtension (type));
        ASSERT_EQ (statusOf (copyAudio (pcm, whole, type, makeTime (1, 10), 48000.0)), WriterStatus::completed);
        const auto size = whole.getSize();
        whole.deleteFile();
        FileSizeLimit almostFull (size - 10);
        const auto copied = copyAudio (pcm, whole, type, makeTime (1, 10), 48000.0);
        ASSERT_NE (copied.writer, nullptr);
        EXPECT_EQ (copied.writer->getStatus(), WriterStatus::failed);
    }

    // Sound that stops early fails the read, converted on the way or not,
    // even when the data ends cleanly one packet before the sample table's end.
    const auto endLost = dir.getChildFile ("endlost.m4a");
    juce::MemoryBlock data;
    ASSERT_TRUE (media ("whole.m4a").loadFileAsData (data));
    const auto lastPacket = storedPackets (media ("whole.m4a"), false).back().position;
    ASSERT_GT (lastPacket, 0);
    ASSERT_TRUE (endLost.replaceWithData (data.getData(), (size_t) lastPacket));
    // Whole ALAC in CAF as FFmpeg writes it, its table counting the short last packet as full, reads to its end.
    const auto alac = dir.getChildFile ("alac.caf");
    ASSERT_TRUE (runFFmpeg ({ "-i", media ("song.wav").getFullPathName(), "-c:a", "alac", alac.getFullPathName() }));
    for (auto [file, rate] : { std::pair { media ("cut.m4a"), 44100.0 }, std::pair { media ("cut.m4a"), 48000.0 },
                               std::pair { endLost, 44100.0 }, std::pair { alac, 44100.0 } })
    {
        SCOPED_TRACE (file.getFileName() + " " + juce::String (rate));
        auto asset = URLAsset::assetWithURL (file);
        LinearPCMSettings settings = littleEndian;
        settings.sampleRate = rate;
        auto reader = AssetReader::create (asset);
        auto output = AssetReaderAudioMixOutput::create (asset->getTracksWithMediaType (MediaType::audio), settings);
        reader->addOutput (output);
        ASSERT_TRUE (reader->startReading());
        while (output->copyNextSampleBuffer() != nullptr) {}
        EXPECT_EQ (reader->getStatus(), file == alac ? ReaderStatus::completed : ReaderStatus::failed);
        EXPECT_EQ (reader->getError().isNotEmpty(), file != alac);
    }
    endLost.deleteFile();
    alac.deleteFile();

    // Nothing to read: no reader at all.
    juce::String error;
    EXPECT_EQ (AssetReader::create (URLAsset::assetWithURL (media ("text.mp4")), &error), nullptr);
    EXPECT_TRUE (error.isNotEmpty());

    aiff = nullptr;
    wave = nullptr;
    cancelled = nullptr;
    EXPECT_TRUE (dir.findChildFiles (juce::File::findFiles, false).isEmpty());
}

TEST (MediaAssetReaderWriter, TheCopyFinishesOnItsQueueAfterTheCallerHasLetGo)
{
    auto asset = URLAsset::assetWithURL (media ("rate48k.wav"));

    // The writer let go while its queue copies: the copy stops, nothing is
    // left behind, and the input only reports that it takes no more.
    {
        auto queue = SerialQueue::create ("assetWriterQueue");
        const auto target = scratchFile ("dropped.wav");
        std::shared_ptr<AssetWriter> writer;
        std::atomic<bool> letGo { false };
        writer = startCopy (asset, target, queue, FileType::wave, Time::zero(), 48000.0, [&] (AssetWriterInput&)
        {
            juce::MessageManager::callAsync ([&] { writer = nullptr; letGo = true; });
            while (! letGo.load())
                juce::Thread::sleep (1);
        }).writer;
        ASSERT_NE (writer, nullptr);
        ASSERT_TRUE (pumpUntil ([&] { return letGo.load(); }, 5000));
        queue->waitUntilIdle();
        EXPECT_FALSE (target.exists());
        EXPECT_TRUE (scratchFolder().findChildFiles (juce::File::findFiles, false, "*dropped*").isEmpty());
    }

    // The last hold on the queue goes inside one of its own blocks: the
    // worker finishes it and leaves without touching the queue it outlived.
    {
        const auto running = []
        {
            for (auto& task : juce::File ("/proc/self/task").findChildFiles (juce::File::findDirectories, false))
                if (task.getChildFile ("comm").loadFileAsString().trim() == "lastHoldQueue")
                    return true;
            return false;
        };
        auto queue = SerialQueue::create ("lastHoldQueue");
        auto hold = std::make_shared<std::shared_ptr<SerialQueue>> (queue);
        std::atomic<bool> go { false }, ran { false };
        queue->async ([hold, &go, &ran]
        {
            while (! go.load())
                std::this_thread::yield();
            *hold = nullptr;
            ran = true;
        });
        ASSERT_TRUE (pumpUntil (running, 5000));
        queue = nullptr;
        go = true;
        EXPECT_TRUE (pumpUntil ([&] { return ran.load() && ! running(); }, 5000));
    }
}
