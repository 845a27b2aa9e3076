#include "ZWhittakerSmoother.h"

namespace quarn
{

ZWhittakerSmoother::ZWhittakerSmoother (unsigned capacity)
{
    setCapacity (capacity);
}

void ZWhittakerSmoother::setCapacity (unsigned capacity)
{
    mDiagonal.assign (capacity, 0.0);
    mFirst.assign (capacity, 0.0);
    mSecond.assign (capacity, 0.0);
    mSolution.assign (capacity, 0.0);
}

bool ZWhittakerSmoother::smooth (float* y, const float* w, unsigned n, float lambda) noexcept
{
    if (n == 0 || n > mDiagonal.size())
        return false;

    double* d = mDiagonal.data();
    double* l1 = mFirst.data(); // first sub-diagonal: A[i+1][i], later L[i+1][i]
    double* l2 = mSecond.data(); // second sub-diagonal: A[i+2][i], later L[i+2][i]
    double* z = mSolution.data();

    // The system matrix, built from the rows of D so that short regions get
    // the right (smaller) band too; for n >= 5 the rows are
    // [1 -2 1], [-2 5 -4 1], [1 -4 6 -4 1] ... times lambda, plus the weights.
    for (unsigned i = 0; i < n; ++i)
    {
        d[i] = w[i];
        l1[i] = 0.0;
        l2[i] = 0.0;
        z[i] = (double) w[i] * (double) y[i];
    }

    for (unsigned k = 0; k + 2 < n; ++k)
    {
        d[k] += lambda;
        d[k + 1] += 4.0 * lambda;
        d[k + 2] += lambda;
        l1[k] -= 2.0 * lambda;
        l1[k + 1] -= 2.0 * lambda;
        l2[k] += lambda;
    }

    // A = L D L' with unit lower L.
    for (unsigned i = 0; i < n; ++i)
    {
        double di = d[i];
        if (i >= 1)
            di -= l1[i - 1] * l1[i - 1] * d[i - 1];
        if (i >= 2)
            di -= l2[i - 2] * l2[i - 2] * d[i - 2];
        if (di == 0.0)
            di = 0.001;
        d[i] = di;

        if (i + 1 < n)
        {
            double e = l1[i];
            if (i >= 1)
                e -= l2[i - 1] * l1[i - 1] * d[i - 1];
            l1[i] = e / di;
        }

        if (i + 2 < n)
            l2[i] /= di;
    }

    // L u = W y, then D v = u, then L' z = v.
    for (unsigned i = 1; i < n; ++i)
    {
        z[i] -= l1[i - 1] * z[i - 1];
        if (i >= 2)
            z[i] -= l2[i - 2] * z[i - 2];
    }

    for (unsigned i = 0; i < n; ++i)
        z[i] /= d[i];

    for (unsigned i = n - 1; i-- > 0;)
    {
        z[i] -= l1[i] * z[i + 1];
        if (i + 2 < n)
            z[i] -= l2[i] * z[i + 2];
    }

    for (unsigned i = 0; i < n; ++i)
        y[i] = (float) z[i];

    return true;
}

} // namespace quarn
