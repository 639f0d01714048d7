// Main-thread cost of one hook event, from the listener's delegate call to
// the change applied, with 100 instances of 10,000 log entries each.
// Prints table rows; asserts nothing.

#include "../benchsupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>

namespace {

QJsonObject record(int pid, int n)
{
    const QString input = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"command", QStringLiteral("make -j8 test-%1").arg(n)}})
            .toJson(QJsonDocument::Compact));
    return {{"instance", QString::number(pid)},
            {"event", n % 2 ? "PreToolUse" : "PostToolUse"},
            {"tool", "Bash"},
            {"details", input},
            {"working_directory", QStringLiteral("/home/user/code/project-%1").arg(pid)}};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Bench::Report report;
    const Bench::ScratchHome home;
    Bench::Engine engine;
    InstanceManager &manager = engine.manager;

    constexpr int instances = 100;
    constexpr int entries = 10000;
    QElapsedTimer fill;
    fill.start();
    for (int n = 0; n < entries; ++n) {
        for (int pid = 1; pid <= instances; ++pid)
            manager.didReceiveEvent(record(pid, n));
        QCoreApplication::processEvents();
    }
    const double fillSeconds = double(fill.elapsed()) / 1000.0;

    // One event at a time, delivered and applied, round-robin over the instances.
    std::vector<double> applied;
    for (int n = 0; n < 5000; ++n) {
        const QJsonObject event = record(1 + n % instances, entries + n);
        QElapsedTimer t;
        t.start();
        manager.didReceiveEvent(event);
        QCoreApplication::processEvents();
        applied.push_back(double(t.nsecsElapsed()) / 1000.0);
    }
    const double median = Bench::median(applied);
    report.row("main thread per applied event, 100 instances x 10,000 entries",
               QByteArray::number(median, 'f', 1) + " us (p99 " +
                   QByteArray::number(Bench::percentile(applied, 0.99), 'f', 1) + " us)",
               "<= 200 us", Bench::met(median <= 200));
    report.note("events: median of 5,000 events after filling %d x %lld entries in %.1f s",
                instances, qlonglong(manager.instances().first().activityLog.size()), fillSeconds);
    return 0;
}
