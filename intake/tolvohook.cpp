// tolvo-hook: reduces the Claude Code hook input on standard input to one
// record and writes it into Tolvo's event pipe ~/.tolvo/events. The hook
// command runs it directly as
//
//     tolvo-hook <Claude Code's process id, as the shell's $PPID text>
//
// While Tolvo listens, ~/.tolvo/tolvo.pid holds "PID COMM": its process id
// and its name as /proc/PID/comm gives it. Unless that process is alive
// under that name the helper returns before it reads anything.
//
// Claude Code waits for every hook, so this never takes long: one deadline
// covers waiting for the writers' lock, opening the pipe and writing, even
// when Tolvo is frozen and the pipe is full. The one exception is a
// permission request that Tolvo holds (permissionhold.h): then the helper
// waits for the user's answer, at most the bound in ~/.tolvo/hold, and
// prints the decision. It never creates, truncates or follows anything
// under ~/.tolvo, prints nothing else and always exits 0.
//
// Writers hold an exclusive flock on ~/.tolvo/events.lock from before their
// open of the pipe until after their close. That keeps records larger than
// PIPE_BUF from interleaving, and lets the reader replace the pipe after end
// of file without losing a writer that opened the old one. Each record goes
// out as "\n" + record + "\n": should a writer run out of time halfway, the
// next record still starts on a line of its own and only the cut one is lost.

#include "hookeventkinds.h"
#include "hookrecord.h"
#include "hookterminal.h"
#include "permissionhold.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

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
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    int release() { return std::exchange(m_fd, -1); }

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

// Up to `size` bytes of a regular file of the user's in ~/.tolvo.
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

// Whether the process that tolvo.pid names is alive under the name it gives.
bool tolvoRunning(int directory)
{
    const std::string line = readPrivate(directory, "tolvo.pid", 128);
    const std::size_t space = line.find(' ');
    if (space == 0 || space == std::string::npos || line.find_first_not_of("0123456789") != space ||
        space > 10)
        return false;
    const std::string comm = line.substr(space + 1, line.find('\n') - space - 1);
    std::string running;
    if (!HookTerminal::readProcFile("/proc/" + line.substr(0, space) + "/comm", running))
        return false;
    if (!running.empty() && running.back() == '\n')
        running.pop_back();
    return !comm.empty() && running == comm;
}

// How long to wait for Tolvo's answer, in seconds; 0: not at all.
long holdSeconds(int directory)
{
    const std::string text = readPrivate(directory, PermissionHold::boundName, 32);
    const long seconds = std::strtol(text.c_str(), nullptr, 10);
    return std::clamp<long>(seconds, 0, PermissionHold::longestMinutes * 60L);
}

// The stream socket Tolvo answers on, connected, with the request's id sent.
// Through /proc/self/fd of a descriptor opened without following links, so
// that a link planted in place of the socket leads nowhere.
int connectForAnswer(int directory, const std::string &id)
{
    const Descriptor node(
        ::openat(directory, PermissionHold::socketName, O_PATH | O_NOFOLLOW | O_CLOEXEC));
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
    const std::string line = id + '\n';
    if (::send(fd.get(), line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
        return -1;
    return fd.release();
}

// 128 random bits in hexadecimal; empty when the kernel has none to give.
std::string requestId()
{
    unsigned char bytes[PermissionHold::idLength / 2];
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes))
        return {};
    std::string id;
    for (const unsigned char byte : bytes) {
        id += "0123456789abcdef"[byte >> 4];
        id += "0123456789abcdef"[byte & 15];
    }
    return id;
}

// Waits for Tolvo's line and prints the decision it carries as the agent
// reads it. Nothing when the line is empty, is no decision, or does not come
// within the bound; an end of the connection (Tolvo quit or crashed) ends
// the wait at once.
void printAnswer(int fd, long seconds)
{
    const long long deadline = nowUs() + seconds * 1'000'000LL;
    std::string line;
    for (;;) {
        const long long left = deadline - nowUs();
        if (left <= 0)
            return;
        pollfd watch = {fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::min(left / 1000 + 1, 60'000LL)));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        char chunk[4096];
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        line.append(chunk, static_cast<std::size_t>(count));
        const std::size_t end = line.find('\n');
        if (end != std::string::npos) {
            line.resize(end);
            break;
        }
        if (line.size() > (1 << 20))
            return;
    }
    const std::optional<std::string> output = HookRecord::decisionOutput(line);
    if (!output)
        return;
    const std::string text = *output + '\n';
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t count = ::write(STDOUT_FILENO, rest.data(), rest.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(count));
    }
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

bool writeUntil(int fd, std::string_view data, long long deadline)
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
            return false; // EPIPE: the reader went away
        const long long left = deadline - nowUs();
        if (left <= 0)
            return false;
        pollfd watch = {fd, POLLOUT, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>((left + 999) / 1000));
        if ((ready < 0 && errno != EINTR) || (watch.revents & (POLLERR | POLLHUP)))
            return false;
    }
    return true;
}

// Writes the record, between two line feeds, into the pipe within the time
// budget; false on any failure.
bool deliver(int directory, const std::string &record)
{
    const long long deadline = nowUs() + totalBudgetUs;
    // Tolvo creates the lock file; without it nobody listens.
    const Descriptor lock(
        ::openat(directory, "events.lock", O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    if (!lock || !isOwn(lock.get(), S_IFREG) || !lockUntil(lock.get(), deadline))
        return false;
    const Descriptor pipe(openPipe(directory, deadline));
    if (!pipe || !isOwn(pipe.get(), S_IFIFO))
        return false;
    // One write for all but the largest records, so that the reader wakes once.
    return writeUntil(pipe.get(), '\n' + record + '\n', deadline);
    // The pipe closes before the lock does.
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    const Descriptor directory(openPrivateDirectory());
    if (!directory || !tolvoRunning(directory.get()))
        return 0;
    // Large inputs grow and copy strings of several megabytes: served from the
    // heap, freed blocks are used again instead of being faulted in afresh.
    mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest allowed
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const std::string instance = argc > 1 ? argv[1] : "";
    const std::string input = readAll(STDIN_FILENO);
    HookRecord::Summary summary;
    std::optional<std::string> record =
        HookRecord::reduce(input, instance, HookTerminal::of(instance), &summary);
    if (!record)
        return 0;

    // The connection comes first: only a request Tolvo can answer carries an id.
    long bound = 0;
    Descriptor answers;
    if (hookEventKindOf(summary.event) == HookEventKind::permissionRequest &&
        PermissionHold::handling(summary.tool, summary.fromSubagent) ==
            PermissionHold::Handling::held &&
        (bound = holdSeconds(directory.get())) > 0) {
        const std::string id = requestId();
        if (!id.empty()) {
            answers.reset(connectForAnswer(directory.get(), id));
            if (answers)
                record = HookRecord::withRequest(*std::move(record), id, long(::getpid()));
        }
    }
    if (deliver(directory.get(), *record) && answers)
        printAnswer(answers.get(), bound);
    return 0;
}
