#pragma once

// One running Clarivo per user. A later launch hands its arguments to the
// running one over a local socket that only the same user can reach, and
// gets an acknowledgement once they are queued on the running program's
// message thread, so that a file opened from the desktop is never dropped.
#include <juce_events/juce_events.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clarivo::launch
{
class SingleInstance
{
public:
    // A launch's arguments after argv[0], each as the bytes it came as: a
    // file name on Linux need not be text in any encoding.
    using Arguments = std::vector<std::string>;
    using ArgumentsHandler = std::function<void (const Arguments& arguments)>;

    // What one hand-over may carry: the arguments and a byte after each.
    static constexpr size_t maxCommandLineBytes = 64 * 1024;

    // Makes this process the running instance unless another one already is
    // (or no private folder for the socket can be had): null then. Each
    // launch's arguments reach onArguments on the message thread, in the
    // order they came; none arrives after the object is destroyed (on the
    // message thread).
    static std::unique_ptr<SingleInstance> claim (const juce::String& appName, ArgumentsHandler onArguments);

    // True only when the running instance acknowledged the arguments;
    // false at once when none runs, and within about timeoutMs otherwise.
    static bool sendToRunningInstance (const juce::String& appName, const Arguments& arguments, int timeoutMs);

    // From the start of a quit on, a launch is told that this instance is
    // going, so that it waits and runs on its own once it has gone rather
    // than hand over a file nobody will show; false again when the quit is
    // called off.
    void refuseLaunches (bool refuse);
    // Waits up to waitMs for the launches told "ready" before the refusal
    // to commit or give up; a committed one's arguments are then queued on
    // the message thread. True when none is left undecided.
    bool waitForAcceptedLaunches (int waitMs);

    // The whole decision a launch makes. Without a running instance it runs
    // on its own rather than lose what it was asked to open; beside one it
    // never does (two would write the same preferences).
    struct Launch
    {
        std::unique_ptr<SingleInstance> service; // set: this process is the running instance
        bool handedOver = false;                 // true: the running instance has the arguments
        // Not empty: an instance runs and did not take the arguments; this
        // launch must end, saying why. All three unset: run alone.
        juce::String refusal;
    };
    // An instance that is quitting is waited for, up to quitWaitMs, and
    // then this launch runs on its own.
    static Launch claimOrHandOver (const juce::String& appName, int argc, const char* const* argv,
                                   ArgumentsHandler onArguments, int timeoutMs, int quitWaitMs = 60000);

    // argv after argv[0], each name that is relative (neither an option nor
    // starting with "/" or "~") made absolute against this process's
    // working folder, byte for byte.
    static Arguments argumentsFrom (int argc, const char* const* argv);

    // Where launches of one user meet, whatever their environment says (a
    // launch from cron, ssh or sudo has no XDG_RUNTIME_DIR): the user's
    // runtime folder, and a folder in the cache of the user's home as the
    // password database has it, links resolved. A home may be shared
    // between hosts, so the names there carry the host's.
    struct Roots
    {
        std::string runtime; // "/run/user/<uid>"
        std::string home;
        std::string host;
    };
    static Roots usersRoots();
    // Tests meet elsewhere; nullopt: the user's own again.
    static void setRoots (std::optional<Roots> roots);

    // The sockets of appName, in the order a launch tries them: in the
    // runtime folder when that is ours alone, and in a private folder
    // under the home's cache; the instance listens at each. Empty when
    // neither can be had.
    static std::vector<juce::File> socketFiles (const juce::String& appName);
    // The first of them, or an invalid file.
    static juce::File socketFile (const juce::String& appName);

    ~SingleInstance();

private:
    struct Listener;
    explicit SingleInstance (std::unique_ptr<Listener>);
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE (SingleInstance)
};
} // namespace clarivo::launch
