#pragma once

#include <cstdint>
#include <vector>

namespace quarn
{

// Redraws a clipped run from a linear predictor learned on the unclipped audio
// around it: the run takes the values that make the prediction error over every
// equation touching it least (least-squares autoregressive interpolation), and
// stays at or beyond the clip level, where the true samples were.
//
// The smoothest curve through the run's edges is right for a tone but not for
// speech or music clipped deep into the waveform: their edges are steep with
// formant and overtone detail that does not last across the run, and a curve
// that carries those slopes on draws arcs several times too tall. A predictor
// knows the resonances and follows them.
//
// The predictor comes from the covariance method over the stretches where the
// order + 1 samples of an equation all lie strictly between the clip levels.
// All storage is sized by setCapacity; learn and fill never allocate.
class ZPredictiveFill
{
public:
    // order: predictor length; longestRun: the longest run fill will take;
    // longestWindow: the most samples learn will read (setup only).
    void setCapacity (int order, std::int64_t longestRun, std::int64_t longestWindow);
    int getOrder() const noexcept { return mOrder; }

    // Learns from x[0 .. n). Returns false, and holds no model, when there are
    // too few unclipped stretches or they carry no signal.
    bool learn (const float* x, std::int64_t n, float negativeLevel, float positiveLevel) noexcept;
    bool hasModel() const noexcept { return mHasModel; }
    void forget() noexcept { mHasModel = false; }

    // Redraws x[s .. e]; x[s - order] and x[e + order] must be readable and the
    // samples outside the run are kept. level is the clip level the run lies at
    // or beyond (negative for a negative run). Returns false, x untouched, when
    // there is no model, the run is too long or the solution is not usable.
    bool fill (float* x, std::int64_t s, std::int64_t e, float level) noexcept;

private:
    bool solvePredictor() noexcept;
    bool extendFreeFactor (std::int64_t n) noexcept;
    bool solveBanded (std::int64_t n, float level, std::int64_t firstHeld, std::int64_t lastHeld) noexcept;

    int mOrder = 0;
    bool mHasModel = false;
    std::int64_t mWindowCapacity = 0;
    std::vector<double> mCoefficients; // a[0] = 1, a[1 .. p]
    std::vector<double> mBand; // autocorrelation of the coefficients, lags 0 .. p
    std::vector<double> mCovariance; // (p + 1)^2, then the Cholesky factor of its lower-right p x p block
    std::vector<std::int64_t> mIntervals; // first and last equation index of each unclipped stretch
    std::vector<double> mResidual; // prediction error with the run zeroed
    std::vector<double> mRhs, mSolution, mFactor; // banded system, factor n x (p + 1)
    // Factor of the system with nothing held. It depends only on the model, and
    // its first n rows are the factor of every run of n samples, so it is
    // grown to the longest run seen since learn rather than redone per run.
    std::vector<double> mFreeFactor;
    std::int64_t mFreeRows = 0; // rows of mFreeFactor done
    std::int64_t mFreeLimit = 0; // rows it can have: a row that failed ends it
    std::vector<unsigned char> mFixed; // run samples held at the clip level
};

} // namespace quarn
