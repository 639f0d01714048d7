// What the hook command costs Claude Code, against the jq filter that hook
// commands ran before tolvo-hook did the reduction itself.
//
// Each hook run is `sh -c <command>` with the PreToolUse fixture on stdin, as
// Claude Code starts it; its reference is `sh -c '<the jq filter> > /dev/null'`.
// The two alternate within one run so that both see the same machine, and the
// ratio is that of the two medians. HOME points at a scratch directory
// throughout. Prints table rows; asserts nothing.
//
//   bench_hook [runs]     runs per side and situation (default 100)
//   bench_hook --engine   (internal) a running Tolvo without windows

#include "../benchsupport.h"

#include <QTimer>
#include <atomic>
#include <csignal>
#include <sys/stat.h>

namespace {

std::atomic<bool> quitRequested = false;

int engine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Bench::Report quiet;
    std::signal(SIGTERM, [](int) { quitRequested = true; });
    Bench::Engine tolvo;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&app] {
        if (quitRequested)
            app.quit();
    });
    poll.start(20);
    return app.exec();
}

double timeShell(const QByteArray &command, const QByteArray &input)
{
    const double start = Bench::nowMs();
    Bench::waitFor(Bench::spawn({"/bin/sh", "-c", command}, input.constData()));
    return Bench::nowMs() - start;
}

void compare(const Bench::Report &report, const char *situation,
             const Bench::HookCommands &commands, const QByteArray &input, int runs, double goal,
             const QByteArray &command = {})
{
    std::vector<double> hook, jq;
    for (int i = 0; i < runs; ++i) {
        hook.push_back(timeShell(command.isEmpty() ? commands.hook : command, input));
        jq.push_back(timeShell(commands.jqOnly, input));
    }
    const double ratio = Bench::median(hook) / Bench::median(jq);
    report.row(situation,
               QByteArray::number(ratio, 'f', 3) + " (" +
                   QByteArray::number(Bench::median(hook), 'f', 2) + " ms against jq " +
                   QByteArray::number(Bench::median(jq), 'f', 1) + " ms)",
               ("<= " + QByteArray::number(goal, 'f', 2)).constData(), Bench::met(ratio <= goal));
}

void fillPipe(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    const QByteArray blanks(65536, '\n');
    while (::write(fd, blanks.constData(), blanks.size()) > 0) {
    }
    ::close(fd);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--engine") == 0)
        return engine(argc, argv);
    QCoreApplication app(argc, argv);
    const Bench::Report report;
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 100;

    const Bench::ScratchHome home;
    const QByteArray input = QFile::encodeName(Bench::fixture("PreToolUse-Bash"));
    const QByteArray pipe = QFile::encodeName(home.path() + QStringLiteral("/.tolvo/events"));
    const Bench::HookCommands shell = Bench::hookCommands();

    // Warm the caches of sh, jq and the helper once.
    timeShell(shell.hook, input);
    timeShell(shell.jqOnly, input);

    compare(report, "hook / jq filter, Tolvo not running", shell, input, runs, 0.15);
    // What starting any command costs on this machine: the floor of both ratios.
    compare(report, "sh -c ':' (no hook at all) / jq filter", shell, input, runs, 0.15, ":");

    // A reader that drains the pipe and keeps "PID COMM" in the pid file.
    const pid_t tolvo = Bench::spawn({"/proc/self/exe", "--engine"});
    if (tolvo <= 0 || !home.waitForListener(tolvo)) {
        report.note("the engine did not start");
        return 1;
    }
    compare(report, "hook / jq filter, Tolvo running", shell, input, runs, 0.30);

    // A frozen Tolvo with its pipe full: every hook waits out its budget,
    // but no longer.
    ::kill(tolvo, SIGSTOP);
    fillPipe(pipe);
    std::vector<double> hooks;
    for (int i = 0; i < 20; ++i)
        hooks.push_back(timeShell(shell.hook, input));
    const double longest = Bench::percentile(hooks, 1.0);
    report.row("longest hook, Tolvo stopped (SIGSTOP) and its pipe full",
               QByteArray::number(longest, 'f', 0) + " ms", "<= 1000 ms",
               Bench::met(longest <= 1000));
    report.note("hook%s: %d runs per side and situation; 20 hooks against the frozen Tolvo",
                sched_getscheduler(0) == SCHED_FIFO ? " under SCHED_FIFO" : "", runs);

    ::kill(tolvo, SIGCONT);
    ::kill(tolvo, SIGTERM);
    Bench::waitFor(tolvo);
    return 0;
}
