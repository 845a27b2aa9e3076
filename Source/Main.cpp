#include "app/windows/ClarivoApplication.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace juce
{
int juce_gtkWebkitMain (int argc, const char* argv[]);
}

JUCE_CREATE_APPLICATION_DEFINE (ClarivoApplication)

namespace
{
// Whether the process that started this web view copy is still there. It is
// this same program, and it holds the writing end of the pipe named first.
// The first check misses a parent gone before this copy looked (it is then
// a child of whatever adopts orphans); the second a pipe end that another
// child of the program inherited.
bool startedByALiveClarivo (pid_t parent, const char* pipeArgument)
{
    struct stat own {}, theirs {};
    const auto parentExe = "/proc/" + std::to_string (parent) + "/exe";
    if (stat ("/proc/self/exe", &own) != 0 || stat (parentExe.c_str(), &theirs) != 0
        || own.st_dev != theirs.st_dev || own.st_ino != theirs.st_ino)
        return false;
    char* end = nullptr;
    const long fd = std::strtol (pipeArgument, &end, 10);
    if (end == pipeArgument || *end != 0 || fd < 0 || fd > 65535 || fcntl ((int) fd, F_GETFD) == -1)
        return false;
    pollfd p { (int) fd, POLLIN, 0 };
    // Data may wait in the pipe; only a hang-up with nothing to read says
    // every writer is gone.
    return ! (poll (&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0 && (p.revents & POLLIN) == 0);
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
        if (argc >= 4 && (getppid() != parent || ! startedByALiveClarivo (parent, argv[2])))
            _exit (0);
        return juce::juce_gtkWebkitMain (argc, (const char**) argv);
    }
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
