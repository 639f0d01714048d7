// What Tolvo's status-line command costs Claude Code at each update, with
// Tolvo not running (the helper reads, reduces and finds nobody to tell).
//
// Each run is `sh -c <command>` with the captured status-line input on stdin,
// as Claude Code starts it. The sides alternate within one run so that all
// see the same machine:
//   floor      '<noop>' "$PPID": a static program that does nothing
//   own line   '<helper>' --status-line "$PPID": prints model, context, cost
//   wrapped    '<helper>' --status-line "$PPID" '<noop>': the user's command
//              (here the do-nothing program) run by the helper
// Prints the medians, own line / floor, what wrapping adds to the user's
// command and what the user's command adds to the helper's own time, in ms.
// Asserts nothing.
//
//   bench_statusline [runs]     runs per side (default 200)

#include "../benchsupport.h"

namespace {

double timeShell(const QByteArray &command, const QByteArray &input)
{
    const double start = Bench::nowMs();
    Bench::waitFor(Bench::spawn({"/bin/sh", "-c", command}, input.constData()));
    return Bench::nowMs() - start;
}

QByteArray ms(double value)
{
    return QByteArray::number(value, 'f', 2) + " ms";
}

// A word for sh that stands for `text` as it is.
QByteArray singleQuoted(QByteArray text)
{
    return "'" + text.replace("'", "'\\''") + "'";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Bench::Report report;
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    const Bench::ScratchHome home; // no pid file: Tolvo is not running
    const QByteArray input = QFile::encodeName(
        QStringLiteral(TOLVO_FIXTURES_DIR "/status-line/status-line-2.1.328.json"));
    const QByteArray helper = singleQuoted(
        QFile::encodeName(QStringLiteral(TOLVO_BUILD_PREFIX "/libexec/tolvo/tolvo-hook")));
    const QByteArray noop = singleQuoted(TOLVO_BENCH_NOOP);
    const std::vector<QByteArray> commands{
        noop + " \"$PPID\"",
        helper + " --status-line \"$PPID\"",
        helper + " --status-line \"$PPID\" " + singleQuoted(noop),
    };

    std::vector<std::vector<double>> times(commands.size());
    for (const QByteArray &command : commands) // warm the caches once
        timeShell(command, input);
    for (int i = 0; i < runs; ++i) {
        for (size_t c = 0; c < commands.size(); ++c)
            times[c].push_back(timeShell(commands[c], input));
    }
    const double floor = Bench::median(times[0]);
    const double own = Bench::median(times[1]);
    const double wrapped = Bench::median(times[2]);

    report.row("status line: floor, sh -c static no-op, p50", ms(floor), "", "");
    report.row("status line: helper's own line, Tolvo not running, p50", ms(own), "", "");
    report.row("status line: helper wrapping the no-op, Tolvo not running, p50", ms(wrapped), "",
               "");
    report.row("status line: own line / floor", QByteArray::number(own / floor, 'f', 3), "", "");
    report.row("status line: wrapping adds to the user's command", ms(wrapped - floor), "", "");
    report.row("status line: the user's command adds to the helper's own", ms(wrapped - own), "",
               "");
    report.note("status line: %d runs per side, alternating", runs);
    return 0;
}
