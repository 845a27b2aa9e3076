#pragma once

#include "ZDSPObject.h"
#include "ZBuffer.h"
#include "ZFourierTransform.h"
#include "ZGain.h"
#include "ZSignalWindow.h"

#include <memory>

namespace quarn
{

// A multiband compressor of up to 8 bands whose band gains are applied by one
// linear-phase FIR filter, redesigned every block from the band gains and run
// by fast convolution (overlap-add). The level of each band is measured from a
// windowed spectrum of the block; the gain is linked across channels (the
// louder channel's level decides). The output is the input delayed by exactly
// one block of B samples.
//
// The per-band settings are public: the owner writes them directly, calls
// updateBands after changing a crossover and setAttack / setRelease so the
// envelope coefficients follow the times. process reads them without a lock,
// so only the thread that runs process may write them, between blocks, or
// any thread while process does not run (construction, setBlockSizeAndRate,
// reset): a settings thread hands its changes to the processing thread
// instead of writing here.
class ZLinPhMultibandCompressor : protected ZDSPObject
{
public:
    static constexpr int kMaxChannels = 2;
    static constexpr int kMaxBands = 8;
    static constexpr int kMaxCrossovers = kMaxBands - 1;
    static constexpr int kTableSize = 512;

    // Channels are held to 1..2 and bands to 1..8. A block size that is not a
    // power of two is raised to the next one (the transforms need it).
    ZLinPhMultibandCompressor (int numChannels, int numBands, int blockSize, float sampleRate);
    ~ZLinPhMultibandCompressor() override;

    int getLatency() const noexcept { return (int) mLatency; }
    int getNumChannels() const noexcept { return (int) mNumChannels; }
    int getNumBands() const noexcept { return mNumBands; }
    int getBlockSize() const noexcept { return (int) mBlockSize; }
    float getSampleRate() const noexcept { return mSampleRate; }

    // Rebuilds transforms, window, buffers and transition masks for the new
    // size and rate, then reset and updateBands. The per-band settings keep
    // their values; the envelope coefficients are recomputed from the times.
    // A rate that is not a positive number keeps the current one.
    bool setBlockSizeAndRate (int blockSize, float sampleRate);

    // Silences the convolution tails and puts every envelope at 0 dB.
    void reset() noexcept;

    // Silences only the convolution tails, so that audio from before a pause
    // in processing is not released afterwards.
    void clearAccumulators() noexcept;

    // Recomputes the band bins and transition masks from the crossovers, in
    // place: it allocates nothing, so the processing thread may call it.
    void updateBands() noexcept;

    // numSamples samples from each of the inputs into the outputs (arrays of
    // as many buffers as there are channels). Inputs and outputs may be the
    // same buffers. Longer calls than one block are taken in blocks.
    bool process (ZBuffer* const* inputs, ZBuffer* const* outputs, int numSamples) noexcept;

    // Time in seconds; the coefficient is 0.33^(B / (rate x time)).
    void setAttack (int band, float seconds) noexcept;
    void setRelease (int band, float seconds) noexcept;

    // Read-outs of the last block and of the band split.
    float getBandGainDb (int band) const noexcept { return bandGainDb[band]; }
    float getBandLevelDb (int band) const noexcept { return bandLevelDb[band]; }
    float getEnvelopeDb (int channel, int band) const noexcept { return envelopeDb[channel][band]; }
    unsigned getFirstBin (int band) const noexcept { return firstBin[band]; }
    unsigned getLastBin (int band) const noexcept { return lastBin[band]; }
    // Mask values of the bins strictly between band k and band k + 1.
    const ZBuffer& getTransitionMask (int crossover) const noexcept { return *mResources->transitionMask[crossover]; }
    // The crossover as used for the band split, after holding it below half the rate.
    float getEffectiveCrossover (int crossover) const noexcept { return effectiveCrossover[crossover]; }

    // Per-band settings. Crossover k separates band k from band k + 1.
    float outputGain = 1.0f;
    float threshold[kMaxBands];          // dB
    float ratio[kMaxBands];
    float range[kMaxBands];              // dB, the largest gain change
    float makeup[kMaxBands];             // dB
    float attack[kMaxBands];             // s
    float release[kMaxBands];            // s
    float attackCoefficient[kMaxBands];
    float releaseCoefficient[kMaxBands];
    float knee[kMaxBands];               // dB, half-width of the soft region
    float crossover[kMaxCrossovers];     // Hz
    bool solo[kMaxBands];
    bool bypass[kMaxBands];

private:
    struct ChannelState
    {
        std::unique_ptr<ZBuffer> inputRe, inputIm;       // 2B + 1
        std::unique_ptr<ZBuffer> analysisRe, analysisIm; // B + 1
        std::unique_ptr<ZBuffer> power;                  // B + 1
        std::unique_ptr<ZBuffer> accumulator;            // 4B
    };

    // Everything that depends on the block size, built as a whole so that a
    // failed rebuild leaves the previous set in place.
    struct Resources
    {
        std::unique_ptr<ZGain> gain;
        std::unique_ptr<ZFourierTransform> forwardLong, inverseLong;   // 4B
        std::unique_ptr<ZFourierTransform> inverseShort, forwardShort; // N = 2B
        std::unique_ptr<ZSignalWindow> window;                         // B, Blackman
        std::unique_ptr<ZBuffer> work;                                 // 4B
        std::unique_ptr<ZBuffer> filterRe, filterIm;                   // 2B + 1
        std::unique_ptr<ZBuffer> responseRe, responseIm;               // B + 1
        std::unique_ptr<ZBuffer> transitionMask[kMaxCrossovers];       // 2B + 1
        ChannelState channel[kMaxChannels];
    };

    static std::unique_ptr<Resources> buildResources (unsigned numChannels, unsigned blockSize);
    void adoptResources (std::unique_ptr<Resources> resources, unsigned blockSize, float sampleRate);
    void updateCoefficients (int band) noexcept;
    void processBlock (ZBuffer* const* inputs, ZBuffer* const* outputs, unsigned offset, unsigned n) noexcept;
    void computeBandGains() noexcept;
    void designFilter() noexcept;
    unsigned binFor (float frequency) const noexcept;

    unsigned mNumChannels = 1;
    float mSampleRate = 44100.0f;
    unsigned mOrder = 0;        // log2 N
    unsigned mFftSize = 0;      // N = 2B
    unsigned mLongSize = 0;     // 4B
    unsigned mBlockSize = 0;    // B
    unsigned mLatency = 0;      // N / 2 = B
    int mNumBands = 3;
    float binsPerHz = 0.0f;
    float hzPerBin = 0.0f;
    int mNumCrossovers = 2;
    float levelNormalisation = 1.0f;

    float bandGainDb[kMaxBands] = {};
    float bandLevelDb[kMaxBands] = {};
    float envelopeDb[kMaxChannels][kMaxBands] = {};
    unsigned firstBin[kMaxBands] = {};
    unsigned lastBin[kMaxBands] = {};
    float effectiveCrossover[kMaxCrossovers] = {};

    float raisedCosine[kTableSize] = {};

    std::unique_ptr<Resources> mResources;
};

} // namespace quarn
