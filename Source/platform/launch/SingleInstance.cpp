#include "SingleInstance.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace clarivo::launch
{
namespace
{
constexpr char acknowledged = 'A';
constexpr char refused = 'R';
// A sender that connects and then stalls must not keep the next launch waiting long.
constexpr int senderStallMs = 2000;

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

juce::File privateFolder()
{
    if (const char* runtime = std::getenv ("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/'
                                                                && isPrivateFolder (runtime))
        return juce::File (juce::String::fromUTF8 (runtime));

    // A fixed name, so that every launch of this user finds the same socket;
    // one planted by somebody else fails the test below and is never used.
    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getChildFile ("clarivo-launch-" + juce::String ((unsigned int) ::geteuid()));
    const auto path = folder.getFullPathName().toStdString();
    if (::mkdir (path.c_str(), 0700) == 0)
    {
        // The umask may have taken bits of ours away.
        UniqueFd made (::open (path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (made)
            ::fchmod (made.get(), 0700);
    }
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

bool addressOf (const std::string& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof (address.sun_path))
        return false;
    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);
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

// Waits until fd is ready for events; false on the deadline, an error, or
// when wake (if given) fires.
bool waitFor (int fd, short events, Clock::time_point deadline, int wake = -1)
{
    for (;;)
    {
        pollfd fds[2] = { { fd, events, 0 }, { wake, POLLIN, 0 } };
        const int ready = ::poll (fds, wake >= 0 ? 2 : 1, millisecondsUntil (deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || fds[1].revents != 0)
            return false;
        return (fds[0].revents & events) != 0;
    }
}

bool readAll (int fd, char* data, size_t size, Clock::time_point deadline, int wake = -1)
{
    while (size > 0)
    {
        const auto got = ::recv (fd, data, size, 0);
        if (got > 0)
        {
            data += got;
            size -= (size_t) got;
        }
        else if (got == 0 || (errno != EAGAIN && errno != EINTR) || ! waitFor (fd, POLLIN, deadline, wake))
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

    void run()
    {
        for (;;)
        {
            pollfd fds[2] = { { socket.get(), POLLIN, 0 }, { wake.get(), POLLIN, 0 } };
            if (::poll (fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLNVAL)) != 0)
                return;
            if ((fds[0].revents & POLLIN) != 0)
            {
                UniqueFd connection (::accept4 (socket.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
                if (connection)
                    serve (connection.get());
            }
        }
    }

    void serve (int connection)
    {
        // The folder already keeps others out; this holds even where it does not.
        if (! peerIsUs (connection))
            return;

        const auto deadline = Clock::now() + std::chrono::milliseconds (senderStallMs);
        unsigned char header[4] {};
        if (! readAll (connection, (char*) header, sizeof (header), deadline, wake.get()))
            return;
        const uint32_t size = header[0] | (header[1] << 8) | (header[2] << 16) | ((uint32_t) header[3] << 24);

        const auto reply = [&] (char answer) { writeAll (connection, &answer, 1, deadline); };
        if (size > maxCommandLineBytes)
            return reply (refused);

        std::string bytes (size, '\0');
        if (! readAll (connection, bytes.data(), size, deadline, wake.get()))
            return;
        auto arguments = unpacked (bytes);
        if (! arguments)
            return reply (refused);

        std::weak_ptr<ArgumentsHandler> target = handler;
        const bool queued = juce::MessageManager::callAsync (
            [target, received = std::move (*arguments)]
            {
                if (auto call = target.lock())
                    (*call) (received);
            });
        reply (queued ? acknowledged : refused);
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
    sockaddr_un address {};
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
    if (! listener->socket || ::bind (listener->socket.get(), (const sockaddr*) &address, sizeof (address)) != 0)
        return nullptr;
    listener->socketId = idOf (paths->socket);
    ::chmod (paths->socket.c_str(), 0600);
    listener->wake = UniqueFd (::eventfd (0, EFD_CLOEXEC));
    if (::listen (listener->socket.get(), 16) != 0 || ! listener->wake)
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
    sockaddr_un address {};
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
        if (ours && ::connect (fd.get(), (const sockaddr*) &address, sizeof (address)) == 0)
        {
            if (! peerIsUs (fd.get()) || ! writeAll (fd.get(), message.data(), message.size(), deadline))
                return false;
            char answer = 0;
            return readAll (fd.get(), &answer, 1, deadline) && answer == acknowledged;
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
    Arguments arguments;
    for (int i = 1; i < argc && argv != nullptr; ++i)
        if (argv[i] != nullptr)
            arguments.emplace_back (argv[i]);
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
