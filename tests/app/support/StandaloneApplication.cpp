#include <juce_events/juce_events.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace juce
{
int juce_gtkWebkitMain (int argc, const char* argv[]);
}

// The program runs as a standalone application, and only then does JUCE
// install its X error handlers; without them a bare X server (no window
// manager, so no window-manager atoms) ends the process at the first window.
// The application tests run their windows the way the program does.
static const bool runsAsStandaloneApplication = []
{
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };
    return true;
}();

// So the web view's child process, which JUCE starts by running this
// executable again with "--juce-gtkwebkitfork-child", is the web view and
// not another run of every test.
static const bool runsWebViewChild = []
{
    std::ifstream in ("/proc/self/cmdline", std::ios::binary);
    const std::string line ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    for (size_t start = 0; start < line.size();)
    {
        const auto end = line.find ('\0', start);
        args.push_back (line.substr (start, end - start));
        start = end == std::string::npos ? line.size() : end + 1;
    }
    if (args.size() < 2 || args[1] != "--juce-gtkwebkitfork-child")
        return false;
    std::vector<const char*> argv;
    for (auto& a : args)
        argv.push_back (a.c_str());
    std::_Exit (juce::juce_gtkWebkitMain ((int) argv.size(), argv.data()));
}();
