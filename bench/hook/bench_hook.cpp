// Prints how much the hook command costs Claude Code beyond jq itself.
//
// Each hook run is `sh -c <command>` with a typical hook input on stdin, as
// Claude Code starts it; its reference is the same jq filter writing to
// /dev/null. The two alternate within one run so that both see the same
// machine. HOME points at a scratch directory throughout.
//
//   bench_hook [runs]     runs per side and situation (default 100)
//   bench_hook --listen   (internal) a listener process that drains the FIFO

#include "hookconfiguration.h"
#include "namedpipelistener.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// A PreToolUse input of a Bash call, as Claude Code writes it.
constexpr char hookInput[] =
    R"({"session_id":"ef564f2c-e551-4481-86a9-b2ee717823fc","transcript_path":)"
    R"("/home/user/.claude/projects/-home-user-code-webshop/ef564f2c-e551-4481-86a9-b2ee717823fc.jsonl",)"
    R"("cwd":"/home/user/code/webshop","permission_mode":"acceptEdits","effort":{"level":"medium"},)"
    R"("hook_event_name":"PreToolUse","tool_name":"Bash","tool_input":{"command":"ls -la",)"
    R"("description":"List files"},"tool_use_id":"toolu_0"})";

class CountingDelegate : public QObject, public NamedPipeListenerDelegate
{
    Q_OBJECT
    Q_INTERFACES(NamedPipeListenerDelegate)
public:
    void didReceiveEvent(const QJsonObject &) override { ++count; }
    qint64 count = 0;
};

std::atomic<bool> quitRequested = false;

int listen(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { quitRequested = true; });
    CountingDelegate delegate;
    NamedPipeListener listener;
    listener.setDelegate(&delegate);
    listener.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&app] {
        if (quitRequested)
            app.quit();
    });
    poll.start(20);
    return app.exec();
}

double nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

pid_t spawn(const std::vector<const char *> &arguments, const char *input)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> argv;
    for (const char *argument : arguments)
        argv.push_back(const_cast<char *>(argument));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv.front(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

double timeShell(const QByteArray &command, const char *input)
{
    const double start = nowMs();
    const pid_t pid = spawn({"/bin/sh", "-c", command.constData()}, input);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    return nowMs() - start;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Commands
{
    QByteArray hook;
    QByteArray jqOnly;
};

Commands commands()
{
    QString hook = HookConfiguration::hookCommand(QStringLiteral(TOLVO_BUILD_PREFIX));
    hook.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    const QString jqOnly =
        hook.left(hook.lastIndexOf(QStringLiteral(" | "))) + QStringLiteral(" > /dev/null");
    return {hook.toUtf8(), jqOnly.toUtf8()};
}

void compare(const char *situation, const Commands &commands, const char *input, int runs,
             double target)
{
    std::vector<double> hook, jq;
    for (int i = 0; i < runs; ++i) {
        hook.push_back(timeShell(commands.hook, input));
        jq.push_back(timeShell(commands.jqOnly, input));
    }
    const double ratio = median(hook) / median(jq);
    std::printf("%-36s %9.2f %9.2f %7.3f  (target <= %.2f)\n", situation, median(hook), median(jq),
                ratio, target);
    std::fflush(stdout);
}

void writePidFile(const QString &home, qint64 pid)
{
    QFile file(home + QStringLiteral("/.tolvo/tolvo.pid"));
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray::number(pid) + '\n');
}

pid_t deadProcessId()
{
    const pid_t pid = spawn({"/bin/true"}, "/dev/null");
    int status = 0;
    waitpid(pid, &status, 0);
    return pid;
}

bool waitForPidFile(const QString &home, pid_t pid)
{
    QFile file(home + QStringLiteral("/.tolvo/tolvo.pid"));
    for (int i = 0; i < 500; ++i) {
        if (file.open(QIODevice::ReadOnly)) {
            if (file.readAll().trimmed().toLongLong() == pid)
                return true;
            file.close();
        }
        QThread::msleep(10);
    }
    return false;
}

void fillPipe(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    const QByteArray blanks(65536, ' ');
    while (::write(fd, blanks.constData(), blanks.size()) > 0) {
    }
    ::close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--listen") == 0)
        return listen(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 100;

    QTemporaryDir scratch;
    const QString home = scratch.path() + QStringLiteral("/home");
    QDir().mkpath(home + QStringLiteral("/.tolvo"));
    qputenv("HOME", QFile::encodeName(home));
    const QByteArray input = QFile::encodeName(scratch.path() + QStringLiteral("/input.json"));
    {
        QFile file(QString::fromUtf8(input));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(hookInput);
        file.write("\n");
    }
    const QByteArray pipe = QFile::encodeName(home + QStringLiteral("/.tolvo/events"));
    const Commands shell = commands();

    std::printf("Hook command against jq alone: median wall time of %d runs each, alternating\n",
                runs);
    std::printf("%-36s %9s %9s %7s\n", "situation", "hook ms", "jq ms", "ratio");

    // Warm the caches of sh, jq and the helper once.
    timeShell(shell.hook, input.constData());
    timeShell(shell.jqOnly, input.constData());

    compare("Tolvo not running, no FIFO", shell, input.constData(), runs, 1.10);

    ::mkfifo(pipe.constData(), 0666);
    writePidFile(home, deadProcessId());
    compare("FIFO left behind, no reader", shell, input.constData(), runs, 1.10);

    const pid_t listener = spawn({"/proc/self/exe", "--listen"}, "/dev/null");
    if (listener <= 0 || !waitForPidFile(home, listener)) {
        std::printf("the listener did not start\n");
        return 1;
    }
    compare("Tolvo running (listener draining)", shell, input.constData(), runs, 1.15);

    // A frozen Tolvo: the pipe fills up and every hook then waits out its
    // deadline, but no longer.
    QThread::msleep(100);
    ::kill(listener, SIGSTOP);
    double longest = 0;
    std::vector<double> roomLeft;
    for (int i = 0; i < 5; ++i)
        roomLeft.push_back(timeShell(shell.hook, input.constData()));
    fillPipe(pipe);
    for (int i = 0; i < 5; ++i)
        longest = std::max(longest, timeShell(shell.hook, input.constData()));
    longest = std::max(longest, *std::max_element(roomLeft.begin(), roomLeft.end()));
    std::printf("Tolvo stopped (SIGSTOP): median %.2f ms while the pipe has room; "
                "longest hook %.0f ms with the pipe full (limit 1500 ms)\n",
                median(roomLeft), longest);

    ::kill(listener, SIGCONT);
    ::kill(listener, SIGTERM);
    int status = 0;
    waitpid(listener, &status, 0);
    return 0;
}

#include "bench_hook.moc"
