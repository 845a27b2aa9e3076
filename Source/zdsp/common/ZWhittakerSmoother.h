#pragma once

#include <vector>

namespace quarn
{

// Whittaker smoother (second-order penalised least squares): for data y,
// weights w and smoothing lambda it solves (W + lambda D'D) z = W y, D being the
// second-difference operator, by banded LDL' elimination, and writes z over y.
// Samples of weight 0 are thus filled by the smoothest curve that joins the
// weighted samples around them. The elimination runs in double precision: over
// regions of a few hundred unweighted samples the system is too ill-conditioned
// for single precision, which then overshoots by whole multiples of the signal.
// Work arrays are sized up front so that smoothing never allocates.
class ZWhittakerSmoother
{
public:
    explicit ZWhittakerSmoother (unsigned capacity = 0);

    // Allocates room for regions of up to capacity samples (setup only).
    void setCapacity (unsigned capacity);
    unsigned getCapacity() const noexcept { return (unsigned) mDiagonal.size(); }

    // Smooths y[0 .. n) in place. A region longer than the capacity, or empty,
    // is left alone and reported with false.
    bool smooth (float* y, const float* weights, unsigned n, float lambda) noexcept;

private:
    std::vector<double> mDiagonal, mFirst, mSecond, mSolution;

    // Row i of the elimination depends only on lambda and weights[0 .. i] as
    // long as the region goes on two samples past it. Callers smooth many
    // regions of the same make-up (gaps of different length behind the same
    // margin), so the rows of the furthest-reaching region are kept and a
    // region whose weights begin alike takes those rows instead of redoing them.
    std::vector<double> mKeptDiagonal, mKeptFirst, mKeptSecond;
    std::vector<float> mKeptWeights;
    unsigned mKeptRows = 0;
    float mKeptLambda = 0.0f;
};

} // namespace quarn
