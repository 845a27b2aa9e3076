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
// bytes as a later launch would and returns the answer, 0 for none, and
// commits to a ready answer unless it is a launch that gives up.
enum class Use { bound, listening, send, sendAndGiveUp };
int socketAt (const juce::File& file, Use use, const std::string& bytes = {})
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    file.getFullPathName().copyToUTF8 (address.sun_path, sizeof (address.sun_path));
    const int fd = ::socket (AF_UNIX, SOCK_STREAM, 0);
    if (use == Use::send || use == Use::sendAndGiveUp)
    {
        char answer = 0;
        if (::connect (fd, (const sockaddr*) &address, sizeof (address)) == 0
            && ::send (fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == (ssize_t) bytes.size())
            ::recv (fd, &answer, 1, 0);
        if (answer == 'A' && use == Use::send)
            ::send (fd, "G", 1, MSG_NOSIGNAL);
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
    // Only a launch that still waits for its answer is carried out.
    EXPECT_EQ (socketAt (socket, Use::sendAndGiveUp, std::string ("\x03\x00\x00\x00/y\0", 7)), 'A');
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x03\x00\x00\x00/x\0", 7)), 'A');
    ASSERT_TRUE (received.waitFor (4));
    EXPECT_EQ (received.launches[3], Arguments { "/x" });

    // Once the quit has begun no launch is told "ready": one waits and runs
    // on its own when the instance has gone, one that waited too long says
    // so; a quit called off takes launches again.
    owner->refuseLaunches (true);
    EXPECT_EQ (socketAt (socket, Use::send, std::string ("\x06\x00\x00\x00/late\0", 10)), 'Q');
    EXPECT_FALSE (SingleInstance::sendToRunningInstance (name, { "/late" }, 2000));
    const char* argv[] = { "clarivo", "/late.wav" };
    const auto impatient = SingleInstance::claimOrHandOver (name, 2, argv, received.handler(), 2000, 200);
    EXPECT_TRUE (impatient.service == nullptr && ! impatient.handedOver && impatient.refusal.contains ("quitting"))
        << impatient.refusal;
    owner->refuseLaunches (false);
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, { "/again" }, 2000));
    ASSERT_TRUE (received.waitFor (5));
    EXPECT_EQ (received.launches[4], Arguments { "/again" });

    owner->refuseLaunches (true);
    SingleInstance::Launch patient;
    std::thread waiting ([&] { patient = SingleInstance::claimOrHandOver (name, 2, argv, {}, 2000, 10000); });
    std::this_thread::sleep_for (std::chrono::milliseconds (300));
    owner.reset();
    waiting.join();
    EXPECT_NE (patient.service, nullptr);
    EXPECT_FALSE (patient.handedOver);
    EXPECT_FALSE (received.waitFor (6, 2));
    patient.service.reset();
    EXPECT_FALSE (socket.exists());
    EXPECT_LT (msToFail (name), 1000);
    EXPECT_NE (SingleInstance::claim (name, received.handler()), nullptr);
}

TEST (SingleInstance, AQuitWaitsForTheLaunchesToldReadyBeforeItBegan)
{
    const auto name = testName ("quit");
    Received received;
    auto owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);
    EXPECT_TRUE (owner->waitForAcceptedLaunches (0));

    // Told "ready", not yet committed when the quit begins: the quit waits
    // until it commits, and its arguments are queued before the wait ends.
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    SingleInstance::socketFile (name).getFullPathName().copyToUTF8 (address.sun_path, sizeof (address.sun_path));
    const int fd = ::socket (AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ (::connect (fd, (const sockaddr*) &address, sizeof (address)), 0);
    ASSERT_EQ (::send (fd, "\x03\x00\x00\x00/a\0", 7, MSG_NOSIGNAL), 7);
    char answer = 0;
    ASSERT_EQ (::recv (fd, &answer, 1, 0), 1);
    EXPECT_EQ (answer, 'A');
    owner->refuseLaunches (true);
    EXPECT_FALSE (owner->waitForAcceptedLaunches (100));
    std::thread committing ([fd] {
        std::this_thread::sleep_for (std::chrono::milliseconds (200));
        ::send (fd, "G", 1, MSG_NOSIGNAL);
    });
    EXPECT_TRUE (owner->waitForAcceptedLaunches (3000));
    committing.join();
    ::close (fd);
    ASSERT_TRUE (received.waitFor (1));
    EXPECT_EQ (received.launches[0], Arguments { "/a" });

    // One that gives up after "ready" holds the quit up no longer than a
    // stalled sender may.
    const int quitter = ::socket (AF_UNIX, SOCK_STREAM, 0);
    owner->refuseLaunches (false);
    ASSERT_EQ (::connect (quitter, (const sockaddr*) &address, sizeof (address)), 0);
    ASSERT_EQ (::send (quitter, "\x03\x00\x00\x00/b\0", 7, MSG_NOSIGNAL), 7);
    ASSERT_EQ (::recv (quitter, &answer, 1, 0), 1);
    owner->refuseLaunches (true);
    ::close (quitter);
    EXPECT_TRUE (owner->waitForAcceptedLaunches (3000));
    EXPECT_FALSE (received.waitFor (2, 2));
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

TEST (SingleInstance, ALaunchSaysWhatHappensEvenBehindStalledConnections)
{
    const auto name = testName ("stalled");
    Received received;
    auto owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);

    // Launches that hung after connecting: some sent nothing, some half a request.
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    SingleInstance::socketFile (name).getFullPathName().copyToUTF8 (address.sun_path, sizeof (address.sun_path));
    std::vector<int> stalled;
    for (int i = 0; i < 20; ++i)
    {
        const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (::connect (fd, (const sockaddr*) &address, sizeof (address)) == 0 && i % 2 == 1)
            ::send (fd, "\x09\x00\x00\x00/ha", 7, MSG_NOSIGNAL);
        stalled.push_back (fd);
    }

    const auto start = std::chrono::steady_clock::now();
    const bool handedOver = SingleInstance::sendToRunningInstance (name, { "/a.wav" }, 3000);
    EXPECT_TRUE (handedOver);
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (1000));
    for (const int fd : stalled)
        ::close (fd);
    // What the launch was told is what the instance does, even after the
    // stalls have long run out.
    received.waitFor (2, 40);
    EXPECT_EQ (received.launches, handedOver ? std::vector<Arguments> { { "/a.wav" } } : std::vector<Arguments>());
}

TEST (SingleInstance, ArgumentsReachTheOwnerAsTheBytesTheyWere)
{
    // Linux names are bytes: spaces, quotes, tabs, empty arguments and names
    // that are not UTF-8 all arrive as they were typed, a relative name made
    // absolute against the launch's folder, itself not UTF-8 here.
    const auto name = testName ("bytes");
    Received received;
    auto owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);
    const char* argv[] = { "clarivo", "/dir/a b.wav", "-x", "rel.wav", "", "tab\there", "'/quoted'.wav",
                           "/say \"hi\" now.wav", "/x \"y /etc/z\" w", "\xc3\xa9t\xc3\xa9 .wav", "/bad\xff\xfe" "bytes.wav" };
    const int argc = (int) std::size (argv);
    const auto parent = juce::File::createTempFile ("launch");
    ASSERT_TRUE (parent.createDirectory());
    const auto folder = parent.getFullPathName().toStdString() + "/b\xe9" "d dir";
    ASSERT_EQ (::mkdir (folder.c_str(), 0700), 0);
    const auto previous = juce::File::getCurrentWorkingDirectory();
    ASSERT_EQ (::chdir (folder.c_str()), 0);
    const auto launch = SingleInstance::claimOrHandOver (name, argc, argv, received.handler(), 2000);
    previous.setAsCurrentWorkingDirectory();
    ::rmdir (folder.c_str());
    parent.deleteRecursively();
    EXPECT_TRUE (launch.handedOver);
    ASSERT_TRUE (received.waitFor (1));
    auto expected = Arguments (argv + 1, argv + argc);
    for (auto* relative : { &expected[2], &expected[4], &expected[5], &expected[8] })
        *relative = folder + "/" + *relative;
    EXPECT_EQ (received.launches[0], expected);
    EXPECT_TRUE (SingleInstance::claimOrHandOver (name, 1, argv, received.handler(), 2000).handedOver);
    ASSERT_TRUE (received.waitFor (2));
    EXPECT_TRUE (received.launches[1].empty());
}

namespace
{
// An environment variable as it was before the test.
struct SavedVariable
{
    const char* name;
    const char* value = std::getenv (name);
    const std::string kept = value != nullptr ? value : "";
    ~SavedVariable() { value != nullptr ? ::setenv (name, kept.c_str(), 1) : ::unsetenv (name); }
};

// Meeting places of the test's own, whatever the user's are.
struct ScopedRoots
{
    explicit ScopedRoots (const juce::File& base)
        : runtime (base.getChildFile ("runtime")), home (base.getChildFile ("home"))
    {
        runtime.createDirectory();
        home.createDirectory();
        ::chmod (runtime.getFullPathName().toRawUTF8(), 0700);
        set ("host-a");
    }
    ~ScopedRoots() { SingleInstance::setRoots (std::nullopt); }
    void set (const std::string& host, const juce::File& homeSeen = {}, const juce::File& runtimeSeen = {})
    {
        SingleInstance::setRoots (SingleInstance::Roots { (runtimeSeen == juce::File() ? runtime : runtimeSeen).getFullPathName().toStdString(),
                                                          (homeSeen == juce::File() ? home : homeSeen).getFullPathName().toStdString(), host });
    }
    const juce::File runtime, home;
};
} // namespace

TEST (SingleInstance, TheSocketLivesOnlyInAFolderOfOursAlone)
{
    const SavedVariable tempVariable { "TMPDIR" };

    const auto base = juce::File::createTempFile ("launch");
    ScopedRoots roots (base);
    const auto runtime = roots.runtime, cache = roots.home.getChildFile (".cache"), temp = base.getChildFile ("temp");
    ASSERT_TRUE (temp.createDirectory());
    const auto path = [] (const juce::File& f) { return f.getFullPathName().toRawUTF8(); };
    const auto isPrivate = [&] (const juce::File& f)
    {
        struct stat info {};
        return ::lstat (path (f), &info) == 0 && S_ISDIR (info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
    };
    ::setenv ("TMPDIR", path (temp), 1);
    const auto inRuntime = SingleInstance::socketFile ("Clarivo+ 5");
    EXPECT_EQ (inRuntime.getParentDirectory(), runtime);
    EXPECT_TRUE (inRuntime.getFileName().startsWith ("Clarivo__5-"));
    EXPECT_NE (inRuntime, SingleInstance::socketFile ("Clarivo__5"));

    // A runtime folder others may enter is passed over for one of ours in
    // the home's cache folder (made when missing), never the shared
    // temporary folder, where another user could make the name first.
    ::chmod (path (runtime), 0755);
    const auto fallback = SingleInstance::socketFile ("Clarivo+ 5").getParentDirectory();
    EXPECT_EQ (fallback, cache.getChildFile ("clarivo-launch"));
    EXPECT_TRUE (isPrivate (fallback) && isPrivate (cache));
    EXPECT_EQ (temp.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);

    // A home with a long name puts the socket past what an address holds:
    // one instance all the same.
    const auto deep = base.getChildFile (juce::String::repeatedString ("a long folder name/", 6) + "home");
    ASSERT_TRUE (deep.createDirectory());
    roots.set ("host-a", deep);
    {
        Received received;
        const auto name = testName ("a long way down");
        ASSERT_GE (SingleInstance::socketFile (name).getFullPathName().getNumBytesAsUTF8(), sizeof (sockaddr_un::sun_path));
        auto owner = SingleInstance::claim (name, received.handler());
        ASSERT_NE (owner, nullptr);
        EXPECT_EQ (SingleInstance::claim (name, received.handler()), nullptr);
        EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, { "/a.wav" }, 2000));
        EXPECT_TRUE (received.waitFor (1));
    }
    roots.set ("host-a");

    // Ours but opened up: closed again and used.
    ::chmod (path (fallback), 0777);
    EXPECT_EQ (SingleInstance::socketFile ("Clarivo+ 5").getParentDirectory(), fallback);
    EXPECT_TRUE (isPrivate (fallback));

    // A cache folder others may write to, a link planted in the folder's
    // place (even to a private folder) or a folder of somebody else's
    // leaves no socket to claim or send to.
    const auto refused = [&]
    {
        EXPECT_EQ (SingleInstance::socketFile ("Clarivo+ 5"), juce::File());
        EXPECT_EQ (SingleInstance::claim ("Clarivo+ 5", [] (const Arguments&) {}), nullptr);
        EXPECT_LT (msToFail ("Clarivo+ 5"), 1000);
        // Nobody holds the lock there: the launch runs alone rather than open nothing.
        const char* argv[] = { "clarivo", "/a.wav" };
        const auto alone = SingleInstance::claimOrHandOver ("Clarivo+ 5", 2, argv, [] (const Arguments&) {}, 300);
        EXPECT_TRUE (alone.service == nullptr && ! alone.handedOver && alone.refusal.isEmpty());
    };
    ::chmod (path (cache), 0777);
    refused();
    ::chmod (path (cache), 0700);
    ASSERT_EQ (::rmdir (path (fallback)), 0);
    const auto elsewhere = base.getChildFile ("elsewhere");
    ASSERT_TRUE (elsewhere.createDirectory());
    ::chmod (path (elsewhere), 0700);
    ASSERT_EQ (::symlink (path (elsewhere), path (fallback)), 0);
    refused();
    EXPECT_EQ (elsewhere.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    ::unlink (path (fallback));
    if (::geteuid() == 0)
    {
        ASSERT_EQ (::mkdir (path (fallback), 0700), 0);
        ASSERT_EQ (::chown (path (fallback), 65534, 65534), 0);
        refused();
        EXPECT_EQ (fallback.getNumberOfChildFiles (juce::File::findFilesAndDirectories), 0);
    }
    base.deleteRecursively();
}

TEST (SingleInstance, EveryLaunchOfTheUserFindsTheInstanceWhateverItsEnvironmentSays)
{
    const SavedVariable runtimeVariable { "XDG_RUNTIME_DIR" }, cacheVariable { "XDG_CACHE_HOME" }, homeVariable { "HOME" };

    const auto base = juce::File::createTempFile ("launch");
    ScopedRoots roots (base);
    const auto name = testName ("environment");
    const auto places = SingleInstance::socketFiles (name);
    ASSERT_EQ (places.size(), 2u);
    EXPECT_EQ (places[0].getParentDirectory(), roots.runtime);
    EXPECT_EQ (places[1].getParentDirectory(), roots.home.getChildFile (".cache/clarivo-launch"));
    // The home may be shared between hosts: its names carry the host's.
    EXPECT_TRUE (places[1].getFileName().endsWith ("-host-a.socket")) << places[1].getFileName();
    EXPECT_FALSE (places[0].getFileName().contains ("host-a"));

    // A session without a runtime variable (cron, ssh, sudo -u), another
    // cache variable or a home reached through a link meets in the same places.
    Received received;
    auto owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);
    ::unsetenv ("XDG_RUNTIME_DIR");
    ::setenv ("XDG_CACHE_HOME", base.getChildFile ("other cache").getFullPathName().toRawUTF8(), 1);
    ::setenv ("HOME", base.getFullPathName().toRawUTF8(), 1);
    const auto link = base.getChildFile ("link to home");
    ASSERT_TRUE (roots.home.createSymbolicLink (link, true));
    roots.set ("host-a", link);
    EXPECT_EQ (SingleInstance::socketFiles (name), places);
    EXPECT_EQ (SingleInstance::claim (name, received.handler()), nullptr);
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, { "/a.wav" }, 2000));

    // Where the runtime folder cannot be had the home's place still finds
    // the instance; and an instance that saw only the home's place is found
    // by a launch that sees both.
    ::chmod (roots.runtime.getFullPathName().toRawUTF8(), 0755);
    EXPECT_EQ (SingleInstance::claim (name, received.handler()), nullptr);
    EXPECT_TRUE (SingleInstance::sendToRunningInstance (name, { "/b.wav" }, 2000));
    ASSERT_TRUE (received.waitFor (2));
    owner.reset();
    owner = SingleInstance::claim (name, received.handler());
    ASSERT_NE (owner, nullptr);
    ::chmod (roots.runtime.getFullPathName().toRawUTF8(), 0700);
    EXPECT_EQ (SingleInstance::claim (name, received.handler()), nullptr);
    const char* argv[] = { "clarivo", "/c.wav" };
    EXPECT_TRUE (SingleInstance::claimOrHandOver (name, 2, argv, received.handler(), 2000).handedOver);
    ASSERT_TRUE (received.waitFor (3));
    EXPECT_EQ (received.launches, std::vector<Arguments> ({ { "/a.wav" }, { "/b.wav" }, { "/c.wav" } }));

    // Another host on the same (network) home, without a runtime folder,
    // runs its own instance at once instead of waiting on ours.
    roots.set ("host-b", {}, base.getChildFile ("no runtime folder"));
    const auto start = std::chrono::steady_clock::now();
    const auto there = SingleInstance::claimOrHandOver (name, 2, argv, received.handler(), 2000);
    EXPECT_NE (there.service, nullptr);
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::milliseconds (1000));
    owner.reset();
    base.deleteRecursively();
}
