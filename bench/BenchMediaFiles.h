#pragma once

// What the media benchmarks share: a folder under the temporary folder that
// keeps the sources they make between runs, and the ffmpeg command line that
// makes them (and that they are measured against).
#include <juce_core/juce_core.h>

namespace bench
{
// The folder of that name under the temporary folder, made when first asked for.
inline juce::File mediaFolder (const juce::String& name)
{
    auto d = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile (name);
    d.createDirectory();
    return d;
}

// Runs ffmpeg quietly, overwriting its output; true when it finished well
// within the hour.
inline bool ffmpeg (const juce::StringArray& args)
{
    juce::StringArray command { "ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y" };
    command.addArray (args);
    juce::ChildProcess p;
    if (! p.start (command))
        return false;
    p.readAllProcessOutput();
    return p.waitForProcessToFinish (3600000) && p.getExitCode() == 0;
}
} // namespace bench
