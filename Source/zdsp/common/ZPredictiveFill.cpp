#include "ZPredictiveFill.h"

#include <algorithm>
#include <cmath>

namespace quarn
{

namespace
{
// Fewer equations than this many per coefficient give a predictor that fits
// the few unclipped stretches rather than the sound.
constexpr std::int64_t kEquationsPerCoefficient = 4;

// Added to the covariance diagonal, relative to the signal energy: it keeps
// the predictor's resonances off the unit circle, so that a long run is not
// drawn as a growing or endless oscillation.
constexpr double kRidge = 1.0e-3;

// Solves after which run samples that came out inside the clip level are held
// at it. Nearly all the gain comes with the first solve; the rest are clamped.
constexpr int kPasses = 2;

// Row i of the banded Cholesky factor of the run's normal equations,
// fi[k] = L(i, i - k), from the rows before it (row (j) points at row j's
// factor). A held sample's row and column are the identity's: its factor row
// is [1, 0 ...] and it adds nothing to the rows after it. Returns false when
// the system is not positive definite enough to solve.
template <typename Row>
bool factorRow (const double* band, int p, std::int64_t i, double* fi, const Row& row, const unsigned char* fixed) noexcept
{
    const std::int64_t kmax = std::min<std::int64_t> (i, p);
    if (fixed != nullptr && fixed[i])
    {
        std::fill (fi + 1, fi + kmax + 1, 0.0);
        fi[0] = 1.0;
        return true;
    }

    for (std::int64_t k = kmax; k >= 1; --k)
    {
        const std::int64_t j = i - k;
        if (fixed != nullptr && fixed[j])
        {
            fi[k] = 0.0;
            continue;
        }
        const double* fj = row (j);
        double sum = band[k];
        const std::int64_t lmax = std::min<std::int64_t> (p - k, j);
        for (std::int64_t l = 1; l <= lmax; ++l)
            sum -= fi[k + l] * fj[l];
        fi[k] = sum / fj[0];
    }
    double d = band[0];
    for (std::int64_t k = 1; k <= kmax; ++k)
        d -= fi[k] * fi[k];
    if (! (d > 1.0e-30))
        return false;
    fi[0] = std::sqrt (d);
    return true;
}
} // namespace

void ZPredictiveFill::setCapacity (int order, std::int64_t longestRun, std::int64_t longestWindow)
{
    mOrder = std::max (order, 0);
    mHasModel = false;
    const auto p1 = (std::size_t) mOrder + 1;
    const auto run = (std::size_t) std::max<std::int64_t> (longestRun, 1);
    const auto window = (std::size_t) std::max<std::int64_t> (longestWindow, 1);

    mCoefficients.assign (p1, 0.0);
    mBand.assign (p1, 0.0);
    mCovariance.assign (2 * p1 * p1, 0.0);
    // Stretches of equations are at least one clipped sample apart.
    mIntervals.assign (2 * (window / p1 + 2), 0);
    mResidual.assign (run + p1, 0.0);
    mRhs.assign (run, 0.0);
    mSolution.assign (run, 0.0);
    mFactor.assign (run * p1, 0.0);
    mFixed.assign (run, 0);
    mFreeFactor.assign (run * p1, 0.0);
    mFreeRows = 0;
    mFreeLimit = (std::int64_t) run;
    mWindowCapacity = (std::int64_t) window;
}

bool ZPredictiveFill::learn (const float* x, std::int64_t n, float negativeLevel, float positiveLevel) noexcept
{
    mHasModel = false;
    mFreeRows = 0;
    mFreeLimit = (std::int64_t) mRhs.size();
    const int p = mOrder;
    if (p < 1 || x == nullptr)
        return false;
    n = std::min (n, mWindowCapacity);

    // Equation t predicts x[t] from x[t - 1 .. t - p]; it is usable when all
    // p + 1 samples lie strictly inside the clip levels.
    std::int64_t* iv = mIntervals.data();
    const auto maxIntervals = (std::int64_t) mIntervals.size() / 2;
    std::int64_t k = 0, inside = 0, first = -1, equations = 0;
    for (std::int64_t t = 0; t < n; ++t)
    {
        const float v = x[t];
        inside = (v > negativeLevel && v < positiveLevel) ? inside + 1 : 0;
        if (inside > p)
        {
            if (first < 0)
                first = t;
        }
        else if (first >= 0)
        {
            if (k == maxIntervals)
                break;
            iv[2 * k] = first;
            iv[2 * k + 1] = t - 1;
            equations += t - first;
            ++k;
            first = -1;
        }
    }
    if (first >= 0 && k < maxIntervals)
    {
        iv[2 * k] = first;
        iv[2 * k + 1] = n - 1;
        equations += n - first;
        ++k;
    }
    if (equations < kEquationsPerCoefficient * p)
        return false;

    // R[i][j] = sum over the usable t of x[t - i] x[t - j]. The first row
    // directly; every further entry from the one up-left of it, since shifting
    // both lags by one only moves each stretch's ends.
    const int p1 = p + 1;
    double* r = mCovariance.data();
    // All lags in one sweep; each sum still runs over t in order.
    std::fill (r, r + p1, 0.0);
    for (std::int64_t q = 0; q < k; ++q)
        for (std::int64_t t = iv[2 * q]; t <= iv[2 * q + 1]; ++t)
        {
            const double xt = x[t];
            const float* past = x + t;
            for (int j = 0; j <= p; ++j)
                r[j] += xt * (double) past[-j];
        }
    for (int i = 1; i <= p; ++i)
        for (int j = i; j <= p; ++j)
        {
            double sum = r[(i - 1) * p1 + (j - 1)];
            for (std::int64_t q = 0; q < k; ++q)
            {
                const std::int64_t a = iv[2 * q], b = iv[2 * q + 1] + 1;
                sum += (double) x[a - i] * (double) x[a - j] - (double) x[b - i] * (double) x[b - j];
            }
            r[i * p1 + j] = sum;
        }

    mHasModel = solvePredictor();
    return mHasModel;
}

bool ZPredictiveFill::solvePredictor() noexcept
{
    const int p = mOrder, p1 = p + 1;
    const double* r = mCovariance.data();
    double* c = mCovariance.data() + p1 * p1; // Cholesky factor of R[1..p][1..p], p x p
    const double energy = r[0];
    if (! (energy > 1.0e-20) || ! std::isfinite (energy))
        return false;
    const double ridge = kRidge * energy;

    auto rij = [&] (int i, int j) { return i <= j ? r[i * p1 + j] : r[j * p1 + i]; };
    for (int i = 0; i < p; ++i)
        for (int j = 0; j <= i; ++j)
        {
            double sum = rij (i + 1, j + 1) + (i == j ? ridge : 0.0);
            for (int q = 0; q < j; ++q)
                sum -= c[i * p + q] * c[j * p + q];
            if (i == j)
            {
                if (! (sum > 0.0))
                    return false;
                c[i * p + i] = std::sqrt (sum);
            }
            else
            {
                c[i * p + j] = sum / c[j * p + j];
            }
        }

    // (R[1..p][1..p] + ridge) a[1..p] = -R[1..p][0]
    double* a = mCoefficients.data();
    a[0] = 1.0;
    for (int i = 0; i < p; ++i)
    {
        double sum = -r[i + 1];
        for (int q = 0; q < i; ++q)
            sum -= c[i * p + q] * a[q + 1];
        a[i + 1] = sum / c[i * p + i];
    }
    for (int i = p - 1; i >= 0; --i)
    {
        double sum = a[i + 1];
        for (int q = i + 1; q < p; ++q)
            sum -= c[q * p + i] * a[q + 1];
        a[i + 1] = sum / c[i * p + i];
    }

    for (int d = 0; d <= p; ++d)
    {
        double sum = 0.0;
        for (int q = 0; q + d <= p; ++q)
            sum += a[q] * a[q + d];
        mBand[(size_t) d] = sum;
        if (! std::isfinite (sum))
            return false;
    }
    return true;
}

bool ZPredictiveFill::fill (float* x, std::int64_t s, std::int64_t e, float level) noexcept
{
    const std::int64_t n = e - s + 1;
    if (! mHasModel || x == nullptr || n < 1 || n > (std::int64_t) mRhs.size())
        return false;

    const int p = mOrder;
    const bool positive = level > 0.0f;
    const double* a = mCoefficients.data();

    // Prediction error of every equation that touches the run, with the run
    // itself at zero: the part the run's own samples have to cancel.
    // Only the first and the last p equations reach outside the run; the
    // ones between read nothing but run samples and have no error to cancel.
    double* eps = mResidual.data();
    const auto edgeError = [&] (std::int64_t t)
    {
        double sum = 0.0;
        for (int q = 0; q <= p; ++q)
        {
            const std::int64_t at = t - q; // relative to s
            if (at < 0 || at >= n)
                sum += a[q] * (double) x[s + at];
        }
        return sum;
    };
    const std::int64_t inner = std::min<std::int64_t> (p, n);
    for (std::int64_t t = 0; t < inner; ++t)
        eps[t] = edgeError (t);
    std::fill (eps + inner, eps + n, 0.0);
    for (std::int64_t t = n; t < n + p; ++t)
        eps[t] = edgeError (t);
    for (std::int64_t i = 0; i < n; ++i)
    {
        // The terms on the zeros between the edges add nothing.
        double sum = 0.0;
        const std::int64_t leftEnd = std::clamp<std::int64_t> (p - i, 0, p + 1);
        for (std::int64_t q = 0; q < leftEnd; ++q)
            sum += a[q] * eps[i + q];
        for (std::int64_t q = std::max<std::int64_t> (leftEnd, n - i); q <= p; ++q)
            sum += a[q] * eps[i + q];
        mRhs[(size_t) i] = -sum;
    }

    std::fill (mFixed.begin(), mFixed.begin() + n, (unsigned char) 0);
    const double* z = mSolution.data();
    std::int64_t firstHeld = n, lastHeld = -1;
    for (int pass = 0; pass < kPasses; ++pass)
    {
        if (! solveBanded (n, level, firstHeld, lastHeld))
            return false;

        bool held = false;
        for (std::int64_t i = 0; i < n; ++i)
            if (! mFixed[(size_t) i] && (positive ? z[i] < level : z[i] > level))
            {
                mFixed[(size_t) i] = 1;
                firstHeld = std::min (firstHeld, i);
                lastHeld = std::max (lastHeld, i);
                held = true;
            }
        if (! held)
            break;
    }

    for (std::int64_t i = 0; i < n; ++i)
    {
        const double v = positive ? std::max (z[i], (double) level) : std::min (z[i], (double) level);
        x[s + i] = (float) v;
    }
    return true;
}

bool ZPredictiveFill::extendFreeFactor (std::int64_t n) noexcept
{
    if (n <= mFreeRows)
        return true;
    if (n > mFreeLimit)
        return false;

    const int p = mOrder, p1 = p + 1;
    double* f = mFreeFactor.data();
    const auto row = [f, p1] (std::int64_t j) { return f + j * p1; };
    for (std::int64_t i = mFreeRows; i < n; ++i)
        if (! factorRow (mBand.data(), p, i, f + i * p1, row, nullptr))
        {
            mFreeRows = mFreeLimit = i;
            return false;
        }
    mFreeRows = n;
    return true;
}

// Solves the normal equations of the run, (A'A) z = rhs, where A'A is the
// banded Toeplitz matrix of the coefficients' autocorrelation, with the held
// samples (all within [firstHeld, lastHeld]) taken out as known values, by
// banded Cholesky in double precision. The factor rows before the first held
// sample are those of the free system and are not redone.
bool ZPredictiveFill::solveBanded (std::int64_t n, float level, std::int64_t firstHeld, std::int64_t lastHeld) noexcept
{
    if (! extendFreeFactor (n))
        return false;

    const int p = mOrder, p1 = p + 1;
    const double* band = mBand.data();
    const unsigned char* fixed = mFixed.data();
    const double* freeFactor = mFreeFactor.data();
    double* heldFactor = mFactor.data(); // rows from firstHeld on
    double* z = mSolution.data();
    const double held = (double) level;

    const auto row = [=] (std::int64_t i) -> const double*
    {
        return (i < firstHeld ? freeFactor : heldFactor) + i * p1;
    };
    for (std::int64_t i = firstHeld; i < n; ++i)
        if (! factorRow (band, p, i, heldFactor + i * p1, row, fixed))
            return false;

    // The right-hand side, with the held samples' share moved over to it.
    for (std::int64_t i = 0; i < n; ++i)
    {
        if (fixed[i])
        {
            z[i] = held;
            continue;
        }
        double sum = mRhs[(size_t) i];
        const std::int64_t lo = std::max<std::int64_t> (firstHeld, i - p), hi = std::min<std::int64_t> (lastHeld, i + p);
        for (std::int64_t j = lo; j <= hi; ++j)
            if (fixed[j])
                sum -= band[i > j ? i - j : j - i] * held;
        z[i] = sum;
    }

    for (std::int64_t i = 0; i < n; ++i)
    {
        const double* fi = row (i);
        double sum = z[i];
        const std::int64_t kmax = std::min<std::int64_t> (i, p);
        for (std::int64_t k = 1; k <= kmax; ++k)
            sum -= fi[k] * z[i - k];
        z[i] = sum / fi[0];
    }
    for (std::int64_t i = n - 1; i >= 0; --i)
    {
        double sum = z[i];
        const std::int64_t kmax = std::min<std::int64_t> (n - 1 - i, p);
        for (std::int64_t k = 1; k <= kmax; ++k)
            sum -= row (i + k)[k] * z[i + k];
        z[i] = sum / row (i)[0];
        if (! std::isfinite (z[i]))
            return false;
    }
    return true;
}

} // namespace quarn
