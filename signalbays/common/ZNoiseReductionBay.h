#pragma once

#include <juce_events/juce_events.h>

#include <array>
#include <atomic>
#include <memory>

#include "ZBuffer.h"
#include "ZDelayBuffer.h"
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
// Threads: the setters, learning start/stop and the profile operations run on
// the main thread, process on the processing thread; no lock is taken. The
// settings the processing thread reads are atomics, read once per frame. The
// "Mode" and "Noise Profile" messages go to the bay's action listeners; when
// they arise on the processing thread (the end of a learning pass) they are
// handed to the message thread first, so that process never allocates.
class ZNoiseReductionBay : public juce::ActionBroadcaster
{
public:
    static constexpr int kMaxChannels = 8;
    static constexpr int kNumHumFilters = 14;
    static constexpr unsigned kFrameSize = 1024;
    static constexpr unsigned kNumBins = kFrameSize / 2 + 1;
    static constexpr int kOverlap = 4;

    // Throws qj_dsp_exception for more than 8 channels (or fewer than 1).
    ZNoiseReductionBay (const char* name, int channelCount);
    ~ZNoiseReductionBay() override;

    ZNoiseReductionBay (const ZNoiseReductionBay&) = delete;
    ZNoiseReductionBay& operator= (const ZNoiseReductionBay&) = delete;

    virtual void setSampleRate (float rate);
    // Converters for the new host block size, primed so that the delay stays
    // latency() at once. The same size keeps the running converters.
    virtual void setBlockSize (int blockSize);
    virtual void setDefaults();
    // Creates what is missing (a second call keeps learned profiles), then reset.
    virtual bool prepare();
    // Clears the signal state, keeps settings and profiles.
    virtual void reset();
    // numSamples from in[c] to out[c] for every channel. Never throws.
    virtual void process (ZBuffer** in, ZBuffer** out, int numSamples);

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
    int getHumMode() const;
    // Held to 0..14.
    void setNumHumHarmonics (int count);
    int getNumHumHarmonics() const;
    void setTrack (bool on);
    bool getTrack() const;
    void setTrackFloor (float db);
    void setTrackRange (float db);
    void setLevelAttack (float seconds);
    void setLevelRelease (float seconds);

    // 0 off, 1 reduce, 2 noise only; takes effect at the next process call.
    // Any other mode is refused with qj_dsp_exception "Unsupported Noise
    // Reduction Mode" and leaves the mode as it was, so that an invalid mode
    // never reaches the processing thread. Callers holding untrusted values
    // (parameters, presets) bring them into 0..2 first.
    void setMode (int mode);
    int getMode() const;
    int isLearning() const;
    void startLearning();
    // Ends the pass at the next process call that learns a frame.
    void stopLearning();

    ZBuffer* getNoiseProfile() const noexcept { return mNoiseProfile.get(); }
    ZBuffer* getSpectrum() const noexcept { return mSpectrum.get(); }
    // c < channel count; null before prepare.
    ZBuffer* getChannelProfile (int c) const noexcept;
    void clearNoiseProfile();
    // Hands every channel profile to its compressor and broadcasts "Noise Profile".
    void pushProfiles();

    int latency() const noexcept { return mLatency; }
    int getNumChannels() const noexcept { return mNumChannels; }
    const juce::String& getName() const noexcept { return mName; }
    int getBlockSize() const noexcept { return mBlockSize; }
    float getSampleRate() const noexcept { return mSampleRate; }
    int getLearnedFrameCount() const noexcept { return mLearnedFrames; }
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

    enum Message { noiseProfileMessage = 0, modeMessage = 1 };

    // Delivers "Noise Profile" and "Mode" on the message thread when they
    // arise elsewhere. Only the end of a learning pass raises them off that
    // thread, always in this order, which is also the order of delivery.
    class MessageRelay : public juce::AsyncUpdater
    {
    public:
        explicit MessageRelay (ZNoiseReductionBay& owner) : bay (owner) {}
        ~MessageRelay() override { cancelPendingUpdate(); }
        void post (Message message);
        void handleAsyncUpdate() override;

    private:
        ZNoiseReductionBay& bay;
        std::atomic<bool> pending[2] = { false, false };
    };

    void broadcast (Message message);
    int primingFor (int blockSize) const noexcept;
    void createConverters (Channel& channel);
    void primeConverters (Channel& channel);
    void setHumFilters (float baseFrequency);
    void runHumFilters (Channel& channel, int harmonics);
    void runVoiceAndRumbleFilters (Channel& channel);
    void runFrame (int c, int mode, bool& framesSeen);
    void learnFrame (Channel& channel, bool lastChannel, int humMode, int harmonics);
    void addDisplayPower();
    void finishLearning();
    void finalizeLearning();
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
    std::atomic<int> mActiveMode { 1 };
    std::atomic<float> mLimitLow { 22050.0f };
    std::atomic<float> mLimitHigh { 0.0f };
    std::atomic<int> mHumHarmonics { 3 };
    std::atomic<bool> mStopLearning { false };

    float mSampleRate = 44100.0f;
    int mBlockSize = 512;
    int mLatency = 0;
    float mWindowGain = 1.0f;
    std::atomic<int> mLearnedFrames { 0 };
    bool mPrepared = false;

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
    const juce::String mSpectrumUpdateText { "Spectrum Update" };
    const juce::String mProfileUpdateText { "Noise Profile Update" };

    MessageRelay mRelay { *this };
};

} // namespace quarn
