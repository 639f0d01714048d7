// Main-thread cost of one hook event, from the listener's queued signal to
// the change applied, with 100 sessions of 10,000 log entries each.
// Prints table rows; asserts nothing.

#include "../benchsupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// A record as the hook writes it; decoding happens on the listener's thread,
// so it is done before the clock starts.
HookEvent event(int pid, int n)
{
    const QString input = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"command", QStringLiteral("make -j8 test-%1").arg(n)}})
            .toJson(QJsonDocument::Compact));
    const QJsonObject record{{"instance", QString::number(pid)},
                             {"event", n % 2 ? "PreToolUse" : "PostToolUse"},
                             {"tool", "Bash"},
                             {"details", input},
                             {"working_directory", Bench::projectDirectory(pid)}};
    return Bench::decode(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Bench::Report report;
    const Bench::ScratchHome home;
    Bench::Engine engine(false);
    SessionListModel &manager = engine.manager;

    constexpr int instances = 100;
    constexpr int entries = 10000;
    QElapsedTimer fill;
    fill.start();
    for (int n = 0; n < entries; ++n) {
        for (int pid = 1; pid <= instances; ++pid)
            Bench::deliver(manager, event(pid, n));
        QCoreApplication::processEvents();
    }
    const double fillSeconds = double(fill.elapsed()) / 1000.0;

    // One event at a time, delivered and applied, round-robin over the sessions.
    std::vector<double> applied;
    for (int n = 0; n < 5000; ++n) {
        HookEvent next = event(1 + n % instances, entries + n);
        QElapsedTimer t;
        t.start();
        Bench::deliver(manager, std::move(next));
        QCoreApplication::processEvents();
        applied.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    const double median = Bench::median(applied);
    report.row("main thread per applied event, 100 instances x 10,000 entries",
               QByteArray::number(median, 'f', 1) + " us (p99 " +
                   QByteArray::number(Bench::percentile(applied, 0.99), 'f', 1) + " us)",
               "<= 200 us", Bench::met(median <= 200));
    report.note("events: median of 5,000 events after %d x %d events in %.1f s; the logs hold "
                "%lld entries each",
                instances, entries, fillSeconds, qlonglong(manager.session(0).activityLog.size()));
    return 0;
}
