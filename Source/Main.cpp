#include "app/windows/ClarivoApplication.h"

#include <cstring>

namespace juce
{
int juce_gtkWebkitMain (int argc, const char* argv[]);
}

JUCE_CREATE_APPLICATION_DEFINE (ClarivoApplication)

// The user guide's web view runs in a copy of this program started with
// "--juce-gtkwebkitfork-child". JUCE's own main only recognises it when its
// events module is built beside the web view, which ours is not, so without
// this the copy would start as a second launch and hand its pipe numbers
// over as a command line.
int main (int argc, char* argv[])
{
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
        return juce::juce_gtkWebkitMain (argc, (const char**) argv);
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
