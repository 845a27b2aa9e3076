#include "MediaPlayer.h"
#include "MediaDecoding.h"
#include "MediaTrackRender.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

namespace clarivo::media
{
namespace detail
{
// What the output stage keeps between callbacks when the media's clock does
// not match the device's (another device rate, or a rate other than 1).
struct OutputResampler
{
    static constexpr int channels = 2;
    static constexpr int capacity = 32768;
    std::vector<float> pending[channels];
    int count = 0;
    juce::LagrangeInterpolator interpolators[channels];

    OutputResampler()
    {
        for (auto& p : pending)
            p.assign ((size_t) capacity, 0.0f);
    }

    void reset()
    {
        count = 0;
        for (auto& i : interpolators)
            i.reset();
    }
};

// What plays one item: a worker decoding its audio ahead into a lock-free
// queue of blocks, a worker decoding its pictures, and the render step that
// the output thread runs (queue -> tap -> output).
class PlaybackEngine
{
public:
    PlaybackEngine (PlayerItem& item, double fallbackRate, std::int64_t startSample);
    ~PlaybackEngine();

    bool hasAudio() const noexcept { return source != nullptr; }
    bool hasVideo() const noexcept { return ! videoSegments.empty(); }
    int getClockRate() const noexcept { return clockRate; }
    int getNumChannels() const noexcept { return numChannels; }
    int getAudioTrackID() const noexcept { return audioTrackID; }
    std::int64_t getEndSample() const noexcept { return endSample; }
    double getVideoFrameDuration() const noexcept { return videoFrameDuration; }
    double getVideoStart() const noexcept { return videoStart; }

    // Main thread.
    int requestSeek (std::int64_t target);
    int getRequestedGeneration() const noexcept { return (int) (seekRequest.load() >> generationShift); }
    bool isSeekDone (int generation) const noexcept
    {
        return producedGeneration.load() == generation || adoptedGeneration.load() == generation;
    }
    std::int64_t getPosition() const noexcept;
    bool takeEndReached() noexcept { return endReached.exchange (false); }
    bool getFrame (double seconds, VideoFrame& out);

    // Output thread: renders up to n frames (n <= Player::maxFramesPerSlice)
    // at the clock rate through the tap. Returns the frames rendered, 0 at
    // the end of the item or when the queue ran dry.
    int renderSlice (int n, bool waitForMedia, const std::atomic<bool>& giveUp);
    const float* const* getSlice() const noexcept { return outPointers.data(); }
    // Output thread, while paused: lets go of blocks made before the latest
    // seek, so the decoder can fill the queue from the new position.
    void dropStaleBlocks();

    // Set by the main thread under the render lock.
    std::shared_ptr<AudioProcessingTap> tap;
    // When the output thread last ran the tap (Time::getMillisecondCounterHiRes),
    // negative until it first does for this item.
    std::atomic<double> tapLastCalledMs { -1.0 };

private:
    static constexpr int generationShift = 48;
    static constexpr std::uint64_t targetMask = (std::uint64_t (1) << generationShift) - 1;
    static constexpr int blockFrames = 1024;
    static constexpr int numBlocks = 64;

    void audioWorker();
    void videoWorker();
    double requestedSeconds() const noexcept;

    std::unique_ptr<TrackAudioSource> source;
    int clockRate = 44100;
    int numChannels = 0;
    int audioTrackID = 0;
    std::int64_t endSample = 0;

    // Seek requests: generation in the top bits, target sample below, so the
    // two are always read together.
    std::atomic<std::uint64_t> seekRequest { 0 };
    std::atomic<int> producedGeneration { -1 };
    std::atomic<int> adoptedGeneration { -1 };

    // The block queue (single producer: the audio worker; single consumer: the output thread).
    juce::AbstractFifo fifo { numBlocks };
    std::vector<float> blockData;
    int blockGeneration[numBlocks] {};
    std::int64_t blockStart[numBlocks] {};
    int blockLength[numBlocks] {};
    int frontOffset = 0;

    // Output-thread state.
    int outputGeneration = -1;
    std::atomic<std::int64_t> position { 0 };
    bool atEnd = false;
    std::atomic<bool> endReached { false };
    std::vector<std::vector<float>> sourceScratch, outScratch;
    std::vector<float*> sourcePointers, outPointers;

    // Pictures.
    std::vector<TrackSegment> videoSegments;
    double videoFrameDuration = 0.0;
    double videoStart = 0.0;
    std::mutex videoLock;
    std::deque<VideoFrame> frames;
    std::atomic<int> videoGeneration { 0 };

    std::atomic<bool> quit { false };
    std::mutex wakeLock;
    std::condition_variable wake;
    std::thread audioThread, videoThread;
};

PlaybackEngine::PlaybackEngine (PlayerItem& item, double fallbackRate, std::int64_t startSample)
{
    auto asset = item.getAsset();
    const auto duration = item.getDuration();

    auto audioTracks = asset->getTracksWithMediaType (MediaType::audio);
    if (! audioTracks.empty())
    {
        auto s = std::make_unique<TrackAudioSource> (*audioTracks.front());
        if (s->isValid())
        {
            source = std::move (s);
            clockRate = source->getSampleRate();
            numChannels = source->getNumChannels();
            audioTrackID = audioTracks.front()->getTrackID();
        }
    }
    if (source == nullptr)
        clockRate = fallbackRate > 0 ? (int) fallbackRate : 44100;

    endSample = std::max<std::int64_t> (0, duration.toSamples (clockRate));

    const int channels = std::max (1, numChannels);
    sourceScratch.assign ((size_t) channels, std::vector<float> ((size_t) Player::maxFramesPerSlice, 0.0f));
    outScratch.assign ((size_t) channels, std::vector<float> ((size_t) Player::maxFramesPerSlice, 0.0f));
    for (int c = 0; c < channels; ++c)
    {
        sourcePointers.push_back (sourceScratch[(size_t) c].data());
        outPointers.push_back (outScratch[(size_t) c].data());
    }

    auto videoTracks = asset->getTracksWithMediaType (MediaType::video);
    if (! videoTracks.empty())
    {
        videoSegments = videoTracks.front()->getSegments();
        const auto fps = videoTracks.front()->getNominalFrameRate();
        videoFrameDuration = fps > 0 ? 1.0 / fps : 1.0 / 30.0;
        videoStart = videoSegments.empty() ? 0.0 : videoSegments.front().target.start.seconds();
    }

    startSample = std::clamp<std::int64_t> (startSample, 0, endSample);
    seekRequest.store ((std::uint64_t) startSample & targetMask);
    position.store (startSample);

    if (source != nullptr)
    {
        blockData.assign ((size_t) numBlocks * (size_t) channels * blockFrames, 0.0f);
        audioThread = std::thread ([this] { audioWorker(); });
    }
    if (hasVideo())
        videoThread = std::thread ([this] { videoWorker(); });
}

PlaybackEngine::~PlaybackEngine()
{
    {
        std::lock_guard<std::mutex> lock (wakeLock);
        quit.store (true);
    }
    wake.notify_all();
    if (audioThread.joinable())
        audioThread.join();
    if (videoThread.joinable())
        videoThread.join();
}

int PlaybackEngine::requestSeek (std::int64_t target)
{
    target = std::clamp<std::int64_t> (target, 0, endSample);
    const int generation = (getRequestedGeneration() + 1) & 0xffff;
    seekRequest.store (((std::uint64_t) generation << generationShift) | ((std::uint64_t) target & targetMask));
    videoGeneration.fetch_add (1);
    if (source == nullptr)
        producedGeneration.store (generation); // nothing to decode ahead
    {
        std::lock_guard<std::mutex> lock (wakeLock);
    }
    wake.notify_all();
    return generation;
}

std::int64_t PlaybackEngine::getPosition() const noexcept
{
    const auto request = seekRequest.load();
    // Until the output takes up a seek, the position is where it will land.
    if ((int) (request >> generationShift) != adoptedGeneration.load())
        return (std::int64_t) (request & targetMask);
    return position.load();
}

double PlaybackEngine::requestedSeconds() const noexcept
{
    return (double) getPosition() / clockRate;
}

void PlaybackEngine::audioWorker()
{
    juce::Thread::setCurrentThreadName ("Media Audio Decoder");
    const int channels = numChannels;
    std::vector<float*> pointers ((size_t) channels);
    int generation = -1;
    std::int64_t next = 0;

    while (! quit.load())
    {
        const auto request = seekRequest.load();
        const int g = (int) (request >> generationShift);
        if (g != generation)
        {
            generation = g;
            next = (std::int64_t) (request & targetMask);
        }

        if (next >= endSample || fifo.getFreeSpace() == 0)
        {
            if (next >= endSample)
                producedGeneration.store (generation);
            std::unique_lock<std::mutex> lock (wakeLock);
            wake.wait_for (lock, std::chrono::milliseconds (next >= endSample ? 20 : 2));
            continue;
        }

        int start1, size1, start2, size2;
        fifo.prepareToWrite (1, start1, size1, start2, size2);
        if (size1 < 1)
            continue;
        const int slot = start1;
        const int n = (int) std::min<std::int64_t> (blockFrames, endSample - next);
        for (int c = 0; c < channels; ++c)
            pointers[(size_t) c] = blockData.data() + ((size_t) slot * (size_t) channels + (size_t) c) * blockFrames;
        source->read (pointers.data(), next, n);
        blockGeneration[slot] = generation;
        blockStart[slot] = next;
        blockLength[slot] = n;
        fifo.finishedWrite (1);
        producedGeneration.store (generation);
        next += n;
    }
}

int PlaybackEngine::renderSlice (int n, bool waitForMedia, const std::atomic<bool>& giveUp)
{
    const auto request = seekRequest.load();
    const int generation = (int) (request >> generationShift);
    if (generation != outputGeneration)
    {
        outputGeneration = generation;
        position.store ((std::int64_t) (request & targetMask));
        if (frontOffset != 0)
        {
            // The rest of a block from before the seek.
            frontOffset = 0;
            fifo.finishedRead (1);
        }
        atEnd = false;
        adoptedGeneration.store (generation);
    }

    const auto pos = position.load();
    const auto left = endSample - pos;
    if (left <= 0)
    {
        if (! atEnd)
        {
            atEnd = true;
            endReached.store (true);
        }
        return 0;
    }

    int m = (int) std::min<std::int64_t> ({ (std::int64_t) n, left, (std::int64_t) Player::maxFramesPerSlice });
    if (source == nullptr)
    {
        for (auto* p : outPointers)
            std::fill (p, p + m, 0.0f);
    }
    else
    {
        int filled = 0;
        int waitedMs = 0;
        while (filled < m)
        {
            int start1, size1, start2, size2;
            fifo.prepareToRead (1, start1, size1, start2, size2);
            if (size1 >= 1)
            {
                const int slot = start1;
                if (blockGeneration[slot] != outputGeneration || blockStart[slot] + frontOffset != pos + filled)
                {
                    // A block from before the latest seek.
                    frontOffset = 0;
                    fifo.finishedRead (1);
                    continue;
                }
                const int take = std::min (blockLength[slot] - frontOffset, m - filled);
                for (int c = 0; c < numChannels; ++c)
                    std::memcpy (sourcePointers[(size_t) c] + filled,
                                 blockData.data() + ((size_t) slot * (size_t) numChannels + (size_t) c) * blockFrames + frontOffset,
                                 (size_t) take * sizeof (float));
                filled += take;
                frontOffset += take;
                if (frontOffset >= blockLength[slot])
                {
                    frontOffset = 0;
                    fifo.finishedRead (1);
                }
                continue;
            }

            // The decoder is behind. A real device cannot wait; the null
            // device can, which keeps playback exact on slow machines.
            if (! waitForMedia || giveUp.load() || waitedMs > 2000
                || (int) (seekRequest.load() >> generationShift) != outputGeneration)
                break;
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
            ++waitedMs;
        }
        if (filled == 0)
            return 0;
        m = filled;

        if (tap != nullptr)
        {
            tap->process (sourcePointers.data(), outPointers.data(), m, pos, 0);
            tapLastCalledMs.store (juce::Time::getMillisecondCounterHiRes());
        }
        else
            for (int c = 0; c < numChannels; ++c)
                std::memcpy (outPointers[(size_t) c], sourcePointers[(size_t) c], (size_t) m * sizeof (float));
    }

    position.store (pos + m);
    if (pos + m >= endSample && ! atEnd)
    {
        atEnd = true;
        endReached.store (true);
    }
    return m;
}

void PlaybackEngine::dropStaleBlocks()
{
    if (source == nullptr)
        return;
    const int latest = (int) (seekRequest.load() >> generationShift);
    for (;;)
    {
        int start1, size1, start2, size2;
        fifo.prepareToRead (1, start1, size1, start2, size2);
        if (size1 < 1 || blockGeneration[start1] == latest)
            return;
        frontOffset = 0;
        fifo.finishedRead (1);
    }
}

void PlaybackEngine::videoWorker()
{
    juce::Thread::setCurrentThreadName ("Media Video Decoder");
    std::map<std::pair<juce::String, int>, std::unique_ptr<VideoDecoder>> decoders;
    int generation = -1;
    size_t segment = videoSegments.size();
    VideoDecoder* decoder = nullptr;
    double newest = -1.0e300;
    constexpr size_t maxQueued = 6;

    const auto decoderFor = [&] (const TrackSegment& s) -> VideoDecoder*
    {
        const auto key = std::make_pair (s.file.getFullPathName(), s.streamIndex);
        if (auto it = decoders.find (key); it != decoders.end())
            return it->second.get();
        juce::String why;
        auto d = VideoDecoder::open (s.file, s.streamIndex, why);
        auto* raw = d.get();
        decoders[key] = std::move (d);
        return raw;
    };

    const auto reposition = [&] (double t)
    {
        {
            std::lock_guard<std::mutex> lock (videoLock);
            frames.clear();
        }
        newest = -1.0e300;
        segment = videoSegments.size();
        decoder = nullptr;
        for (size_t i = 0; i < videoSegments.size(); ++i)
        {
            const auto& s = videoSegments[i];
            if (t < s.target.end().seconds())
            {
                segment = i;
                decoder = decoderFor (s);
                const double into = std::max (0.0, t - s.target.start.seconds());
                if (decoder != nullptr)
                    decoder->seek (s.sourceStart.seconds() + into);
                break;
            }
        }
    };

    while (! quit.load())
    {
        const int g = videoGeneration.load();
        const double now = requestedSeconds();
        if (g != generation || (newest > -1.0e299 && newest < now - 1.0))
        {
            // A seek, or playback ran far past what was decoded.
            generation = g;
            reposition (now);
        }

        size_t queued;
        {
            std::lock_guard<std::mutex> lock (videoLock);
            while (frames.size() > 1 && frames[1].time <= now + 0.0005)
                frames.pop_front();
            queued = frames.size();
        }

        if (segment >= videoSegments.size() || queued >= maxQueued)
        {
            std::unique_lock<std::mutex> lock (wakeLock);
            wake.wait_for (lock, std::chrono::milliseconds (5));
            continue;
        }

        const auto& s = videoSegments[segment];
        VideoFrame f;
        if (decoder == nullptr || ! decoder->next (f))
        {
            // This segment is done: on to the next one from its start.
            if (++segment < videoSegments.size())
            {
                decoder = decoderFor (videoSegments[segment]);
                if (decoder != nullptr)
                    decoder->seek (videoSegments[segment].sourceStart.seconds());
            }
            continue;
        }

        const double t = s.target.start.seconds() + (f.time - s.sourceStart.seconds());
        if (t >= s.target.end().seconds() - 1.0e-6)
        {
            if (++segment < videoSegments.size())
            {
                decoder = decoderFor (videoSegments[segment]);
                if (decoder != nullptr)
                    decoder->seek (videoSegments[segment].sourceStart.seconds());
            }
            continue;
        }

        f.time = std::max (t, s.target.start.seconds());
        newest = f.time;
        std::lock_guard<std::mutex> lock (videoLock);
        if (g == videoGeneration.load())
            frames.push_back (std::move (f));
    }
}

bool PlaybackEngine::getFrame (double seconds, VideoFrame& out)
{
    std::lock_guard<std::mutex> lock (videoLock);
    while (frames.size() > 1 && frames[1].time <= seconds + 0.0005)
        frames.pop_front();
    if (frames.empty() || frames.front().time > seconds + 0.0005)
        return false;
    out = frames.front();
    return true;
}
} // namespace detail

// ---------------------------------------------------------------------------
std::shared_ptr<PlayerItem> PlayerItem::playerItemWithAsset (std::shared_ptr<Asset> asset)
{
    if (asset == nullptr)
        return nullptr;
    return std::shared_ptr<PlayerItem> (new PlayerItem (std::move (asset)));
}

PlayerItem::PlayerItem (std::shared_ptr<Asset> a) : asset (std::move (a))
{
    const auto tracks = asset->getTracks();
    duration = asset->getDuration();
    if (! tracks.empty() && asset->isPlayable() && ! asset->hasProtectedContent())
    {
        status = PlayerItemStatus::readyToPlay;
    }
    else
    {
        status = PlayerItemStatus::failed;
        error = asset->getError().isNotEmpty() ? asset->getError() : juce::String ("The media cannot be played.");
    }
}

PlayerItem::~PlayerItem() = default;

std::vector<TimeRange> PlayerItem::getLoadedTimeRanges() const
{
    if (status != PlayerItemStatus::readyToPlay)
        return {};
    return { { Time::zero(), duration } };
}

std::shared_ptr<AudioMix> PlayerItem::getAudioMix() const
{
    std::lock_guard<std::mutex> guard (lock);
    return mix;
}

void PlayerItem::setAudioMix (std::shared_ptr<AudioMix> m)
{
    std::lock_guard<std::mutex> guard (lock);
    mix = std::move (m);
}

Time PlayerItem::getCurrentTime() const
{
    if (player != nullptr)
        return player->getCurrentTime();
    return storedTime;
}

void PlayerItem::seekToTime (Time time, std::function<void (bool)> completion)
{
    seekToTime (time, Time::infinity(), Time::infinity(), std::move (completion));
}

void PlayerItem::seekToTime (Time time, Time before, Time after, std::function<void (bool)> completion)
{
    if (player != nullptr)
    {
        player->seekToTime (time, before, after, std::move (completion));
        return;
    }
    storedTime = time;
    if (completion)
        dispatchToMainThread ([completion] { completion (true); });
}

void PlayerItem::stepByCount (int count)
{
    if (player != nullptr)
        player->stepByCount (count);
}

int PlayerItem::addDidPlayToEndObserver (std::function<void (PlayerItem&)> observer)
{
    std::lock_guard<std::mutex> guard (lock);
    const int token = nextToken++;
    endObservers[token] = std::move (observer);
    return token;
}

void PlayerItem::removeDidPlayToEndObserver (int token)
{
    std::lock_guard<std::mutex> guard (lock);
    endObservers.erase (token);
}

void PlayerItem::postDidPlayToEnd()
{
    std::map<int, std::function<void (PlayerItem&)>> observers;
    {
        std::lock_guard<std::mutex> guard (lock);
        observers = endObservers;
    }
    auto keepAlive = shared_from_this();
    for (auto& [token, observer] : observers)
        if (observer)
            observer (*this);
}

// ---------------------------------------------------------------------------
namespace
{
struct MainLock
{
    MainLock (std::mutex& m, std::atomic<bool>& wants) : flag (wants)
    {
        // Tells an output thread waiting for media to give up the lock.
        flag.store (true);
        lock = std::unique_lock<std::mutex> (m);
        flag.store (false);
    }
    std::atomic<bool>& flag;
    std::unique_lock<std::mutex> lock;
};

} // namespace

Player::Player() : Player (Options {}) {}

Player::Player (const Options& o) : options (o), resampler (std::make_unique<detail::OutputResampler>())
{
    startOutput();
    startTimer (10);
}

Player::~Player()
{
    stopTimer();
    stopOutput();
    {
        MainLock lock (renderLock, mainWantsLock);
        if (engine != nullptr && engine->tap != nullptr)
        {
            engine->tap->endUse();
            engine->tap = nullptr;
        }
    }
    engine = nullptr;
    if (currentItem != nullptr)
        currentItem->player = nullptr;
    for (auto& s : pendingSeeks)
        if (s.completion)
            s.completion (false);
}

void Player::startOutput()
{
    if (! options.useNullDevice)
    {
        deviceManager = options.deviceManager;
        if (deviceManager == nullptr)
        {
            ownDeviceManager = std::make_unique<juce::AudioDeviceManager>();
            const auto error = ownDeviceManager->initialiseWithDefaultDevices (0, 2);
            if (error.isEmpty() && ownDeviceManager->getCurrentAudioDevice() != nullptr)
                deviceManager = ownDeviceManager.get();
            else
                ownDeviceManager = nullptr;
        }
        if (deviceManager != nullptr && deviceManager->getCurrentAudioDevice() != nullptr)
        {
            deviceManager->addAudioCallback (this);
            return;
        }
        deviceManager = nullptr;
    }

    // No hardware: keep time with the null device.
    nullDevice = std::make_unique<NullAudioDevice> (44100.0, options.nullDeviceBlockSize, 2);
    nullDevice->setSpeed (options.nullDeviceSpeed);
    nullDevice->start (this);
}

void Player::stopOutput()
{
    if (deviceManager != nullptr)
        deviceManager->removeAudioCallback (this);
    if (nullDevice != nullptr)
        nullDevice->stop();
    ownDeviceManager = nullptr;
    deviceManager = nullptr;
}

void Player::audioDeviceAboutToStart (juce::AudioIODevice* device)
{
    deviceRate.store (device->getCurrentSampleRate() > 0 ? device->getCurrentSampleRate() : 44100.0);
    deviceBlockSize.store (device->getCurrentBufferSizeSamples());
}

void Player::audioDeviceStopped() {}

void Player::audioDeviceIOCallbackWithContext (const float* const*, int, float* const* out, int numOut, int numSamples,
                                               const juce::AudioIODeviceCallbackContext&)
{
    for (int c = 0; c < numOut; ++c)
        if (out[c] != nullptr)
            std::fill (out[c], out[c] + numSamples, 0.0f);

    std::unique_lock<std::mutex> lock (renderLock, std::try_to_lock);
    if (! lock.owns_lock())
        return;
    auto* e = engine.get();
    const float r = rate.load();
    if (e == nullptr)
        return;
    if (r <= 0.0f)
    {
        e->dropStaleBlocks();
        return;
    }

    const bool wait = nullDevice != nullptr;
    const int channels = std::max (1, e->getNumChannels());
    const auto channelFor = [channels] (int outChannel) -> int
    {
        // Mono feeds every output; otherwise left and right go to the first two.
        if (channels == 1)
            return 0;
        return outChannel < std::min (channels, 2) ? outChannel : -1;
    };

    const double ratio = (double) r * e->getClockRate() / deviceRate.load();
    if (ratio == 1.0)
    {
        int done = 0;
        while (done < numSamples)
        {
            const int got = e->renderSlice (std::min (numSamples - done, maxFramesPerSlice), wait, mainWantsLock);
            if (got <= 0)
                break;
            const auto* const* slice = e->getSlice();
            for (int c = 0; c < numOut; ++c)
                if (const int from = channelFor (c); from >= 0 && out[c] != nullptr)
                    std::memcpy (out[c] + done, slice[from], (size_t) got * sizeof (float));
            done += got;
        }
        return;
    }

    auto& rs = *resampler;
    const int capacity = detail::OutputResampler::capacity;
    int done = 0;
    // Chunks small enough that the source frames they need fit the buffer,
    // however far the media's clock is from the device's.
    const int maxChunk = std::clamp ((int) ((capacity - 16) / ratio), 1, 1024);
    while (done < numSamples)
    {
        const int chunk = std::min (numSamples - done, maxChunk);
        const int needed = (int) std::ceil (chunk * ratio) + 8;
        if (needed > capacity)
            break;
        while (rs.count < needed)
        {
            // Only what this chunk needs: a slice of slow media runs for
            // seconds, and the play position counts what was taken.
            const int got = e->renderSlice (std::min (needed - rs.count, 1024), wait, mainWantsLock);
            if (got <= 0)
                break;
            const auto* const* slice = e->getSlice();
            for (int c = 0; c < detail::OutputResampler::channels; ++c)
            {
                const int from = channelFor (c);
                auto* dst = rs.pending[c].data() + rs.count;
                if (from >= 0)
                    std::memcpy (dst, slice[from], (size_t) got * sizeof (float));
                else
                    std::fill (dst, dst + got, 0.0f);
            }
            rs.count += got;
        }
        if (rs.count < needed)
            break;

        int used = 0;
        for (int c = 0; c < detail::OutputResampler::channels; ++c)
        {
            if (c < numOut && out[c] != nullptr)
                used = rs.interpolators[c].process (ratio, rs.pending[c].data(), out[c] + done, chunk);
            else
            {
                float scratch[1024];
                used = rs.interpolators[c].process (ratio, rs.pending[c].data(), scratch, chunk);
            }
        }
        for (auto& p : rs.pending)
            std::memmove (p.data(), p.data() + used, (size_t) (rs.count - used) * sizeof (float));
        rs.count -= used;
        done += chunk;
    }
}

void Player::replaceCurrentItemWithPlayerItem (std::shared_ptr<PlayerItem> item)
{
    if (item == currentItem)
        return;

    std::unique_ptr<detail::PlaybackEngine> next;
    if (item != nullptr && item->getStatus() == PlayerItemStatus::readyToPlay)
    {
        const auto start = item->storedTime;
        next = std::make_unique<detail::PlaybackEngine> (*item, deviceRate.load(), 0);
        if (start.isNumeric() && start > Time::zero())
            next->requestSeek (start.toSamples (next->getClockRate()));
    }

    // Without hardware the null device follows the media's rate, so nothing
    // is resampled on the way out; rates no sound card runs at (a block of
    // 100 Hz sound lasts seconds) go through the resampler at a usual one.
    if (nullDevice != nullptr && next != nullptr)
    {
        const int clock = next->getClockRate();
        const double wanted = clock >= 8000 && clock <= 384000 ? (double) clock : 48000.0;
        if (wanted != nullDevice->getCurrentSampleRate())
            nullDevice->open ({}, juce::BigInteger (3), wanted, options.nullDeviceBlockSize);
    }

    std::unique_ptr<detail::PlaybackEngine> old;
    {
        MainLock lock (renderLock, mainWantsLock);
        if (engine != nullptr && engine->tap != nullptr)
        {
            engine->tap->endUse();
            engine->tap = nullptr;
        }
        old = std::move (engine);
        engine = std::move (next);
        resampler->reset();
    }
    old = nullptr;

    if (currentItem != nullptr)
    {
        currentItem->storedTime = Time::zero();
        currentItem->player = nullptr;
    }
    currentItem = std::move (item);
    if (currentItem != nullptr)
        currentItem->player = this;

    for (auto& s : pendingSeeks)
        if (s.completion)
            s.completion (false);
    pendingSeeks.clear();
    lastFrame = {};
    lastFrameTime = -1.0;
    ++videoSerial;

    if (rate.load() > 0.0f)
    {
        MainLock lock (renderLock, mainWantsLock);
        beginTapUse();
    }
}

void Player::beginTapUse()
{
    if (engine == nullptr || ! engine->hasAudio() || currentItem == nullptr)
        return;
    auto mix = currentItem->getAudioMix();
    if (mix == nullptr)
        return;
    auto tap = mix->tapForTrack (engine->getAudioTrackID());
    if (tap == nullptr)
        return;
    if (tap->beginUse (maxFramesPerSlice, ProcessingFormat::floatNonInterleaved (engine->getClockRate(), engine->getNumChannels())))
        engine->tap = std::move (tap);
    else
        juce::Logger::writeToLog ("The audio tap is in use elsewhere; playing the track's own audio.");
}

void Player::endTapUse()
{
    if (engine != nullptr && engine->tap != nullptr)
    {
        engine->tap->endUse();
        engine->tap = nullptr;
    }
}

bool Player::hasTapStopped() const noexcept
{
    if (engine == nullptr)
        return true;
    const double last = engine->tapLastCalledMs.load();
    if (last < 0.0)
        return true;
    // While the output thread holds a use it calls the tap once a device
    // block; a block's length without a call means it has let go.
    const double blockMs = 1000.0 * deviceBlockSize.load() / std::max (1.0, deviceRate.load());
    return engine->tap == nullptr && juce::Time::getMillisecondCounterHiRes() - last >= blockMs;
}

void Player::setRate (float newRate)
{
    if (! std::isfinite (newRate) || newRate < 0.0f)
        newRate = 0.0f;
    newRate = std::min (newRate, 4.0f);

    const float old = rate.load();
    if (old == newRate)
        return;

    {
        MainLock lock (renderLock, mainWantsLock);
        if (old == 0.0f)
        {
            // A new use of the tap starts with playback and ends when it stops.
            beginTapUse();
            resampler->reset();
        }
        rate.store (newRate);
        if (newRate == 0.0f)
            endTapUse();
    }

    notifyRate();
    firePeriodicObservers (true);
}

void Player::notifyRate()
{
    const float r = rate.load();
    auto observers = rateObservers;
    for (auto& [token, observer] : observers)
        if (observer)
            observer (r);
}

Time Player::getCurrentTime() const
{
    if (engine == nullptr)
        return currentItem != nullptr ? currentItem->storedTime : Time::zero();
    return makeTime (engine->getPosition(), engine->getClockRate());
}

void Player::seekToTime (Time time, std::function<void (bool)> completion)
{
    seekToTime (time, Time::infinity(), Time::infinity(), std::move (completion));
}

void Player::seekToTime (Time time, Time, Time, std::function<void (bool)> completion)
{
    if (engine == nullptr || ! time.isValid())
    {
        if (completion)
            dispatchToMainThread ([completion] { completion (false); });
        return;
    }

    const auto target = time.positiveInfinity ? engine->getEndSample() : time.toSamples (engine->getClockRate());
    const int generation = engine->requestSeek (target);
    // An earlier seek still waiting is overtaken.
    for (auto& s : pendingSeeks)
        if (s.completion)
            s.completion (false);
    pendingSeeks.clear();
    pendingSeeks.push_back ({ generation, std::move (completion) });
}

void Player::stepByCount (int count)
{
    if (engine == nullptr || ! engine->hasVideo() || count == 0)
        return;
    if (rate.load() != 0.0f)
        pause();

    const double frame = engine->getVideoFrameDuration();
    const double start = engine->getVideoStart();
    const double now = getCurrentTime().seconds();
    const double index = std::floor ((now - start) / frame + 1.0e-6);
    double target = start + (index + count) * frame;
    const double end = (double) engine->getEndSample() / engine->getClockRate();
    target = std::clamp (target, 0.0, end);
    seekToTime (makeTimeWithSeconds (target, engine->getClockRate()), Time::zero(), Time::zero());
}

int Player::addPeriodicTimeObserver (Time interval, std::function<void (Time)> observer)
{
    const int token = nextToken++;
    PeriodicObserver p;
    p.interval = interval.isNumeric() && interval.value > 0 ? interval : makeTime (1, 10);
    p.callback = std::move (observer);
    p.lastIndex = (std::int64_t) std::floor (getCurrentTime().seconds() / p.interval.seconds());
    periodicObservers[token] = std::move (p);
    return token;
}

void Player::removeTimeObserver (int token)
{
    periodicObservers.erase (token);
}

int Player::addRateObserver (std::function<void (float)> observer)
{
    const int token = nextToken++;
    rateObservers[token] = std::move (observer);
    return token;
}

void Player::removeRateObserver (int token)
{
    rateObservers.erase (token);
}

void Player::firePeriodicObservers (bool force)
{
    if (periodicObservers.empty())
        return;
    const auto now = getCurrentTime();
    const bool playing = rate.load() > 0.0f;
    std::vector<std::pair<std::function<void (Time)>, Time>> due;
    for (auto& [token, p] : periodicObservers)
    {
        const auto index = (std::int64_t) std::floor (now.seconds() / p.interval.seconds() + 1.0e-9);
        if (force || (playing && index != p.lastIndex))
            due.emplace_back (p.callback, now);
        p.lastIndex = index;
    }
    for (auto& [callback, t] : due)
        if (callback)
            callback (t);
}

void Player::timerCallback()
{
    if (engine == nullptr)
        return;

    // Seeks that have landed.
    if (! pendingSeeks.empty())
    {
        const int latest = engine->getRequestedGeneration();
        std::vector<PendingSeek> done, still;
        for (auto& s : pendingSeeks)
        {
            if (s.generation != latest || engine->isSeekDone (s.generation))
                done.push_back (std::move (s));
            else
                still.push_back (std::move (s));
        }
        pendingSeeks = std::move (still);
        for (auto& s : done)
            if (s.completion)
                s.completion (s.generation == latest);
        if (! done.empty())
            firePeriodicObservers (true);
    }

    if (engine != nullptr && engine->takeEndReached())
    {
        // A single-item player has nothing to advance to, so advancing pauses too.
        if (actionAtEnd.load() != ActionAtItemEnd::none)
            pause();
        if (currentItem != nullptr)
            currentItem->postDidPlayToEnd();
    }

    if (rate.load() > 0.0f)
        firePeriodicObservers (false);
}

juce::Image Player::getCurrentVideoFrame()
{
    if (engine == nullptr || ! engine->hasVideo())
        return {};
    detail::VideoFrame f;
    if (engine->getFrame (getCurrentTime().seconds(), f) && f.time != lastFrameTime)
    {
        lastFrame = f.image;
        lastFrameTime = f.time;
        ++videoSerial;
    }
    return lastFrame;
}
} // namespace clarivo::media
