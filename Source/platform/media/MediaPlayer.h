#pragma once

#include "MediaAsset.h"
#include "MediaNullDevice.h"
#include "MediaTap.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace clarivo::media
{
class Player;

namespace detail
{
class PlaybackEngine;
struct OutputResampler;
}

enum class PlayerItemStatus
{
    unknown = 0,
    readyToPlay = 1,
    failed = 2,
};

enum class ActionAtItemEnd
{
    advance = 0,
    pause = 1,
    none = 2,
};

// One asset prepared for playback.
class PlayerItem : public std::enable_shared_from_this<PlayerItem>
{
public:
    static std::shared_ptr<PlayerItem> playerItemWithAsset (std::shared_ptr<Asset> asset);
    ~PlayerItem();

    std::shared_ptr<Asset> getAsset() const { return asset; }
    PlayerItemStatus getStatus() const noexcept { return status; }
    juce::String getError() const { return error; }
    Time getDuration() const noexcept { return duration; }
    // What is ready to play: the whole item once it is ready.
    std::vector<TimeRange> getLoadedTimeRanges() const;

    // The mix in force when playback starts; a change while playing takes
    // effect at the next start.
    std::shared_ptr<AudioMix> getAudioMix() const;
    void setAudioMix (std::shared_ptr<AudioMix> mix);

    Time getCurrentTime() const;
    void seekToTime (Time time, std::function<void (bool finished)> completion = {});
    void seekToTime (Time time, Time toleranceBefore, Time toleranceAfter,
                     std::function<void (bool finished)> completion = {});
    // Moves by whole video frames while paused; items without video stay put.
    void stepByCount (int count);

    // The end-of-item notification, delivered on the main thread once each
    // time playback reaches the end.
    int addDidPlayToEndObserver (std::function<void (PlayerItem&)> observer);
    void removeDidPlayToEndObserver (int token);

private:
    explicit PlayerItem (std::shared_ptr<Asset> asset);
    void postDidPlayToEnd();

    std::shared_ptr<Asset> asset;
    PlayerItemStatus status = PlayerItemStatus::unknown;
    juce::String error;
    Time duration = Time::zero();

    mutable std::mutex lock;
    std::shared_ptr<AudioMix> mix;
    Player* player = nullptr; // while it is a player's current item (main thread)
    Time storedTime = Time::zero();
    std::map<int, std::function<void (PlayerItem&)>> endObservers;
    int nextToken = 1;

    friend class Player;
};

// Plays one item: audio to an output device through the item's mix, pictures
// for a PlayerView. Every method is for the main thread.
class Player : private juce::AudioIODeviceCallback, private juce::Timer
{
public:
    struct Options
    {
        // Plays through this manager's device; without one, the player opens
        // the default output itself.
        juce::AudioDeviceManager* deviceManager = nullptr;
        // Plays into a NullAudioDevice even when hardware exists.
        bool useNullDevice = false;
        double nullDeviceSpeed = 1.0;
        int nullDeviceBlockSize = 512;
    };

    // The largest slice a tap is given during playback.
    static constexpr int maxFramesPerSlice = 4096;

    Player();
    explicit Player (const Options& options);
    ~Player() override;

    void replaceCurrentItemWithPlayerItem (std::shared_ptr<PlayerItem> item);
    std::shared_ptr<PlayerItem> getCurrentItem() const { return currentItem; }

    void play() { setRate (1.0f); }
    void pause() { setRate (0.0f); }
    float getRate() const noexcept { return rate.load(); }
    // Rates other than 1 play faster or slower with the pitch following.
    // Negative rates are not supported and pause.
    void setRate (float newRate);

    Time getCurrentTime() const;
    // Lands on the requested time exactly; tolerances are accepted and not
    // needed. The completion runs on the main thread, false when a later
    // seek took its place.
    void seekToTime (Time time, std::function<void (bool finished)> completion = {});
    void seekToTime (Time time, Time toleranceBefore, Time toleranceAfter,
                     std::function<void (bool finished)> completion = {});

    // Calls back on the main thread each time the play position crosses a
    // multiple of interval while playing, and when playback starts, stops or jumps.
    int addPeriodicTimeObserver (Time interval, std::function<void (Time)> observer);
    void removeTimeObserver (int token);
    // Calls back on the main thread whenever the rate changes.
    int addRateObserver (std::function<void (float)> observer);
    void removeRateObserver (int token);

    // Whether the output thread has stopped calling the current item's tap:
    // at once when nothing has played since the item was set, else a device
    // block after playback let the tap go.
    bool hasTapStopped() const noexcept;

    void setActionAtItemEnd (ActionAtItemEnd action) noexcept { actionAtEnd.store (action); }
    ActionAtItemEnd getActionAtItemEnd() const noexcept { return actionAtEnd.load(); }

    // The picture at the current time and a number that changes with it.
    juce::Image getCurrentVideoFrame();
    std::uint64_t getVideoFrameSerial() const noexcept { return videoSerial.load(); }

    // The device in use when playback runs without hardware, else null.
    NullAudioDevice* getNullDevice() const noexcept { return nullDevice.get(); }
    double getOutputSampleRate() const noexcept { return deviceRate.load(); }

    Player (const Player&) = delete;
    Player& operator= (const Player&) = delete;

private:
    void audioDeviceIOCallbackWithContext (const float* const* inputChannelData, int numInputChannels,
                                           float* const* outputChannelData, int numOutputChannels, int numSamples,
                                           const juce::AudioIODeviceCallbackContext& context) override;
    void audioDeviceAboutToStart (juce::AudioIODevice* device) override;
    void audioDeviceStopped() override;
    void timerCallback() override;

    void startOutput();
    void stopOutput();
    void beginTapUse();
    void endTapUse();
    void notifyRate();
    void firePeriodicObservers (bool force);
    void stepByCount (int count);

    Options options;
    std::unique_ptr<juce::AudioDeviceManager> ownDeviceManager;
    juce::AudioDeviceManager* deviceManager = nullptr;
    std::unique_ptr<NullAudioDevice> nullDevice;

    std::shared_ptr<PlayerItem> currentItem;
    std::unique_ptr<detail::PlaybackEngine> engine;
    std::unique_ptr<detail::OutputResampler> resampler;
    // Held by the output thread for each callback (it never waits for it) and
    // by the main thread while it changes what the output thread reads.
    std::mutex renderLock;
    std::atomic<bool> mainWantsLock { false };

    std::atomic<float> rate { 0.0f };
    std::atomic<ActionAtItemEnd> actionAtEnd { ActionAtItemEnd::pause };
    std::atomic<double> deviceRate { 44100.0 };
    std::atomic<int> deviceBlockSize { 512 };
    std::atomic<std::uint64_t> videoSerial { 0 };
    juce::Image lastFrame;
    double lastFrameTime = -1.0;

    struct PeriodicObserver
    {
        Time interval;
        std::function<void (Time)> callback;
        std::int64_t lastIndex = -1;
    };
    std::map<int, PeriodicObserver> periodicObservers;
    std::map<int, std::function<void (float)>> rateObservers;
    int nextToken = 1;

    struct PendingSeek
    {
        int generation;
        std::function<void (bool)> completion;
    };
    std::vector<PendingSeek> pendingSeeks;
    bool wasPlaying = false;

    friend class PlayerItem;
};
} // namespace clarivo::media
