#include "relayfiles.h"

#include "hookterminal.h"
#include "permissionhold.h"
#include "relay.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Relay {

namespace {

constexpr char eventsName[] = "events";
constexpr char eventsLockName[] = "events.lock";
constexpr char pidName[] = "tolvo.pid";
// Room for a few large records while the desktop is slow, as locally.
constexpr int pipeCapacity = 1 << 20;

std::string failure(const char *name, const char *what)
{
    return std::string("~/.tolvo/") + name + ' ' + what + ": " + std::strerror(errno);
}

// A regular file of the user's, created 0600 when missing, never through a link.
int openPrivateFile(int directory, const char *name)
{
    const int fd =
        ::openat(directory, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0 && (!HookIo::isOwn(fd, S_IFREG) || ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

} // namespace

bool Files::lock(std::string *problem)
{
    m_directory.reset(HookIo::makePrivateDirectory(problem));
    if (!m_directory)
        return false;
    m_lock.reset(openPrivateFile(directory(), lockName));
    if (!m_lock) {
        *problem = failure(lockName, "cannot be opened");
        return false;
    }
    if (::flock(m_lock.get(), LOCK_EX | LOCK_NB) != 0) {
        problem->clear();
        return false;
    }
    return !tolvoRuns(problem);
}

bool Files::folderRemoved() const
{
    struct stat status;
    return ::fstat(directory(), &status) == 0 && status.st_nlink == 0;
}

bool Files::tolvoRuns(std::string *problem) const
{
    long pid = 0;
    std::string comm;
    if (!HookIo::listenerRunning(directory(), &pid, &comm) || comm == processName)
        return false;
    *problem =
        "Tolvo itself runs on this machine for this user (process " + std::to_string(pid) + ")";
    return true;
}

bool Files::create(std::string *problem)
{
    const HookIo::Descriptor writersLock(openPrivateFile(directory(), eventsLockName));
    if (!writersLock) {
        *problem = failure(eventsLockName, "cannot be opened");
        return false;
    }
    if (!recreatePipe(problem) || !listen(socketName, m_listener, m_socketMade, problem) ||
        !listen(PermissionHold::socketName, m_answers, m_answersMade, problem))
        return false;
    // Last: from now on hooks write.
    // The name hooks compare with /proc/PID/comm: this process's own, as it reads there.
    std::string comm;
    if (!HookTerminal::readProcFile("/proc/self/comm", comm) || comm.empty())
        comm = std::string(processName) + '\n';
    const std::string pidLine = std::to_string(::getpid()) + ' ' + comm;
    if (!replaceFile(pidName, pidLine, &m_pidMade)) {
        *problem = failure(pidName, "cannot be written");
        return false;
    }
    return true;
}

// Read and written by the daemon itself, so that it never sees end of file
// and never has to replace the pipe after each writer as Tolvo does.
bool Files::recreatePipe(std::string *problem)
{
    const int dir = directory();
    if (::unlinkat(dir, eventsName, 0) != 0 && errno != ENOENT) {
        *problem = failure(eventsName, "cannot be replaced");
        return false;
    }
    if (::mkfifoat(dir, eventsName, 0600) != 0) {
        *problem = failure(eventsName, "cannot be created");
        return false;
    }
    HookIo::Descriptor fd(::openat(dir, eventsName, O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISFIFO(status.st_mode) ||
        status.st_uid != ::getuid() || ::fchmod(fd.get(), 0600) != 0) {
        *problem = failure(eventsName, "cannot be opened");
        return false;
    }
    ::fcntl(fd.get(), F_SETPIPE_SZ, pipeCapacity);
    m_eventsMade = {status.st_dev, status.st_ino};
    m_events = std::move(fd);
    return true;
}

bool Files::pipeReplaced() const
{
    struct stat status;
    return ::fstatat(directory(), eventsName, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
           status.st_dev != m_eventsMade.device || status.st_ino != m_eventsMade.inode;
}

bool Files::listen(const char *name, HookIo::Descriptor &listener, Made &made, std::string *problem)
{
    const int dir = directory();
    // A socket or a link left behind goes; anything else is the user's.
    struct stat status;
    if (::fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISSOCK(status.st_mode) || S_ISLNK(status.st_mode)))
        ::unlinkat(dir, name, 0);
    listener.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    // Relative to the folder's descriptor, however long the home path is.
    const std::string path = "/proc/self/fd/" + std::to_string(dir) + '/' + name;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (!listener ||
        ::bind(listener.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::fchmodat(dir, name, 0600, 0) != 0 || ::listen(listener.get(), 64) != 0 ||
        ::fstatat(dir, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        *problem = failure(name, "cannot be created");
        return false;
    }
    made = {status.st_dev, status.st_ino};
    return true;
}

bool Files::replaceFile(const char *name, const std::string &content, Made *made)
{
    const int dir = directory();
    const std::string temporary = std::string(name) + ".new";
    ::unlinkat(dir, temporary.c_str(), 0);
    HookIo::Descriptor fd(::openat(dir, temporary.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat status;
    if (!fd || ::fchmod(fd.get(), 0600) != 0 || !HookIo::writeAll(fd.get(), content) ||
        ::fstat(fd.get(), &status) != 0 || ::renameat(dir, temporary.c_str(), dir, name) != 0) {
        ::unlinkat(dir, temporary.c_str(), 0);
        return false;
    }
    *made = {status.st_dev, status.st_ino};
    return true;
}

void Files::writeHold(const PermissionHold::Bound &bound)
{
    if (bound.seconds > 0) {
        replaceFile(PermissionHold::boundName, PermissionHold::boundText(bound), &m_holdMade);
        return;
    }
    removeIfMade(PermissionHold::boundName, m_holdMade);
}

void Files::removeIfMade(const char *name, Made &made)
{
    struct stat status;
    if (m_directory && made.inode != 0 &&
        ::fstatat(directory(), name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        status.st_dev == made.device && status.st_ino == made.inode)
        ::unlinkat(directory(), name, 0);
    made = {};
}

void Files::remove()
{
    removeIfMade(pidName, m_pidMade);
    removeIfMade(PermissionHold::boundName, m_holdMade);
    removeIfMade(socketName, m_socketMade);
    removeIfMade(PermissionHold::socketName, m_answersMade);
    removeIfMade(eventsName, m_eventsMade);
    m_listener.reset(-1);
    m_answers.reset(-1);
    m_events.reset(-1);
}

} // namespace Relay
