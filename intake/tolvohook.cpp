// tolvo-hook: reduces the Claude Code hook input on standard input to one
// record and writes it into Tolvo's event pipe ~/.tolvo/events. tolvo.sh
// runs it, once it has seen that Tolvo is running, as
//
//     tolvo-hook <Claude Code's process id, as the shell's $PPID text>
//
// Claude Code waits for every hook, so this never takes long: one deadline
// covers waiting for the writers' lock, opening the pipe and writing, even
// when Tolvo is frozen and the pipe is full. It never creates, truncates or
// follows anything under ~/.tolvo, never prints and always exits 0.
//
// Writers hold an exclusive flock on ~/.tolvo/events.lock from before their
// open of the pipe until after their close. That keeps records larger than
// PIPE_BUF from interleaving, and lets the reader replace the pipe after end
// of file without losing a writer that opened the old one. Each record goes
// out as "\n" + record + "\n": should a writer run out of time halfway, the
// next record still starts on a line of its own and only the cut one is lost.

#include "hookrecord.h"
#include "terminalvariables.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr long long totalBudgetUs = 800'000;
// The reader deletes and re-creates the pipe after every end of file.
constexpr long long reopenWindowUs = 50'000;
constexpr long reopenPauseNs = 1'000'000;
// Repeats the alarm in case the first one fires before flock() sleeps.
constexpr long alarmRepeatUs = 10'000;

long long nowUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1'000'000 + t.tv_nsec / 1000;
}

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

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

bool readFile(const std::string &path, std::string &text)
{
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return false;
    text = readAll(fd.get());
    return true;
}

// The pseudo-terminal in the tty_nr field of /proc/PID/stat (the seventh,
// counted after the command name, which may hold anything but ends with the
// last ")"). Majors 136 to 143 are the Unix 98 pseudo-terminals.
std::string pseudoTerminal(const std::string &stat)
{
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos)
        return {};
    std::size_t at = name + 1;
    for (int field = 3; field < 7; ++field) {
        at = stat.find(' ', at + 1);
        if (at == std::string::npos)
            return {};
    }
    const unsigned long long number = std::strtoull(stat.c_str() + at + 1, nullptr, 10);
    const unsigned int major = (number >> 8) & 0xfff;
    const unsigned int minor = (number & 0xff) | ((number >> 12) & 0xfff00);
    if (major < 136 || major > 143)
        return {};
    return "/dev/pts/" + std::to_string((major - 136) * 256 + minor);
}

// The controlling terminal of the process, else the terminal its standard
// input, output or error is connected to.
std::string terminalOf(const std::string &pid)
{
    if (pid.empty() || pid.size() > 10 || pid.find_first_not_of("0123456789") != std::string::npos)
        return {};
    const std::string process = "/proc/" + pid;
    std::string stat;
    if (readFile(process + "/stat", stat)) {
        std::string device = pseudoTerminal(stat);
        if (!device.empty())
            return device;
    }
    for (const char *fd : {"/fd/0", "/fd/1", "/fd/2"}) {
        char target[256];
        const ssize_t length = ::readlink((process + fd).c_str(), target, sizeof target);
        if (length <= 0 || length == sizeof target)
            continue;
        const std::string_view path(target, static_cast<std::size_t>(length));
        if (path.starts_with("/dev/pts/") || path.starts_with("/dev/tty"))
            return std::string(path);
    }
    return {};
}

HookRecord::Terminal terminal(const std::string &pid)
{
    HookRecord::Terminal found;
    for (const char *name : TerminalVariables::all) {
        const char *value = std::getenv(name);
        if (value && *value)
            found.emplace_back(name, value);
    }
    std::string tty = terminalOf(pid);
    if (!tty.empty())
        found.emplace_back(TerminalVariables::tty, std::move(tty));
    return found;
}

void onAlarm(int) {}

bool lockUntil(int fd, long long deadline)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK)
        return true; // cannot lock here at all: write unlocked

    struct sigaction action = {};
    action.sa_handler = onAlarm; // no SA_RESTART: the alarm ends flock()
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);

    const long long left = deadline - nowUs();
    if (left <= 0)
        return false;
    itimerval timer = {{0, alarmRepeatUs}, {left / 1'000'000, left % 1'000'000}};
    setitimer(ITIMER_REAL, &timer, nullptr);
    bool locked = false;
    while (!locked && nowUs() < deadline) {
        if (::flock(fd, LOCK_EX) == 0)
            locked = true;
        else if (errno != EINTR)
            break;
    }
    const itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    return locked;
}

// The user's own file of this type (S_IFDIR, S_IFREG, S_IFIFO), with its mode.
bool isOwn(int fd, mode_t type, mode_t *mode = nullptr)
{
    struct stat status;
    if (::fstat(fd, &status) != 0 || status.st_uid != ::getuid() ||
        (status.st_mode & S_IFMT) != type)
        return false;
    if (mode)
        *mode = status.st_mode;
    return true;
}

// ~/.tolvo, if it is the user's own private directory and not a link.
int openPrivateDirectory()
{
    // tolvo.sh found the pid file through $HOME: without it, no hook gets this far.
    const char *home = std::getenv("HOME");
    if (!home || *home != '/')
        return -1;
    const std::string path = std::string(home) + "/.tolvo";
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    mode_t mode = 0;
    if (fd >= 0 && (!isOwn(fd, S_IFDIR, &mode) || (mode & 077) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// ENOENT and ENXIO mean the reader is between two pipes or not there yet.
int openPipe(int directory, long long deadline)
{
    const long long giveUp = std::min(nowUs() + reopenWindowUs, deadline);
    for (;;) {
        const int fd = ::openat(directory, "events",
                                O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0)
            return fd;
        if (errno == EINTR)
            continue;
        if ((errno != ENOENT && errno != ENXIO) || nowUs() >= giveUp)
            return -1;
        const timespec pause = {0, reopenPauseNs};
        nanosleep(&pause, nullptr);
    }
}

void writeUntil(int fd, std::string_view data, long long deadline)
{
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count > 0) {
            data.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN)
            return; // EPIPE: the reader went away
        const long long left = deadline - nowUs();
        if (left <= 0)
            return;
        pollfd watch = {fd, POLLOUT, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>((left + 999) / 1000));
        if ((ready < 0 && errno != EINTR) || (watch.revents & (POLLERR | POLLHUP)))
            return;
    }
}

// Writes the record, between two line feeds, into the pipe within the time
// budget; gives up silently on any failure.
void deliver(const std::string &record)
{
    const long long deadline = nowUs() + totalBudgetUs;
    const Descriptor directory(openPrivateDirectory());
    if (!directory)
        return;
    // Tolvo creates the lock file; without it nobody listens.
    const Descriptor lock(
        ::openat(directory.get(), "events.lock", O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!lock || !isOwn(lock.get(), S_IFREG) || !lockUntil(lock.get(), deadline))
        return;
    const Descriptor pipe(openPipe(directory.get(), deadline));
    if (!pipe || !isOwn(pipe.get(), S_IFIFO))
        return;
    // One write for all but the largest records, so that the reader wakes once.
    writeUntil(pipe.get(), '\n' + record + '\n', deadline);
    // The pipe closes before the lock does.
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    // Large inputs grow and copy strings of several megabytes: served from the
    // heap, freed blocks are used again instead of being faulted in afresh.
    mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest allowed
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const std::string instance = argc > 1 ? argv[1] : "";
    const std::string input = readAll(STDIN_FILENO);
    const std::optional<std::string> record =
        HookRecord::reduce(input, instance, terminal(instance));
    if (record)
        deliver(*record);
    return 0;
}
