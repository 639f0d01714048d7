#include "hookio.h"

#include "hookterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace HookIo {

long long nowUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
}

void Descriptor::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

std::string readAll(int fd)
{
    std::string data;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count > 0)
            data.append(chunk, static_cast<std::size_t>(count));
        else if (count < 0 && errno == EINTR)
            continue;
        else
            return data;
    }
}

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count > 0) {
            data.remove_prefix(static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EAGAIN) {
            pollfd watch = {fd, POLLOUT, 0};
            ::poll(&watch, 1, -1);
        } else if (count == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool isOwn(int fd, mode_t type, mode_t *mode)
{
    struct stat status;
    if (::fstat(fd, &status) != 0 || status.st_uid != ::getuid() ||
        (status.st_mode & S_IFMT) != type)
        return false;
    if (mode)
        *mode = status.st_mode;
    return true;
}

std::string privateDirectoryPath()
{
    const char *home = std::getenv("HOME");
    if (!home || *home != '/')
        return {};
    return std::string(home) + "/.tolvo";
}

int openPrivateDirectory()
{
    const std::string path = privateDirectoryPath();
    if (path.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    mode_t mode = 0;
    if (fd >= 0 && (!isOwn(fd, S_IFDIR, &mode) || (mode & 077) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int makePrivateDirectory(std::string *problem)
{
    const std::string path = privateDirectoryPath();
    if (path.empty()) {
        *problem = "HOME is not set to an absolute path";
        return -1;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *problem = "~/.tolvo cannot be created: " + std::string(std::strerror(errno));
        return -1;
    }
    const int fd = openPrivateDirectory();
    if (fd >= 0)
        return fd;
    // Why not, for the message; the decision was taken on the descriptor.
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
        *problem = "~/.tolvo cannot be opened: " + std::string(std::strerror(errno));
    else if (S_ISLNK(status.st_mode))
        *problem = "~/.tolvo is a symbolic link";
    else if (!S_ISDIR(status.st_mode))
        *problem = "~/.tolvo is not a folder";
    else if (status.st_uid != ::getuid())
        *problem = "~/.tolvo belongs to another user";
    else
        *problem =
            "~/.tolvo is open to other users (mode 0" + std::to_string((status.st_mode >> 6) & 7) +
            std::to_string((status.st_mode >> 3) & 7) + std::to_string(status.st_mode & 7) + ")";
    return -1;
}

std::string readPrivate(int directory, const char *name, std::size_t size)
{
    const Descriptor fd(
        ::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd || !isOwn(fd.get(), S_IFREG))
        return {};
    std::string text(size, '\0');
    const ssize_t count = ::read(fd.get(), text.data(), size);
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return text;
}

bool listenerRunning(int directory, long *pid, std::string *comm)
{
    const std::string line = readPrivate(directory, "tolvo.pid", 128);
    const std::size_t space = line.find(' ');
    if (space == 0 || space == std::string::npos || line.find_first_not_of("0123456789") != space ||
        space > 10)
        return false;
    const std::string named = line.substr(space + 1, line.find('\n') - space - 1);
    std::string running;
    if (!HookTerminal::readProcFile("/proc/" + line.substr(0, space) + "/comm", running))
        return false;
    if (!running.empty() && running.back() == '\n')
        running.pop_back();
    if (named.empty() || running != named)
        return false;
    if (pid)
        *pid = std::strtol(line.c_str(), nullptr, 10);
    if (comm)
        *comm = named;
    return true;
}

int connectPrivate(int directory, const char *name)
{
    const Descriptor node(::openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!node || !isOwn(node.get(), S_IFSOCK))
        return -1;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::string path = "/proc/self/fd/" + std::to_string(node.get());
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return -1;
    return fd.release();
}

std::string randomHex(std::size_t bytes)
{
    unsigned char random[64];
    if (bytes > sizeof random || ::getrandom(random, bytes, 0) != ssize_t(bytes))
        return {};
    std::string hex;
    for (std::size_t i = 0; i < bytes; ++i) {
        hex += "0123456789abcdef"[random[i] >> 4];
        hex += "0123456789abcdef"[random[i] & 15];
    }
    return hex;
}

} // namespace HookIo
