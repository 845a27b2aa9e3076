#include "ProgramLauncher.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace clarivo::process
{
namespace
{
// Waiter threads post while the message loop may be going away: a post
// happens only under this lock and while reports are open, so once
// stopReports returns none is in flight and none follows. Each report
// carries a token of the reports open when its program started, checked
// again on the message thread.
struct Reports
{
    std::mutex lock;
    std::shared_ptr<bool> open = std::make_shared<bool> (true); // under lock; null once stopped
};

Reports& reports()
{
    static auto* r = new Reports(); // never destroyed: detached waiters may outlive statics
    return *r;
}

juce::String describeEnd (const juce::String& name, int status, const StatusMeaning& meaning)
{
    if (WIFSIGNALED (status))
        return name + " was stopped by signal " + juce::String (WTERMSIG (status)) + ".";
    // The exec itself failing in the child (no interpreter for a script).
    if (WEXITSTATUS (status) == 127)
        return name + " could not be started.";
    if (meaning)
        if (auto said = meaning (WEXITSTATUS (status)); said.isNotEmpty())
            return said;
    return name + " ended with status " + juce::String (WEXITSTATUS (status)) + ".";
}

// A pipe whose ends none of our other children inherit.
bool makePipe (int ends[2])
{
    return ::pipe2 (ends, O_CLOEXEC) == 0;
}

// Keeps the last bytes a program writes to a pipe: enough for its last line.
struct Tail
{
    static constexpr size_t limit = 4096;
    std::string text;

    // False at the end of the output.
    bool readFrom (int fd)
    {
        char chunk[1024];
        for (;;)
        {
            const auto n = ::read (fd, chunk, sizeof (chunk));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 && errno == EAGAIN;
            text.append (chunk, (size_t) n);
            if (text.size() > limit)
                text.erase (0, text.size() - limit);
        }
    }

    juce::String lastLine() const
    {
        auto lines = juce::StringArray::fromLines (juce::String::fromUTF8 (text.data(), (int) text.size()));
        lines.trim();
        lines.removeEmptyStrings();
        if (lines.isEmpty())
            return {};
        const auto last = lines[lines.size() - 1];
        return last.length() > 300 ? last.substring (0, 300) + "..." : last;
    }
};

// Waits for the program while taking what it writes to errorFd, so that it
// never stalls on a full pipe; the status as waitpid gives it, or -1.
int waitReading (pid_t pid, int errorFd, Tail& tail)
{
    int status = 0;
    bool open = errorFd >= 0;
    while (open)
    {
        pollfd p { errorFd, POLLIN, 0 };
        if (::poll (&p, 1, 100) > 0)
            open = tail.readFrom (errorFd);
        const pid_t ended = ::waitpid (pid, &status, WNOHANG);
        if (ended == pid)
        {
            // All it wrote is in the pipe by now.
            if (open)
                tail.readFrom (errorFd);
            return status;
        }
        if (ended < 0 && errno != EINTR)
            return -1;
    }
    while (::waitpid (pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}
} // namespace

namespace
{
void report (int status, const juce::String& name, FailureHandler& failed, std::chrono::steady_clock::time_point started,
             int failureWindowMs, const std::weak_ptr<bool>& token, const StatusMeaning& meaning, const Tail& tail)
{
    const bool ok = status != -1 && WIFEXITED (status) && WEXITSTATUS (status) == 0;
    const auto elapsed = std::chrono::steady_clock::now() - started;
    if (status == -1 || ok || ! failed || elapsed > std::chrono::milliseconds (failureWindowMs))
        return;
    auto why = describeEnd (name, status, meaning);
    if (const auto line = tail.lastLine(); line.isNotEmpty())
        why << " " << name << " said: \"" << line << "\"";
    auto& r = reports();
    const std::lock_guard<std::mutex> held (r.lock);
    if (token.expired())
        return;
    juce::MessageManager::callAsync ([failed = std::move (failed), why, token]
    {
        // Checked here too: a report already queued when reports
        // stopped is dropped rather than shown during the quit.
        if (token.lock() != nullptr)
            failed (why);
    });
}
} // namespace

juce::File findProgram (const juce::String& name)
{
    const char* path = std::getenv ("PATH");
    if (path == nullptr || name.isEmpty() || name.containsChar ('/'))
        return {};
    for (const auto& folder : juce::StringArray::fromTokens (juce::String::fromUTF8 (path), ":", {}))
    {
        // An empty or relative entry would find whatever lies in the
        // current folder: only absolute folders count.
        if (! juce::File::isAbsolutePath (folder))
            continue;
        const auto candidate = juce::File (folder).getChildFile (name);
        if (candidate.existsAsFile() && ::access (candidate.getFullPathName().toRawUTF8(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// posix_spawn rather than fork: this process has threads, and the child
// must not inherit our blocked signals or an ignored SIGPIPE. Descriptors
// past stderr are closed whether or not they are close-on-exec: JUCE's
// message-loop sockets and our open copies are not, and a mail helper that
// outlives us would keep them.
pid_t startProgram (const juce::File& program, const juce::StringArray& arguments, int& error, int outputFd, int errorFd)
{
    std::vector<std::string> args { program.getFullPathName().toStdString() };
    for (const auto& a : arguments)
        args.push_back (a.toStdString());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back (a.data());
    argv.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2 (&actions, outputFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen (&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (errorFd >= 0)
        posix_spawn_file_actions_adddup2 (&actions, errorFd, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen (&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np (&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init (&attributes);
    sigset_t none, defaults;
    sigemptyset (&none);
    sigemptyset (&defaults);
    sigaddset (&defaults, SIGPIPE);
    posix_spawnattr_setsigmask (&attributes, &none);
    posix_spawnattr_setsigdefault (&attributes, &defaults);
    posix_spawnattr_setflags (&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    error = ::posix_spawn (&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);
    posix_spawnattr_destroy (&attributes);
    return error == 0 ? pid : -1;
}

void launch (const juce::String& name, const juce::StringArray& arguments, FailureHandler failed, int failureWindowMs,
             StatusMeaning meaning)
{
    const auto program = findProgram (name);
    if (program == juce::File())
    {
        if (failed)
            failed (name + " is not installed.");
        return;
    }
    // Only a program whose failure is explained has its error output kept.
    int errorPipe[2] = { -1, -1 };
    if (meaning && makePipe (errorPipe))
        ::fcntl (errorPipe[0], F_SETFL, ::fcntl (errorPipe[0], F_GETFL) | O_NONBLOCK);
    else
        errorPipe[0] = errorPipe[1] = -1;
    int error = 0;
    const pid_t pid = startProgram (program, arguments, error, -1, errorPipe[1]);
    if (errorPipe[1] >= 0)
        ::close (errorPipe[1]);
    if (pid < 0)
    {
        if (errorPipe[0] >= 0)
            ::close (errorPipe[0]);
        if (failed)
            failed (name + " could not be started: " + juce::String (std::strerror (error)) + ".");
        return;
    }

    // One waiter per program reaps it whenever it ends, so no program
    // lingers as a zombie; only an early failure is reported, and only to
    // the reports that were open when it started.
    const auto started = std::chrono::steady_clock::now();
    std::weak_ptr<bool> token;
    {
        const std::lock_guard<std::mutex> held (reports().lock);
        token = reports().open;
    }
    const int errorFd = errorPipe[0];
    std::thread ([pid, name, failed = std::move (failed), started, failureWindowMs, token, meaning = std::move (meaning), errorFd]() mutable
    {
        Tail tail;
        const int status = waitReading (pid, errorFd, tail);
        report (status, name, failed, started, failureWindowMs, token, meaning, tail);
        if (errorFd < 0)
            return;
        // A program it left running (a mail program) may still write there:
        // it is read to its end rather than closed under that program's feet.
        const int flags = ::fcntl (errorFd, F_GETFL);
        ::fcntl (errorFd, F_SETFL, flags & ~O_NONBLOCK);
        Tail rest;
        while (rest.readFrom (errorFd))
            rest.text.clear();
        ::close (errorFd);
    }).detach();
}

namespace
{
// Runs program to its end and gives its output, at most limit bytes of it.
// Without a time limit (timeoutMs < 0) the message loop is kept going while
// it waits: the program may be a window the user answers.
std::optional<juce::String> readOutput (const juce::File& program, const juce::StringArray& arguments, int timeoutMs,
                                        size_t limit)
{
    int ends[2] = { -1, -1 };
    if (program == juce::File() || ! makePipe (ends))
        return std::nullopt;
    int error = 0;
    const pid_t pid = startProgram (program, arguments, error, ends[1], -1);
    ::close (ends[1]);
    if (pid < 0)
    {
        ::close (ends[0]);
        return std::nullopt;
    }
    // Nothing is read past its size limit: a program that writes more is
    // not the one asked about.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    bool stopped = false;
    for (;;)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - std::chrono::steady_clock::now()).count();
        if ((timeoutMs >= 0 && left <= 0) || text.size() > limit)
        {
            stopped = true;
            break;
        }
        auto* messages = timeoutMs < 0 ? juce::MessageManager::getInstanceWithoutCreating() : nullptr;
        if (timeoutMs < 0)
            left = messages != nullptr ? 0 : 20;
        pollfd p { ends[0], POLLIN, 0 };
        const int ready = ::poll (&p, 1, (int) left);
        if (ready <= 0)
        {
            if (messages != nullptr)
                messages->runDispatchLoopUntil (20);
            continue;
        }
        char chunk[4096];
        const auto n = ::read (ends[0], chunk, sizeof (chunk));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        text.append (chunk, (size_t) n);
    }
    ::close (ends[0]);
    if (stopped)
        ::kill (pid, SIGKILL);
    int status = 0;
    while (::waitpid (pid, &status, 0) < 0)
        if (errno != EINTR)
            return std::nullopt;
    if (stopped || ! WIFEXITED (status) || WEXITSTATUS (status) != 0)
        return std::nullopt;
    return juce::String::fromUTF8 (text.data(), (int) text.size());
}
} // namespace

std::optional<juce::String> outputOf (const juce::String& name, const juce::StringArray& arguments, int timeoutMs)
{
    return readOutput (findProgram (name), arguments, juce::jmax (0, timeoutMs), 65536);
}

bool runForOutput (const juce::File& program, const juce::StringArray& arguments, juce::String& output)
{
    const auto got = readOutput (program, arguments, -1, 1 << 20);
    if (got)
        output = *got;
    return got.has_value();
}

void stopReports()
{
    auto& r = reports();
    const std::lock_guard<std::mutex> held (r.lock);
    r.open.reset();
}

void startReports()
{
    auto& r = reports();
    const std::lock_guard<std::mutex> held (r.lock);
    if (r.open == nullptr)
        r.open = std::make_shared<bool> (true);
}
} // namespace clarivo::process
