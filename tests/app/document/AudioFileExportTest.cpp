#include <gtest/gtest.h>
#include "app/document/AudioFileExport.h"
#include "platform/update/UpdateChecker.h"
#include "app/document/ClarivoTempFolder.h"
#include "app/windows/DialogService.h"
#include "TestSignals.h"
#include "platform/media/FFmpegAudioFormat.h"

#include "media/MediaTestSupport.h"

#include <unistd.h>

namespace
{
// What an export left in the program's folder, beside the run's marker.
juce::StringArray leftInTempFolder()
{
    juce::StringArray names;
    for (const auto& f : ClarivoTempFolder::get().findChildFiles (juce::File::findFiles, true))
        if (f.getFileName() != ClarivoTempFolder::runMarkerName)
            names.add (f.getFileName());
    return names;
}

using clarivo_test::Signal;
using Channels = std::vector<Signal>;

struct RecordingProgress : AudioFileExport::Progress
{
    juce::StringArray events;
    std::function<void()> atHide;

    void show (const juce::String& text) override { events.add ("show " + text); }
    void set (double fraction) override { events.add ("set " + juce::String (fraction, 4)); }
    void hide() override
    {
        events.add ("hide");
        if (atHide)
            atHide();
    }
    void runMessageLoop (int milliseconds) override
    {
        events.add ("loop " + juce::String (milliseconds));
        juce::Thread::sleep (milliseconds);
    }
    // Shown once first, hidden once last.
    void expectBracketed() const
    {
        EXPECT_EQ (events[0], "show Exporting...");
        EXPECT_EQ (events.indexOf ("hide"), events.size() - 1);
        EXPECT_EQ (events.indexOf ("show Exporting...", false, 1), -1);
    }
};

// A mono ramp, frame i reading i / 100000, that fails from failFrom on; and
// a stereo float writer that keeps what it is given.
struct RampReader : juce::AudioFormatReader
{
    juce::int64 failFrom;
    explicit RampReader (juce::int64 failFromFrame) : juce::AudioFormatReader (nullptr, "ramp"), failFrom (failFromFrame)
    {
        numChannels = 1;
        lengthInSamples = 30000;
        sampleRate = 44100.0;
        bitsPerSample = 32;
        usesFloatingPointData = true;
    }
    bool readSamples (int* const* dest, int numDest, int offset, juce::int64 start, int num) override
    {
        for (int i = 0; numDest > 0 && i < num; ++i)
            reinterpret_cast<float*> (dest[0])[offset + i] = (float) (start + i) / 100000.0f;
        return start + num <= failFrom;
    }
};

struct KeepingWriter : juce::AudioFormatWriter
{
    Channels kept { {}, {} };
    KeepingWriter() : juce::AudioFormatWriter (nullptr, "keep", 44100.0, 2, 32) { usesFloatingPointData = true; }
    bool write (const int** samples, int num) override
    {
        for (size_t ch = 0; ch < 2; ++ch)
            kept[ch].insert (kept[ch].end(), (const float*) samples[ch], (const float*) samples[ch] + num);
        return true;
    }
};

class AudioFileExportTest : public ::testing::Test
{
protected:
    // Unique across the test processes ctest runs side by side.
    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("clarivo-export-test-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));
    juce::AudioFormatManager formats;
    RecordingProgress progress;

    void SetUp() override
    {
        ASSERT_TRUE (folder.createDirectory());
        formats.registerBasicFormats();
        clarivo::media::registerMediaFormats (formats);
        ClarivoTempFolder::removeAll();
    }
    void TearDown() override
    {
        folder.deleteRecursively();
        ClarivoTempFolder::removeAll();
    }

    // A 32-bit float WAV, so that the export's 16 bits are what is measured.
    juce::File writeSource (const juce::String& name, const Channels& channels)
    {
        const auto file = folder.getChildFile (name);
        juce::WavAudioFormat wav;
        std::unique_ptr<juce::AudioFormatWriter> writer (
            wav.createWriterFor (new juce::FileOutputStream (file), 44100.0, (unsigned) channels.size(), 32, {}, 0));
        std::vector<const float*> pointers;
        for (auto& c : channels)
            pointers.push_back (c.data());
        writer->writeFromFloatArrays (pointers.data(), (int) pointers.size(), (int) channels[0].size());
        return file;
    }

    juce::File script (const juce::String& name, const juce::String& body)
    {
        const auto file = folder.getChildFile (name);
        file.replaceWithText ("#!/bin/sh\n" + body + "\n", false, false, "\n");
        file.setExecutePermission (true);
        return file;
    }

    // The samples come through the media layer: the framework's FLAC reader
    // shifts negative values left, which the sanitizer build stops on.
    static Channels decode (const juce::File& file) { return mediatest::decodeAll (file); }
    AudioFileExport::Request request (const juce::File& source, const juce::File& destination, int quality = 9,
                                      const juce::File& lame = juce::File ("/usr/bin/lame"))
    {
        AudioFileExport::Request r;
        r.source = source;
        r.destination = destination;
        r.quality = quality;
        r.lameProgram = lame;
        return r;
    }
    bool exportTo (const AudioFileExport::Request& r) { return AudioFileExport::exportWithAudioFormat (formats, r, progress); }
    bool exportTo (const juce::File& source, const juce::File& destination, int quality = 9,
                   const juce::File& lame = juce::File ("/usr/bin/lame"))
    {
        return exportTo (request (source, destination, quality, lame));
    }

    // Nothing at the destination, no hidden partial file beside it, no
    // temporary WAV left in the program's folder.
    void expectNothingLeft (const juce::File& destination, int filesBefore)
    {
        EXPECT_FALSE (destination.exists());
        EXPECT_EQ (folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories), filesBefore);
        EXPECT_TRUE (leftInTempFolder().isEmpty()) << leftInTempFolder().joinIntoString (", ");
    }
};
} // namespace

TEST (AudioFileExportQuality, IndexMapsToFlacLevelsOneToEightAndLameVbrNineToZero)
{
    const int flac[] = { 1, 2, 3, 3, 4, 5, 6, 6, 7, 8 };
    for (int q = 0; q <= 9; ++q)
    {
        EXPECT_EQ (AudioFileExport::flacCompressionLevel (q), flac[q]) << q;
        EXPECT_EQ (AudioFileExport::lameVbrQuality (q), 9 - q) << q;
    }
    EXPECT_EQ (AudioFileExport::flacCompressionLevel (-4), 1);
    EXPECT_EQ (AudioFileExport::flacCompressionLevel (12), 8);
    EXPECT_EQ (AudioFileExport::lameVbrQuality (-4), 9);
    EXPECT_EQ (AudioFileExport::lameVbrQuality (12), 0);
}

// The player's import: only the frames asked for, a mono reader filling both
// channels of a stereo writer, and a read that fails ending the copy.
TEST_F (AudioFileExportTest, CopyFramesWritesTheRangeIntoEveryChannelAndStopsOnAReadError)
{
    KeepingWriter writer;
    RampReader reader (20000);
    EXPECT_TRUE (AudioFileExport::copyFrames (reader, writer, 500, 19500, progress));
    ASSERT_EQ (writer.kept[0].size(), 19500u);
    for (size_t i = 0; i < 19500; ++i)
        for (size_t ch = 0; ch < 2; ++ch)
            ASSERT_EQ (writer.kept[ch][i], (float) (500 + i) / 100000.0f) << ch << " " << i;
    EXPECT_FALSE (AudioFileExport::copyFrames (reader, writer, 500, 25000, progress));
}

// Only real frames: 10000 in, 10000 out, never rounded up to whole blocks
// (the 16 bits of every FLAC save: DocumentSaveTest's probe).
TEST_F (AudioFileExportTest, FlacHoldsExactlyTheRequestedFrames)
{
    const Channels stereo { clarivo_test::uniformNoise (10000, 0.9f, 1), clarivo_test::uniformNoise (10000, 0.9f, 2) };
    const auto source = writeSource ("stereo.wav", stereo);

    struct Case { juce::int64 start, frames, expected; };
    for (const auto& c : { Case { 0, -1, 10000 }, Case { 1234, 5000, 5000 }, Case { 9000, 4000, 1000 } })
    {
        progress.events.clear();
        auto r = request (source, folder.getChildFile ("out" + juce::String (c.start) + ".flac"), 5);
        r.startFrame = c.start;
        r.numFrames = c.frames;
        ASSERT_TRUE (exportTo (r));
        const auto decoded = decode (r.destination);
        ASSERT_EQ (decoded.size(), 2u);
        ASSERT_EQ ((juce::int64) decoded[0].size(), c.expected) << c.start;
        for (size_t ch = 0; ch < 2; ++ch)
            for (size_t i = 0; i < decoded[ch].size(); ++i)
                ASSERT_NEAR (decoded[ch][i], stereo[ch][(size_t) c.start + i], 1.001f / 32768.0f) << ch << " " << i;
        progress.expectBracketed();
    }
    auto past = request (source, folder.getChildFile ("past.flac"));
    past.startFrame = 10001;
    EXPECT_FALSE (exportTo (past));

    // Block starts 0, 8192, 16384 and 24576 of 30000 frames.
    const auto mono = writeSource ("mono.wav", { clarivo_test::toneMixture (30000) });
    progress.events.clear();
    ASSERT_TRUE (exportTo (mono, folder.getChildFile ("mono.flac"), 0));
    EXPECT_EQ (decode (folder.getChildFile ("mono.flac")).size(), 1u);
    EXPECT_EQ (progress.events.joinIntoString (","), "show Exporting...,set 0.2731,loop 1,set 0.5461,loop 1,set 0.8192,loop 1,hide");
}

// lame runs on the exported WAV with -V (9 - q), the overlay stays up and the
// interface alive until it has ended, and the file decodes to the source.
TEST_F (AudioFileExportTest, Mp3IsEncodedByLameBeforeTheOverlayGoes)
{
    const Channels tones { clarivo_test::toneMixture (10000, 4.0), clarivo_test::toneMixture (10000, 3.0) };
    const auto source = writeSource ("tones.wav", tones);
    const auto log = folder.getChildFile ("args.txt");
    const auto slowLame = script ("slow-lame", "echo \"$@\" > '" + log.getFullPathName() + "'; sleep 0.3; exec /usr/bin/lame \"$@\"");
    const auto destination = folder.getChildFile ("tones.MP3");

    bool doneAtHide = false;
    progress.atHide = [&] { doneAtHide = destination.getSize() > 0; };
    ASSERT_TRUE (exportTo (source, destination, 9, slowLame));
    EXPECT_TRUE (doneAtHide);
    EXPECT_TRUE (log.loadFileAsString().startsWith ("--quiet -V 0 "));
    progress.expectBracketed();
    // The message loop kept running while lame took its 0.3 s.
    EXPECT_GE (progress.events.size(), 10) << progress.events.joinIntoString (",");
    EXPECT_TRUE (leftInTempFolder().isEmpty()) << leftInTempFolder().joinIntoString (", ");

    const auto decoded = decode (destination);
    ASSERT_EQ (decoded.size(), 2u);
    const int delay = clarivo_test::measuredDelay (tones[0], decoded[0], 2500);
    ASSERT_GE (delay, 0);
    EXPECT_GE (decoded[0].size(), 10000u);
    EXPECT_LE (decoded[0].size(), 10000u + 1152u + (size_t) delay);
    for (size_t ch = 0; ch < 2; ++ch)
    {
        Signal error (8000);
        for (size_t i = 0; i < error.size(); ++i)
            error[i] = decoded[ch][i + 1000 + (size_t) delay] - tones[ch][i + 1000];
        EXPECT_LT (clarivo_test::rms (error, 0, 8000), 0.05 * clarivo_test::rms (tones[ch], 1000, 9000)) << ch;
    }
}

// A lame that fails, writes nothing or crashes, and a disk that fills up,
// all end in false with nothing left behind and the overlay gone.
TEST_F (AudioFileExportTest, FailuresAfterTheOverlayLeaveNothing)
{
    const auto source = writeSource ("noise.wav", { clarivo_test::uniformNoise (20000, 0.9f, 4), clarivo_test::uniformNoise (20000, 0.9f, 5) });
    // Still within the stream's buffer as FLAC, so the disk refuses it only
    // when the file is closed; the WAV for lame is refused mid-copy.
    const auto shortSource = writeSource ("short.wav", { clarivo_test::uniformNoise (10000, 0.9f, 6), clarivo_test::uniformNoise (10000, 0.9f, 7) });
    const juce::File lames[] = { script ("lame-fails", "echo partial > \"$5\"; exit 1"), script ("lame-silent", "exit 0"),
                                 script ("lame-crashes", "echo partial > \"$5\"; kill -SEGV $$") };
    const int files = folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories);

    for (const auto& lame : lames)
    {
        progress.events.clear();
        const auto destination = folder.getChildFile (lame.getFileName() + ".mp3");
        EXPECT_FALSE (exportTo (source, destination, 5, lame)) << lame.getFileName();
        expectNothingLeft (destination, files);
        progress.expectBracketed();
    }
    for (const auto& [name, from] : { std::pair { "full.flac", shortSource }, std::pair { "full.mp3", source } })
    {
        progress.events.clear();
        const auto destination = folder.getChildFile (name);
        {
            mediatest::FileSizeLimit limit (30000);
            EXPECT_FALSE (exportTo (from, destination)) << name;
        }
        expectNothingLeft (destination, files);
        progress.expectBracketed();
    }
}

// Problems found before any writing: nothing shown, nothing written, a file
// already at the destination untouched. A missing lame is asked about, and
// only OK opens the download page.
TEST_F (AudioFileExportTest, RefusesBeforeShowingAnything)
{
    const auto source = writeSource ("tones.wav", { clarivo_test::toneMixture (5000) });
    const auto notSound = folder.getChildFile ("notes.wav");
    notSound.replaceWithText ("These are not the sounds you are looking for.");
    const auto existing = folder.getChildFile ("existing.flac");
    existing.replaceWithText ("keep me");
    // Root may write into a folder without write permission; nobody may
    // create files in /proc.
    auto locked = folder.getChildFile ("locked");
    locked.createDirectory();
    locked.setReadOnly (true);
    if (::geteuid() == 0)
        locked = juce::File ("/proc");
    const int files = folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories);

    for (const auto* ext : { ".flac", ".mp3" })
    {
        EXPECT_FALSE (exportTo (notSound, folder.getChildFile (juce::String ("none") + ext)));
        EXPECT_FALSE (exportTo (source, locked.getChildFile (juce::String ("out") + ext)));
        EXPECT_FALSE (locked.getChildFile (juce::String ("out") + ext).exists());
    }
    EXPECT_FALSE (exportTo (source, folder.getChildFile ("out.ogg")));
    EXPECT_FALSE (exportTo (source, existing));
    EXPECT_EQ (existing.loadFileAsString(), "keep me");

    auto& dialogs = DialogService::get();
    dialogs.clearHistory();
    juce::StringArray opened;
    auto noLame = request (source, folder.getChildFile ("out.mp3"), 9, folder.getChildFile ("no-lame"));
    noLame.openPage = [&] (const juce::URL& url) { opened.add (url.toString (true)); };
    dialogs.answerWithButton ("Cancel");
    dialogs.answerWithButton ("OK");
    EXPECT_FALSE (exportTo (noLame));
    EXPECT_TRUE (opened.isEmpty());
    EXPECT_FALSE (exportTo (noLame));
    EXPECT_EQ (opened, juce::StringArray ("https://lame.sourceforge.io/download.php"));
    // Without a page opener of its own the page goes where every page of
    // ours goes: the one browser path, never a shell.
    noLame.openPage = nullptr;
    clarivo::update::setBrowserOpener ([&] (const juce::URL& url) { opened.add ("browser " + url.toString (true)); });
    dialogs.answerWithButton ("OK");
    EXPECT_FALSE (exportTo (noLame));
    clarivo::update::setBrowserOpener ({});
    EXPECT_EQ (opened[1], "browser https://lame.sourceforge.io/download.php");
    const auto& history = dialogs.getHistory();
    ASSERT_EQ (history.size(), 3u);
    for (const auto& record : history)
    {
        EXPECT_EQ (record.request.kind, DialogService::Kind::question);
        EXPECT_EQ (record.request.icon, juce::MessageBoxIconType::QuestionIcon);
        EXPECT_EQ (record.request.title, "Missing LAME Encoder");
        EXPECT_EQ (record.request.text,
                   "Clarivo was unable to locate the LAME encoder.  Would you like to download the LAME installer?");
        EXPECT_EQ (record.request.buttons, juce::StringArray ("OK", "Cancel"));
    }
    dialogs.clearHistory();

    expectNothingLeft (noLame.destination, files);
    EXPECT_TRUE (progress.events.isEmpty());
    folder.getChildFile ("locked").setReadOnly (false);
}
