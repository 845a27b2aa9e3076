#include "ProgramLauncher.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
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

juce::String describeEnd (const juce::String& name, int status)
{
    if (WIFSIGNALED (status))
        return name + " was stopped by signal " + juce::String (WTERMSIG (status)) + ".";
    // The exec itself failing in the child (no interpreter for a script).
    if (WEXITSTATUS (status) == 127)
        return name + " could not be started.";
    return name + " ended with status " + juce::String (WEXITSTATUS (status)) + ".";
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
pid_t startProgram (const juce::File& program, const juce::StringArray& arguments, int& error, int outputFd)
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

bool runForOutput (const juce::File& program, const juce::StringArray& arguments, juce::String& output)
{
    int ends[2];
    if (::pipe2 (ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    int error = 0;
    const pid_t pid = startProgram (program, arguments, error, ends[1]);
    ::close (ends[1]);
    if (pid < 0)
    {
        ::close (ends[0]);
        return false;
    }
    juce::MemoryOutputStream got;
    for (char buffer[4096];;)
    {
        const auto n = ::read (ends[0], buffer, sizeof (buffer));
        if (n > 0)
            got.write (buffer, (size_t) n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
        else if (auto* messages = juce::MessageManager::getInstanceWithoutCreating())
            messages->runDispatchLoopUntil (20);
        else
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }
    ::close (ends[0]);
    int status = 0;
    while (::waitpid (pid, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    output = got.toString();
    return WIFEXITED (status) && WEXITSTATUS (status) == 0;
}

void launch (const juce::String& name, const juce::StringArray& arguments, FailureHandler failed, int failureWindowMs)
{
    const auto program = findProgram (name);
    if (program == juce::File())
    {
        if (failed)
            failed (name + " is not installed.");
        return;
    }
    int error = 0;
    const pid_t pid = startProgram (program, arguments, error);
    if (pid < 0)
    {
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
    std::thread ([pid, name, failed = std::move (failed), started, failureWindowMs, token]() mutable
    {
        int status = 0;
        while (::waitpid (pid, &status, 0) < 0)
            if (errno != EINTR)
                return;
        const bool ok = WIFEXITED (status) && WEXITSTATUS (status) == 0;
        const auto elapsed = std::chrono::steady_clock::now() - started;
        if (ok || ! failed || elapsed > std::chrono::milliseconds (failureWindowMs))
            return;
        const auto why = describeEnd (name, status);
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
    }).detach();
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
