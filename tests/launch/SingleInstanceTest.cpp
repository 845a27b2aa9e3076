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

struct Received
{
    juce::StringArray lines;
    SingleInstance::CommandLineHandler handler()
    {
        return [this] (const juce::String& line) { lines.add (line); };
    }
    bool waitFor (int count, int tenths = 30)
    {
        for (int i = 0; i < tenths * 10 && lines.size() < count; ++i)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
        return lines.size() == count;
    }
};

// How long a send that no instance answers takes.
long long msToFail (const juce::String& name)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE (SingleInstance::sendToRunningInstance (name, "/x", 5000));
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

TEST (SingleInstance, TheFirstClaimOwnsAndLaterLaunchesHandOverTheirLinesInOrder)
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
    const juce::String first = "\"/dir/a b.wav\" -x rel.wav", second = juce::String::fromUTF8 ("/t\xc3\xb6n.wav");
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, first, 2000));
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, second, 2000));
    ASSERT_TRUE (received.waitFor (2));
    EXPECT_EQ (received.lines, juce::StringArray (first, second));

    // The largest line passes; one byte more, or a sender that lies about the
    // length or sends no UTF-8, is refused and harms nothing.
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, juce::String::repeatedString ("a", 65536), 2000));
    EXPECT_FALSE (SingleInstance::sendToRunningInstance (name, juce::String::repeatedString ("a", 65537), 2000));
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x00\x00\x00\x40", 4)), 'R');
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x02\x00\x00\x00\xff\xfe", 6)), 'R');
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x02\x00\x00\x00/x", 6)), 'A');
    ASSERT_TRUE (received.waitFor (4));
    EXPECT_EQ (received.lines[3], "/x");

    // A line queued when the instance goes is dropped, never handed to a dead owner.
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, "late", 2000));
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
        for (auto& line : received.lines)
            EXPECT_TRUE (juce::File::isAbsolutePath (juce::StringArray::fromTokens (line, true)[0].unquoted()));
    }
}

TEST (SingleInstance, AnInstanceThatNeverAnswersLeavesTheLaunchToRunAlone)
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
    const auto launch = SingleInstance::claimOrHandOver (name, 2, argv, [] (const juce::String&) {}, 300);
    EXPECT_EQ (launch.service, nullptr);
    EXPECT_FALSE (launch.handedOver);
    ::close (listening);
    ::close (lock);
    // Not File::deleteFile: it takes a socket for a folder.
    ::unlink (socket.getFullPathName().toRawUTF8());
    ::unlink (lockPath.toRawUTF8());
}

TEST (SingleInstance, ArgumentsComeBackFromTheTokensOfTheirLine)
{
    const char* argv[] = { "clarivo", "/dir/a b.wav", "-x", "rel.wav", "", "tab\there", "'/quoted'.wav",
                           "/say \"hi\" now.wav", "a\"b c\"d", "\xc3\xa9t\xc3\xa9 .wav" };
    const int argc = (int) std::size (argv);
    const auto line = SingleInstance::commandLineFrom (argc, argv);
    ASSERT_TRUE (line.has_value());
    EXPECT_TRUE (line->startsWith ("\"/dir/a b.wav\" -x rel.wav \"\" "));
    const auto tokens = juce::StringArray::fromTokens (*line, true);
    ASSERT_EQ (tokens.size(), argc - 1);
    for (int i = 1; i < argc; ++i)
        EXPECT_EQ (tokens[i - 1].unquoted(), juce::String::fromUTF8 (argv[i])) << i;

    // Lines that would read as other files are never made.
    const char* unwritable[] = { "clarivo", "/x \"y /etc/z\" w" };
    const char* notUtf8[] = { "clarivo", "/\xff.wav" };
    EXPECT_FALSE (SingleInstance::commandLineFrom (2, unwritable).has_value());
    EXPECT_FALSE (SingleInstance::commandLineFrom (2, notUtf8).has_value());
    EXPECT_EQ (SingleInstance::commandLineFrom (1, argv), juce::String());
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
    EXPECT_EQ (SingleInstance::claim ("Clarivo+ 5", [] (const juce::String&) {}), nullptr);
    EXPECT_LT (msToFail ("Clarivo+ 5"), 1000);
    EXPECT_EQ (fallback.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    base.deleteRecursively();
}
