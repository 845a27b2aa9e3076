#pragma once

// Signals and a block runner shared by the tests of the restoration stages.
#include "ZBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>
#include <vector>

namespace clarivo_test
{

struct BlockRun
{
    std::vector<float> out;
    std::vector<bool> results; // what each process call returned
    int count (bool value) const { return (int) std::count (results.begin(), results.end(), value); }
};

// Feeds `in` block by block to process (const ZBuffer& in, ZBuffer& out),
// which returns a bool or nothing; whole blocks only.
template <typename Process>
BlockRun runBlocks (const std::vector<float>& in, unsigned block, Process&& process)
{
    BlockRun run;
    quarn::ZBuffer a (block, "ZBuffer"), b (block, "ZBuffer");
    for (std::size_t pos = 0; pos + block <= in.size(); pos += block)
    {
        std::copy (in.begin() + (long) pos, in.begin() + (long) (pos + block), a.getData());
        if constexpr (std::is_same_v<decltype (process (a, b)), bool>)
            run.results.push_back (process (a, b));
        else
            process (a, b);
        run.out.insert (run.out.end(), b.getData(), b.getData() + block);
    }
    return run;
}

inline std::vector<float> sine (std::size_t n, double freq, double peak, double rate = 44100.0)
{
    std::vector<float> v (n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = (float) (peak * std::sin (2.0 * M_PI * freq * (double) i / rate));
    return v;
}

inline std::vector<float> clip (std::vector<float> v, float level)
{
    for (auto& x : v)
        x = std::clamp (x, -level, level);
    return v;
}

// Five tones, as music without clicks; peak about 0.2 at scale 1.
inline std::vector<float> toneMixture (std::size_t n, double scale = 1.0, double rate = 44100.0)
{
    const double freqs[] = { 196.0, 293.7, 440.0, 659.3, 987.8 };
    const double gains[] = { 0.07, 0.05, 0.04, 0.025, 0.015 };
    std::vector<float> v (n);
    for (std::size_t i = 0; i < n; ++i)
    {
        double x = 0.0;
        for (int k = 0; k < 5; ++k)
            x += gains[k] * std::sin (2.0 * M_PI * freqs[k] * (double) i / rate + k);
        v[i] = (float) (scale * x);
    }
    return v;
}

inline float peakOf (const std::vector<float>& v)
{
    float p = 0.0f;
    for (float x : v)
        p = std::max (p, std::abs (x));
    return p;
}

} // namespace clarivo_test
