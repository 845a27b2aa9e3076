#include "engine/SampleFifo.h"

#include <algorithm>
#include <cstring>

void SampleFifo::init (int newSize, int newPrefill)
{
    size = newSize;
    prefill = newPrefill;
    data.assign ((size_t) size, 0.0f);
    count = prefill;
    readIndex = prefill;
    writeIndex = 0;
}

void SampleFifo::clear (bool resetIndices)
{
    std::fill (data.begin(), data.end(), 0.0f);

    if (resetIndices)
    {
        count = prefill;
        readIndex = prefill;
        writeIndex = 0;
    }
}

bool SampleFifo::read (int n, bool clamp, float* dest)
{
    if (count < n)
        return false;

    const int first = std::min (n, size - readIndex);
    std::memcpy (dest, data.data() + readIndex, sizeof (float) * (size_t) first);
    std::memcpy (dest + first, data.data(), sizeof (float) * (size_t) (n - first));

    readIndex = (readIndex + n) % size;
    count -= n;

    if (clamp)
    {
        // A NaN must not reach the speakers or a file: it fails both
        // comparisons of a plain clamp, so it is caught separately.
        for (int i = 0; i < n; ++i)
        {
            const float x = dest[i];
            dest[i] = x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : (x == x ? x : 0.0f));
        }
    }

    return true;
}

bool SampleFifo::skip (int n)
{
    if (count < n)
        return false;

    readIndex = (readIndex + n) % size;
    count -= n;
    return true;
}

void SampleFifo::write (int n, const float* src)
{
    const int first = std::min (n, size - writeIndex);
    std::memcpy (data.data() + writeIndex, src, sizeof (float) * (size_t) first);
    std::memcpy (data.data(), src + first, sizeof (float) * (size_t) (n - first));

    writeIndex = (writeIndex + n) % size;
    count += n;
}

void SampleFifo::release()
{
    data.clear();
    data.shrink_to_fit();
    size = count = readIndex = writeIndex = 0;
}
