// The "Noise Reduction" bay on stereo 44.1 kHz audio in 512-sample blocks, in
// modes 1 (reduce) and 2 (noise only) with hum (60 Hz, 3 harmonics as after a
// reset, and all 14 in mode 1) and rumble removal on, after learning a
// profile; and the noise analyzer over a 10-minute file ("realtime" only).

#include "BenchSupport.h"
#include "ZNoiseAnalyzer.h"
#include "ZNoiseReductionBay.h"

#include <cmath>
#include <random>
#include <vector>

namespace
{
using namespace bench;

// Two seconds of stereo programme: a tone, mains hum, rumble and hiss.
StereoBlocks material()
{
    std::mt19937 rng (3);
    std::normal_distribution<float> hiss (0.0f, 0.01f);
    return StereoBlocks (172, [&] (int c, int t)
    {
        const double time = (double) t / kRate;
        return (float) (0.25 * std::sin (kTwoPi * (c == 0 ? 440.0 : 2500.0) * time)
                        + 0.02 * std::sin (kTwoPi * 60.0 * time)
                        + 0.02 * std::sin (kTwoPi * 25.0 * time))
             + hiss (rng);
    });
}

void BM_NoiseReductionBay (benchmark::State& state)
{
    auto blocks = material();
    quarn::ZNoiseReductionBay bay ("Noise Reduction", 2);
    bay.prepare();
    bay.setSampleRate ((float) kRate);
    bay.setBlockSize (kBlock);
    bay.setTrack (false);
    bay.setHumMode (1);
    bay.setNumHumHarmonics ((int) state.range (1));
    bay.setRemoveRumble (true);

    // A profile learned from the first second, as the controls would.
    bay.startLearning();
    for (int b = 0; b < 86; ++b)
        bay.process (blocks.in (b), blocks.out(), kBlock);
    bay.stopLearning();
    for (int b = 86; b < 90; ++b)
        bay.process (blocks.in (b), blocks.out(), kBlock);
    bay.setMode ((int) state.range (0));
    bay.process (blocks.in (0), blocks.out(), kBlock);

    runBlocks (state, blocks, [&] (int b) { bay.process (blocks.in (b), blocks.out(), kBlock); });
}
BENCHMARK (BM_NoiseReductionBay)->ArgNames ({ "mode", "harmonics" })->Args ({ 1, 3 })->Args ({ 2, 3 })->Args ({ 1, 14 });

// Ten minutes of decaying notes over hiss, fed in
// 256-sample blocks as the document's analysis does.
void BM_NoiseAnalyzer (benchmark::State& state)
{
    const auto total = (std::int64_t) (600.0 * kRate);
    constexpr int block = quarn::ZNoiseAnalyzer::kBlockSize;

    // Eight seconds of material repeated: generating 10 minutes of it would
    // otherwise dominate the timing.
    std::vector<float> material ((size_t) (8.0 * kRate));
    std::mt19937 rng (9);
    std::normal_distribution<float> hiss (0.0f, 0.01f);
    for (size_t i = 0; i < material.size(); ++i)
    {
        const double t = (double) i / kRate;
        const double envelope = std::exp (-std::fmod (t, 0.4) * 8.0);
        material[i] = (float) (0.3 * envelope * std::sin (kTwoPi * (220.0 + 110.0 * std::floor (t / 0.4)) * t)) + hiss (rng);
    }

    quarn::ZNoiseAnalyzer analyzer;
    for (auto _ : state)
    {
        analyzer.prepare (total);
        analyzer.setSensitivity (0.29f);
        for (std::int64_t start = 0; start < total; start += block)
        {
            const auto offset = (size_t) (start % (std::int64_t) (material.size() - block));
            analyzer.analyzeBlock (material.data() + offset, block);
        }
        analyzer.finishAnalysis();
        benchmark::DoNotOptimize (analyzer.getConfidence());
    }

    state.counters["realtime"] = benchmark::Counter ((double) state.iterations() * 600.0, benchmark::Counter::kIsRate);
}
BENCHMARK (BM_NoiseAnalyzer)->Unit (benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
