#include "app/windows/ClarivoApplication.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace juce
{
int juce_gtkWebkitMain (int argc, const char* argv[]);
}

JUCE_CREATE_APPLICATION_DEFINE (ClarivoApplication)

namespace
{
// Whether the process that started this web view copy is still there: it
// holds the writing end of the pipe named first, and once every writer is
// gone the pipe hangs up. The death signal below cannot cover a parent that
// ended before it was asked for; this does.
bool parentStillThere (pid_t parent, const char* pipeArgument)
{
    if (parent <= 1)
        return false;
    char* end = nullptr;
    const long fd = std::strtol (pipeArgument, &end, 10);
    if (end == pipeArgument || *end != 0 || fd < 0 || fd > 65535 || fcntl ((int) fd, F_GETFD) == -1)
        return false;
    pollfd p { (int) fd, POLLIN, 0 };
    return ! (poll (&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
}

// JUCE takes the program's own file to be argv[0] read against the current
// folder. Started by its bare name through PATH, as the desktop entry and a
// terminal start it, that names a file that is not there: the guide's web
// view copy would never start, and the guide's pages would not be found.
// The system knows the real file. JUCE asks the C library, which answers
// with the argv[0] entry of the very array handed to main, so the entry is
// replaced there (JUCE's own copy of the arguments is that array too).
void nameProgramByItsRealFile (char* argv[])
{
    static char path[PATH_MAX];
    if (realpath ("/proc/self/exe", path) != nullptr)
        argv[0] = path;
}
} // namespace

// The user guide's web view runs in a copy of this program started with
// "--juce-gtkwebkitfork-child". JUCE's own main only recognises it when its
// events module is built beside the web view, which ours is not, so without
// this the copy would start as a second launch and hand its pipe numbers
// over as a command line.
int main (int argc, char* argv[])
{
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
    {
        // The copy would outlive a program that was killed or crashed,
        // spinning on the pipe's end for good: it goes with the program.
        const pid_t parent = getppid();
        prctl (PR_SET_PDEATHSIG, SIGKILL);
        if (argc >= 4 && (getppid() != parent || ! parentStillThere (parent, argv[2])))
            _exit (0);
        return juce::juce_gtkWebkitMain (argc, (const char**) argv);
    }
    nameProgramByItsRealFile (argv);
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
