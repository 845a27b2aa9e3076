#pragma once

// The main of the benchmarks that build editors: the editor reads and writes
// the preferences, so they live in a throw-away folder, not the user's own.
#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

namespace bench
{
inline int runWithPrivateConfig (int argc, char** argv)
{
    const auto config = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("clarivo-bench-config", {}, false);
    config.createDirectory();
    ::setenv ("XDG_CONFIG_HOME", config.getFullPathName().toRawUTF8(), 1);

    {
        juce::ScopedJuceInitialiser_GUI init;
        benchmark::Initialize (&argc, argv);
        if (benchmark::ReportUnrecognizedArguments (argc, argv))
            return 1;
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    config.deleteRecursively();
    return 0;
}
} // namespace bench
