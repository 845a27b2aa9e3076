#include "MediaTestSupport.h"
#include "TestSignals.h"

#include "engine/CVAudioTapProcessor.h"
#include "platform/media/MediaComposition.h"
#include "platform/media/MediaDecoding.h"
#include "platform/media/MediaExportSession.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaPlayerView.h"

#include <optional>

using namespace clarivo::media;
using namespace mediatest;

namespace
{
// A player on the null device, with an item of `asset` when there is one.
std::shared_ptr<Player> nullPlayer (double speed, std::shared_ptr<Asset> asset = {})
{
    auto player = std::make_shared<Player> (Player::Options { nullptr, true, speed });
    if (asset != nullptr)
        player->replaceCurrentItemWithPlayerItem (PlayerItem::playerItemWithAsset (std::move (asset)));
    return player;
}

bool waitForSeek (Player& player, Time t)
{
    auto done = std::make_shared<std::atomic<int>> (-1);
    player.seekToTime (t, Time::zero(), Time::zero(), [done] (bool finished) { *done = finished ? 1 : 0; });
    return pumpUntil ([&] { return done->load() >= 0; }, 5000) && done->load() == 1;
}

std::uint64_t pictureHash (const juce::Image& image)
{
    if (! image.isValid())
        return 0;
    juce::Image::BitmapData bits (image, juce::Image::BitmapData::readOnly);
    std::uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < image.getHeight(); y += 3)
        for (int x = 0; x < image.getWidth(); x += 3)
            h = (h ^ bits.getPixelColour (x, y).getARGB()) * 1099511628211ull;
    return h;
}

// The player's clock is its output device: this holds it, and lets it run
// on by a number of frames at a time, so that a loaded machine running the
// message loop late neither misses a moment nor lets the player play on.
class HeldClock
{
public:
    explicit HeldClock (NullAudioDevice& d) : device (d), block (d.getCurrentBufferSizeSamples())
    {
        // A block under way when the hold begins still ends, and makes the
        // limit; without one, the device renders one more to reach it.
        device.setFrameLimit (0);
        limit = device.getFramesRendered() + block;
        device.setFrameLimit (limit);
        settled = pumpUntil ([this] { return device.getFramesRendered() == limit; }, 10000);
    }

    // Whether the device stands still on a whole block.
    bool settled = false;
    ~HeldClock() { device.setFrameLimit (-1); }

    std::int64_t frames() const noexcept { return device.getFramesRendered(); }

    // Lets the device play about `count` frames more (whole blocks) and waits for them.
    bool advance (std::int64_t count)
    {
        limit += count;
        device.setFrameLimit (limit);
        return pumpUntil ([&] { return device.getFramesRendered() + block > limit; }, 10000);
    }

private:
    NullAudioDevice& device;
    const int block;
    std::int64_t limit = 0;
};

} // namespace

TEST (MediaPlayer, PlaysThroughTheTapExactlyAsOfflineProcessingAndTellsEachArrivalAtTheEndOnce)
{
    auto player = nullPlayer (8.0);
    auto asset = URLAsset::assetWithURL (media ("stereo.m4a"));
    auto item = PlayerItem::playerItemWithAsset (asset);
    ASSERT_EQ (item->getStatus(), PlayerItemStatus::readyToPlay);
    ASSERT_EQ (item->getLoadedTimeRanges().size(), 1u);
    EXPECT_EQ (item->getLoadedTimeRanges()[0].end(), makeTime (88200, 44100));

    CVAudioProcessor processor;
    CVAudioTapProcessor tap (asset->getTracksWithMediaType (MediaType::audio).front(), processor);
    item->setAudioMix (tap.getAudioMix());
    player->replaceCurrentItemWithPlayerItem (item);
    player->setActionAtItemEnd (ActionAtItemEnd::pause);
    std::atomic<int> ends { 0 };
    item->addDidPlayToEndObserver ([&] (PlayerItem& ended)
    {
        if (++ends == 2)
            ended.seekToTime (Time::zero()); // loop once
    });

    auto* device = player->getNullDevice();
    ASSERT_NE (device, nullptr);
    device->startCapture (88200 + 5 * 44100);
    player->play();
    ASSERT_TRUE (pumpUntil ([&] { return ends.load() == 1; }, 30000));
    EXPECT_EQ (player->getRate(), 0.0f);
    EXPECT_EQ (player->getCurrentTime(), makeTime (88200, 44100));
    EXPECT_FALSE (tap.getTap()->isInUse()); // the use ended with playback

    const auto captured = device->getCapturedAudio();
    const auto reference = processOffline (decodeAll (media ("stereo.m4a")), 44100.0);
    int first = 0;
    while (std::abs (reference[0][(size_t) first]) < 0.01f)
        ++first;
    const int at = findExact (captured[0], reference[0].data() + first, 2048);
    ASSERT_GE (at, first);
    const int offset = at - first;
    ASSERT_LE ((size_t) offset + 88200, captured[0].size());
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 88200; ++i)
            ASSERT_EQ (captured[(size_t) c][(size_t) (offset + i)], reference[(size_t) c][(size_t) i]) << c << " " << i;
    // Silence before playback started.
    for (int i = 0; i < offset; ++i)
        ASSERT_EQ (captured[0][(size_t) i], 0.0f);

    // With no action at the end, a seek to zero from the end notification
    // plays on, and the end is told once per arrival, not on every callback
    // there.
    player->setActionAtItemEnd (ActionAtItemEnd::none);
    ASSERT_TRUE (waitForSeek (*player, Time::zero()));
    player->play();
    ASSERT_TRUE (pumpUntil ([&] { return ends.load() == 2; }, 20000));
    ASSERT_TRUE (pumpUntil ([&] { return player->getCurrentTime().seconds() > 0.5; }, 10000));
    EXPECT_EQ (ends.load(), 2);
    EXPECT_EQ (player->getRate(), 1.0f);
    ASSERT_TRUE (pumpUntil ([&] { return ends.load() == 3; }, 20000));
    pumpUntil ([] { return false; }, 300);
    EXPECT_EQ (ends.load(), 3);
    EXPECT_EQ (player->getRate(), 1.0f);
    EXPECT_EQ (player->getCurrentTime(), makeTime (88200, 44100));
}

TEST (MediaPlayer, HandsTheTapPlanarSlicesOffTheMainThreadWithinThePreparedSize)
{
    struct Seen
    {
        std::atomic<std::int64_t> prepared { 0 }, largest { 0 }, calls { 0 }, channels { 0 };
        std::atomic<bool> onMessageThread { false }, interleaved { false };
    } seen;

    AudioProcessingTapCallbacks callbacks;
    callbacks.clientInfo = &seen;
    callbacks.init = [] (AudioProcessingTapRef, void* client, void** storage) { *storage = client; };
    callbacks.prepare = [] (AudioProcessingTapRef tap, std::int64_t maxFrames, const ProcessingFormat& format)
    {
        auto* s = static_cast<Seen*> (tap->getStorage());
        s->prepared = maxFrames;
        s->channels = format.channelsPerFrame;
        s->interleaved = (format.formatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    };
    callbacks.process = [] (AudioProcessingTapRef tap, std::int64_t frames, TapFlags, AudioBufferList& list,
                            std::int64_t* framesOut, TapFlags*)
    {
        auto* s = static_cast<Seen*> (tap->getStorage());
        s->largest = std::max<std::int64_t> (s->largest, frames);
        ++s->calls;
        if (juce::MessageManager::getInstance()->isThisTheMessageThread())
            s->onMessageThread = true;
        tap->getSourceAudio (frames, list, nullptr, nullptr, framesOut);
    };
    std::shared_ptr<AudioProcessingTap> tap;
    ASSERT_EQ (AudioProcessingTap::create (callbacks, kTapCreationFlagPreEffects, tap), 0);

    auto asset = URLAsset::assetWithURL (media ("movie.mp4"));
    auto item = PlayerItem::playerItemWithAsset (asset);
    auto parameters = AudioMixInputParameters::audioMixInputParametersWithTrack (asset->getTracksWithMediaType (MediaType::audio)[0].get());
    parameters->setAudioTapProcessor (tap);
    auto mix = AudioMix::audioMix();
    mix->setInputParameters ({ parameters });
    item->setAudioMix (mix);

    auto player = nullPlayer (8.0);
    player->replaceCurrentItemWithPlayerItem (item);
    EXPECT_EQ (player->getNullDevice()->getCurrentSampleRate(), 48000.0); // the device follows the media
    player->play();
    ASSERT_TRUE (pumpUntil ([&] { return seen.calls.load() > 20; }, 10000));
    player->pause();
    EXPECT_EQ (seen.prepared.load(), Player::maxFramesPerSlice);
    EXPECT_EQ (seen.channels.load(), 2);
    EXPECT_FALSE (seen.interleaved.load());
    EXPECT_LE (seen.largest.load(), seen.prepared.load());
    EXPECT_FALSE (seen.onMessageThread.load());
}

TEST (MediaPlayer, SeeksLandOnTheRequestedSample)
{
    auto player = nullPlayer (4.0, URLAsset::assetWithURL (media ("rate48k.wav")));
    const auto source = decodeAll (media ("rate48k.wav"));
    auto* device = player->getNullDevice();

    // While paused: the clock shows the target at once and playback starts there.
    const std::int64_t first = 30011;
    ASSERT_TRUE (waitForSeek (*player, makeTime (first, 48000)));
    EXPECT_EQ (player->getCurrentTime(), makeTime (first, 48000));
    device->startCapture (48000 * 6);
    pumpUntil ([] { return false; }, 30);
    player->play();
    ASSERT_TRUE (pumpUntil ([&] { return player->getCurrentTime().toSamples (48000) > first + 12000; }, 10000));

    // While playing.
    const std::int64_t second = 70001;
    ASSERT_TRUE (waitForSeek (*player, makeTime (second, 48000)));
    ASSERT_TRUE (pumpUntil ([&] { return player->getCurrentTime().toSamples (48000) > second + 8000; }, 10000));
    player->pause();

    const auto captured = device->getCapturedAudio();
    const int at = findExact (captured[0], source[0].data() + first, 4096);
    ASSERT_GT (at, 0);
    EXPECT_EQ (captured[0][(size_t) at - 1], 0.0f); // nothing of the samples before the target
    for (int i = 0; i < 12000; ++i)
        ASSERT_EQ (captured[1][(size_t) (at + i)], source[1][(size_t) (first + i)]) << i;
    const int later = findExact (captured[0], source[0].data() + second, 4096, at);
    ASSERT_GT (later, at);
    for (int i = 0; i < 8000; ++i)
        ASSERT_EQ (captured[1][(size_t) (later + i)], source[1][(size_t) (second + i)]) << i;

    // A seek overtaken by the next one reports that it did not finish.
    std::vector<int> results;
    player->seekToTime (makeTime (1, 10), [&] (bool f) { results.push_back (f ? 1 : 0); });
    player->seekToTime (makeTime (2, 10), [&] (bool f) { results.push_back (f ? 1 : 0); });
    ASSERT_TRUE (pumpUntil ([&] { return results.size() == 2; }, 5000));
    EXPECT_EQ (results, (std::vector<int> { 0, 1 }));
    EXPECT_EQ (player->getCurrentTime(), makeTime (9600, 48000));
}

TEST (MediaPlayer, PeriodicObserverFiresEachTenthOfASecondWhilePlayingAtAnyRate)
{
    // The player's clock is its output device: the test lets it run in
    // steps shorter than the interval and waits for the observer at each,
    // so a loaded machine running the message loop late cannot make the
    // observer skip a tenth, nor the device play on meanwhile.
    auto player = nullPlayer (0.0, URLAsset::assetWithURL (media ("stereo.m4a")));
    auto* device = player->getNullDevice();
    ASSERT_NE (device, nullptr);
    std::optional<HeldClock> clock (std::in_place, *device);
    ASSERT_TRUE (clock->settled);

    std::vector<double> times;
    std::vector<float> rates;
    const int token = player->addPeriodicTimeObserver (makeTime (1, 10), [&] (Time t)
    {
        EXPECT_TRUE (juce::MessageManager::getInstance()->isThisTheMessageThread());
        times.push_back (t.seconds());
    });
    player->addRateObserver ([&] (float r) { rates.push_back (r); });

    player->play();
    const auto tenthsCrossed = [&] { return (size_t) std::floor (player->getCurrentTime().seconds() * 10.0 + 1e-9); };
    while (player->getCurrentTime().seconds() < 1.25)
    {
        ASSERT_TRUE (clock->advance (2000));
        // One call as playback started, then one per tenth crossed.
        ASSERT_TRUE (pumpUntil ([&] { return times.size() >= 1 + tenthsCrossed(); }, 10000)) << player->getCurrentTime().seconds();
    }
    player->pause();
    const auto whilePlaying = times.size();
    EXPECT_EQ (whilePlaying, 12u + 2u); // and one as it stopped
    clock.reset();
    pumpUntil ([] { return false; }, 300);
    EXPECT_EQ (times.size(), whilePlaying); // quiet while paused
    player->removeTimeObserver (token);

    EXPECT_EQ (rates, (std::vector<float> { 1.0f, 0.0f }));
    // In between, one per tenth of a second crossed, none skipped and none twice.
    ASSERT_GE (times.size(), 12u);
    for (size_t i = 2; i + 1 < times.size(); ++i)
        EXPECT_EQ (std::floor (times[i] * 10.0 + 1e-9), std::floor (times[i - 1] * 10.0 + 1e-9) + 1.0) << times[i - 1] << " " << times[i];
    EXPECT_GT (times[times.size() - 2], 1.0);

    // Half speed goes through the resampler: half of the 0.8 s the device
    // plays, and sound all the way.
    ASSERT_TRUE (waitForSeek (*player, Time::zero()));
    clock.emplace (*device);
    ASSERT_TRUE (clock->settled);
    const auto startFrames = clock->frames();
    device->startCapture (44100 * 2);
    player->setRate (0.5f);
    ASSERT_TRUE (clock->advance (35280));
    const auto halfRate = player->getCurrentTime().seconds();
    const auto deviceSeconds = (double) (clock->frames() - startFrames) / 44100.0;
    player->pause();
    EXPECT_GT (deviceSeconds, 0.78);
    EXPECT_NEAR (halfRate, deviceSeconds / 2.0, 0.001);
    EXPECT_GT (clarivo_test::peakOf (device->getCapturedAudio()[0]), 0.2f);

    player->setRate (-1.0f); // not supported: stays paused
    EXPECT_EQ (player->getRate(), 0.0f);
}

TEST (MediaPlayer, PicturesFollowSeeksAndFrameStepsAndTheViewFitsThemWithTheirShapeAndTurn)
{
    auto asset = URLAsset::assetWithURL (media ("movie.mp4"));
    auto player = nullPlayer (1.0, asset);

    ASSERT_TRUE (waitForSeek (*player, makeTime (1, 1)));
    juce::Image frame;
    ASSERT_TRUE (pumpUntil ([&] { return (frame = player->getCurrentVideoFrame()).isValid(); }, 5000));
    EXPECT_EQ (frame.getWidth(), 320);
    EXPECT_EQ (frame.getHeight(), 240);
    const auto atOne = pictureHash (frame);

    auto item = player->getCurrentItem();
    item->stepByCount (1);
    ASSERT_TRUE (pumpUntil ([&] { return std::abs (player->getCurrentTime().seconds() - 1.04) < 1e-4; }, 5000));
    juce::Image next;
    ASSERT_TRUE (pumpUntil ([&] { next = player->getCurrentVideoFrame(); return next.isValid() && pictureHash (next) != atOne; }, 5000));
    item->stepByCount (-2);
    ASSERT_TRUE (pumpUntil ([&] { return std::abs (player->getCurrentTime().seconds() - 0.96) < 1e-4; }, 5000));

    // Back on 1.0 s the picture is the same one again.
    ASSERT_TRUE (waitForSeek (*player, makeTime (1, 1)));
    EXPECT_TRUE (pumpUntil ([&] { return pictureHash (player->getCurrentVideoFrame()) == atOne; }, 5000));

    // A composition whose video starts later shows nothing before it; the
    // picture itself stays unturned, only the view turns it.
    auto composition = MutableComposition::composition();
    auto video = composition->addMutableTrack (MediaType::video);
    video->insertTimeRange ({ Time::zero(), asset->getDuration() }, *asset->getTracksWithMediaType (MediaType::video)[0], makeTime (100, 1000));
    video->setPreferredTransform (juce::AffineTransform::rotation (juce::MathConstants<float>::halfPi).translated (240.0f, 0.0f));
    auto later = nullPlayer (1.0, composition);
    ASSERT_TRUE (waitForSeek (*later, makeTime (50, 1000)));
    pumpUntil ([] { return false; }, 200);
    EXPECT_FALSE (later->getCurrentVideoFrame().isValid());
    ASSERT_TRUE (waitForSeek (*later, makeTime (1100, 1000)));
    EXPECT_TRUE (pumpUntil ([&] { return pictureHash (later->getCurrentVideoFrame()) == atOne; }, 5000));

    const auto fits = [] (std::shared_ptr<Player> shown, juce::Rectangle<float> expected)
    {
        PlayerView view;
        view.setSize (400, 400);
        view.setPlayer (shown);
        ASSERT_TRUE (pumpUntil ([&] { return ! view.getVideoRect().isEmpty(); }, 5000));
        const auto r = view.getVideoRect();
        EXPECT_LT (r.getTopLeft().getDistanceFrom (expected.getTopLeft()) + r.getBottomRight().getDistanceFrom (expected.getBottomRight()),
                   0.02f) << r.toString();
        view.setPlayer ({});
    };
    fits (player, { 0, 50, 400, 300 });
    fits (nullPlayer (1.0, URLAsset::assetWithURL (media ("movie.mov"))), { 0, 87.5f, 400, 225 }); // 4:3 pixels
    fits (later, { 50, 0, 300, 400 }); // turned upright
}

TEST (MediaPlayer, UnplayableItemsFailWithoutHarm)
{
    auto player = nullPlayer (4.0);
    for (auto name : { "text.mp4", "empty.mp4", "truncated.mp4", "zerorate.caf", "cut.m4a", "huge.mov" })
    {
        SCOPED_TRACE (name);
        // Data cut short: what is there plays, the rest is silence, and the
        // end still comes. So it does under pictures too large to decode.
        const bool plays = juce::String (name) == "cut.m4a" || juce::String (name) == "huge.mov";
        auto item = PlayerItem::playerItemWithAsset (URLAsset::assetWithURL (media (name)));
        ASSERT_EQ (item->getStatus(), plays ? PlayerItemStatus::readyToPlay : PlayerItemStatus::failed);
        EXPECT_EQ (item->getError().isEmpty(), plays);
        EXPECT_EQ (item->getLoadedTimeRanges().empty(), ! plays);
        int ends = 0;
        item->addDidPlayToEndObserver ([&] (PlayerItem&) { ++ends; });
        player->replaceCurrentItemWithPlayerItem (item);
        player->play();
        EXPECT_EQ (pumpUntil ([&] { player->getCurrentVideoFrame(); return ends == 1; }, plays ? 20000 : 50), plays);
        player->pause();
        EXPECT_TRUE (plays || player->getCurrentTime() == Time::zero());
    }
}

TEST (MediaPlayer, GoesAwayMidPlaybackWithoutHarm)
{
    // Playing with pictures and the tap, a seek still waiting, decoders
    // busy after an item change: the player goes at once, answers the
    // waiting seek and gives the tap back.
    CVAudioProcessor processor;
    for (double speed : { 1.0, 0.0 })
    {
        auto asset = URLAsset::assetWithURL (media ("movie.mp4"));
        CVAudioTapProcessor tap (asset->getTracksWithMediaType (MediaType::audio).front(), processor);
        auto item = PlayerItem::playerItemWithAsset (asset);
        item->setAudioMix (tap.getAudioMix());
        auto player = nullPlayer (speed);
        player->setActionAtItemEnd (ActionAtItemEnd::none); // unpaced, the end comes soon
        player->replaceCurrentItemWithPlayerItem (item);
        player->play();
        pumpUntil ([] { return false; }, 60);
        int seek = -1;
        player->seekToTime (makeTime (3, 4), [&] (bool finished) { seek = finished ? 1 : 0; });
        player->replaceCurrentItemWithPlayerItem (PlayerItem::playerItemWithAsset (URLAsset::assetWithURL (media ("song.mp3"))));
        player->replaceCurrentItemWithPlayerItem (item);
        player->seekToTime (makeTime (1, 3));
        EXPECT_TRUE (tap.getTap()->isInUse());

        const auto before = juce::Time::getMillisecondCounterHiRes();
        player = nullptr;
        EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - before, 1000.0);
        EXPECT_EQ (seek, 0);
        EXPECT_FALSE (tap.getTap()->isInUse());
    }

    // Sound far below or above any sound card's rate plays through the
    // resampler at a usual device rate, keeps its clock, and the player
    // still goes at once (a device block of 512 frames at 100 Hz lasts 5 s).
    for (int rate : { 100, 768000 })
    {
        SCOPED_TRACE (rate);
        const auto file = scratchFile ("rate" + juce::String (rate) + ".wav");
        ASSERT_TRUE (runFFmpeg ({ "-f", "lavfi", "-i", "aevalsrc=0.5*sin(2*PI*10*t):s=" + juce::String (rate) + ":d=" + (rate < 1000 ? "60" : "2"),
                                  "-c:a", "pcm_s16le", file.getFullPathName() }));
        auto player = nullPlayer (1.0, URLAsset::assetWithURL (file));
        auto* device = player->getNullDevice();
        EXPECT_EQ (device->getCurrentSampleRate(), 48000.0);
        device->startCapture (48000);
        {
            HeldClock clock (*device);
            ASSERT_TRUE (clock.settled);
            player->play();
            EXPECT_TRUE (clock.advance (9600));
            const auto played = player->getCurrentTime().seconds();
            EXPECT_GT (played, 0.15);
            EXPECT_LT (played, 0.5);
            EXPECT_GT (clarivo_test::peakOf (device->getCapturedAudio()[0]), 0.4f);
        }

        const auto before = juce::Time::getMillisecondCounterHiRes();
        player = nullptr;
        EXPECT_LT (juce::Time::getMillisecondCounterHiRes() - before, 1000.0);
    }
}

TEST (MediaPlayer, PicturesNarrowerThanAVectorBlockPlayStepAndSaveWithinTheirOwnMemory)
{
    // Every picture of these movies is converted next to a guard page, all
    // the way through playback, frame steps and a save.
    detail::setPictureBufferAllocator ({ guardedBlock, releaseGuardedBlock });
    struct Restore
    {
        ~Restore() { detail::setPictureBufferAllocator ({}); }
    } restore;

    struct Movie
    {
        const char* name;
        int width, height;
        juce::StringArray video;
    };
    const juce::StringArray h264 { "-c:v", "libx264", "-pix_fmt", "yuv420p" };
    // libx264 takes odd sizes only without chroma subsampling.
    const juce::StringArray h264Full { "-c:v", "libx264", "-pix_fmt", "yuv444p" };
    const Movie movies[] = {
        { "tiny2x2.mp4", 2, 2, h264 },
        { "tiny6x6.mp4", 6, 6, h264 },
        { "tall2x16.mov", 2, 16, h264 },
        { "mjpeg2x2.mov", 2, 2, { "-c:v", "mjpeg", "-pix_fmt", "yuvj444p" } },
        { "single1x1.mov", 1, 1, h264Full },
        { "odd17x3.mp4", 17, 3, h264Full },
    };
    // A colour whose every channel differs, so that rows copied from the
    // wrong place or channels swapped show.
    const auto colour = juce::Colour (0xff3060c0);

    for (const auto& m : movies)
    {
        SCOPED_TRACE (m.name);
        const auto file = scratchFile (m.name);
        // lavfi cannot make a picture of one pixel; scaling one down can.
        const auto size = juce::String (std::max (2, m.width)) + "x" + juce::String (std::max (2, m.height));
        juce::StringArray args { "-f", "lavfi", "-i", "color=c=0x3060c0:r=25:d=8.5:s=" + size + ",scale=" + juce::String (m.width) + ":" + juce::String (m.height),
                                 "-f", "lavfi", "-i", "sine=f=440:d=8.5:sample_rate=44100" };
        args.addArray (m.video);
        args.addArray ({ "-c:a", "aac", file.getFullPathName() });
        ASSERT_TRUE (runFFmpeg (args));

        auto asset = URLAsset::assetWithURL (file);
        auto player = nullPlayer (0.0, asset);
        auto item = player->getCurrentItem();
        ASSERT_EQ (item->getStatus(), PlayerItemStatus::readyToPlay) << item->getError();
        int ends = 0;
        item->addDidPlayToEndObserver ([&] (PlayerItem&) { ++ends; });
        // A picture for each quarter second of the whole movie.
        int pictures = 0;
        juce::Image last;
        {
            HeldClock clock (*player->getNullDevice());
            ASSERT_TRUE (clock.settled);
            player->play();
            while (ends == 0)
            {
                ASSERT_TRUE (clock.advance (11025));
                ASSERT_LT (pictures, 40);
                const bool shown = pumpUntil ([&]
                {
                    auto now = player->getCurrentVideoFrame();
                    if (! now.isValid() || now == last)
                        return ends > 0;
                    last = now;
                    return true;
                }, 5000);
                ASSERT_TRUE (shown) << player->getCurrentTime().seconds();
                pictures += ends == 0 ? 1 : 0;
            }
        }
        EXPECT_GT (player->getCurrentTime().seconds(), 8.0);
        EXPECT_GE (pictures, 33);

        // Back at one second, paused: the picture is whole, each of its
        // pixels the movie's colour, and a step moves by one frame.
        ASSERT_TRUE (waitForSeek (*player, makeTime (1, 1)));
        juce::Image frame;
        ASSERT_TRUE (pumpUntil ([&] { return (frame = player->getCurrentVideoFrame()).isValid(); }, 5000));
        ASSERT_EQ (frame.getWidth(), m.width);
        ASSERT_EQ (frame.getHeight(), m.height);
        for (int y = 0; y < m.height; ++y)
            for (int x = 0; x < m.width; ++x)
            {
                const auto seen = frame.getPixelAt (x, y);
                EXPECT_LE (std::abs (seen.getRed() - colour.getRed()) + std::abs (seen.getGreen() - colour.getGreen())
                               + std::abs (seen.getBlue() - colour.getBlue()),
                           12)
                    << x << "," << y << " " << seen.toDisplayString (true);
                EXPECT_EQ (seen.getAlpha(), 255);
            }
        item->stepByCount (1);
        ASSERT_TRUE (pumpUntil ([&] { return std::abs (player->getCurrentTime().seconds() - 1.04) < 1e-4; }, 5000));
        item->stepByCount (-2);
        ASSERT_TRUE (pumpUntil ([&] { return std::abs (player->getCurrentTime().seconds() - 0.96) < 1e-4; }, 5000));
        EXPECT_TRUE (pumpUntil ([&] { return player->getCurrentVideoFrame().isValid(); }, 5000));

        // Saved, the pictures are copied as they were and open again.
        const auto copy = scratchFile (juce::String ("saved-") + m.name);
        auto session = AssetExportSession::exportSessionWithAsset (asset, kExportPresetPassthrough);
        ASSERT_NE (session, nullptr);
        session->setOutputURL (copy);
        session->setOutputFileType (file.hasFileExtension ("mp4") ? FileType::mpeg4 : FileType::quickTimeMovie);
        std::atomic<bool> exported { false };
        session->exportAsynchronously ([&] { exported = true; });
        ASSERT_TRUE (pumpUntil ([&] { return exported.load(); }, 60000));
        ASSERT_EQ (session->getStatus(), ExportStatus::completed) << session->getError();
        EXPECT_EQ (videoPackets (copy), videoPackets (file));
        auto again = nullPlayer (1.0, URLAsset::assetWithURL (copy));
        ASSERT_TRUE (waitForSeek (*again, makeTime (2, 1)));
        EXPECT_TRUE (pumpUntil ([&] { return again->getCurrentVideoFrame().getWidth() == m.width; }, 5000));
    }
}
