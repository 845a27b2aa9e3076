#include "ZNoiseReductionBay.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace quarn
{

namespace
{
constexpr const char* kSourceFile = "signalbays/common/ZNoiseReductionBay";
constexpr float kProfileFloorDb = -48.0f;
constexpr float kDisplayFloorDb = -120.0f;
constexpr float kGainCurveSlope = 2.0f;
constexpr float kRumbleQ = 0.9f;
constexpr float kLowPassQ = 0.707f;
constexpr float kHumQ = 60.0f;
constexpr auto kRumbleType = ZParametricFilter::Type::highPass;
constexpr auto kLowPassType = ZParametricFilter::Type::lowPass;
constexpr auto kPeakingType = ZParametricFilter::Type::peaking;
// The converters' priming for a 512-sample host block; with the framer's 768
// it makes the bay's delay 1536.
constexpr int kStandardPriming = 768;
// How often the message thread looks for the end of a learning pass.
constexpr int kRelayPollMs = 20;

int checkedChannelCount (int channelCount)
{
    if (channelCount > ZNoiseReductionBay::kMaxChannels)
        QJ_THROW ("Noise Reduction does not support that many channels.", kSourceFile);
    if (channelCount < 1)
        QJ_THROW ("Noise Reduction needs at least one channel.", kSourceFile);
    return channelCount;
}

// True when every sample is finite and inside the guard's range (a NaN fails
// the comparison). No early exit: the common, clean block costs one pass.
bool allGuarded (const float* x, int n) noexcept
{
    bool inside = true;
    for (int i = 0; i < n; ++i)
        inside &= std::fabs (x[i]) <= kMaxSampleMagnitude;
    return inside;
}
} // namespace

//==============================================================================
ZNoiseReductionBay::MessageRelay::MessageRelay (ZNoiseReductionBay& owner) : bay (owner)
{
    if (juce::MessageManager::existsAndIsCurrentThread())
        messageThread.store (juce::Thread::getCurrentThreadId());
}

bool ZNoiseReductionBay::MessageRelay::onMessageThread() const noexcept
{
    const auto id = messageThread.load();
    return id != nullptr && id == juce::Thread::getCurrentThreadId();
}

ZNoiseReductionBay::MessageRelay::~MessageRelay()
{
    stopTimer();
    cancelPendingUpdate();
}

void ZNoiseReductionBay::MessageRelay::watch()
{
    if (! juce::MessageManager::existsAndIsCurrentThread())
        return;
    messageThread.store (juce::Thread::getCurrentThreadId());
    watching.store (true);
    startTimer (kRelayPollMs);
}

void ZNoiseReductionBay::MessageRelay::post (Message message) noexcept
{
    // Either the poll sees the flag, or this sees that nobody polls and posts
    // (both sides use sequentially consistent order for the two flags).
    pending[message].store (true);
    if (! watching.load())
        triggerAsyncUpdate();
}

void ZNoiseReductionBay::MessageRelay::timerCallback()
{
    deliver();

    if (bay.mLearning.load() == 0)
    {
        watching.store (false);
        // A pass that ended while the flag was still up relied on the poll.
        deliver();
        stopTimer();
    }
}

void ZNoiseReductionBay::MessageRelay::deliver()
{
    // "Mode" is raised after the profile, so reading it first sees both.
    const bool mode = pending[modeMessage].exchange (false);
    const bool learned = pending[profileLearnedMessage].exchange (false);
    const bool profile = pending[noiseProfileMessage].exchange (false);
    const bool display = pending[profileDisplayMessage].exchange (false);

    if (learned)
        bay.adoptLearnedProfiles();
    else if (display)
        bay.updateProfileDisplay();
    if (profile && ! learned)
        bay.sendActionMessage (bay.mNoiseProfileText);
    if (mode)
        bay.sendActionMessage (bay.mModeText);
}

//==============================================================================
ZNoiseReductionBay::ZNoiseReductionBay (const char* name, int channelCount)
    : mName (name != nullptr ? name : ""),
      mNumChannels (checkedChannelCount (channelCount))
{
    mProfileFeed.allocate (mNumChannels * (int) kNumBins);
    mLearnedFeed.allocate (mNumChannels * (int) kNumBins);
    // The window never changes, and the noise display reads its gain on the
    // message thread while an export's render may be preparing the bay on
    // its own: set once, here, it is never written under the display.
    mWindow.reset (ZSignalWindow::create (kFrameSize, 0, 0.0f));
    const float windowSum = mWindow->getSum();
    mWindowGain = windowSum != 0.0f ? 2048.0f / windowSum : 1.0f;
}

ZNoiseReductionBay::~ZNoiseReductionBay() = default;

void ZNoiseReductionBay::broadcast (Message message)
{
    if (mRelay.onMessageThread())
        sendActionMessage (message == modeMessage ? mModeText : mNoiseProfileText);
    else
        mRelay.post (message);
}

//==============================================================================
int ZNoiseReductionBay::primingFor (int blockSize) const noexcept
{
    // The output converter must never run dry, or the delay would shift.
    // After k blocks the input converter holds priming + k B samples; a frame
    // is missing just when k B mod 1024 is not 0 but below 1024 - priming.
    // The smallest such remainder is gcd(B, 1024), so 768 covers blocks of
    // 256, 512, 1024 and more, and odd sizes need more.
    const int step = std::gcd (blockSize, (int) kFrameSize);
    return std::max (kStandardPriming, (int) kFrameSize - step);
}

void ZNoiseReductionBay::createConverters (Channel& channel)
{
    channel.input.reset (ZBufferSizeConverter::create ((unsigned) mBlockSize, kFrameSize));
    channel.output.reset (ZBufferSizeConverter::create (kFrameSize, (unsigned) mBlockSize));
}

void ZNoiseReductionBay::primeConverters (Channel& channel) noexcept
{
    const int priming = primingFor (mBlockSize);
    mScratch->clear ({ 0, priming });
    channel.input->clear();
    channel.input->push (*mScratch, (unsigned) priming);
    channel.output->clear();
}

void ZNoiseReductionBay::prepare (double sampleRate, int maxBlock)
{
    const auto rate = (float) sampleRate;
    const float newRate = rate > 0.0f && std::isfinite (rate) ? rate : mSampleRate;
    const int newBlock = maxBlock > 0 ? maxBlock : mBlockSize;
    const bool rateChanged = newRate != mSampleRate;
    const bool blockChanged = newBlock != mBlockSize;
    mSampleRate = newRate;
    mBlockSize = newBlock;

    using Direction = ZFourierTransform::Direction;
    using Kind = ZFourierTransform::Kind;

    if (mGain == nullptr)
        mGain.reset (ZGain::create (false));
    if (mForward == nullptr)
        mForward.reset (ZFourierTransform::create (10, Direction::forward, Kind::real));
    if (mInverse == nullptr)
        mInverse.reset (ZFourierTransform::create (10, Direction::inverse, Kind::real));
    const unsigned scratchLength = std::max ((unsigned) mBlockSize, kFrameSize);
    if (mScratch == nullptr || mScratch->getLength() < scratchLength)
        mScratch = std::make_unique<ZBuffer> (scratchLength, "ZBuffer");

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];

        if (channel.profile == nullptr)
        {
            char name[32];
            std::snprintf (name, sizeof (name), "NoiseProfile%d", c);
            channel.profile = std::make_unique<ZBuffer> (kNumBins, name);
            std::fill_n (channel.profile->getData(), kNumBins, kProfileFloorDb);
        }

        if (channel.framer == nullptr)
            channel.framer.reset (ZWindowedOverlapAdd::create (kFrameSize, kOverlap));

        if (channel.compressor == nullptr)
        {
            // The settings follow below, with every other one.
            channel.compressor.reset (ZSpectralCompressor::create (kNumBins, mSampleRate));
            channel.compressor->setThreshold (kProfileFloorDb);
        }
        else if (rateChanged)
        {
            channel.compressor->setSampleRate (mSampleRate);
        }

        // Created at their usual frequencies: a setting of 0 Hz (which the
        // filters ignore) then leaves them there.
        if (channel.rumble == nullptr)
        {
            channel.rumble.reset (ZParametricFilter::create (mSampleRate));
            channel.rumble->setParameters (kRumbleType, 100.0f, kRumbleQ, 0.0f);
        }
        else if (rateChanged)
        {
            channel.rumble->setSampleRate (mSampleRate);
        }

        if (channel.lowPass == nullptr)
        {
            channel.lowPass.reset (ZParametricFilter::create (mSampleRate));
            channel.lowPass->setParameters (kLowPassType, 8000.0f, kLowPassQ, 0.0f);
        }
        else if (rateChanged)
        {
            channel.lowPass->setSampleRate (mSampleRate);
        }

        if (channel.learnAccumulator == nullptr)
            channel.learnAccumulator = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");

        if (channel.input == nullptr || channel.output == nullptr || blockChanged)
            createConverters (channel);

        for (int k = 0; k < kNumHumFilters; ++k)
        {
            auto& filter = channel.hum[(size_t) k];
            if (filter == nullptr)
                filter.reset (ZParametricFilter::create (mSampleRate));
            else if (rateChanged)
                filter->setSampleRate (mSampleRate);
            channel.humChain[(size_t) k] = filter.get();
        }
    }

    if (mSpectrum == nullptr)
        mSpectrum = std::make_unique<ZBuffer> (kNumBins, "mSpectrum");
    if (mNoiseProfile == nullptr)
        mNoiseProfile = std::make_unique<ZBuffer> (kNumBins, "mNoiseProfile");
    if (mFrame == nullptr)
        mFrame = std::make_unique<ZBuffer> (kFrameSize, "ZBuffer");
    if (mReal == nullptr)
        mReal = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");
    if (mImag == nullptr)
        mImag = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");
    if (mDisplayPower == nullptr)
        mDisplayPower = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");
    if (mProfileWork == nullptr)
        mProfileWork = std::make_unique<ZBuffer> (kNumBins, "ZBuffer");

    std::fill_n (mDisplayPower->getData(), kNumBins, kDisplayFloorDb);
    mSpectrum->copy (*mDisplayPower);

    mLatency = mChannels[0].framer->getLatency() + primingFor (mBlockSize);
    mPrepared = true;

    // Every setting again, for new objects and a new rate alike.
    markChanged (allSettings);
    takeRequests();
    // An export's render prepares the chain on a thread of its own while the
    // noise display may be reading the display's profile. Without a message
    // thread (a tool that runs none) nobody else reads it.
    if (mRelay.onMessageThread() || ! mRelay.knowsMessageThread())
        updateProfileDisplay();
    else
        mRelay.post (profileDisplayMessage);
    resetSignalState();
}

void ZNoiseReductionBay::setSampleRate (float rate)
{
    if (! (rate > 0.0f) || ! std::isfinite (rate))
        return;

    if (mPrepared)
        prepare (rate, mBlockSize);
    else
        mSampleRate = rate;
}

void ZNoiseReductionBay::setBlockSize (int blockSize)
{
    if (blockSize <= 0)
        return;

    if (mPrepared)
        prepare (mSampleRate, blockSize);
    else
        mBlockSize = blockSize;
}

bool ZNoiseReductionBay::prepare()
{
    prepare (mSampleRate, mBlockSize);
    return true;
}

void ZNoiseReductionBay::reset()
{
    if (! mPrepared)
        return;

    takeRequests();
    resetSignalState();
}

void ZNoiseReductionBay::resetSignalState() noexcept
{
    mFrame->clear();
    mReal->clear();
    mImag->clear();
    std::fill_n (mDisplayPower->getData(), kNumBins, kDisplayFloorDb);
    // The accumulators start again, so the frames counted so far go too.
    mLearnedFrames = 0;

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        channel.framer->reset();
        channel.compressor->reset();
        channel.lowPass->reset();
        channel.rumble->reset();
        channel.learnAccumulator->clear();
        primeConverters (channel);
        for (auto& filter : channel.hum)
            filter->reset();
    }
}

//==============================================================================
void ZNoiseReductionBay::takeRequests() noexcept
{
    if (mChangedSettings.load (std::memory_order_relaxed) != 0)
        applySettings (mChangedSettings.exchange (0, std::memory_order_acq_rel));

    if (mProfileFeed.hasNewFrame())
    {
        const float* profiles = mProfileFeed.collect();
        for (int c = 0; c < mNumChannels; ++c)
            mChannels[(size_t) c].compressor->setThresholds (profiles + (size_t) c * kNumBins, kNumBins);
    }
}

void ZNoiseReductionBay::applySettings (std::uint32_t settings) noexcept
{
    const float threshold = mThreshold.load();
    const float reduction = mReduction.load();
    const float attack = mAttackFactor.load();
    const float release = mReleaseFactor.load();
    const float limitLow = mLimitLow.load();
    const float limitHigh = mLimitHigh.load();
    const float rumble = mRumbleFrequency.load();
    const float lowPass = mLowPassFrequency.load();

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        auto& compressor = *channel.compressor;

        if ((settings & thresholdSetting) != 0)
            compressor.setThresholdOffset (threshold);
        if ((settings & reductionSetting) != 0)
            compressor.setGainCurve (reduction, kGainCurveSlope);
        if ((settings & smoothingSetting) != 0)
        {
            compressor.setAttack (attack, 1.5f * attack);
            compressor.setRelease (release, 2.0f * release);
        }
        if ((settings & limitsSetting) != 0)
            compressor.setFrequencyRange (limitLow, limitHigh);
        if ((settings & trackSetting) != 0)
        {
            compressor.setTrack (mTrack.load());
            compressor.setTrackFloor (mTrackFloor.load());
            compressor.setTrackRange (mTrackRange.load());
        }
        if ((settings & levelTimesSetting) != 0)
        {
            compressor.setLevelAttack (mLevelAttack.load());
            compressor.setLevelRelease (mLevelRelease.load());
        }
        if ((settings & rumbleSetting) != 0)
            channel.rumble->setParameters (kRumbleType, rumble, kRumbleQ, 0.0f);
        if ((settings & lowPassSetting) != 0)
            channel.lowPass->setParameters (kLowPassType, lowPass, kLowPassQ, 0.0f);
    }

    if ((settings & humSetting) != 0)
    {
        const auto humMode = (HumMode) mHumMode.load();
        if (humMode == HumMode::fiftyHz)
            setHumFilters (50.0f);
        else if (humMode == HumMode::sixtyHz)
            setHumFilters (60.0f);
    }
}

void ZNoiseReductionBay::setHumFilters (float baseFrequency) noexcept
{
    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        for (int k = 0; k < kNumHumFilters; ++k)
            channel.hum[(size_t) k]->setParameters (kPeakingType, (float) (k + 1) * baseFrequency, kHumQ, -48.0f + 2.0f * (float) k);
    }
}

void ZNoiseReductionBay::setDefaults()
{
    mThreshold = 3.0f;
    mReduction = 15.0f;
    mAttackFactor = 0.15f;
    mReleaseFactor = 0.1f;
    mPreserveVoice = 0;
    mRemoveRumble = 0;
    mHumMode = 2;
    mRequestedMode = 0;
    mLearning = 0;
    mStopLearning = false;
    markChanged (thresholdSetting | reductionSetting | smoothingSetting | humSetting);

    fillProfiles (kProfileFloorDb);
    pushProfiles();
}

//==============================================================================
void ZNoiseReductionBay::process (ZBuffer** in, ZBuffer** out, int numSamples) noexcept
{
    if (in == nullptr || out == nullptr)
        return;

    int n = std::max (numSamples, 0);
    for (int c = 0; c < mNumChannels; ++c)
        n = std::min ({ n, (int) in[c]->getLength(), (int) out[c]->getLength() });

    if (! mPrepared)
    {
        // Nothing to delay with yet, and latency() says 0.
        for (int c = 0; c < mNumChannels; ++c)
            if (in[c] != out[c])
                out[c]->copyFrom (*in[c], { 0, n }, 0);
        return;
    }

    // Whatever the message thread changed is taken over here, at a block
    // boundary, and applies to the whole block.
    takeRequests();

    // The learning flag is read before the start request that goes with it.
    const bool learning = mLearning.load (std::memory_order_acquire) == 1;
    if (mStartLearning.load (std::memory_order_relaxed) && mStartLearning.exchange (false, std::memory_order_acq_rel))
    {
        for (int c = 0; c < mNumChannels; ++c)
            mChannels[(size_t) c].learnAccumulator->clear();
        mLearnedFrames = 0;
    }

    // setMode admits 0..2 only; anything else is left where it was.
    const int requested = mRequestedMode.load();
    if (requested >= 0 && requested <= 2)
        mActiveMode = requested;
    const int mode = mActiveMode;

    mBlock.humMode = mHumMode.load();
    mBlock.harmonics = std::clamp (mHumHarmonics.load(), 0, kNumHumFilters);
    mBlock.preserveVoice = mPreserveVoice.load() == 1;
    mBlock.removeRumble = mRemoveRumble.load() == 1;

    mDisplayPower->clear();
    bool framesSeen = false;
    bool learnedFrames = false;

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        const bool lastChannel = c == mNumChannels - 1;

        if (allGuarded (in[c]->getData(), n))
        {
            channel.input->push (*in[c], (unsigned) n);
        }
        else
        {
            // A NaN or infinity would stay in the filters and the framer for
            // good, and a huge value would overflow the power spectra.
            const int chunk = (int) mScratch->getLength();
            for (int start = 0; start < n; start += chunk)
            {
                const int count = std::min (chunk, n - start);
                guardCopy (in[c]->getData() + start, mScratch->getData(), (size_t) count);
                channel.input->push (*mScratch, (unsigned) count);
            }
        }

        while (channel.input->pull (*mFrame))
        {
            if (learning)
            {
                learnFrame (channel, lastChannel);
                learnedFrames = true;
                framesSeen = true;
            }
            else
            {
                runFrame (channel, mode, framesSeen);
            }
        }

        // The primed converters never run dry at the block size; should a call
        // still find too little, silence goes out rather than whatever the
        // buffer held from an earlier stage, which would be out of time.
        if (! channel.output->pull (*out[c], (unsigned) n))
            out[c]->clear ({ 0, n });
    }

    if (framesSeen)
    {
        mGain->scale (*mDisplayPower, mWindowGain * mWindowGain);
        mGain->powerToDecibels (*mDisplayPower, kDisplayFloorDb);
        mSpectrum->copy (*mDisplayPower);
    }

    // A stop request ends the pass only after every channel has had this
    // call's frames: ending it in the middle would restart the channels'
    // streams at different points and leave them out of step.
    if (learnedFrames && mStopLearning.load() && mLearning.load() == 1 && mLearnedFrames > 0)
        finishLearning();
}

void ZNoiseReductionBay::runHumFilters (Channel& channel) noexcept
{
    ZParametricFilter::processChain (channel.humChain.data(), mBlock.harmonics, *mFrame);
}

void ZNoiseReductionBay::runVoiceAndRumbleFilters (Channel& channel) noexcept
{
    ZParametricFilter* chain[2];
    int count = 0;
    if (mBlock.preserveVoice)
        chain[count++] = channel.lowPass.get();
    if (mBlock.removeRumble)
        chain[count++] = channel.rumble.get();
    ZParametricFilter::processChain (chain, count, *mFrame);
}

void ZNoiseReductionBay::addDisplayPower() noexcept
{
    mGain->multiplyAdd (*mReal, *mReal, *mDisplayPower);
    mGain->multiplyAdd (*mImag, *mImag, *mDisplayPower);
}

void ZNoiseReductionBay::learnFrame (Channel& channel, bool lastChannel) noexcept
{
    channel.output->push (*mFrame);

    if (mBlock.humMode != (int) HumMode::off)
        runHumFilters (channel);

    mWindow->apply (*mFrame);
    mForward->transformReal (*mFrame, *mReal, *mImag);
    mGain->multiply (*mReal, *mReal);
    mGain->multiplyAdd (*mImag, *mImag, *mReal);
    mGain->scaleAdd (*mReal, *channel.learnAccumulator, 1.0f);

    if (lastChannel)
        ++mLearnedFrames;
}

void ZNoiseReductionBay::runFrame (Channel& channel, int mode, bool& framesSeen) noexcept
{
    ZBuffer** segments = nullptr;

    if (mode == (int) Mode::reduce || mode == (int) Mode::noiseOnly)
    {
        const bool reduce = mode == (int) Mode::reduce;

        if (reduce && mBlock.humMode != (int) HumMode::off)
            runHumFilters (channel);

        channel.framer->analyze (*mFrame, segments);

        for (int k = 0; k < kOverlap; ++k)
        {
            mForward->transformReal (*segments[k], *mReal, *mImag);

            // Every channel's first segment, as in the other modes, so the
            // display does not jump when the mode changes.
            if (k == 0)
            {
                addDisplayPower();
                framesSeen = true;
            }

            if (reduce)
                channel.compressor->process (*mReal, *mImag, *mReal, *mImag);
            else
                channel.compressor->processNoiseOnly (*mReal, *mImag, *mReal, *mImag);

            mInverse->transformReal (*segments[k], *mReal, *mImag);
        }

        channel.framer->synthesize (segments, *mFrame);

        if (reduce)
            runVoiceAndRumbleFilters (channel);
    }
    else
    {
        if (mBlock.humMode != (int) HumMode::off)
            runHumFilters (channel);

        channel.framer->analyze (*mFrame, segments);
        mForward->transformReal (*segments[0], *mReal, *mImag);
        channel.framer->synthesize (segments, *mFrame);
        runVoiceAndRumbleFilters (channel);

        addDisplayPower();
        framesSeen = true;
    }

    channel.output->push (*mFrame);
}

void ZNoiseReductionBay::finishLearning() noexcept
{
    mStopLearning = false;
    finalizeLearning();
    mLearnedFrames = 0;
    resetSignalState();
    mRequestedMode = (int) Mode::reduce;

    // Run from the message thread itself (an analysis), the pass ends at once.
    if (mRelay.onMessageThread())
    {
        mLearning = 0;
        adoptLearnedProfiles();
        sendActionMessage (mModeText);
        return;
    }

    // The messages are raised before the pass is seen to end: the relay's
    // poll stops only once it reads the end, so it cannot miss them, and this
    // thread never has to post through JUCE's locked queue.
    mRelay.post (profileLearnedMessage);
    mRelay.post (modeMessage);
    mLearning = 0;
}

void ZNoiseReductionBay::finalizeLearning() noexcept
{
    const float scale = mLearnedFrames > 0 ? 1.0f / (float) mLearnedFrames : 1.0f;
    float* learned = mLearnedFeed.beginWrite();

    for (int c = 0; c < mNumChannels; ++c)
    {
        auto& channel = mChannels[(size_t) c];
        auto& accumulator = *channel.learnAccumulator;
        mGain->scale (accumulator, scale);
        mGain->powerToDecibels (accumulator, kDisplayFloorDb);
        channel.compressor->setThresholds (accumulator);
        std::copy_n (accumulator.getData(), kNumBins, learned + (size_t) c * kNumBins);
    }

    mLearnedFeed.publish();
}

//==============================================================================
void ZNoiseReductionBay::adoptLearnedProfiles()
{
    const float* learned = mLearnedFeed.collect();
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* profile = mChannels[(size_t) c].profile.get())
            std::copy_n (learned + (size_t) c * kNumBins, std::min (profile->getLength(), kNumBins), profile->getData());

    // The compressors hold the learned profile already; handing it over again
    // keeps them equal to these profiles should a preset have been pushed
    // between the end of the pass and now.
    pushProfiles();
}

void ZNoiseReductionBay::fillProfiles (float db)
{
    for (int c = 0; c < mNumChannels; ++c)
        if (auto* profile = mChannels[(size_t) c].profile.get())
            std::fill_n (profile->getData(), profile->getLength(), db);
}

void ZNoiseReductionBay::clearNoiseProfile()
{
    fillProfiles (kProfileFloorDb);
    pushProfiles();
}

void ZNoiseReductionBay::pushProfiles()
{
    // Before the first prepare there are no profiles to hand over.
    if (mChannels[0].profile != nullptr)
    {
        float* frame = mProfileFeed.beginWrite();
        for (int c = 0; c < mNumChannels; ++c)
        {
            const auto& profile = *mChannels[(size_t) c].profile;
            float* slot = frame + (size_t) c * kNumBins;
            const unsigned length = std::min (profile.getLength(), kNumBins);
            std::copy_n (profile.getData(), length, slot);
            std::fill (slot + length, slot + kNumBins, kProfileFloorDb);
        }
        mProfileFeed.publish();
    }

    updateProfileDisplay();
    broadcast (noiseProfileMessage);
}

void ZNoiseReductionBay::updateProfileDisplay()
{
    if (mProfileWork == nullptr || mNoiseProfile == nullptr)
        return;

    // The channels' mean profile as the compressors apply it: with the tuner
    // offset and the window's gain, which the live spectrum carries as well.
    const float offset = 20.0f * std::log10 (mWindowGain) + mThreshold.load();
    float* work = mProfileWork->getData();
    std::fill_n (work, kNumBins, 0.0f);

    for (int c = 0; c < mNumChannels; ++c)
    {
        const auto& profile = *mChannels[(size_t) c].profile;
        const unsigned length = std::min (profile.getLength(), kNumBins);
        for (unsigned i = 0; i < kNumBins; ++i)
            work[i] += i < length ? profile[i] : kProfileFloorDb;
    }

    const float scale = 1.0f / (float) mNumChannels;
    for (unsigned i = 0; i < kNumBins; ++i)
        work[i] = work[i] * scale + offset;

    mNoiseProfile->copy (*mProfileWork);
    mSpectrum->sendActionMessage (mProfileUpdateText);
}

ZBuffer* ZNoiseReductionBay::getChannelProfile (int c) const noexcept
{
    return juce::isPositiveAndBelow (c, mNumChannels) ? mChannels[(size_t) c].profile.get() : nullptr;
}

const ZSpectralCompressor* ZNoiseReductionBay::getCompressor (int c) const noexcept
{
    return juce::isPositiveAndBelow (c, mNumChannels) ? mChannels[(size_t) c].compressor.get() : nullptr;
}

//==============================================================================
void ZNoiseReductionBay::setThreshold (float db)
{
    if (! std::isfinite (db))
        return;
    mThreshold = db;
    markChanged (thresholdSetting);
    updateProfileDisplay();
}

float ZNoiseReductionBay::getThreshold() const { return mThreshold; }

void ZNoiseReductionBay::setReduction (float db)
{
    mReduction = db;
    markChanged (reductionSetting);
}

float ZNoiseReductionBay::getReduction() const { return mReduction; }

void ZNoiseReductionBay::setPreserveVoice (bool on) { mPreserveVoice = on ? 1 : 0; }
bool ZNoiseReductionBay::getPreserveVoice() const { return mPreserveVoice.load() != 0; }
void ZNoiseReductionBay::setRemoveRumble (bool on) { mRemoveRumble = on ? 1 : 0; }
bool ZNoiseReductionBay::getRemoveRumble() const { return mRemoveRumble.load() != 0; }

void ZNoiseReductionBay::setRumbleFrequency (float hz)
{
    mRumbleFrequency = hz;
    markChanged (rumbleSetting);
}

float ZNoiseReductionBay::getRumbleFrequency() const { return mRumbleFrequency; }

void ZNoiseReductionBay::setLowPassFrequency (float hz)
{
    mLowPassFrequency = hz;
    markChanged (lowPassSetting);
}

float ZNoiseReductionBay::getLowPassFrequency() const { return mLowPassFrequency; }

void ZNoiseReductionBay::setBroadbandLimitLow (float hz)
{
    mLimitLow = hz;
    markChanged (limitsSetting);
}

void ZNoiseReductionBay::setBroadbandLimitHigh (float hz)
{
    mLimitHigh = hz;
    markChanged (limitsSetting);
}

float ZNoiseReductionBay::getBroadbandLimitLow() const { return mLimitLow; }
float ZNoiseReductionBay::getBroadbandLimitHigh() const { return mLimitHigh; }

void ZNoiseReductionBay::setHumMode (int mode)
{
    mHumMode = mode;
    markChanged (humSetting);
}

int ZNoiseReductionBay::getHumMode() const { return mHumMode; }

void ZNoiseReductionBay::setNumHumHarmonics (int count)
{
    // There are 14 filters per channel; a larger count would run past them.
    mHumHarmonics = std::clamp (count, 0, kNumHumFilters);
    markChanged (humSetting);
}

int ZNoiseReductionBay::getNumHumHarmonics() const { return mHumHarmonics; }

void ZNoiseReductionBay::setTrack (bool on)
{
    mTrack = on;
    markChanged (trackSetting);
}

bool ZNoiseReductionBay::getTrack() const { return mTrack; }

void ZNoiseReductionBay::setTrackFloor (float db)
{
    mTrackFloor = db;
    markChanged (trackSetting);
}

float ZNoiseReductionBay::getTrackFloor() const { return mTrackFloor; }

void ZNoiseReductionBay::setTrackRange (float db)
{
    mTrackRange = db;
    markChanged (trackSetting);
}

void ZNoiseReductionBay::setLevelAttack (float seconds)
{
    mLevelAttack = seconds;
    markChanged (levelTimesSetting);
}

void ZNoiseReductionBay::setLevelRelease (float seconds)
{
    mLevelRelease = seconds;
    markChanged (levelTimesSetting);
}

void ZNoiseReductionBay::setMode (int mode)
{
    if (mode < (int) Mode::off || mode > (int) Mode::noiseOnly)
        QJ_THROW ("Unsupported Noise Reduction Mode", kSourceFile);
    mRequestedMode = mode;
}

int ZNoiseReductionBay::getMode() const { return mRequestedMode; }

int ZNoiseReductionBay::isLearning() const { return mLearning; }

void ZNoiseReductionBay::startLearning()
{
    // The processing thread empties the accumulators when it takes the
    // request over. A stop request left over from before this pass would
    // otherwise end it at its first frame.
    mStopLearning = false;
    mStartLearning.store (true, std::memory_order_release);
    mLearning.store (1, std::memory_order_release);
    mRequestedMode = (int) Mode::off;
    mRelay.watch();
}

void ZNoiseReductionBay::stopLearning()
{
    mStopLearning = true;
}

} // namespace quarn
