#include "ZWhittakerSmoother.h"

#include <algorithm>

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
    mKeptDiagonal.assign (capacity, 0.0);
    mKeptFirst.assign (capacity, 0.0);
    mKeptSecond.assign (capacity, 0.0);
    mKeptWeights.assign (capacity, 0.0f);
    mKeptRows = 0;
}

bool ZWhittakerSmoother::smooth (float* y, const float* w, unsigned n, float lambda) noexcept
{
    if (n == 0 || n > mDiagonal.size())
        return false;

    // Rows [0, reuse) come from the kept elimination. A region that reaches
    // further than it (or has another lambda) becomes the kept one and is
    // eliminated in place; any other works in the scratch rows.
    const unsigned stable = n >= 2 ? n - 2 : 0;
    const bool sameLambda = lambda == mKeptLambda;
    unsigned reuse = 0;
    if (sameLambda)
    {
        const unsigned limit = std::min (mKeptRows, stable);
        const float* kept = mKeptWeights.data();
        while (reuse < limit && w[reuse] == kept[reuse])
            ++reuse;
    }
    const bool keep = ! sameLambda || stable > mKeptRows;

    const double* kd = mKeptDiagonal.data();
    const double* k1 = mKeptFirst.data();
    const double* k2 = mKeptSecond.data();
    double* d = keep ? mKeptDiagonal.data() : mDiagonal.data(); // rows from reuse on
    double* l1 = keep ? mKeptFirst.data() : mFirst.data(); // first sub-diagonal: A[i+1][i], later L[i+1][i]
    double* l2 = keep ? mKeptSecond.data() : mSecond.data(); // second sub-diagonal: A[i+2][i], later L[i+2][i]
    double* z = mSolution.data();
    const auto D = [=] (unsigned i) { return i < reuse ? kd[i] : d[i]; };
    const auto L1 = [=] (unsigned i) { return i < reuse ? k1[i] : l1[i]; };
    const auto L2 = [=] (unsigned i) { return i < reuse ? k2[i] : l2[i]; };

    for (unsigned i = 0; i < n; ++i)
        z[i] = (double) w[i] * (double) y[i];

    // The system matrix, built from the rows of D so that short regions get
    // the right (smaller) band too; for n >= 5 the rows are
    // [1 -2 1], [-2 5 -4 1], [1 -4 6 -4 1] ... times lambda, plus the weights.
    for (unsigned i = reuse; i < n; ++i)
    {
        d[i] = w[i];
        l1[i] = 0.0;
        l2[i] = 0.0;
    }

    for (unsigned k = reuse >= 2 ? reuse - 2 : 0; k + 2 < n; ++k)
    {
        if (k >= reuse)
            d[k] += lambda;
        if (k + 1 >= reuse)
            d[k + 1] += 4.0 * lambda;
        d[k + 2] += lambda;
        if (k >= reuse)
            l1[k] -= 2.0 * lambda;
        if (k + 1 >= reuse)
            l1[k + 1] -= 2.0 * lambda;
        if (k >= reuse)
            l2[k] += lambda;
    }

    // A = L D L' with unit lower L.
    for (unsigned i = reuse; i < n; ++i)
    {
        double di = d[i];
        if (i >= 1)
            di -= L1 (i - 1) * L1 (i - 1) * D (i - 1);
        if (i >= 2)
            di -= L2 (i - 2) * L2 (i - 2) * D (i - 2);
        if (di == 0.0)
            di = 0.001;
        d[i] = di;

        if (i + 1 < n)
        {
            double e = l1[i];
            if (i >= 1)
                e -= L2 (i - 1) * L1 (i - 1) * D (i - 1);
            l1[i] = e / di;
        }

        if (i + 2 < n)
            l2[i] /= di;
    }

    if (keep)
    {
        std::copy (w + reuse, w + stable, mKeptWeights.data() + reuse);
        mKeptRows = stable;
        mKeptLambda = lambda;
    }

    // L u = W y, then D v = u, then L' z = v. The last two values ride in
    // registers: through memory each step would also wait for its own store.
    double back1 = z[0], back2 = 0.0;
    for (unsigned i = 1; i < n; ++i)
    {
        double v = z[i] - L1 (i - 1) * back1;
        if (i >= 2)
            v -= L2 (i - 2) * back2;
        z[i] = v;
        back2 = back1;
        back1 = v;
    }

    double ahead1 = z[n - 1] / D (n - 1), ahead2 = 0.0;
    z[n - 1] = ahead1;
    for (unsigned i = n - 1; i-- > 0;)
    {
        double v = z[i] / D (i) - L1 (i) * ahead1;
        if (i + 2 < n)
            v -= L2 (i) * ahead2;
        z[i] = v;
        ahead2 = ahead1;
        ahead1 = v;
    }

    for (unsigned i = 0; i < n; ++i)
        y[i] = (float) z[i];

    return true;
}

} // namespace quarn
