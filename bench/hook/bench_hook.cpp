// What the hook command costs Claude Code, and how soon an answer given in
// Tolvo lets the agent go on.
//
// Each hook run is `sh -c <command>` with the PreToolUse fixture on stdin, as
// Claude Code starts it. The command is the one the settings hold,
// `'<build>/libexec/tolvo/tolvo-hook' "$PPID"`; its floor is the same command
// starting a static program that does nothing, which is what any hook costs
// on the machine. The sides alternate within one run so that both see the
// same machine, and a ratio is that of the two medians. HOME points at a
// scratch directory throughout. Prints table rows; asserts nothing.
//
//   bench_hook [runs]     runs per side and situation (default 100), and
//                         twice as many answered permission requests
//   bench_hook --engine   (internal) a running Tolvo without windows

#include "../benchsupport.h"
#include "answerchannel.h"
#include "permissionanswers.h"

#include <QEventLoop>
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

QByteArray ms(double value, int decimals = 2)
{
    return QByteArray::number(value, 'f', decimals) + " ms";
}

// Runs the commands in turn, `runs` rounds; the median of each.
std::vector<double> alternate(const std::vector<QByteArray> &commands, const QByteArray &input,
                              int runs)
{
    std::vector<std::vector<double>> times(commands.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t c = 0; c < commands.size(); ++c)
            times[c].push_back(timeShell(commands[c], input));
    }
    std::vector<double> medians;
    for (const std::vector<double> &side : times)
        medians.push_back(Bench::median(side));
    return medians;
}

void ratioRow(const Bench::Report &report, const char *what, double hook, double floor, double goal)
{
    const double ratio = hook / floor;
    report.row(what,
               QByteArray::number(ratio, 'f', 3) + " (" + ms(hook) + " against " + ms(floor) + ")",
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

// From Allow clicked to the helper's exit: Tolvo (the engine and the answer
// channel) runs in this process, holding is on, and each of `count` helpers
// reports the PermissionRequest fixture as Claude Code would start it. Once
// its record is in the session list the answer goes out; the clock runs from
// AnswerChannel::answer() to waitpid() returning.
void answerLatency(const Bench::Report &report, const Bench::ScratchHome &home, int count)
{
    const QString tolvoDirectory = home.path() + QStringLiteral("/.tolvo");
    QFile hold(tolvoDirectory + u'/' + QLatin1String(PermissionHold::boundName));
    if (!hold.open(QIODevice::WriteOnly) || hold.write("60\n") != 3)
        qFatal("cannot write %s", qPrintable(hold.fileName()));
    hold.close();
    Bench::Engine tolvo;
    AnswerChannel answers(tolvoDirectory);
    if (!answers.listen() || !home.waitForListener(QCoreApplication::applicationPid())) {
        report.note("answers: Tolvo did not start listening (%s)", qPrintable(answers.problem()));
        return;
    }
    std::optional<HookEvent> request;
    QEventLoop loop;
    QObject::connect(&tolvo.listener, &NamedPipeListener::eventReceived, &loop,
                     [&request, &loop](const HookEvent &event) {
                         if (event.requestId) {
                             request = event;
                             loop.quit();
                         }
                     });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);

    const QByteArray helper =
        QFile::encodeName(HookConfiguration::hookHelperPath(QStringLiteral(TOLVO_BUILD_PREFIX)));
    const QByteArray input = QFile::encodeName(Bench::fixture("PermissionRequest-Bash"));
    const QByteArray output = QFile::encodeName(home.path() + QStringLiteral("/decision"));
    const QByteArray instance = QByteArray::number(QCoreApplication::applicationPid());
    std::vector<double> times;
    int printed = 0;
    int refused = 0;
    for (int i = -5; i < count; ++i) { // the first five warm up
        request.reset();
        const pid_t pid = Bench::spawn({helper, instance}, input.constData(), output.constData());
        deadline.start(5000);
        if (!request)
            loop.exec();
        deadline.stop();
        const WaitingRequest *waiting =
            request ? tolvo.manager.waitingRequest(*request->requestId) : nullptr;
        if (!waiting) {
            report.note("answers: a helper's record did not come");
            ::kill(pid, SIGKILL);
            Bench::waitFor(pid);
            return;
        }
        const WaitingRequest asked = *waiting;
        const QByteArray decision =
            PermissionAnswers::decision(asked, PermissionAnswers::Answer::allow);

        const double start = Bench::nowMs();
        const bool sent = answers.answer(asked.id, asked.helperPid, decision);
        Bench::waitFor(pid);
        const double took = Bench::nowMs() - start;

        tolvo.manager.withdrawRequest(asked.id);
        QFile printedFile(QFile::decodeName(output));
        if (printedFile.open(QIODevice::ReadOnly) &&
            printedFile.readAll().contains(R"("decision":{"behavior":"allow")"))
            printed += i >= 0;
        refused += i >= 0 && !sent;
        if (i >= 0)
            times.push_back(took);
    }
    report.row("answer to the helper's exit, Allow in Tolvo, p50", ms(Bench::median(times)), "",
               "");
    report.row("answer to the helper's exit, Allow in Tolvo, p99",
               ms(Bench::percentile(times, 0.99)), "", "");
    report.note("answers%s: %d permission requests held and answered; the helper printed the "
                "decision %d times, %d answers did not reach it; longest %.2f ms",
                sched_getscheduler(0) == SCHED_FIFO ? " under SCHED_FIFO" : "", count, printed,
                refused, Bench::percentile(times, 1.0));
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
    const Bench::HookCommands shell = Bench::hookCommands(TOLVO_BENCH_NOOP);

    // Warm the caches of sh, jq and both programs once.
    for (const QByteArray &command : {shell.hook, shell.floor, shell.jqOnly})
        timeShell(command, input);

    const std::vector<double> idle = alternate({shell.hook, shell.floor}, input, runs);
    ratioRow(report, "hook / floor, Tolvo not running", idle[0], idle[1], 1.10);

    // A reader that drains the pipe and keeps "PID COMM" in the pid file.
    const pid_t tolvo = Bench::spawn({"/proc/self/exe", "--engine"});
    if (tolvo <= 0 || !home.waitForListener(tolvo)) {
        report.note("the engine did not start");
        return 1;
    }
    const std::vector<double> running =
        alternate({shell.hook, shell.floor, shell.jqOnly}, input, runs);
    ratioRow(report, "hook / floor, Tolvo running", running[0], running[1], 1.30);
    // Against what the hooks ran before tolvo-hook did the reduction itself.
    report.row("hook / jq filter of the earlier hooks, Tolvo running",
               QByteArray::number(running[0] / running[2], 'f', 3) + " (" + ms(running[0]) +
                   " against " + ms(running[2], 1) + ")",
               "", "");

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
    report.note("hook%s: %d runs per side and situation, the floor a static program that does "
                "nothing; 20 hooks against the frozen Tolvo",
                sched_getscheduler(0) == SCHED_FIFO ? " under SCHED_FIFO" : "", runs);

    ::kill(tolvo, SIGCONT);
    ::kill(tolvo, SIGTERM);
    Bench::waitFor(tolvo);

    answerLatency(report, home, 2 * runs);
    return 0;
}
