#include "SingleInstance.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace clarivo::launch
{
namespace
{
// The instance answers a whole request with ready or refused; the sender
// answers ready with commit, and only a committed request is carried out.
// So a sender that gave up (its time ran out, it was killed) leaves nothing
// behind, and one that committed is never left unserved.
constexpr char ready = 'A';
constexpr char refused = 'R';
constexpr char commit = 'G';
// Refused because the instance is quitting: the launch waits for it to go.
constexpr char quitting = 'Q';
// How long one connection may keep a request unfinished or uncommitted.
// Connections are served side by side: a stalled one holds up no other.
constexpr int senderStallMs = 2000;
constexpr size_t maxConnections = 64;

using Clock = std::chrono::steady_clock;

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd (int f) : fd (f) {}
    UniqueFd (UniqueFd&& other) noexcept : fd (std::exchange (other.fd, -1)) {}
    UniqueFd& operator= (UniqueFd&& other) noexcept
    {
        reset (std::exchange (other.fd, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }
    void reset (int f = -1)
    {
        if (fd >= 0)
            ::close (fd);
        fd = f;
    }
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd = -1;
};

struct FileId
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator== (const FileId& o) const { return device == o.device && inode == o.inode; }
};

std::optional<FileId> idOf (const std::string& path)
{
    struct stat info {};
    if (::lstat (path.c_str(), &info) != 0)
        return std::nullopt;
    return FileId { info.st_dev, info.st_ino };
}

// The same test the temporary folder passes: a real folder (not a link to
// one), ours, and closed to everybody else.
bool isPrivateFolder (const std::string& path)
{
    struct stat info {};
    return ::lstat (path.c_str(), &info) == 0 && S_ISDIR (info.st_mode) && info.st_uid == ::geteuid()
           && (info.st_mode & 0777) == 0700;
}

std::mutex rootsLock;
std::optional<SingleInstance::Roots> rootsOverride;

SingleInstance::Roots currentRoots()
{
    {
        const std::lock_guard<std::mutex> l (rootsLock);
        if (rootsOverride)
            return *rootsOverride;
    }
    return SingleInstance::usersRoots();
}

std::string resolved (const std::string& path)
{
    std::unique_ptr<char, decltype (&std::free)> real (::realpath (path.c_str(), nullptr), &std::free);
    return real != nullptr ? std::string (real.get()) : std::string();
}

// The cache folder of the home, where nobody else can make a name (a shared
// temporary folder would let another user plant ours first and switch the
// guard off). Not usable when it is open to others.
std::string cacheFolder (const std::string& home)
{
    if (home.empty() || home[0] != '/')
        return {};
    // Through a link or not, one home is one place.
    const auto real = resolved (home);
    if (real.empty())
        return {};
    auto path = (real == "/" ? std::string() : real) + "/.cache";
    ::mkdir (path.c_str(), 0700);
    // The cache folder may be a link (to another disk, say): it is what it
    // leads to that must be ours and closed to writers other than us.
    path = resolved (path);
    struct stat info {};
    if (path.empty() || ::stat (path.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid()))
        return {};
    return path;
}

std::string launchFolderIn (const std::string& cache)
{
    // A fixed name, so that every launch of this user finds the same socket.
    const auto path = cache + "/clarivo-launch";
    ::mkdir (path.c_str(), 0700);
    // Ours but opened up (the umask, a restored backup): closed again. A
    // link or anything not ours is never used.
    UniqueFd opened (::open (path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (opened && ::fstat (opened.get(), &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0777) != 0700)
        ::fchmod (opened.get(), 0700);
    return isPrivateFolder (path) ? path : std::string();
}

juce::String plainName (const juce::String& text, int length)
{
    juce::String name;
    for (auto c : text.substring (0, length))
    {
        const bool plain = (c < 128 && juce::CharacterFunctions::isLetterOrDigit (c)) || c == '-' || c == '.';
        name += juce::String::charToString (plain ? c : (juce::juce_wchar) '_');
    }
    return name;
}

juce::String fileNameFor (const juce::String& appName, const std::string& host)
{
    // Names that differ only in the characters replaced stay apart.
    auto name = plainName (appName, 48) + "-" + juce::String::toHexString ((int) appName.hashCode());
    if (! host.empty())
        name << "-" << plainName (juce::String::fromUTF8 (host.c_str()), 64);
    return name + ".socket";
}

struct Paths
{
    std::string socket, lock;
};

std::vector<Paths> pathsFor (const juce::String& appName)
{
    std::vector<Paths> all;
    for (const auto& file : SingleInstance::socketFiles (appName))
    {
        const auto socket = file.getFullPathName().toStdString();
        all.push_back ({ socket, socket + ".lock" });
    }
    return all;
}

// A long home folder makes a socket's name longer than an address holds;
// the kernel then reaches it through a short name for its folder, open
// while the address is used.
struct SocketAddress
{
    sockaddr_un address {};
    UniqueFd folder;
};

bool addressOf (const std::string& path, SocketAddress& out)
{
    out.address = {};
    out.address.sun_family = AF_UNIX;
    auto name = path;
    if (name.size() >= sizeof (out.address.sun_path))
    {
        const auto slash = path.rfind ('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        out.folder = UniqueFd (::open (path.substr (0, slash).c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (! out.folder)
            return false;
        name = "/proc/self/fd/" + std::to_string (out.folder.get()) + path.substr (slash);
        if (name.size() >= sizeof (out.address.sun_path))
            return false;
    }
    std::memcpy (out.address.sun_path, name.c_str(), name.size() + 1);
    return true;
}

bool peerIsUs (int fd)
{
    ucred peer {};
    socklen_t size = sizeof (peer);
    return ::getsockopt (fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

// The instance is whoever holds this lock; the kernel drops it when its
// holder dies, so a crash leaves nothing that blocks the next launch. Open
// file description locks, unlike process locks, also keep two threads of one
// process apart.
UniqueFd takeLock (const std::string& path)
{
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        UniqueFd fd (::open (path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (! fd)
            return {};
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl (fd.get(), F_OFD_SETLK, &lock) != 0)
            return {};

        // An instance that quits unlinks the file it held; holding that one
        // would make a second owner beside whoever made the new file.
        struct stat held {};
        const auto named = idOf (path);
        if (::fstat (fd.get(), &held) == 0 && named && *named == FileId { held.st_dev, held.st_ino })
            return fd;
    }
    return {};
}

bool lockIsHeld (const std::string& path)
{
    UniqueFd fd (::open (path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (! fd)
        return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return ::fcntl (fd.get(), F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// The arguments as they travel: each one's bytes and a zero after it (no
// argument holds a zero byte).
std::string packed (const SingleInstance::Arguments& arguments)
{
    std::string bytes;
    for (const auto& argument : arguments)
        bytes.append (argument.c_str(), std::strlen (argument.c_str()) + 1);
    return bytes;
}

std::optional<SingleInstance::Arguments> unpacked (const std::string& bytes)
{
    if (! bytes.empty() && bytes.back() != '\0')
        return std::nullopt;
    SingleInstance::Arguments arguments;
    for (size_t start = 0; start < bytes.size();)
    {
        const auto end = bytes.find ('\0', start);
        arguments.emplace_back (bytes, start, end - start);
        start = end + 1;
    }
    return arguments;
}

int millisecondsUntil (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return (int) std::max<long long> (0, left);
}

// Waits until fd is ready for events; false on the deadline or an error.
bool waitFor (int fd, short events, Clock::time_point deadline)
{
    for (;;)
    {
        pollfd one { fd, events, 0 };
        const int count = ::poll (&one, 1, millisecondsUntil (deadline));
        if (count < 0 && errno == EINTR)
            continue;
        return count > 0 && (one.revents & events) != 0;
    }
}

bool readAll (int fd, char* data, size_t size, Clock::time_point deadline)
{
    while (size > 0)
    {
        const auto got = ::recv (fd, data, size, 0);
        if (got > 0)
        {
            data += got;
            size -= (size_t) got;
        }
        else if (got == 0 || (errno != EAGAIN && errno != EINTR) || ! waitFor (fd, POLLIN, deadline))
            return false;
    }
    return true;
}

bool writeAll (int fd, const char* data, size_t size, Clock::time_point deadline)
{
    while (size > 0)
    {
        const auto sent = ::send (fd, data, size, MSG_NOSIGNAL);
        if (sent > 0)
        {
            data += sent;
            size -= (size_t) sent;
        }
        else if (sent == 0 || (errno != EAGAIN && errno != EINTR) || ! waitFor (fd, POLLOUT, deadline))
            return false;
    }
    return true;
}
} // namespace

//==============================================================================
struct SingleInstance::Listener
{
    // One meeting place: its lock, and the socket bound there.
    struct Place
    {
        Paths paths;
        UniqueFd lock, socket;
        std::optional<FileId> socketId;
    };
    std::vector<Place> places;
    UniqueFd wake;
    std::shared_ptr<ArgumentsHandler> handler;
    std::thread thread;

    // Whether launches are refused, and how many were told "ready" and have
    // not yet committed or given up.
    std::mutex stateLock;
    std::condition_variable stateChanged;
    bool refusing = false;
    int undecided = 0;

    ~Listener()
    {
        if (thread.joinable())
        {
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write (wake.get(), &one, sizeof (one));
            thread.join();
        }
        handler.reset();

        // Removed while the locks are still held, so that a newer instance's
        // files are never the ones taken away.
        for (auto& place : places)
        {
            if (place.socketId && idOf (place.paths.socket) == place.socketId)
                ::unlink (place.paths.socket.c_str());
            struct stat held {};
            if (place.lock && ::fstat (place.lock.get(), &held) == 0
                && idOf (place.paths.lock) == FileId { held.st_dev, held.st_ino })
                ::unlink (place.paths.lock.c_str());
        }
    }

    struct Connection
    {
        UniqueFd fd;
        Clock::time_point deadline;
        std::string request;       // the length's four bytes, then the arguments
        SingleInstance::Arguments arguments;
        bool answered = false;     // ready was sent; waiting for commit
    };

    void run()
    {
        std::vector<Connection> connections;
        std::vector<pollfd> fds;
        const auto listening = places.size();
        for (;;)
        {
            fds.clear();
            fds.push_back ({ wake.get(), POLLIN, 0 });
            // At the limit new launches wait in the backlog (their connect
            // is retried) until a slot frees.
            for (auto& place : places)
                fds.push_back ({ connections.size() < maxConnections ? place.socket.get() : -1, POLLIN, 0 });
            auto soonest = Clock::time_point::max();
            for (auto& c : connections)
            {
                fds.push_back ({ c.fd.get(), POLLIN, 0 });
                soonest = std::min (soonest, c.deadline);
            }
            const int timeout = connections.empty() ? -1 : millisecondsUntil (soonest);
            if (::poll (fds.data(), (nfds_t) fds.size(), timeout) < 0 && errno != EINTR)
                return;
            if (fds[0].revents != 0)
                return;
            for (size_t p = 0; p < listening; ++p)
                if ((fds[p + 1].revents & (POLLERR | POLLNVAL)) != 0)
                    return;

            for (size_t i = connections.size(); i-- > 0;)
                if (! advance (connections[i], fds[i + 1 + listening].revents != 0))
                {
                    settle (connections[i]);
                    connections.erase (connections.begin() + (std::ptrdiff_t) i);
                }

            for (size_t p = 0; p < listening; ++p)
                if ((fds[p + 1].revents & POLLIN) != 0)
                    while (connections.size() < maxConnections)
                    {
                        UniqueFd connection (::accept4 (places[p].socket.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                        if (! connection)
                            break;
                        // The folder already keeps others out; this holds even where it does not.
                        if (! peerIsUs (connection.get()))
                            continue;
                        Connection c;
                        c.fd = std::move (connection);
                        c.deadline = Clock::now() + std::chrono::milliseconds (senderStallMs);
                        connections.push_back (std::move (c));
                        // Most senders have written their request already.
                        if (! advance (connections.back(), true))
                        {
                            settle (connections.back());
                            connections.pop_back();
                        }
                    }
        }
    }

    // Reads what the connection has; false once it is done with.
    bool advance (Connection& c, bool readable)
    {
        while (readable)
        {
            char chunk[4096];
            const size_t want = c.answered ? 1 : c.request.size() < 4 ? 4 - c.request.size()
                                                                       : 4 + requestSize (c) - c.request.size();
            const auto got = ::recv (c.fd.get(), chunk, std::min (want, sizeof (chunk)), 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && errno == EAGAIN)
                break;
            // The sender left, or it committed (or said anything else).
            if (got <= 0 || c.answered)
            {
                if (got == 1 && chunk[0] == commit)
                    deliver (c);
                return false;
            }
            c.request.append (chunk, (size_t) got);
            const bool tooLong = c.request.size() == 4 && requestSize (c) > maxCommandLineBytes;
            if (! tooLong && (c.request.size() < 4 || c.request.size() < 4 + requestSize (c)))
                continue;
            auto arguments = tooLong ? std::nullopt : unpacked (c.request.substr (4));
            if (! arguments)
            {
                reply (c, refused);
                return false;
            }
            {
                // Decided under the lock that the quit takes: a launch is
                // either told to wait, or counted before the quit goes on.
                const std::lock_guard<std::mutex> l (stateLock);
                if (refusing)
                {
                    reply (c, quitting);
                    return false;
                }
                ++undecided;
                c.answered = true;
            }
            c.arguments = std::move (*arguments);
            if (! reply (c, ready))
                return false;
            c.deadline = Clock::now() + std::chrono::milliseconds (senderStallMs);
        }
        if (Clock::now() < c.deadline)
            return true;
        if (c.answered)
        {
            // Past this shutdown no commit can be sent; one sent before it
            // is in the queue and still counts, since its sender was told yes.
            ::shutdown (c.fd.get(), SHUT_RD);
            char last = 0;
            if (::recv (c.fd.get(), &last, 1, 0) == 1 && last == commit)
                deliver (c);
        }
        return false;
    }

    // A connection that is done with: a launch told "ready" is decided now.
    void settle (Connection& c)
    {
        if (! c.answered)
            return;
        c.answered = false;
        const std::lock_guard<std::mutex> l (stateLock);
        --undecided;
        stateChanged.notify_all();
    }

    static uint32_t requestSize (const Connection& c)
    {
        const auto* h = (const unsigned char*) c.request.data();
        return h[0] | (h[1] << 8) | (h[2] << 16) | ((uint32_t) h[3] << 24);
    }

    static bool reply (Connection& c, char answer)
    {
        return ::send (c.fd.get(), &answer, 1, MSG_NOSIGNAL) == 1;
    }

    void deliver (Connection& c)
    {
        std::weak_ptr<ArgumentsHandler> target = handler;
        juce::MessageManager::callAsync ([target, received = std::move (c.arguments)]
        {
            if (auto call = target.lock())
                (*call) (received);
        });
    }
};

//==============================================================================
SingleInstance::SingleInstance (std::unique_ptr<Listener> l) : listener (std::move (l)) {}

SingleInstance::~SingleInstance() = default;

void SingleInstance::refuseLaunches (bool refuse)
{
    const std::lock_guard<std::mutex> l (listener->stateLock);
    listener->refusing = refuse;
}

bool SingleInstance::waitForAcceptedLaunches (int waitMs)
{
    std::unique_lock<std::mutex> l (listener->stateLock);
    return listener->stateChanged.wait_for (l, std::chrono::milliseconds (std::max (0, waitMs)),
                                            [this] { return listener->undecided == 0; });
}

SingleInstance::Roots SingleInstance::usersRoots()
{
    Roots roots;
    roots.runtime = "/run/user/" + std::to_string (::geteuid());
    passwd entry {}, *user = nullptr;
    std::vector<char> strings (16384);
    if (::getpwuid_r (::geteuid(), &entry, strings.data(), strings.size(), &user) == 0 && user != nullptr
        && user->pw_dir != nullptr)
        roots.home = user->pw_dir;
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname (host, sizeof (host) - 1) == 0)
        roots.host = host;
    return roots;
}

void SingleInstance::setRoots (std::optional<Roots> roots)
{
    const std::lock_guard<std::mutex> l (rootsLock);
    rootsOverride = std::move (roots);
}

std::vector<juce::File> SingleInstance::socketFiles (const juce::String& appName)
{
    const auto roots = currentRoots();
    std::vector<juce::File> files;
    // The runtime folder belongs to this host alone.
    if (! roots.runtime.empty() && roots.runtime[0] == '/' && isPrivateFolder (roots.runtime))
        files.push_back (juce::File (juce::String::fromUTF8 (roots.runtime.c_str())).getChildFile (fileNameFor (appName, {})));
    if (const auto cache = cacheFolder (roots.home); ! cache.empty())
        if (const auto folder = launchFolderIn (cache); ! folder.empty())
            files.push_back (juce::File (juce::String::fromUTF8 (folder.c_str())).getChildFile (fileNameFor (appName, roots.host)));
    return files;
}

juce::File SingleInstance::socketFile (const juce::String& appName)
{
    const auto files = socketFiles (appName);
    return files.empty() ? juce::File() : files.front();
}

std::unique_ptr<SingleInstance> SingleInstance::claim (const juce::String& appName, ArgumentsHandler onArguments)
{
    const auto paths = pathsFor (appName);
    if (paths.empty())
        return nullptr;

    // Every place's lock, always in the same order: whoever holds them all
    // is the instance, so a launch that sees only one of the places still
    // finds it held.
    auto listener = std::make_unique<Listener>();
    for (const auto& where : paths)
    {
        Listener::Place place;
        place.paths = where;
        place.lock = takeLock (where.lock);
        if (! place.lock)
            return nullptr;
        listener->places.push_back (std::move (place));
    }

    for (auto& place : listener->places)
    {
        SocketAddress address;
        if (! addressOf (place.paths.socket, address))
            return nullptr;
        // Whatever lies at the socket's name was left by an instance that no
        // longer holds the lock; unlink never follows a link.
        ::unlink (place.paths.socket.c_str());
        place.socket = UniqueFd (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (! place.socket || ::bind (place.socket.get(), (const sockaddr*) &address.address, sizeof (address.address)) != 0)
            return nullptr;
        place.socketId = idOf (place.paths.socket);
        ::chmod (place.paths.socket.c_str(), 0600);
        if (::listen (place.socket.get(), (int) maxConnections) != 0)
            return nullptr;
    }
    listener->wake = UniqueFd (::eventfd (0, EFD_CLOEXEC));
    if (! listener->wake)
        return nullptr;

    listener->handler = std::make_shared<ArgumentsHandler> (std::move (onArguments));
    listener->thread = std::thread ([l = listener.get()] { l->run(); });
    return std::unique_ptr<SingleInstance> (new SingleInstance (std::move (listener)));
}

namespace
{
enum class Sent { handedOver, quitting, failed };

bool anyLockHeld (const std::vector<Paths>& paths)
{
    return std::any_of (paths.begin(), paths.end(), [] (const Paths& p) { return lockIsHeld (p.lock); });
}

Sent send (const juce::String& appName, const SingleInstance::Arguments& arguments, int timeoutMs)
{
    const auto bytes = packed (arguments);
    const auto size = bytes.size();
    const auto paths = pathsFor (appName);
    if (size > SingleInstance::maxCommandLineBytes || paths.empty())
        return Sent::failed;

    std::string message (4, '\0');
    for (int i = 0; i < 4; ++i)
        message[(size_t) i] = (char) ((size >> (8 * i)) & 0xff);
    message += bytes;

    const auto deadline = Clock::now() + std::chrono::milliseconds (std::max (0, timeoutMs));
    for (;;)
    {
        for (const auto& place : paths)
        {
            SocketAddress address;
            if (! addressOf (place.socket, address))
                continue;
            // connect follows links: only a socket of ours at the name is
            // tried, and only an instance of ours at the other end is told
            // anything.
            struct stat info {};
            const bool ours = ::lstat (place.socket.c_str(), &info) == 0 && S_ISSOCK (info.st_mode)
                              && info.st_uid == ::geteuid();
            UniqueFd fd (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (! fd)
                return Sent::failed;
            if (! ours || ::connect (fd.get(), (const sockaddr*) &address.address, sizeof (address.address)) != 0)
                continue;
            if (! peerIsUs (fd.get()) || ! writeAll (fd.get(), message.data(), message.size(), deadline))
                return Sent::failed;
            // Once the instance is ready the launch commits, whatever its own
            // time says: the request is carried out exactly when this send
            // reaches it.
            char answer = 0;
            if (! readAll (fd.get(), &answer, 1, deadline))
                return Sent::failed;
            if (answer == quitting)
                return Sent::quitting;
            if (answer != ready)
                return Sent::failed;
            return ::send (fd.get(), &commit, 1, MSG_NOSIGNAL) == 1 ? Sent::handedOver : Sent::failed;
        }

        // An instance that holds a lock but does not listen yet is starting;
        // without one, nobody will ever answer.
        if (! anyLockHeld (paths) || Clock::now() >= deadline)
            return Sent::failed;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
}
} // namespace

bool SingleInstance::sendToRunningInstance (const juce::String& appName, const Arguments& arguments, int timeoutMs)
{
    return send (appName, arguments, timeoutMs) == Sent::handedOver;
}

SingleInstance::Arguments SingleInstance::argumentsFrom (int argc, const char* const* argv)
{
    // A name typed in a terminal is relative to the folder the launch was
    // typed in, which the running instance does not know: it travels made
    // whole, as bytes (the folder's name need not be text either).
    std::string here;
    for (std::vector<char> buffer (4096); buffer.size() <= (1u << 20); buffer.resize (buffer.size() * 2))
        if (::getcwd (buffer.data(), buffer.size()) != nullptr)
        {
            here = buffer.data();
            break;
        }
        else if (errno != ERANGE)
            break;

    Arguments arguments;
    for (int i = 1; i < argc && argv != nullptr; ++i)
    {
        if (argv[i] == nullptr)
            continue;
        const std::string argument (argv[i]);
        const bool relativeName = ! argument.empty() && argument[0] != '/' && argument[0] != '~' && argument[0] != '-';
        arguments.push_back (relativeName && here.rfind ("/", 0) == 0 ? (here == "/" ? "" : here) + "/" + argument : argument);
    }
    return arguments;
}

SingleInstance::Launch SingleInstance::claimOrHandOver (const juce::String& appName, int argc,
                                                        const char* const* argv, ArgumentsHandler onArguments,
                                                        int timeoutMs, int quitWaitMs)
{
    const auto arguments = argumentsFrom (argc, argv);
    const auto quitDeadline = Clock::now() + std::chrono::milliseconds (std::max (0, quitWaitMs));
    for (;;)
    {
        if (auto service = claim (appName, onArguments))
            return { std::move (service), false, {} };

        const auto sent = send (appName, arguments, timeoutMs);
        if (sent == Sent::handedOver)
            return { nullptr, true, {} };
        if (sent != Sent::quitting)
            break;
        // It will be gone soon; until then nobody would show the file.
        if (Clock::now() >= quitDeadline)
            return { nullptr, false, "Clarivo is quitting and was still running after "
                                         + juce::String (quitWaitMs / 1000.0, 1) + " s. Nothing was opened: "
                                         "open the file again once Clarivo has quit." };
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
    }

    // The instance may have quit between the two steps.
    if (auto service = claim (appName, std::move (onArguments)))
        return { std::move (service), false, {} };

    if (! anyLockHeld (pathsFor (appName)))
        return {};
    if (packed (arguments).size() > maxCommandLineBytes)
        return { nullptr, false, "Clarivo is already running, and this launch's file names are too long to hand over to it. "
                                 "Nothing was opened." };
    return { nullptr, false, "Clarivo is already running but did not take this launch's files within "
                                 + juce::String (timeoutMs / 1000.0, 1) + " s. Nothing was opened." };
}
} // namespace clarivo::launch
