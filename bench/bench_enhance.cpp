// The "Enhance" path on stereo 44.1 kHz audio in 512-sample blocks: the
// multiband compressor alone and the whole bay at amount 0.5.

#include "BenchSupport.h"
#include "ZEnhancementBay.h"
#include "ZLinPhMultibandCompressor.h"

#include <cmath>
#include <random>

namespace
{
using namespace bench;

// A tone per channel (220 Hz and 3300 Hz) with noise.
StereoBlocks material()
{
    std::mt19937 rng (3);
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    return StereoBlocks (16, [&] (int c, int t)
    {
        const double time = (double) t / kRate;
        return (float) (0.3 * std::sin (kTwoPi * (c == 0 ? 220.0 : 3300.0) * time)) + 0.1f * noise (rng);
    });
}

void BM_MultibandCompressor (benchmark::State& state)
{
    auto blocks = material();
    quarn::ZLinPhMultibandCompressor comp (2, 3, kBlock, (float) kRate);
    for (int k = 0; k < 3; ++k)
        comp.threshold[k] = -40.0f; // compressing, so the gains move every block

    runBlocks (state, blocks, [&] (int b) { comp.process (blocks.in (b), blocks.out(), kBlock); });
}
BENCHMARK (BM_MultibandCompressor);

void BM_EnhanceBay (benchmark::State& state)
{
    auto blocks = material();
    quarn::ZEnhancementBay bay ("Enhance", 2);
    bay.prepare();
    bay.setSampleRate ((float) kRate);
    bay.setBlockSize (kBlock);
    bay.setMode ((int) state.range (0));
    bay.setAmount (0.5f);

    runBlocks (state, blocks, [&] (int b) { bay.process (blocks.in (b), blocks.out(), kBlock); });
}
BENCHMARK (BM_EnhanceBay)->Arg (0)->Arg (6);

} // namespace

BENCHMARK_MAIN();
