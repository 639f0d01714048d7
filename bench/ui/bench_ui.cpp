// The windows' costs, under a real display (run-benchmarks.sh provides a
// virtual one): time from process start to the main window's first frame,
// with nothing saved and with 2,000 saved directories, and the main thread's
// time per applied event with 100 sessions on screen.
// Prints table rows; asserts nothing.

#include "../benchsupport.h"
#include "application.h"
#include "sessionlistmodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
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

HookEvent event(int pid, int n)
{
    static const char *events[] = {"PreToolUse", "PostToolUse", "UserPromptSubmit", "Notification"};
    const QJsonObject record{{"instance", QString::number(pid)},
                             {"event", events[n % 4]},
                             {"tool", "Bash"},
                             {"details", QStringLiteral("{\"command\":\"make test-%1\"}").arg(n)},
                             {"working_directory", Bench::projectDirectory(pid)}};
    return Bench::decode(QJsonDocument(record).toJson(QJsonDocument::Compact));
}

void start(Application &tolvo)
{
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    if (!tolvo.start())
        qFatal("the windows did not load");
    tolvo.showMainWindow();
}

// Child mode: start like the real application (in the HOME the parent gave)
// and report the first frame.
int firstFrame(QElapsedTimer sinceMain)
{
    Application tolvo;
    start(tolvo);
    QObject::connect(tolvo.mainWindow(), &QQuickWindow::frameSwapped, qApp, [sinceMain, &tolvo] {
        static bool reported = false;
        if (std::exchange(reported, true))
            return;
        std::printf("frame %.2f rows %d\n", double(sinceMain.nsecsElapsed()) / 1e6,
                    tolvo.sessions().count());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}

struct StartUp
{
    std::vector<double> outside; // from exec
    std::vector<double> inside;  // from main()
    int rows = 0;
};

// Eleven starts, each in a fresh HOME holding `sessionsFile` (if any) as its
// saved sessions.
StartUp startUps(const QString &sessionsFile)
{
    StartUp result;
    for (int run = 0; run < 11; ++run) {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + "/.config");
        if (!sessionsFile.isEmpty()) {
            QDir().mkpath(home.path() + "/.config/tolvo");
            QFile::copy(sessionsFile, home.path() + "/.config/tolvo/sessions.json");
        }
        QProcess child;
        child.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--first-frame")});
        child.waitForFinished(30000);
        const double total = double(timer.nsecsElapsed()) / 1e6;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 4 && words[0] == "frame") {
                result.inside.push_back(words[1].toDouble());
                result.outside.push_back(total);
                result.rows = words[3].toInt();
                break;
            }
        }
    }
    if (result.inside.empty())
        qFatal("no first frame reported");
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    if (argc == 2 && qstrcmp(argv[1], "--first-frame") == 0) {
        QApplication app(argc, argv);
        return firstFrame(sinceMain);
    }
    const Bench::ScratchHome home;
    QApplication app(argc, argv);

    // Start-up, measured from outside (exec included) and from main().
    constexpr int savedDirectories = 2000;
    const QString saved = home.path() + QStringLiteral("/saved-sessions.json");
    Bench::saveDirectories(saved, savedDirectories);
    const StartUp empty = startUps(QString());
    const StartUp restored = startUps(saved);

    // Events with 100 sessions on screen; log lines are not the point here.
    const Bench::Report report;
    Application tolvo;
    start(tolvo);
    SessionListModel &manager = tolvo.sessions();
    for (int n = 0; n < 20; ++n) {
        for (int pid = 1; pid <= 100; ++pid)
            Bench::deliver(manager, event(pid, n));
        QCoreApplication::processEvents();
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents();

    std::vector<double> applied;
    for (int n = 0; n < 2000; ++n) {
        // Spread over the sessions, so that visible and scrolled-away rows both count.
        HookEvent next = event(1 + (n * 37) % 100, 20 + n);
        QElapsedTimer t;
        t.start();
        Bench::deliver(manager, std::move(next));
        QCoreApplication::processEvents();
        applied.push_back(double(t.nsecsElapsed()) / 1000.0);
    }

    const double startUp = Bench::median(empty.outside);
    report.row("process start to the main window's first frame (Xvfb)",
               QByteArray::number(startUp, 'f', 0) + " ms", "<= 500 ms",
               Bench::met(startUp <= 500));
    report.row("process start to the first frame, 2,000 directories saved (Xvfb)",
               QByteArray::number(Bench::median(restored.outside), 'f', 0) + " ms (" +
                   QByteArray::number(restored.rows) + " rows)",
               "", "");
    report.row("main thread per applied event, 100 instances on screen",
               QByteArray::number(Bench::median(applied), 'f', 0) + " us (p99 " +
                   QByteArray::number(Bench::percentile(applied, 0.99), 'f', 0) + " us)",
               "", "");
    report.note("ui: start-up is the median of %zu runs from exec; %.0f ms of it from main() "
                "to the first frame (%.0f ms with %d directories saved)",
                empty.inside.size(), Bench::median(empty.inside), Bench::median(restored.inside),
                savedDirectories);
    return 0;
}
