#include "SingleInstance.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// Where a launch that has no private runtime folder keeps its socket: the
// user's own cache folder, where nobody else can make a name (a shared
// temporary folder would let another user plant ours first and switch the
// guard off). Not usable when it is open to others.
juce::File cacheFolder()
{
    std::string path;
    passwd entry {}, *user = nullptr;
    std::vector<char> strings (16384);
    if (const char* cache = std::getenv ("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/')
        path = cache;
    else if (const char* home = std::getenv ("HOME"); home != nullptr && home[0] == '/')
        path = std::string (home) + "/.cache";
    else if (::getpwuid_r (::geteuid(), &entry, strings.data(), strings.size(), &user) == 0 && user != nullptr
             && user->pw_dir != nullptr && user->pw_dir[0] == '/')
        path = std::string (user->pw_dir) + "/.cache";
    else
        return {};
    ::mkdir (path.c_str(), 0700);
    // The cache folder may be a link (to another disk, say): it is what it
    // leads to that must be ours and closed to writers other than us.
    struct stat info {};
    if (::stat (path.c_str(), &info) != 0 || ! S_ISDIR (info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & S_IWOTH) != 0 || ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid()))
        return {};
    return juce::File (juce::String::fromUTF8 (path.c_str()));
}

juce::File privateFolder()
{
    if (const char* runtime = std::getenv ("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/'
                                                                && isPrivateFolder (runtime))
        return juce::File (juce::String::fromUTF8 (runtime));

    const auto cache = cacheFolder();
    if (cache == juce::File())
        return {};
    // A fixed name, so that every launch of this user finds the same socket.
    const auto folder = cache.getChildFile ("clarivo-launch");
    const auto path = folder.getFullPathName().toStdString();
    ::mkdir (path.c_str(), 0700);
    // Ours but opened up (the umask, a restored backup): closed again. A
    // link or anything not ours is never used.
    UniqueFd opened (::open (path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (opened && ::fstat (opened.get(), &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 0777) != 0700)
        ::fchmod (opened.get(), 0700);
    return isPrivateFolder (path) ? folder : juce::File();
}

juce::String fileNameFor (const juce::String& appName)
{
    juce::String name;
    for (auto c : appName.substring (0, 48))
    {
        const bool plain = (c < 128 && juce::CharacterFunctions::isLetterOrDigit (c)) || c == '-' || c == '.';
        name += juce::String::charToString (plain ? c : (juce::juce_wchar) '_');
    }
    // Names that differ only in the characters replaced above stay apart.
    return name + "-" + juce::String::toHexString ((int) appName.hashCode()) + ".socket";
}

struct Paths
{
    std::string socket, lock;
};

std::optional<Paths> pathsFor (const juce::String& appName)
{
    const auto file = SingleInstance::socketFile (appName);
    if (file == juce::File())
        return std::nullopt;
    const auto socket = file.getFullPathName().toStdString();
    return Paths { socket, socket + ".lock" };
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
    Paths paths;
    UniqueFd lock, socket, wake;
    std::optional<FileId> socketId;
    std::shared_ptr<ArgumentsHandler> handler;
    std::thread thread;

    ~Listener()
    {
        if (thread.joinable())
        {
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = ::write (wake.get(), &one, sizeof (one));
            thread.join();
        }
        handler.reset();

        // Removed while the lock is still held, so that a newer instance's
        // files are never the ones taken away.
        if (socketId && idOf (paths.socket) == socketId)
            ::unlink (paths.socket.c_str());
        struct stat held {};
        if (lock && ::fstat (lock.get(), &held) == 0 && idOf (paths.lock) == FileId { held.st_dev, held.st_ino })
            ::unlink (paths.lock.c_str());
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
        for (;;)
        {
            fds.clear();
            fds.push_back ({ wake.get(), POLLIN, 0 });
            // At the limit new launches wait in the backlog (their connect
            // is retried) until a slot frees.
            fds.push_back ({ connections.size() < maxConnections ? socket.get() : -1, POLLIN, 0 });
            auto soonest = Clock::time_point::max();
            for (auto& c : connections)
            {
                fds.push_back ({ c.fd.get(), POLLIN, 0 });
                soonest = std::min (soonest, c.deadline);
            }
            const int timeout = connections.empty() ? -1 : millisecondsUntil (soonest);
            if (::poll (fds.data(), (nfds_t) fds.size(), timeout) < 0 && errno != EINTR)
                return;
            if (fds[0].revents != 0 || (fds[1].revents & (POLLERR | POLLNVAL)) != 0)
                return;

            for (size_t i = connections.size(); i-- > 0;)
                if (! advance (connections[i], fds[i + 2].revents != 0))
                    connections.erase (connections.begin() + (std::ptrdiff_t) i);

            if ((fds[1].revents & POLLIN) != 0)
                while (connections.size() < maxConnections)
                {
                    UniqueFd connection (::accept4 (socket.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
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
                        connections.pop_back();
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
            c.arguments = std::move (*arguments);
            if (! reply (c, ready))
                return false;
            c.answered = true;
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

juce::File SingleInstance::socketFile (const juce::String& appName)
{
    const auto folder = privateFolder();
    return folder == juce::File() ? juce::File() : folder.getChildFile (fileNameFor (appName));
}

std::unique_ptr<SingleInstance> SingleInstance::claim (const juce::String& appName, ArgumentsHandler onArguments)
{
    const auto paths = pathsFor (appName);
    SocketAddress address;
    if (! paths || ! addressOf (paths->socket, address))
        return nullptr;

    auto listener = std::make_unique<Listener>();
    listener->paths = *paths;
    listener->lock = takeLock (paths->lock);
    if (! listener->lock)
        return nullptr;

    // Whatever lies at the socket's name was left by an instance that no
    // longer holds the lock; unlink never follows a link.
    ::unlink (paths->socket.c_str());
    listener->socket = UniqueFd (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (! listener->socket || ::bind (listener->socket.get(), (const sockaddr*) &address.address, sizeof (address.address)) != 0)
        return nullptr;
    listener->socketId = idOf (paths->socket);
    ::chmod (paths->socket.c_str(), 0600);
    listener->wake = UniqueFd (::eventfd (0, EFD_CLOEXEC));
    if (::listen (listener->socket.get(), (int) maxConnections) != 0 || ! listener->wake)
        return nullptr;

    listener->handler = std::make_shared<ArgumentsHandler> (std::move (onArguments));
    listener->thread = std::thread ([l = listener.get()] { l->run(); });
    return std::unique_ptr<SingleInstance> (new SingleInstance (std::move (listener)));
}

bool SingleInstance::sendToRunningInstance (const juce::String& appName, const Arguments& arguments, int timeoutMs)
{
    const auto bytes = packed (arguments);
    const auto size = bytes.size();
    const auto paths = pathsFor (appName);
    SocketAddress address;
    if (size > maxCommandLineBytes || ! paths || ! addressOf (paths->socket, address))
        return false;

    std::string message (4, '\0');
    for (int i = 0; i < 4; ++i)
        message[(size_t) i] = (char) ((size >> (8 * i)) & 0xff);
    message += bytes;

    const auto deadline = Clock::now() + std::chrono::milliseconds (std::max (0, timeoutMs));
    for (;;)
    {
        // connect follows links: only a socket of ours at the name is tried,
        // and only an instance of ours at the other end is told anything.
        struct stat info {};
        const bool ours = ::lstat (paths->socket.c_str(), &info) == 0 && S_ISSOCK (info.st_mode)
                          && info.st_uid == ::geteuid();
        UniqueFd fd (::socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (! fd)
            return false;
        if (ours && ::connect (fd.get(), (const sockaddr*) &address.address, sizeof (address.address)) == 0)
        {
            if (! peerIsUs (fd.get()) || ! writeAll (fd.get(), message.data(), message.size(), deadline))
                return false;
            // Once the instance is ready the launch commits, whatever its own
            // time says: the request is carried out exactly when this send
            // reaches it.
            char answer = 0;
            if (! readAll (fd.get(), &answer, 1, deadline) || answer != ready)
                return false;
            return ::send (fd.get(), &commit, 1, MSG_NOSIGNAL) == 1;
        }

        // An instance that holds the lock but does not listen yet is starting;
        // without one, nobody will ever answer.
        if (! lockIsHeld (paths->lock) || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
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
                                                        int timeoutMs)
{
    if (auto service = claim (appName, onArguments))
        return { std::move (service), false, {} };

    const auto arguments = argumentsFrom (argc, argv);
    if (sendToRunningInstance (appName, arguments, timeoutMs))
        return { nullptr, true, {} };

    // The instance may have quit between the two steps.
    if (auto service = claim (appName, std::move (onArguments)))
        return { std::move (service), false, {} };

    const auto paths = pathsFor (appName);
    if (! paths || ! lockIsHeld (paths->lock))
        return {};
    if (packed (arguments).size() > maxCommandLineBytes)
        return { nullptr, false, "Clarivo is already running, and this launch's file names are too long to hand over to it. "
                                 "Nothing was opened." };
    return { nullptr, false, "Clarivo is already running but did not take this launch's files within "
                                 + juce::String (timeoutMs / 1000.0, 1) + " s. Nothing was opened." };
}
} // namespace clarivo::launch
