#include <juce_events/juce_events.h>

// The program runs as a standalone application, and only then does JUCE
// install its X error handlers; without them a bare X server (no window
// manager, so no window-manager atoms) ends the process at the first window.
// The application tests run their windows the way the program does.
static const bool runsAsStandaloneApplication = []
{
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
    return true;
}();
