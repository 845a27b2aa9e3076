#include "ZNoiseAnalyzer.h"
#include "ZSampleGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace quarn
{

namespace
{
constexpr unsigned kFrameSize = 1024;
constexpr unsigned kNumBins = kFrameSize / 2 + 1;
constexpr int kBandEdges[ZNoiseAnalyzer::kNumBands][2] = { { 0, 15 }, { 16, 231 }, { 232, 511 } };
constexpr std::int64_t kMaxBlocks = std::int64_t (1) << 26;
// A band energy at or below this counts as nothing at all, as a window's mean does.
constexpr double kSilentEnergy = 1e-9;
} // namespace

ZNoiseAnalyzer::ZNoiseAnalyzer()
{
    setName ("ZNoiseAnalyzer");

    mGain.reset (ZGain::create (false));
    mTransform.reset (ZFourierTransform::create (10, ZFourierTransform::Direction::forward, ZFourierTransform::Kind::real));
    mWindow.reset (ZSignalWindow::create (kFrameSize, 3, 0.0f));
    mFFTBuffer = std::make_unique<ZBuffer> (kFrameSize, "mFFTBuffer");
    mWindowedBuffer = std::make_unique<ZBuffer> (kFrameSize, "mWindowedBuffer");
    mRealFFTBuffer = std::make_unique<ZBuffer> (kNumBins, "mRealFFTBuffer");
    mImagFFTBuffer = std::make_unique<ZBuffer> (kNumBins, "mImagFFTBuffer");

    for (int b = 0; b < kNumBands; ++b)
    {
        mBands[(size_t) b].firstBin = kBandEdges[b][0];
        mBands[(size_t) b].lastBin = kBandEdges[b][1];
    }
}

ZNoiseAnalyzer::~ZNoiseAnalyzer() = default;

void ZNoiseAnalyzer::setSensitivity (float v)
{
    if (std::isnan (v))
        return;

    mSensitivity = std::clamp (v, 0.0f, 1.0f);
    if (v > 1.0f)
        mRatio = 2.0f;
    else if (v < 0.0f)
        mRatio = 1.1f;
    else
        mRatio = 1.1f + 0.9f * v;
}

void ZNoiseAnalyzer::setRatio (float r)
{
    if (std::isnan (r))
        return;

    mRatio = std::clamp (r, 1.1f, 2.0f);
    mSensitivity = (mRatio - 1.1f) / 0.9f;
}

void ZNoiseAnalyzer::prepare (std::int64_t totalSamples)
{
    mNoiseStart = 0;
    mNoiseLength = 0;
    mConfidence = 0.0f;
    mMinimumWindow = mRegionStart = mRegionEnd = 0;
    mCapacity = 0;
    mBlocksAnalysed = 0;
    mWarmUp = 0;
    mLastWindow = 0;
    mFFTBuffer->clear();

    for (auto& band : mBands)
    {
        band.ring.fill (0.0);
        band.total = 0.0;
        std::vector<float>().swap (band.steadiness);
    }
    std::vector<float>().swap (mScores);
    std::vector<bool>().swap (mTouchesSilence);
    mSilentRing.fill (false);

    const std::int64_t capacity = std::max<std::int64_t> (totalSamples, 0) / kBlockSize + 1;

    // A length no table should hold (a damaged file's header; the limit is a
    // day of 192 kHz audio, about 1 GB of tables) analyses nothing rather than
    // failing.
    if (capacity > kMaxBlocks)
        return;

    try
    {
        for (auto& band : mBands)
            band.steadiness.assign ((size_t) capacity, 0.0f);
        mScores.assign ((size_t) capacity, 0.0f);
        mTouchesSilence.assign ((size_t) capacity, false);
        mCapacity = capacity;
    }
    catch (const std::bad_alloc&)
    {
    }
    catch (const std::length_error&)
    {
    }

    if (mCapacity == 0)
    {
        for (auto& band : mBands)
            std::vector<float>().swap (band.steadiness);
        std::vector<float>().swap (mScores);
        std::vector<bool>().swap (mTouchesSilence);
    }
}

void ZNoiseAnalyzer::analyzeBlock (const float* samples, int numSamples)
{
    if (mBlocksAnalysed >= mCapacity)
        return;

    float* frame = mFFTBuffer->getData();
    std::memmove (frame, frame + kBlockSize, sizeof (float) * (kFrameSize - kBlockSize));

    float* newest = frame + (kFrameSize - kBlockSize);
    const int count = samples != nullptr ? std::clamp (numSamples, 0, kBlockSize) : 0;
    for (int i = 0; i < count; ++i)
        newest[i] = guardSample (samples[i]);
    std::fill (newest + count, newest + kBlockSize, 0.0f);

    if (mWarmUp < kWarmUpBlocks)
    {
        ++mWarmUp;
        return;
    }

    mWindow->applyTo (*mFFTBuffer, *mWindowedBuffer);
    mTransform->transformReal (*mWindowedBuffer, *mRealFFTBuffer, *mImagFFTBuffer);
    mGain->scale (*mRealFFTBuffer, (float) kFrameSize);
    mGain->scale (*mImagFFTBuffer, (float) kFrameSize);
    mGain->multiply (*mRealFFTBuffer, *mRealFFTBuffer);
    mGain->multiplyAdd (*mImagFFTBuffer, *mImagFFTBuffer, *mRealFFTBuffer);

    const float* power = mRealFFTBuffer->getData();
    const std::int64_t i = mBlocksAnalysed;
    const size_t slot = (size_t) (i % kWindowBlocks);

    bool silent = true;
    for (auto& band : mBands)
    {
        double energy = 0.0;
        for (int bin = band.firstBin; bin <= band.lastBin; ++bin)
            energy += power[bin];

        band.ring[slot] = energy;
        band.total += energy;
        silent = silent && energy <= kSilentEnergy;
    }
    mSilentRing[slot] = silent;

    if (i >= kWindowBlocks - 1)
    {
        const std::int64_t window = i - (kWindowBlocks - 1);
        mLastWindow = window;

        // The statistics are taken afresh from the 50 energies in the ring:
        // sums carried over a whole file and updated by subtraction keep the
        // rounding of every loud passage they have seen, which swamps the
        // variance of a quiet noise stretch that follows.
        for (auto& band : mBands)
        {
            double sum = 0.0;
            for (double e : band.ring)
                sum += e;
            const double mean = sum / kWindowBlocks;

            double steadiness = 1.0;
            if (mean > kSilentEnergy)
            {
                double squares = 0.0;
                for (double e : band.ring)
                    squares += (e - mean) * (e - mean);
                steadiness = std::sqrt ((squares / kWindowBlocks) / mean);
            }

            band.steadiness[(size_t) window] = (float) steadiness;
        }

        mTouchesSilence[(size_t) window] = std::find (mSilentRing.begin(), mSilentRing.end(), true) != mSilentRing.end();
    }

    ++mBlocksAnalysed;
}

void ZNoiseAnalyzer::finishAnalysis()
{
    const std::int64_t numWindows = mLastWindow + 1;
    if (mBlocksAnalysed < kWindowBlocks || numWindows < 2)
        return;

    double factors[kNumBands];
    for (int b = 0; b < kNumBands; ++b)
    {
        const double mean = mBands[(size_t) b].total / (double) mBlocksAnalysed;
        factors[b] = mean > 0.0 ? 1.0 / std::sqrt (mean) : 1.0;
    }

    float largest = -1.0f;
    for (std::int64_t t = 0; t < numWindows; ++t)
    {
        double score = 0.0;
        for (int b = 0; b < kNumBands; ++b)
            score += factors[b] * mBands[(size_t) b].steadiness[(size_t) t];
        mScores[(size_t) t] = (float) (score / kNumBands);
        largest = std::max (largest, mScores[(size_t) t]);
    }

    std::int64_t minimumWindow = 0;
    float minimum = largest;
    double sum = 0.0;
    for (std::int64_t t = 0; t < numWindows; ++t)
    {
        float& score = mScores[(size_t) t];
        // Windows of (or reaching into) digital silence score like the most
        // unsteady one: a fade into a gap or the gap itself holds almost no
        // energy, and the steadiness measure would otherwise favour it.
        if (score < 0.001f || mTouchesSilence[(size_t) t])
            score = largest;
        if (score <= minimum)
        {
            minimum = score;
            minimumWindow = t;
        }
        sum += score;
    }
    const double average = sum / (double) numWindows;

    const float limit = mRatio * minimum;
    std::int64_t start = minimumWindow;
    while (start > 0 && mScores[(size_t) start] < limit)
        --start;
    std::int64_t end = minimumWindow;
    while (end < numWindows - 1 && mScores[(size_t) end] < limit)
        ++end;

    double regionSum = 0.0;
    for (std::int64_t t = start; t <= end; ++t)
        regionSum += mScores[(size_t) t];
    const double regionMean = regionSum / (double) (end - start + 1);

    mMinimumWindow = minimumWindow;
    mRegionStart = start;
    mRegionEnd = end;
    mConfidence = (average > 0.0 && std::isfinite (average)) ? (float) (1.0 - regionMean / average) : 0.0f;
    mNoiseStart = start * kBlockSize;
    mNoiseLength = (end + kWindowBlocks - 1 - start) * kBlockSize;
}

} // namespace quarn
