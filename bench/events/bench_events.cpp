// Main-thread cost of applying one hook event, with 100 instances of 10,000
// log entries each. Prints medians; asserts nothing.

#include "defaultsstore.h"
#include "instancemanager.h"
#include "notifier.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

struct SilentNotifier : Notifier
{
    void requestPermission() override {}
    void installDelegate() override {}
    void sendNotification(const QString &, const QString &, const QString &) override {}
};

double percentile(QList<double> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    return samples.at(qsizetype(p * double(samples.size() - 1)));
}

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
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());

    // Console lines are part of the cost, but not of the output.
    const int report = dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;

    constexpr int instances = 100;
    constexpr int entries = 10000;
    DefaultsStore defaults(home.path() + QStringLiteral("/tolvo.ini"));
    SilentNotifier notifier;
    InstanceManager manager(defaults, notifier);

    QElapsedTimer fill;
    fill.start();
    for (int n = 0; n < entries; ++n) {
        for (int pid = 1; pid <= instances; ++pid)
            manager.didReceiveEvent(record(pid, n));
        QCoreApplication::processEvents();
    }
    dprintf(report, "filled %d instances x %d entries in %.1f s\n", instances, entries,
            double(fill.elapsed()) / 1000.0);

    // One event at a time, delivered and applied, round-robin over the instances.
    QList<double> applied;
    QList<double> handled;
    for (int n = 0; n < 5000; ++n) {
        const QJsonObject event = record(1 + n % instances, entries + n);
        QElapsedTimer t;
        t.start();
        manager.didReceiveEvent(event);
        const double delivered = double(t.nsecsElapsed()) / 1000.0;
        QCoreApplication::processEvents();
        applied.append(double(t.nsecsElapsed()) / 1000.0);
        handled.append(delivered);
    }
    dprintf(report,
            "per event, decode + apply: median %.1f us, p90 %.1f us, p99 %.1f us, max %.1f us\n",
            percentile(applied, 0.5), percentile(applied, 0.9), percentile(applied, 0.99),
            percentile(applied, 1.0));
    dprintf(report, "  of which decode + console line: median %.1f us\n", percentile(handled, 0.5));
    dprintf(report, "log size now: %lld entries per instance\n",
            qlonglong(manager.instances().first().activityLog.size()));
    return 0;
}
