#include <gtest/gtest.h>
#include "SingleInstance.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using clarivo::launch::SingleInstance;

namespace
{
// Never the name of a Clarivo the user is running.
juce::String testName (const juce::String& what)
{
    return "Clarivo+ test " + juce::String (::getpid()) + " " + what;
}

using Arguments = SingleInstance::Arguments;

struct Received
{
    std::vector<Arguments> launches;
    SingleInstance::ArgumentsHandler handler()
    {
        return [this] (const Arguments& arguments) { launches.push_back (arguments); };
    }
    bool waitFor (size_t count, int tenths = 30)
    {
        for (int i = 0; i < tenths * 10 && launches.size() < count; ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
        return launches.size() == count;
    }
};

// How long a send that no instance answers takes.
long long msToFail (const juce::String& name)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE (SingleInstance::sendToRunningInstance (name, { "/x" }, 5000));
    return std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - start).count();
}

// A socket at the instance's name. bound: left behind the way a crash
// leaves it; listening: takes connections and never reads; otherwise sends
// bytes as a later launch would and returns the answer, 0 for none.
enum class Use { bound, listening, send };
int socketAt (const juce::File& file, Use use, const std::string& bytes = {})
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    file.getFullPathName().copyToUTF8 (address.sun_path, sizeof (address.sun_path));
    const int fd = ::socket (AF_UNIX, SOCK_STREAM, 0);
    if (use == Use::send)
    {
        char answer = 0;
        if (::connect (fd, (const sockaddr*) &address, sizeof (address)) == 0
            && ::send (fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t) bytes.size())
            ::recv (fd, &answer, 1, 0);
        ::close (fd);
        return answer;
    }
    EXPECT_EQ (::bind (fd, (const sockaddr*) &address, sizeof (address)), 0);
    if (use == Use::listening && ::listen (fd, 4) == 0)
        return fd;
    ::close (fd);
    return -1;
}
} // namespace

TEST (SingleInstance, TheFirstClaimOwnsAndLaterLaunchesHandOverTheirArgumentsInOrder)
{
    const auto name = testName ("owner");
    const auto socket = SingleInstance::socketFile (name);
    socketAt (socket, Use::bound);
    ASSERT_TRUE (socket.exists());
    // Nobody answers on a socket a crash left: a send fails at once, and a claim replaces it.
    EXPECT_LT (msToFail (name), 1000);
    Received received;
    auto owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);
    struct stat info {};
    ASSERT_EQ (::lstat (socket.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_TRUE (S_ISSOCK (info.st_mode));
    EXPECT_EQ (info.st_mode & 0777, 0600);

    EXPECT_EQ (SingleInstance::claim (name, received.handler()), nullptr);
    const Arguments first { "/dir/a b.wav", "-x", "rel.wav" }, second { "/t\xc3\xb6n.wav" };
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, first, 2000));
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, second, 2000));
    ASSERT_TRUE (received.waitFor (2));
    EXPECT_EQ (received.launches, std::vector<Arguments> ({ first, second }));

    // The largest hand-over passes; one byte more, or a sender that lies
    // about the length or leaves an argument open, is refused and harms nothing.
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, { std::string (65535, 'a') }, 2000));
    EXPECT_FALSE (SingleInstance::sendToRunningInstance (name, { std::string (65536, 'a') }, 2000));
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x00\x00\x00\x40", 4)), 'R');
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x02\x00\x00\x00/x", 6)), 'R');
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x03\x00\x00\x00/x\0", 7)), 'A');
    ASSERT_TRUE (received.waitFor (4));
    EXPECT_EQ (received.launches[3], Arguments { "/x" });

    // Arguments queued when the instance goes are dropped, never handed to a dead owner.
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, { "late" }, 2000));
    owner.reset();
    EXPECT_FALSE (socket.exists());
    EXPECT_FALSE (received.waitFor (5, 2));
    EXPECT_LT (msToFail (name), 1000);
    EXPECT_NE (SingleInstance::claim (name, received.handler()), nullptr);
}

TEST (SingleInstance, LaunchesAtOnceEndWithOneOwnerThatGetsEveryOtherLine)
{
    for (int round = 0; round < 5; ++round)
    {
        const auto name = testName ("race " + juce::String (round));
        constexpr int launches = 12;
        Received received;
        std::vector<SingleInstance::Launch> results (launches);
        std::atomic<int> waiting { launches };
        std::vector<std::thread> threads;
        for (int i = 0; i < launches; ++i)
            threads.emplace_back ([&, i] {
                const auto path = "/file " + std::to_string (i) + ".wav";
                const char* argv[] = { "clarivo", path.c_str() };
                for (--waiting; waiting > 0;)
                    std::this_thread::yield();
                results[(size_t) i] = SingleInstance::claimOrHandOver (name, 2, argv, received.handler(), 5000);
            });
        for (auto& t : threads)
            t.join();

        ASSERT_EQ (std::count_if (results.begin(), results.end(), [] (auto& r) { return r.service != nullptr; }), 1);
        EXPECT_EQ (std::count_if (results.begin(), results.end(), [] (auto& r) { return r.handedOver; }), launches - 1);
        ASSERT_TRUE (received.waitFor (launches - 1));
        for (auto& arguments : received.launches)
            EXPECT_TRUE (arguments.size() == 1 && arguments[0].rfind ("/file ", 0) == 0);
    }
}

TEST (SingleInstance, AnInstanceThatNeverAnswersEndsTheLaunchWithItsReason)
{
    // It holds the lock and its socket takes connections, but nothing is read.
    const auto name = testName ("hung");
    const auto socket = SingleInstance::socketFile (name);
    const auto lockPath = socket.getFullPathName() + ".lock";
    const int lock = ::open (lockPath.toRawUTF8(), O_RDWR | O_CREAT, 0600);
    struct flock held {};
    held.l_type = F_WRLCK;
    ASSERT_EQ (::fcntl (lock, F_OFD_SETLK, &held), 0);
    const int listening = socketAt (socket, Use::listening);

    const char* argv[] = { "clarivo", "/a.wav" };
    // Running beside it would make two instances writing one set of preferences.
    const auto launch = SingleInstance::claimOrHandOver (name, 2, argv, [] (const Arguments&) {}, 300);
    EXPECT_EQ (launch.service, nullptr);
    EXPECT_FALSE (launch.handedOver);
    EXPECT_TRUE (launch.refusal.contains ("already running")) << launch.refusal;
    const std::string tooLong (70000, 'a');
    const char* longArgv[] = { "clarivo", tooLong.c_str() };
    EXPECT_TRUE (SingleInstance::claimOrHandOver (name, 2, longArgv, [] (const Arguments&) {}, 300).refusal.contains ("too long"));
    ::close (listening);
    ::close (lock);
    // Not File::deleteFile: it takes a socket for a folder.
    ::unlink (socket.getFullPathName().toRawUTF8());
    ::unlink (lockPath.toRawUTF8());
}

TEST (SingleInstance, ArgumentsReachTheOwnerAsTheBytesTheyWere)
{
    // Linux names are bytes: spaces, quotes, tabs, empty arguments and names
    // that are not UTF-8 all arrive as they were typed.
    const auto name = testName ("bytes");
    Received received;
    auto owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);
    const char* argv[] = { "clarivo", "/dir/a b.wav", "-x", "rel.wav", "", "tab\there", "'/quoted'.wav",
                           "/say \"hi\" now.wav", "/x \"y /etc/z\" w", "\xc3\xa9t\xc3\xa9 .wav", "/bad\xff\xfe" "bytes.wav" };
    const int argc = (int) std::size (argv);
    const auto launch = SingleInstance::claimOrHandOver (name, argc, argv, received.handler(), 2000);
    EXPECT_TRUE (launch.handedOver);
    ASSERT_TRUE (received.waitFor (1));
    EXPECT_EQ (received.launches[0], Arguments (argv + 1, argv + argc));
    EXPECT_TRUE (SingleInstance::claimOrHandOver (name, 1, argv, received.handler(), 2000).handedOver);
    ASSERT_TRUE (received.waitFor (2));
    EXPECT_TRUE (received.launches[1].empty());
}

TEST (SingleInstance, TheSocketLivesOnlyInAFolderOfOursAlone)
{
    struct Saved
    {
        const char* name;
        const char* value = std::getenv (name);
        const std::string kept = value != nullptr ? value : "";
        ~Saved() { value != nullptr ? ::setenv (name, kept.c_str(), 1) : ::unsetenv (name); }
    } runtimeVariable { "XDG_RUNTIME_DIR" }, tempVariable { "TMPDIR" };

    const auto base = juce::File::createTempFile ("launch");
    const auto runtime = base.getChildFile ("runtime"), temp = base.getChildFile ("temp");
    ASSERT_TRUE (runtime.createDirectory() && temp.createDirectory());
    const auto path = [] (const juce::File& f) { return f.getFullPathName().toRawUTF8(); };
    ::chmod (path (runtime), 0700);
    ::setenv ("XDG_RUNTIME_DIR", path (runtime), 1);
    ::setenv ("TMPDIR", path (temp), 1);
    const auto inRuntime = SingleInstance::socketFile ("Clarivo+ 5");
    EXPECT_EQ (inRuntime.getParentDirectory(), runtime);
    EXPECT_TRUE (inRuntime.getFileName().startsWith ("Clarivo__5-"));
    EXPECT_NE (inRuntime, SingleInstance::socketFile ("Clarivo__5"));

    // A runtime folder others may enter is passed over for one of ours in the temporary folder.
    ::chmod (path (runtime), 0755);
    const auto fallback = SingleInstance::socketFile ("Clarivo+ 5").getParentDirectory();
    EXPECT_EQ (fallback.getParentDirectory(), temp);
    struct stat info {};
    ASSERT_EQ (::lstat (path (fallback), &info), 0);
    EXPECT_TRUE (S_ISDIR (info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700);

    // A link planted in its place, even to a private folder, or an open
    // folder there, leaves no socket to claim or send to.
    ::rmdir (path (fallback));
    ::chmod (path (runtime), 0700);
    ::unsetenv ("XDG_RUNTIME_DIR");
    ASSERT_EQ (::symlink (path (runtime), path (fallback)), 0);
    EXPECT_EQ (SingleInstance::socketFile ("Clarivo+ 5"), juce::File());
    ::unlink (path (fallback));
    ASSERT_EQ (::mkdir (path (fallback), 0755), 0);
    ::chmod (path (fallback), 0755);
    EXPECT_EQ (SingleInstance::claim ("Clarivo+ 5", [] (const Arguments&) {}), nullptr);
    EXPECT_LT (msToFail ("Clarivo+ 5"), 1000);
    // Nobody holds the lock there: the launch runs alone rather than open nothing.
    const char* argv[] = { "clarivo", "/a.wav" };
    const auto alone = SingleInstance::claimOrHandOver ("Clarivo+ 5", 2, argv, [] (const Arguments&) {}, 300);
    EXPECT_TRUE (alone.service == nullptr && ! alone.handedOver && alone.refusal.isEmpty());
    EXPECT_EQ (fallback.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    base.deleteRecursively();
}
