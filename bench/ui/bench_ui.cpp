// The windows' costs, under a real display (run with `make bench`, which uses
// a virtual one): time from start to the main window's first frame, and the
// main thread's time per applied event with 100 instances on screen.
// Prints medians; asserts nothing.

#include "instancemanager.h"
#include "zizovezovodavudovapp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)

namespace {

double median(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.at(samples.size() / 2);
}

double percentile(QList<double> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    return samples.at(qsizetype(p * double(samples.size() - 1)));
}

QJsonObject record(int pid, int n)
{
    static const char *events[] = {"PreToolUse", "PostToolUse", "UserPromptSubmit", "Notification"};
    return {{"instance", QString::number(pid)},
            {"event", events[n % 4]},
            {"tool", "Bash"},
            {"details", QStringLiteral("{\"command\":\"make test-%1\"}").arg(n)},
            {"working_directory", QStringLiteral("/home/user/code/project-%1").arg(pid)}};
}

void start(ZizoveZovoDavudovApp &tolvo)
{
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    if (!tolvo.start())
        qFatal("the windows did not load");
    tolvo.mainWindow()->show();
}

// Child mode: start like the real application and report the first frame.
int firstFrame(QElapsedTimer sinceMain)
{
    ZizoveZovoDavudovApp tolvo;
    start(tolvo);
    QObject::connect(tolvo.mainWindow(), &QQuickWindow::frameSwapped, qApp, [sinceMain] {
        static bool reported = false;
        if (std::exchange(reported, true))
            return;
        std::printf("frame %.2f\n", double(sinceMain.nsecsElapsed()) / 1e6);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--first-frame")))
        return firstFrame(sinceMain);

    // Start-up, measured from outside (exec included) and from main().
    QList<double> outside;
    QList<double> inside;
    for (int run = 0; run < 11; ++run) {
        QProcess child;
        QElapsedTimer timer;
        timer.start();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--first-frame")});
        child.waitForFinished(30000);
        const double total = double(timer.nsecsElapsed()) / 1e6;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("frame ")) {
                inside.append(line.mid(6).toDouble());
                outside.append(total);
                break;
            }
        }
    }
    if (inside.isEmpty())
        qFatal("no first frame reported");

    // Events with 100 instances on screen; console lines are not the point here.
    const int report = dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout))
        return 1;
    ZizoveZovoDavudovApp tolvo;
    start(tolvo);
    InstanceManager &manager = tolvo.instanceManager();
    for (int n = 0; n < 20; ++n) {
        for (int pid = 1; pid <= 100; ++pid)
            manager.didReceiveEvent(record(pid, n));
        QCoreApplication::processEvents();
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents();

    QList<double> applied;
    for (int n = 0; n < 2000; ++n) {
        // Spread over the instances, so that visible and scrolled-away rows both count.
        const QJsonObject event = record(1 + (n * 37) % 100, 20 + n);
        QElapsedTimer t;
        t.start();
        manager.didReceiveEvent(event);
        QCoreApplication::processEvents();
        applied.append(double(t.nsecsElapsed()) / 1000.0);
    }

    dprintf(report,
            "start to first frame of the main window: median %.0f ms from exec (%.0f ms from "
            "main()), %lld runs\n",
            median(outside), median(inside), qlonglong(inside.size()));
    dprintf(report,
            "main thread per applied event, 100 instances on screen: median %.0f us, p90 %.0f us, "
            "p99 %.0f us\n",
            median(applied), percentile(applied, 0.9), percentile(applied, 0.99));
    return 0;
}
