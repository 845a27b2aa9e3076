#pragma once

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "ZBuffer.h"
#include "ZDelayBuffer.h"
#include "ZFeeds.h"
#include "ZFourierTransform.h"
#include "ZGain.h"
#include "ZParametricFilter.h"
#include "ZSignalWindow.h"
#include "ZSpectralCompressor.h"
#include "ZWindowedOverlapAdd.h"

namespace quarn
{

// The "Noise Reduction" bay: removes broadband noise by spectral gating
// against a learned noise profile, and optionally hum (up to 14 peaking cuts at
// the harmonics of 50 or 60 Hz), rumble (a high-pass) and hiss (a low-pass).
//
// Host blocks are gathered into 1024-sample frames; each frame is cut into
// four windowed segments at a hop of 256, transformed, attenuated bin by bin
// by a per-channel spectral compressor and added back. While learning, frames
// pass through unchanged and their power spectra are averaged into the
// per-channel noise profile.
//
// Modes: 0 off (filters only), 1 reduce, 2 noise only (what mode 1 removes).
// The output is the input delayed by latency() samples in every mode; while
// learning, by 768 samples less.
//
// Threads: the setters, learning start/stop, the profiles and the display
// profile belong to the message thread; process runs on the processing
// thread; no lock is taken. The settings are atomics: a setter stores its
// value and marks it changed, and process hands the changed ones to its
// compressors and filters at the start of the next block. The channel
// profiles reach the compressors as copies through a lock-free feed; a
// profile learned on the processing thread comes back the same way and is
// copied into the channel profiles on the message thread before "Noise
// Profile" is broadcast, then "Mode". The live spectrum (getSpectrum) is the
// processing thread's own and sends nothing. prepare and reset run while
// process does not, and apply whatever is waiting at once.
class ZNoiseReductionBay : public juce::ActionBroadcaster
{
public:
    static constexpr int kMaxChannels = 8;
    static constexpr int kNumHumFilters = 14;
    static constexpr unsigned kFrameSize = 1024;
    static constexpr unsigned kNumBins = kFrameSize / 2 + 1;
    static constexpr int kOverlap = 4;

    enum class Mode : int { off = 0, reduce = 1, noiseOnly = 2 };
    enum class HumMode : int { fiftyHz = 0, sixtyHz = 1, off = 2 };

    // Throws qj_dsp_exception for more than 8 channels (or fewer than 1).
    ZNoiseReductionBay (const char* name, int channelCount);
    ~ZNoiseReductionBay() override;

    ZNoiseReductionBay (const ZNoiseReductionBay&) = delete;
    ZNoiseReductionBay& operator= (const ZNoiseReductionBay&) = delete;

    // Creates what is missing (a second call keeps learned profiles), sizes
    // the converters for the block size (primed so that the delay is latency()
    // at once), hands a new rate to the filters and compressors, then reset.
    void prepare (double sampleRate, int maxBlock);
    // prepare with the other figure unchanged; before the first prepare the
    // value is only stored. The same rate and size rebuild nothing.
    virtual void setSampleRate (float rate);
    virtual void setBlockSize (int blockSize);
    virtual void setDefaults();
    // prepare with the current rate and block size.
    virtual bool prepare();
    // Clears the signal state, keeps settings and profiles.
    virtual void reset();
    // numSamples from in[c] to out[c] for every channel.
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples) noexcept;

    // A threshold that is not a finite number is refused.
    void setThreshold (float db);
    float getThreshold() const;
    void setReduction (float db);
    float getReduction() const;
    void setPreserveVoice (bool on);
    bool getPreserveVoice() const;
    void setRemoveRumble (bool on);
    bool getRemoveRumble() const;
    void setRumbleFrequency (float hz);
    float getRumbleFrequency() const;
    void setLowPassFrequency (float hz);
    float getLowPassFrequency() const;
    // limit low is the upper edge of the reduced band, limit high its lower edge.
    void setBroadbandLimitLow (float hz);
    void setBroadbandLimitHigh (float hz);
    float getBroadbandLimitLow() const;
    float getBroadbandLimitHigh() const;
    // 0: 50 Hz, 1: 60 Hz, 2: off; other values keep the filters as they are.
    void setHumMode (int mode);
    void setHumMode (HumMode mode) { setHumMode ((int) mode); }
    int getHumMode() const;
    // Held to 0..14.
    void setNumHumHarmonics (int count);
    int getNumHumHarmonics() const;
    void setTrack (bool on);
    bool getTrack() const;
    void setTrackFloor (float db);
    float getTrackFloor() const;
    void setTrackRange (float db);
    void setLevelAttack (float seconds);
    void setLevelRelease (float seconds);

    // 0 off, 1 reduce, 2 noise only; takes effect at the next process call.
    // Any other mode is refused with qj_dsp_exception "Unsupported Noise
    // Reduction Mode" and leaves the mode as it was, so that an invalid mode
    // never reaches the processing thread. Callers holding untrusted values
    // (parameters, presets) bring them into 0..2 first.
    void setMode (int mode);
    void setMode (Mode mode) { setMode ((int) mode); }
    int getMode() const;
    int isLearning() const;
    void startLearning();
    // Ends the pass at the next process call that learns a frame.
    void stopLearning();

    // The display profile: written on the message thread only.
    ZBuffer* getNoiseProfile() const noexcept { return mNoiseProfile.get(); }
    ZBuffer* getSpectrum() const noexcept { return mSpectrum.get(); }
    // The message thread's profiles (what the state saves and loads); c <
    // channel count; null before prepare.
    ZBuffer* getChannelProfile (int c) const noexcept;
    void clearNoiseProfile();
    // Hands a copy of every channel profile to the processing thread, which
    // gives it to the compressors at its next block, and broadcasts "Noise Profile".
    void pushProfiles();

    int getLatency() const noexcept { return mLatency; }
    int latency() const noexcept { return getLatency(); }
    int getNumChannels() const noexcept { return mNumChannels; }
    const juce::String& getName() const noexcept { return mName; }
    int getBlockSize() const noexcept { return mBlockSize; }
    float getSampleRate() const noexcept { return mSampleRate; }
    int getLearnedFrameCount() const noexcept { return mLearnedFrames; }
    // The processing thread's compressor, for inspection while process does not run.
    const ZSpectralCompressor* getCompressor (int c) const noexcept;

private:
    struct Channel
    {
        std::unique_ptr<ZBuffer> profile;
        std::unique_ptr<ZBuffer> learnAccumulator;
        std::unique_ptr<ZWindowedOverlapAdd> framer;
        std::unique_ptr<ZSpectralCompressor> compressor;
        std::unique_ptr<ZParametricFilter> rumble;
        std::unique_ptr<ZParametricFilter> lowPass;
        std::array<std::unique_ptr<ZParametricFilter>, kNumHumFilters> hum;
        std::array<ZParametricFilter*, kNumHumFilters> humChain {};
        std::unique_ptr<ZBufferSizeConverter> input;
        std::unique_ptr<ZBufferSizeConverter> output;
    };

    // What the processing thread hands to its compressors and filters.
    enum Setting : std::uint32_t
    {
        thresholdSetting = 1u << 0,
        reductionSetting = 1u << 1,
        smoothingSetting = 1u << 2,
        limitsSetting = 1u << 3,
        trackSetting = 1u << 4,
        levelTimesSetting = 1u << 5,
        rumbleSetting = 1u << 6,
        lowPassSetting = 1u << 7,
        humSetting = 1u << 8,
        allSettings = (1u << 9) - 1u
    };

    // The settings one block runs with, read once at its start.
    struct BlockSettings
    {
        int humMode = 2;
        int harmonics = 0;
        bool preserveVoice = false;
        bool removeRumble = false;
    };

    // profileDisplayMessage says the display's profile (mNoiseProfile) must be
    // drawn again: only the message thread, where the noise display reads
    // it, writes it.
    enum Message { profileLearnedMessage = 0, noiseProfileMessage = 1, modeMessage = 2, profileDisplayMessage = 3 };

    // Delivers "Noise Profile" and "Mode" on the message thread when they
    // arise elsewhere, "Noise Profile" first. While a learning pass started
    // on the message thread runs, a timer there polls for its end, so the
    // processing thread only sets a flag; otherwise the message is posted.
    class MessageRelay : private juce::AsyncUpdater, private juce::Timer
    {
    public:
        explicit MessageRelay (ZNoiseReductionBay& owner);
        ~MessageRelay() override;
        // On the message thread: watch for the end of the pass.
        void watch();
        void post (Message message) noexcept;
        // Asking JUCE takes a lock, which the processing thread must not; the
        // message thread's id is noted whenever the message thread passes.
        bool onMessageThread() const noexcept;
        bool knowsMessageThread() const noexcept { return messageThread.load() != nullptr; }

    private:
        void handleAsyncUpdate() override { deliver(); }
        void timerCallback() override;
        void deliver();

        ZNoiseReductionBay& bay;
        std::atomic<bool> pending[4] = { false, false, false, false };
        std::atomic<bool> watching { false };
        std::atomic<juce::Thread::ThreadID> messageThread { nullptr };
    };

    void markChanged (std::uint32_t settings) noexcept { mChangedSettings.fetch_or (settings, std::memory_order_release); }
    void broadcast (Message message);
    int primingFor (int blockSize) const noexcept;
    void createConverters (Channel& channel);
    void primeConverters (Channel& channel) noexcept;
    void takeRequests() noexcept;
    void applySettings (std::uint32_t settings) noexcept;
    void setHumFilters (float baseFrequency) noexcept;
    void resetSignalState() noexcept;
    void runHumFilters (Channel& channel) noexcept;
    void runVoiceAndRumbleFilters (Channel& channel) noexcept;
    void runFrame (Channel& channel, int mode, bool& framesSeen) noexcept;
    void learnFrame (Channel& channel, bool lastChannel) noexcept;
    void addDisplayPower() noexcept;
    void finishLearning() noexcept;
    void finalizeLearning() noexcept;
    void adoptLearnedProfiles();
    void updateProfileDisplay();
    void fillProfiles (float db);

    const juce::String mName;
    const int mNumChannels;

    std::atomic<float> mThreshold { 3.0f };
    std::atomic<float> mReduction { 15.0f };
    std::atomic<float> mAttackFactor { 0.15f };
    std::atomic<float> mReleaseFactor { 0.1f };
    std::atomic<int> mPreserveVoice { 0 };
    std::atomic<float> mLowPassFrequency { 8000.0f };
    std::atomic<int> mRemoveRumble { 0 };
    std::atomic<float> mRumbleFrequency { 100.0f };
    std::atomic<int> mHumMode { 2 };
    std::atomic<int> mRequestedMode { 0 };
    std::atomic<int> mLearning { 0 };
    std::atomic<float> mLimitLow { 22050.0f };
    std::atomic<float> mLimitHigh { 0.0f };
    std::atomic<int> mHumHarmonics { 3 };
    // As a new spectral compressor has them.
    std::atomic<bool> mTrack { true };
    std::atomic<float> mTrackFloor { 0.0f };
    std::atomic<float> mTrackRange { 6.0f };
    std::atomic<float> mLevelAttack { 0.001f };
    std::atomic<float> mLevelRelease { 0.005f };
    std::atomic<std::uint32_t> mChangedSettings { 0 };
    std::atomic<bool> mStartLearning { false };
    std::atomic<bool> mStopLearning { false };
    std::atomic<int> mLearnedFrames { 0 };

    float mSampleRate = 44100.0f;
    int mBlockSize = 512;
    int mLatency = 0;
    float mWindowGain = 1.0f;
    bool mPrepared = false;

    // The processing thread's own.
    int mActiveMode = 1;
    BlockSettings mBlock;

    // Channel profiles, message thread to processing thread, and learned
    // profiles back: channel count x kNumBins values each.
    ZLatestFrame mProfileFeed;
    ZLatestFrame mLearnedFeed;

    std::unique_ptr<ZGain> mGain;
    std::unique_ptr<ZFourierTransform> mForward;
    std::unique_ptr<ZFourierTransform> mInverse;
    std::unique_ptr<ZSignalWindow> mWindow;
    std::unique_ptr<ZBuffer> mSpectrum;
    std::unique_ptr<ZBuffer> mNoiseProfile;
    std::unique_ptr<ZBuffer> mFrame;
    std::unique_ptr<ZBuffer> mReal;
    std::unique_ptr<ZBuffer> mImag;
    std::unique_ptr<ZBuffer> mDisplayPower;
    std::unique_ptr<ZBuffer> mProfileWork;
    // The priming zeros and, for a block that carries non-finite samples, a
    // cleaned copy: both as long as the longest block.
    std::unique_ptr<ZBuffer> mScratch;

    std::array<Channel, kMaxChannels> mChannels;

    const juce::String mModeText { "Mode" };
    const juce::String mNoiseProfileText { "Noise Profile" };
    const juce::String mProfileUpdateText { "Noise Profile Update" };

    MessageRelay mRelay { *this };
};

} // namespace quarn
