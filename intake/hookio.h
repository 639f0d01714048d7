#pragma once

// File-level helpers of tolvo-hook, shared by the hook path and the relay:
// plain C++, no Qt. Everything under ~/.tolvo is opened relative to the
// folder's descriptor, without following links, and checked after opening.

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace HookIo {

// Monotonic time in microseconds.
long long nowUs();

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(-1); }
    Descriptor(Descriptor &&other) noexcept : m_fd(other.release()) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset(int fd);
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// Everything up to end of file.
std::string readAll(int fd);
// All of `data`, waiting where the descriptor blocks; false on an error.
bool writeAll(int fd, std::string_view data);

// The user's own file of this type (S_IFDIR, S_IFREG, S_IFIFO, ...), with its mode.
bool isOwn(int fd, mode_t type, mode_t *mode = nullptr);

// "$HOME/.tolvo"; empty without an absolute HOME.
std::string privateDirectoryPath();
// ~/.tolvo, if it is the user's own private directory and not a link.
int openPrivateDirectory();
// The same, created (0700) when missing; -1 with `problem` set to one
// sentence when it is missing and cannot be made, or is not private.
int makePrivateDirectory(std::string *problem);

// Up to `size` bytes of a regular file of the user's in ~/.tolvo.
std::string readPrivate(int directory, const char *name, std::size_t size);

// Whether the process that tolvo.pid names ("PID COMM") is alive under the
// name it gives; that process id and name.
bool listenerRunning(int directory, long *pid = nullptr, std::string *comm = nullptr);

// A stream socket of the user's in ~/.tolvo, connected (blocking); -1 when
// nobody listens. Through /proc/self/fd of a descriptor opened without
// following links, so that a link planted in place of the socket leads nowhere.
int connectPrivate(int directory, const char *name);

// `bytes` random bytes as lowercase hexadecimal; empty when the kernel has none.
std::string randomHex(std::size_t bytes);

} // namespace HookIo
