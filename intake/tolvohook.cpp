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
//
// On another machine the same program, run as `tolvo-hook --relay`, plays
// Tolvo's part for the hooks there and passes their records on (relay.h).
//
// As Claude Code's status-line command it runs as
//
//     tolvo-hook --status-line <$PPID text> [<the user's own status-line command>]
//
// and reports the usage in its input (HookRecord::statusLine) the same way,
// then runs the user's command with the same input, or prints a short line
// of its own.

#include "hookeventkinds.h"
#include "hookio.h"
#include "hookrecord.h"
#include "hookterminal.h"
#include "permissionhold.h"
#include "relay.h"
#include "statuslinecommand.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace HookIo;

constexpr long long totalBudgetUs = 800'000;
// The reader deletes and re-creates the pipe after every end of file.
constexpr long long reopenWindowUs = 50'000;
constexpr long reopenPauseNs = 1'000'000;
// Repeats the alarm in case the first one fires before flock() sleeps.
constexpr long alarmRepeatUs = 10'000;

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

// How long to wait for Tolvo's answer to a request of the agent, in seconds;
// 0: not at all.
long holdSeconds(int directory, std::string_view agent)
{
    const std::string text = readPrivate(directory, PermissionHold::boundName, 64);
    if (!PermissionHold::holds(text, agent.empty() ? PermissionHold::claudeWord : agent))
        return 0;
    const long seconds = std::strtol(text.c_str(), nullptr, 10);
    return std::clamp<long>(seconds, 0, PermissionHold::longestMinutes * 60L);
}

// The stream socket Tolvo answers on, connected, with the request's id sent.
int connectForAnswer(int directory, const std::string &id)
{
    Descriptor fd(connectPrivate(directory, PermissionHold::socketName));
    const std::string line = id + '\n';
    if (!fd || ::send(fd.get(), line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
        return -1;
    return fd.release();
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

// Whether the hook's parent is Codex's background app-server, which runs the
// hooks of every session of the user's unless its TUI was started with
// --no-daemon. Its environment and terminal are those of the TUI that started
// it, whichever session that was: they tell nothing about this one.
bool inCodexServer(const std::string &pid)
{
    if (pid.empty() || pid.size() > 10 || pid.find_first_not_of("0123456789") != std::string::npos)
        return false;
    std::string arguments;
    if (!HookTerminal::readProcFile("/proc/" + pid + "/cmdline", arguments))
        return false;
    for (std::size_t at = 0; at < arguments.size();) {
        const std::size_t end = std::min(arguments.find('\0', at), arguments.size());
        if (std::string_view(arguments).substr(at, end - at) == "app-server")
            return true;
        at = end + 1;
    }
    return false;
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

// tolvo-hook --status-line PPID [COMMAND]
int statusLine(int argc, char **argv)
{
    // Tolvo's own command as the user's: the outer one reports and prints.
    if (std::getenv(StatusLineCommand::variable))
        return 0;
    const std::string instance = argc > 2 ? argv[2] : "";
    const char *command = argc > 3 ? argv[3] : nullptr;
    const std::string input = readAll(STDIN_FILENO);
    struct Report
    {
        const std::string &input, &instance;
        std::string *shown;
    };
    const auto report = [](void *context) {
        const Report &what = *static_cast<Report *>(context);
        const std::optional<std::string> record =
            HookRecord::statusLine(what.input, what.instance, what.shown);
        if (!record)
            return;
        const Descriptor directory(openPrivateDirectory());
        if (directory && listenerRunning(directory.get()))
            deliver(directory.get(), *record);
    };
    std::string shown;
    Report what{input, instance, command ? nullptr : &shown};
    // The user's command starts first: its line does not wait for the report.
    if (command)
        return StatusLineCommand::run(command, input, report, &what);
    report(&what);
    if (!shown.empty())
        writeAll(STDOUT_FILENO, shown + '\n');
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (argc > 1 && std::string_view(argv[1]) == "--status-line")
        return statusLine(argc, argv);
    if (argc > 1 && argv[1][0] == '-' && argv[1][1] == '-')
        return Relay::run(argv[1]);
    const Descriptor directory(openPrivateDirectory());
    if (!directory || !listenerRunning(directory.get()))
        return 0;
    // Large inputs grow and copy strings of several megabytes: served from the
    // heap, freed blocks are used again instead of being faulted in afresh.
    mallopt(M_MMAP_THRESHOLD, 32 << 20); // the largest allowed
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const std::string instance = argc > 1 ? argv[1] : "";
    // Another agent's hook command names it after "$PPID"; an unknown one is dropped.
    const std::string agent = argc > 2 ? argv[2] : "";
    if (!isAgentToken(agent))
        return 0;
    const std::string input = readAll(STDIN_FILENO);
    HookRecord::Summary summary;
    std::optional<std::string> record =
        HookRecord::reduce(input, instance,
                           agent == "codex" && inCodexServer(instance) ? HookRecord::Terminal{}
                                                                       : HookTerminal::of(instance),
                           &summary, agent);
    if (!record)
        return 0;

    // The connection comes first: only a request Tolvo can answer carries an id.
    // Gemini CLI's prompt cannot be answered by a hook; Codex's waits for it,
    // so its requests are held only when the user chose so.
    long bound = 0;
    Descriptor answers;
    if ((agent.empty() || agent == PermissionHold::codexWord) &&
        hookEventKindOf(agent, summary.event) == HookEventKind::permissionRequest &&
        PermissionHold::handling(summary.tool, summary.fromSubagent) ==
            PermissionHold::Handling::held &&
        (bound = holdSeconds(directory.get(), agent)) > 0) {
        const std::string id = randomHex(PermissionHold::idLength / 2);
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
