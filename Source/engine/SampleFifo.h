#pragma once

#include <vector>

// Single-reader float ring between the host's block length and the chain's
// 512-sample blocks. A ring made with prefill = size / 2 first hands out
// `prefill` zeros, which is the chain's fixed delay.
class SampleFifo
{
public:
    void init (int size, int prefill);
    void clear (bool resetIndices);

    // Reads nothing and returns false when fewer than n samples are held.
    bool read (int n, bool clamp, float* dest);
    // Drops n samples the way read would hand them out.
    bool skip (int n);
    void write (int n, const float* src);
    void release();

    int getCount() const noexcept { return count; }
    int getSize() const noexcept { return size; }
    int getPrefill() const noexcept { return prefill; }

private:
    int readIndex = 0;
    int writeIndex = 0;
    int count = 0;
    int size = 0;
    int prefill = 0;
    std::vector<float> data;
};
