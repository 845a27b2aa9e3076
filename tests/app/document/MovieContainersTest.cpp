// Home videos from the containers cameras, phones and browsers write, saved
// and shared as movies: the picture copied packet for packet into a container
// that can carry it, beside the processed sound; or, where none of ours can,
// a plain refusal before anything is written.
#include "app/support/AppTestSupport.h"
#include "app/support/TestHelpers.h"

using namespace mediatest;

namespace
{
// The NAL units of an H.264 or HEVC packet, whether stored with start codes
// (MPEG-TS) or with length prefixes (MP4, MOV, Matroska): the MP4 family
// stores the same units the other way. Other codecs' packets are one unit.
std::vector<juce::MemoryBlock> units (const juce::MemoryBlock& packet, bool nal)
{
    const auto* d = static_cast<const unsigned char*> (packet.getData());
    const size_t n = packet.getSize();
    if (! nal)
        return { packet };
    std::vector<juce::MemoryBlock> out;
    const bool annexB = n >= 4 && d[0] == 0 && d[1] == 0 && (d[2] == 1 || (d[2] == 0 && d[3] == 1));
    if (! annexB)
    {
        for (size_t at = 0; at + 4 <= n;)
        {
            const size_t len = ((size_t) d[at] << 24) | ((size_t) d[at + 1] << 16) | ((size_t) d[at + 2] << 8) | d[at + 3];
            if (at + 4 + len > n)
                return { packet };
            out.emplace_back (d + at + 4, len);
            at += 4 + len;
        }
        return out;
    }
    size_t start = SIZE_MAX;
    for (size_t i = 0; i + 2 < n; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)
        {
            if (start != SIZE_MAX)
            {
                size_t end = i;
                while (end > start && d[end - 1] == 0)
                    --end;
                out.emplace_back (d + start, end - start);
            }
            start = i + 3;
            i += 2;
        }
    if (start != SIZE_MAX && start < n)
        out.emplace_back (d + start, n - start);
    return out;
}

::testing::AssertionResult samePicture (const juce::File& copy, const juce::File& source, bool nal)
{
    const auto got = videoPackets (copy), want = videoPackets (source);
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " picture packets, the source has " << want.size();
    for (size_t i = 0; i < got.size(); ++i)
        if (units (got[i], nal) != units (want[i], nal))
            return ::testing::AssertionFailure() << "picture packet " << i << " differs";
    return ::testing::AssertionSuccess();
}

double lengthOf (const juce::File& file)
{
    const auto lines = apptest::ffprobe (file, "format=duration");
    return lines.isEmpty() ? -1.0 : lines[0].getDoubleValue();
}

double worstCorrelation (const Planar& a, const Planar& b)
{
    double worst = 1.0;
    for (size_t c = 0; c < a.size() && c < b.size(); ++c)
        worst = std::min (worst, correlation (a[c].data(), b[c].data(), (int) std::min (a[c].size(), b[c].size())));
    return worst;
}
} // namespace

TEST_F (AppTest, HomeVideosSaveAndShareWithTheirPictureCopiedIntoAContainerThatCarriesIt)
{
    struct Case
    {
        const char* name;
        const char* picture;  // as ffprobe names it
        const char* asMov;    // the extension a save as QuickTime ends up with
    };
    const Case cases[] = {
        { "home-h264-vorbis.mkv", "h264", ".mov" },  { "home-h264-aac.mkv", "h264", ".mov" },
        { "home-hevc-opus.mkv", "hevc", ".mov" },    { "home-vp9-opus.webm", "vp9", ".mp4" },
        { "home-h264-ac3.mts", "h264", ".mov" },     { "home-mpeg4-mp3.avi", "mpeg4", ".mov" },
        { "home-h264-aac.3gp", "h264", ".mov" },     { "home-mjpeg-pcm.mov", "mjpeg", ".mov" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto source = media (c.name);
        ASSERT_TRUE (open (source).wasOk());
        processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.6f);
        const bool nal = juce::String (c.picture) == "h264" || juce::String (c.picture) == "hevc";
        const auto plain = decodeAll (source);
        const auto dir = scratchFolder().getChildFile (juce::File::createLegalFileName (c.name) + "-out");
        ASSERT_TRUE (dir.createDirectory());

        const auto check = [&] (const juce::File& copy)
        {
            SCOPED_TRACE (copy.getFileName());
            ASSERT_TRUE (copy.existsAsFile());
            EXPECT_EQ (apptest::ffprobe (copy, "stream=codec_type,codec_name").joinIntoString (" ; "),
                       juce::String (c.picture) + "|video ; aac|audio");
            EXPECT_TRUE (samePicture (copy, source, nal));
            EXPECT_NEAR (lengthOf (copy), lengthOf (source), 0.1);
            EXPECT_LT (worstCorrelation (decodeAll (copy), plain), 0.99);
        };
        for (int format : { 0, 1 })
        {
            const auto asked = dir.getChildFile (format == 0 ? "asked-mov.mov" : "asked-mp4.mp4");
            ASSERT_EQ (saveAs (asked, format), juce::FileBasedDocument::savedOk) << textOf ("Error writing to file...");
            check (asked.withFileExtension (format == 0 ? c.asMov : ".mp4"));
        }
        EXPECT_EQ (dir.findChildFiles (juce::File::findFiles, false, "*").size(), 2);

        juce::String whyNot;
        const auto shared = player().prepareSharedCopy (whyNot);
        EXPECT_TRUE (whyNot.isEmpty()) << whyNot;
        check (shared);
        shared.deleteFile();
        EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}

TEST_F (AppTest, APictureNoMovieFormatCarriesIsRefusedBeforeAnythingIsWrittenAndTheSoundOffered)
{
    const auto source = media ("home-vp8-vorbis.webm");
    ASSERT_TRUE (open (source).wasOk());
    const auto dir = scratchFolder().getChildFile ("vp8-out");
    ASSERT_TRUE (dir.createDirectory());
    const juce::String title = "Picture Cannot Be Kept";

    for (int format : { 0, 1, 2 })
    {
        SCOPED_TRACE (format);
        DialogService::get().clearHistory();
        EXPECT_EQ (saveAs (dir.getChildFile ("out.mov"), format, 9, "Cancel"), juce::FileBasedDocument::userCancelledSave);
        EXPECT_EQ (askedTitles(), juce::StringArray (title));
        EXPECT_TRUE (textOf (title).contains ("VP8")) << textOf (title);
        EXPECT_TRUE (dir.findChildFiles (juce::File::findFiles | juce::File::findDirectories, false, "*").isEmpty());
    }
    const auto* box = lastRequest (title);
    ASSERT_NE (box, nullptr);
    EXPECT_EQ (box->buttons, juce::StringArray ({ "M4A", "CoreAudio", "WAVE", "AIFF", "FLAC", "MP3", "Cancel" }));
    {
        // The box as the dialog service puts it up.
        juce::AlertWindow window (box->title, box->text, box->icon);
        for (int i = 0; i < box->buttons.size(); ++i)
            window.addButton (box->buttons[i], i + 1);
        writeSnapshot (window, "picture-refused-box");
    }

    // The sound alone, in the format picked in the box, under its own extension.
    EXPECT_EQ (saveAs (dir.getChildFile ("out.mp4"), 1, 9, "WAVE"), juce::FileBasedDocument::savedOk);
    EXPECT_EQ (apptest::ffprobe (dir.getChildFile ("out.wav"), "stream=codec_type").joinIntoString (" ; "), "audio");

    // Sharing asks the same, and hands on the sound alone or nothing, with
    // no second box after the first.
    juce::String whyNot;
    DialogService::get().clearHistory();
    DialogService::get().answerWithButton ("Cancel");
    EXPECT_EQ (player().prepareSharedCopy (whyNot), juce::File());
    EXPECT_TRUE (whyNot.isEmpty()) << whyNot;
    EXPECT_TRUE (textOf (title).contains ("VP8")) << textOf (title);
    DialogService::get().answerWithButton ("M4A");
    const auto shared = player().prepareSharedCopy (whyNot);
    EXPECT_EQ (shared.getFileExtension(), ".m4a");
    EXPECT_EQ (apptest::ffprobe (shared, "stream=codec_type,codec_name").joinIntoString (" ; "), "aac|audio");
    shared.deleteFile();
}

TEST_F (AppTest, ABatchSavesEachMovieInAFormatThatCarriesItsPicture)
{
    const auto in = scratchFolder().getChildFile ("in"), out = scratchFolder().getChildFile ("out");
    ASSERT_TRUE (in.createDirectory() && out.createDirectory());
    for (const char* name : { "home-h264-vorbis.mkv", "home-vp9-opus.webm", "home-vp8-vorbis.webm" })
        ASSERT_TRUE (media (name).copyFileTo (in.getChildFile (name)));

    // Left to run on its own, it asks nothing on the way: the VP8 movie's
    // sound goes into the format the box would offer first.
    auto& dialogs = DialogService::get();
    dialogs.answerWithFile (in);
    dialogs.answerWithFile (out);
    app->runBatchProcessor();
    EXPECT_EQ (askedTitles(), juce::StringArray ({ "Batch Processor" }));
    EXPECT_EQ (textOf ("Batch Processor"), "Batch File Processing has completed.");

    juce::StringArray written;
    for (const auto& f : out.findChildFiles (juce::File::findFiles, false, "*"))
        written.add (f.getFileName());
    written.sort (false);
    EXPECT_EQ (written.joinIntoString (" "), "home-h264-vorbis.mov home-vp8-vorbis.m4a home-vp9-opus.mp4");
    EXPECT_TRUE (samePicture (out.getChildFile ("home-vp9-opus.mp4"), in.getChildFile ("home-vp9-opus.webm"), false));
    EXPECT_EQ (apptest::ffprobe (out.getChildFile ("home-vp8-vorbis.m4a"), "stream=codec_type,codec_name").joinIntoString (" ; "),
               "aac|audio");
}

namespace
{
juce::File made (const juce::String& name, juce::StringArray args)
{
    const auto file = scratchFolder().getChildFile (name);
    args.add (file.getFullPathName());
    EXPECT_TRUE (runFFmpeg (args)) << name;
    return file;
}

juce::String tag (const juce::File& file, const juce::String& entry)
{
    return apptest::ffprobe (file, entry).joinIntoString (" ; ");
}
} // namespace

TEST_F (AppTest, TapeAndDiscTransfersSaveAndShareWithTheirPicture)
{
    const juce::StringArray pal { "-f", "lavfi", "-i", "testsrc=size=720x576:rate=25:duration=1.2", "-f", "lavfi", "-i",
                                  "sine=frequency=440:duration=1.2:sample_rate=48000", "-ac", "2" };
    struct Case
    {
        juce::File file;
        const char* picture;
        const char* asMp4; // the extension a save as MPEG-4 ends up with
    };
    auto vhs = pal, dvd = pal, dv = pal;
    vhs.addArray ({ "-c:v", "mpeg2video", "-c:a", "mp2" });
    dvd.addArray ({ "-c:v", "mpeg2video", "-c:a", "ac3", "-f", "vob" });
    dv.addArray ({ "-c:v", "dvvideo", "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le" });
    const Case cases[] = { { made ("vhs.mpg", vhs), "mpeg2video", ".mp4" },
                           { made ("VTS_01_1.VOB", dvd), "mpeg2video", ".mp4" },
                           { made ("tape.avi", dv), "dvvideo", ".mov" } };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.file.getFileName());
        ASSERT_TRUE (open (c.file).wasOk());
        processor().setParameter (CVAudioProcessor::Parameter::enhance, 0.6f);
        const auto dir = scratchFolder().getChildFile (c.file.getFileNameWithoutExtension() + "-out");
        ASSERT_TRUE (dir.createDirectory());
        const auto check = [&] (const juce::File& copy)
        {
            SCOPED_TRACE (copy.getFileName());
            EXPECT_EQ (tag (copy, "stream=codec_type,codec_name"), juce::String (c.picture) + "|video ; aac|audio");
            EXPECT_TRUE (samePicture (copy, c.file, false));
        };
        ASSERT_EQ (saveAs (dir.getChildFile ("asked-mov.mov"), 0), juce::FileBasedDocument::savedOk) << textOf ("Error writing to file...");
        check (dir.getChildFile ("asked-mov.mov"));
        ASSERT_EQ (saveAs (dir.getChildFile ("asked-mp4.mp4"), 1), juce::FileBasedDocument::savedOk) << textOf ("Error writing to file...");
        check (dir.getChildFile ("asked-mp4").withFileExtension (c.asMp4));

        juce::String whyNot;
        const auto shared = player().prepareSharedCopy (whyNot);
        EXPECT_TRUE (whyNot.isEmpty()) << whyNot;
        EXPECT_EQ (shared.getFileExtension(), ".mov");
        check (shared);
        shared.deleteFile();
        EXPECT_TRUE (askedTitles().isEmpty()) << askedTitles().joinIntoString (", ");
        ASSERT_TRUE (app->closeMedia().wasOk());
    }
}

TEST_F (AppTest, APhoneOrCameraMovieComesBackPlayableWithWhenWhereAndWhatRecordedIt)
{
    // As a phone writes it: HEVC as 'hvc1', the date, the place both ways,
    // and the device in QuickTime's own keys.
    const auto phone = made ("IMG_0042.MOV", { "-f", "lavfi", "-i", "testsrc=size=128x96:rate=30:duration=1", "-f", "lavfi", "-i",
                                               "sine=frequency=440:duration=1:sample_rate=44100", "-c:v", "libx265", "-x265-params",
                                               "log-level=error", "-tag:v", "hvc1", "-c:a", "aac", "-movflags", "use_metadata_tags",
                                               "-metadata", "creation_time=2024-05-01T10:20:30.000000Z",
                                               "-metadata", "location=+48.8577+002.2950+035.000/",
                                               "-metadata", "com.apple.quicktime.location.ISO6709=+48.8577+002.2950+035.000/",
                                               "-metadata", "com.apple.quicktime.make=Apple",
                                               "-metadata", "com.apple.quicktime.model=iPhone 13" });
    ASSERT_TRUE (open (phone).wasOk());
    const auto dir = scratchFolder().getChildFile ("phone-out");
    ASSERT_TRUE (dir.createDirectory());
    std::vector<juce::File> copies;
    for (int format : { 0, 1 })
    {
        const auto target = dir.getChildFile ("copy").withFileExtension (ClarivoDocument::extensionForFormat (format));
        ASSERT_EQ (saveAs (target, format), juce::FileBasedDocument::savedOk) << textOf ("Error writing to file...");
        copies.push_back (target);
    }
    juce::String whyNot;
    copies.push_back (player().prepareSharedCopy (whyNot));
    for (const auto& copy : copies)
    {
        SCOPED_TRACE (copy.getFileName());
        EXPECT_EQ (tag (copy, "stream=codec_type,codec_tag_string"), "video|hvc1 ; audio|mp4a");
        EXPECT_EQ (tag (copy, "format_tags=creation_time"), "2024-05-01T10:20:30.000000Z");
        EXPECT_TRUE (tag (copy, "format_tags=location").startsWith ("+48.8577+002.2950")) << tag (copy, "format_tags=location");
        EXPECT_EQ (tag (copy, "format_tags=com.apple.quicktime.location.ISO6709"), "+48.8577+002.2950+035.000/");
        EXPECT_EQ (tag (copy, "format_tags=com.apple.quicktime.make"), "Apple");
        EXPECT_EQ (tag (copy, "format_tags=com.apple.quicktime.model"), "iPhone 13");
        EXPECT_EQ (tag (copy, "format_tags=major_brand"), copy.hasFileExtension (".mp4") ? "isom" : "qt  ");
    }
    // The sound alone keeps them too.
    for (int format : { 3, 4 })
    {
        const auto copy = dir.getChildFile ("sound").withFileExtension (ClarivoDocument::extensionForFormat (format));
        SCOPED_TRACE (copy.getFileName());
        ASSERT_EQ (saveAs (copy, format), juce::FileBasedDocument::savedOk) << textOf ("Error writing to file...");
        EXPECT_EQ (tag (copy, "format_tags=creation_time"), "2024-05-01T10:20:30.000000Z");
        EXPECT_TRUE (tag (copy, "format_tags=location").startsWith ("+48.8577+002.2950")) << tag (copy, "format_tags=location");
        EXPECT_EQ (tag (copy, "format_tags=com.apple.quicktime.model"), "iPhone 13");
    }
    ASSERT_TRUE (app->closeMedia().wasOk());

    // An action camera's timecode, kept as a timecode track.
    const auto camera = made ("GX010042.MP4", { "-f", "lavfi", "-i", "testsrc=size=128x96:rate=30:duration=1", "-f", "lavfi", "-i",
                                                "sine=frequency=440:duration=1:sample_rate=48000", "-c:v", "libx264", "-c:a", "aac",
                                                "-timecode", "01:02:03:04", "-metadata", "creation_time=2023-07-14T08:00:00.000000Z" });
    ASSERT_TRUE (open (camera).wasOk());
    for (int format : { 0, 1 })
    {
        const auto copy = dir.getChildFile ("camera").withFileExtension (ClarivoDocument::extensionForFormat (format));
        SCOPED_TRACE (copy.getFileName());
        ASSERT_EQ (saveAs (copy, format), juce::FileBasedDocument::savedOk) << textOf ("Error writing to file...");
        EXPECT_EQ (tag (copy, "stream=codec_type,codec_tag_string"), "video|avc1 ; audio|mp4a ; data|tmcd");
        EXPECT_EQ (tag (copy, "stream_tags=timecode"), "01:02:03:04 ; 01:02:03:04");
        EXPECT_EQ (tag (copy, "format_tags=creation_time"), "2023-07-14T08:00:00.000000Z");
    }
}

TEST_F (AppTest, AFieldRecordingKeepsItsBroadcastWaveDescriptionInAWaveSave)
{
    const auto field = made ("ZOOM0001.WAV", { "-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=48000", "-ac", "2",
                                               "-c:a", "pcm_s24le", "-write_bext", "1", "-metadata", "description=Scene 4 take 2",
                                               "-metadata", "originator=ZOOM F6", "-metadata", "origination_date=2024-05-01",
                                               "-metadata", "origination_time=10:20:30", "-metadata", "time_reference=1766880000" });
    ASSERT_TRUE (open (field).wasOk());
    const auto copy = scratchFolder().getChildFile ("processed.wav");
    ASSERT_EQ (saveAs (copy, 5), juce::FileBasedDocument::savedOk);
    std::unique_ptr<juce::AudioFormatReader> reader (juce::WavAudioFormat().createReaderFor (copy.createInputStream().release(), true));
    ASSERT_NE (reader, nullptr);
    const auto& bext = reader->metadataValues;
    EXPECT_EQ (bext[juce::WavAudioFormat::bwavDescription], "Scene 4 take 2");
    EXPECT_EQ (bext[juce::WavAudioFormat::bwavOriginator], "ZOOM F6");
    EXPECT_EQ (bext[juce::WavAudioFormat::bwavOriginationDate], "2024-05-01");
    EXPECT_EQ (bext[juce::WavAudioFormat::bwavOriginationTime], "10:20:30");
    // Samples since midnight: the copy starts where the recording did.
    EXPECT_EQ (bext[juce::WavAudioFormat::bwavTimeReference], "1766880000");
    EXPECT_EQ (reader->bitsPerSample, 24u);

    // Its day and time of day, local as a recorder keeps them, become the
    // recording date of a copy in another format.
    const auto m4a = scratchFolder().getChildFile ("processed.m4a");
    ASSERT_EQ (saveAs (m4a, 3), juce::FileBasedDocument::savedOk);
    const auto utc = (std::time_t) (juce::Time (2024, 4, 1, 10, 20, 30, 0, true).toMilliseconds() / 1000);
    char expected[40];
    std::strftime (expected, sizeof (expected), "%Y-%m-%dT%H:%M:%S.000000Z", std::gmtime (&utc));
    EXPECT_EQ (tag (m4a, "format_tags=creation_time"), expected);
}
