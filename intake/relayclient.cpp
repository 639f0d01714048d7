// The relay's client modes (relay.h): `--relay`, which the transport runs,
// and `--relay-stop`. The client copies bytes both ways between its standard
// input and output and the daemon's socket; the daemon never sees the
// transport's descriptors, so that nothing of the ssh session stays open in
// a process that outlives it.

#include "hookio.h"
#include "relay.h"
#include "relaydaemon.h"
#include "relaylines.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Relay {

namespace {

using HookIo::Descriptor;

constexpr long long startUs = 5'000'000;
constexpr long long retryPauseNs = 10'000'000;
constexpr long long stopUs = 5'000'000;
// Held in each direction before the source is left unread.
constexpr std::size_t bufferLimit = 1 << 20;
constexpr std::size_t chunk = 64 * 1024;

int error(const std::string &message)
{
    const nlohmann::ordered_json line = {{"relay", "error"}, {"message", message}};
    HookIo::writeAll(STDOUT_FILENO,
                     line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
                         '\n');
    return 1;
}

bool sameUser(int fd)
{
    ucred peer = {};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// In the grandchild: a session of its own, nothing of the transport's.
[[noreturn]] void becomeDaemon(int status)
{
    // Out of the way first: with a standard descriptor closed, the pipe may be one of them.
    const int kept = ::fcntl(status, F_DUPFD_CLOEXEC, 10);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
    ::dup2(kept, 3);
    if (::close_range(4, ~0U, 0) != 0) {
        for (int fd = 4; fd < 1024; ++fd)
            ::close(fd);
    }
    if (::chdir("/") != 0)
        _exit(1);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    _exit(runDaemon(3));
}

// Starts a daemon, detached twice over so that sshd waits for nothing of
// it; what it said (empty: it listens, or another one does).
std::string startDaemon()
{
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return std::string("no pipe: ") + std::strerror(errno);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(status[0]);
        ::setsid();
        if (::fork() == 0)
            becomeDaemon(status[1]);
        _exit(0);
    }
    ::close(status[1]);
    const Descriptor reader(status[0]);
    if (child < 0)
        return std::string("the relay daemon cannot be started: ") + std::strerror(errno);
    ::waitpid(child, nullptr, 0);
    return HookIo::readAll(reader.get());
}

int connectDaemon(int directory, std::string *problem)
{
    Descriptor fd(HookIo::connectPrivate(directory, socketName));
    if (fd)
        return fd.release();
    *problem = startDaemon();
    if (!problem->empty())
        return -1;
    // Another client's daemon may have won the lock and still be starting.
    const long long deadline = HookIo::nowUs() + startUs;
    while (!(fd = Descriptor(HookIo::connectPrivate(directory, socketName))) &&
           HookIo::nowUs() < deadline) {
        const timespec pause = {0, retryPauseNs};
        ::nanosleep(&pause, nullptr);
    }
    if (!fd)
        *problem = "the relay daemon did not start";
    return fd.release();
}

// Moves bytes from one descriptor into a buffer; false at end or on an error.
bool take(int fd, std::string &buffer)
{
    char bytes[chunk];
    const ssize_t count = ::read(fd, bytes, sizeof bytes);
    if (count > 0)
        buffer.append(bytes, std::size_t(count));
    return count > 0 || (count < 0 && (errno == EINTR || errno == EAGAIN));
}

// Writes the buffer's start; false on an error.
bool give(int fd, std::string &buffer)
{
    const ssize_t count = ::write(fd, buffer.data(), std::min(buffer.size(), chunk));
    if (count > 0)
        buffer.erase(0, std::size_t(count));
    return count > 0 || (count < 0 && (errno == EINTR || errno == EAGAIN));
}

// Until the desktop's input ends (what it sent still goes to the daemon) or
// the daemon ends the connection (what it sent still goes to the desktop).
void copy(int socket)
{
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    std::string toDaemon, toDesktop;
    bool desktopOpen = true, daemonOpen = true;
    while (daemonOpen && (desktopOpen || !toDaemon.empty())) {
        pollfd fds[] = {
            {desktopOpen && toDaemon.size() < bufferLimit ? STDIN_FILENO : -1, POLLIN, 0},
            {socket,
             short((toDesktop.size() < bufferLimit ? POLLIN : 0) |
                   (toDaemon.empty() ? 0 : POLLOUT)),
             0},
            {toDesktop.empty() ? -1 : STDOUT_FILENO, POLLOUT, 0},
        };
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents && !take(STDIN_FILENO, toDaemon))
            desktopOpen = false;
        if ((fds[1].revents & POLLOUT) && !give(socket, toDaemon))
            return;
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !take(socket, toDesktop))
            daemonOpen = false;
        if (fds[2].revents && !give(STDOUT_FILENO, toDesktop))
            return;
    }
    if (!daemonOpen)
        HookIo::writeAll(STDOUT_FILENO, toDesktop);
}

int client()
{
    std::string problem;
    const Descriptor directory(HookIo::makePrivateDirectory(&problem));
    if (!directory)
        return error(problem);
    long pid = 0;
    std::string comm;
    if (HookIo::listenerRunning(directory.get(), &pid, &comm) && comm != processName)
        return error("Tolvo itself runs on this machine for this user (process " +
                     std::to_string(pid) + ")");
    const Descriptor socket(connectDaemon(directory.get(), &problem));
    if (!socket)
        return error(problem);
    if (!sameUser(socket.get()))
        return error("the relay socket belongs to another user");
    copy(socket.get());
    return 0;
}

int stop()
{
    const Descriptor directory(HookIo::openPrivateDirectory());
    const Descriptor socket(directory ? HookIo::connectPrivate(directory.get(), socketName) : -1);
    if (!socket || !sameUser(socket.get()))
        return 0;
    HookIo::writeAll(socket.get(), "{\"quit\":true}\n");
    // The daemon closes the connection on its way out.
    const long long deadline = HookIo::nowUs() + stopUs;
    char bytes[chunk];
    for (long long left; (left = deadline - HookIo::nowUs()) > 0;) {
        pollfd watch = {socket.get(), POLLIN, 0};
        if (::poll(&watch, 1, int(left / 1000) + 1) > 0 &&
            ::read(socket.get(), bytes, sizeof bytes) <= 0)
            break;
    }
    return 0;
}

} // namespace

int run(std::string_view mode)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (mode == "--relay")
        return client();
    if (mode == "--relay-stop")
        return stop();
    std::fputs("usage: tolvo-hook PID | --relay | --relay-stop\n", stderr);
    return 2;
}

} // namespace Relay
