#pragma once

// What the benchmarks that run the whole application share: wall-clock
// seconds, sources made once with ffmpeg, and the application itself with
// no sound card and no window.
#include "BenchMediaFiles.h"

#include "app/windows/ClarivoApplication.h"
#include "app/document/ClarivoDocument.h"
#include "app/windows/DialogService.h"
#include "app/document/ProcessingAVPlayer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <iostream>
#include <memory>

namespace bench
{
using Clock = std::chrono::steady_clock;

inline double secondsSince (Clock::time_point start)
{
    return std::chrono::duration<double> (Clock::now() - start).count();
}

// file, made by ffmpeg from recipe on first use; a run cut short leaves
// only a partial name behind.
inline juce::File cachedMedia (const juce::File& file, const juce::StringArray& recipe)
{
    if (! file.existsAsFile())
    {
        file.getParentDirectory().createDirectory();
        const auto partial = file.getSiblingFile ("partial-" + file.getFileName());
        auto args = recipe;
        args.add (partial.getFullPathName());
        if (ffmpeg (args))
            partial.moveFileTo (file);
    }
    return file;
}

// The application as the program runs it, with no sound card, the export's
// five-second settling wait skipped (a clock that moves five seconds a
// reading) unless the wall clock is asked for, and every question left
// unanswered but what a run scripts.
struct HeadlessApp
{
    enum class ExportClock { skipsSettling, wall };

    explicit HeadlessApp (ExportClock clock = ExportClock::skipsSettling)
    {
        // Before start-up, which may greet a first launch with a question.
        DialogService::get().setResponder ([] (const DialogService::Request&) { return DialogService::Answer {}; });
        app->playerOptions.useNullDevice = true;
        app->showWindows = false;
        app->initialise ({});
        if (clock == ExportClock::skipsSettling)
            ProcessingAVPlayer::setClock ([this] { return clockMs += 5000; });
    }

    ~HeadlessApp()
    {
        app->shutdown();
        app = nullptr;
        ProcessingAVPlayer::setClock ({});
        DialogService::get().setResponder ({});
        DialogService::get().clearScript();
    }

    bool open (const juce::File& file) { return file.existsAsFile() && app->openMediaFile (file, false).wasOk(); }

    bool saveAs (const juce::File& target, int format)
    {
        auto& document = app->getDocument();
        document.formatIndex = format;
        app->formatChooser = [] { return 1; };
        DialogService::get().answerWithFile (target);
        return document.saveMedia (true) == juce::FileBasedDocument::savedOk && target.existsAsFile();
    }

    std::unique_ptr<ClarivoApplication> app = std::make_unique<ClarivoApplication>();
    juce::int64 clockMs = 1000000;
};
// JUCE as the program runs it: its X error handlers are installed only
// for a standalone application, so none is made.
struct GuiWithoutApplication
{
    GuiWithoutApplication() { juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; }; }
    juce::ScopedJuceInitialiser_GUI init;

    bool hasDisplay() const
    {
        if (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay() != nullptr)
            return true;
        std::cerr << "The application needs an X display: run under xvfb-run -a.\n";
        return false;
    }
};

inline int runBenchmarks (int argc, char** argv)
{
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
} // namespace bench
