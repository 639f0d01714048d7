// The real binary among the processes of a desktop: a second launch, a tray
// host, the signals that end it, tolvoctl, a click on a notification. Runs on
// xcb under with-notification-server.sh (Xvfb, a private session bus, dunst).

#include "appharness.h"
#include "hooksession.h"

#include <QSystemTrayIcon>
#include <csignal>

using namespace Qt::StringLiterals;
using Desktop::run;

namespace {

QString binary(const char *name)
{
    return TestPaths::buildPrefix() + u"/bin/"_s + QLatin1String(name);
}

// What the running Tolvo tells scripts; empty while none answers.
QString instances()
{
    return run(binary("tolvoctl"), {u"status"_s, u"--json"_s});
}

// Whether Tolvo's main window is on screen. (Its tray icon and its hidden
// leader window carry the same name.)
bool mainWindowShown()
{
    const QString windows = run(u"xwininfo"_s, {u"-root"_s, u"-children"_s});
    for (const QString &line : windows.split(u'\n').filter(u"\"Tolvo\""_s))
        if (run(u"xwininfo"_s, {u"-id"_s, line.trimmed().section(u' ', 0, 0)})
                .contains(u"IsViewable"))
            return true;
    return false;
}

// A process that ends with its test; mostly the real binary, in the current home.
struct Child : QProcess
{
    bool launchTolvo(const QStringList &arguments = {})
    {
        start(binary("tolvo"), arguments);
        // Hooks find it by the pid file, which its listener writes last.
        return QTest::qWaitFor(
            [] {
                return !instances().isEmpty() &&
                       QFile::exists(QDir::homePath() + u"/.tolvo/tolvo.pid"_s);
            },
            10000);
    }
    bool end(int signal) // as a session manager ends it
    {
        ::kill(pid_t(processId()), signal);
        return waitForFinished() && exitStatus() == NormalExit && exitCode() == 0;
    }
    ~Child() override
    {
        kill();
        waitForFinished();
    }
};

} // namespace

class TestDesktopShell : public QObject
{
    Q_OBJECT
    TestHome home; // the shared Tolvo's, for the scripts
    Child shared;
    std::unique_ptr<HookSession> claude;

private Q_SLOTS:
    // `tolvo --hidden` stays hidden only where a tray can bring it back. A
    // second Tolvo never becomes a second listener: in the same session it
    // hands over (the window shows), anywhere else the lock turns it away.
    // Whichever signal ends Tolvo, it takes its pipe and pid file along.
    void launches_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QStringList>("second"); // empty: no second launch
        QTest::addColumn<QString>("busAddress"); // the second's; empty: this session's
        QTest::addColumn<int>("exitCode");       // the second's
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("signal");
        const QStringList tolvo{binary("tolvo")};
        QTest::newRow("no tray") << false << QStringList() << QString() << 0 << true << SIGINT;
        QTest::newRow("tray, same session") << true << tolvo << QString() << 0 << true << SIGTERM;
        QTest::newRow("tray, no session bus")
            << true << tolvo << u"unix:path=/nonexistent"_s << 1 << false << SIGHUP;
        QTest::newRow("tray, another session's bus")
            << true << QStringList{u"dbus-run-session"_s, u"--"_s} + tolvo << QString() << 1
            << false << SIGTERM;
    }
    void launches()
    {
        QFETCH(bool, tray);
        QFETCH(QStringList, second);
        QFETCH(QString, busAddress);
        QFETCH(int, exitCode);
        QFETCH(bool, shown);
        QFETCH(int, signal);
        TestHome home;
        Child trayHost, tolvo;
        if (tray)
            trayHost.start(u"trayer"_s, {});
        QTRY_COMPARE(QSystemTrayIcon::isSystemTrayAvailable(), tray);
        QVERIFY(tolvo.launchTolvo({u"--hidden"_s}));
        if (!second.isEmpty()) {
            QTest::qWait(200); // time enough to show a window it should not
            QVERIFY(!mainWindowShown());
            QProcess launch;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (!busAddress.isEmpty())
                env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, busAddress);
            launch.setProcessEnvironment(env);
            launch.start(second.takeFirst(), second);
            QVERIFY(launch.waitForFinished());
            QCOMPARE(launch.exitCode(), exitCode);
            QCOMPARE(launch.readAllStandardError().count("Tolvo is already running"), exitCode);
        }
        if (!shown)
            QTest::qWait(200);
        QTRY_COMPARE(mainWindowShown(), shown);
        // The first one's pipe works on.
        HookSession claude(TestPaths::buildPrefix());
        QVERIFY(claude.send(HookSession::fixture(u"SessionStart-startup.json"_s)));
        QTRY_VERIFY(instances().contains(u"\"pid\":%1,"_s.arg(claude.pid())));
        QVERIFY(tolvo.end(signal));
        QVERIFY(!QFile::exists(home.pipePath()));
        QVERIFY(!QFile::exists(home.tolvoPath() + u"/tolvo.pid"_s));
    }

    // What scripts see and do over the bus: a status bar's line at once and
    // another at the next change, Go to Terminal by a session's name.
    void scripts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("event"); // sent once the first line is out
        QTest::addColumn<QString>("out");
        QTest::addColumn<int>("exitCode"); // -1: runs until killed
        QTest::newRow("status --watch")
            << QStringList{u"status"_s, u"--watch"_s} << u"PermissionRequest-Bash"_s
            << u"1 ready\n1 waiting: webshop\n"_s << -1;
        QTest::newRow("focus") << QStringList{u"focus"_s, u"webshop"_s} << QString()
                               << u"Going to the terminal of webshop\n"_s << 0;
        QTest::newRow("focus, unknown")
            << QStringList{u"focus"_s, u"blog"_s} << QString() << QString() << 1;
    }
    void scripts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, event);
        QFETCH(QString, out);
        QFETCH(int, exitCode);
        if (!claude) {
            QVERIFY(shared.launchTolvo());
            claude = std::make_unique<HookSession>(TestPaths::buildPrefix());
            QVERIFY(claude->send(HookSession::fixture(u"SessionStart-startup.json"_s)));
            QTRY_VERIFY(instances().contains(u"webshop"_s));
        }
        Child ctl;
        ctl.start(binary("tolvoctl"), arguments);
        if (!event.isEmpty()) {
            QTRY_VERIFY(ctl.canReadLine());
            QVERIFY(claude->send(HookSession::fixture(event + u".json"_s)));
        }
        QTRY_COMPARE(QString::fromUtf8(ctl.peek(4096)), out);
        if (exitCode >= 0)
            QTRY_VERIFY(ctl.state() == QProcess::NotRunning && ctl.exitCode() == exitCode);
    }

    // With a tray, closing the window only hides it; a click on a permission
    // notification brings it back with that session's row open.
    void notificationLeadsToItsRow()
    {
        QVERIFY(shared.end(SIGTERM));
        run(u"dunstctl"_s, {u"close-all"_s});
        Child trayHost;
        trayHost.start(u"trayer"_s, {});
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        AppHarness h;
        QVERIFY(h.start());
        h.window->close();
        QTRY_VERIFY(!h.window->isVisible());
        HookSession other(TestPaths::buildPrefix()), waiting(TestPaths::buildPrefix());
        QVERIFY(other.send(HookSession::fixture(u"UserPromptSubmit.json"_s, u"/w/blog"_s)));
        QVERIFY(waiting.send(HookSession::fixture(u"PermissionRequest-Bash.json"_s)));
        QTRY_COMPARE(run(u"dunstctl"_s, {u"count"_s, u"displayed"_s}), u"1"_s);
        run(u"dunstctl"_s, {u"action"_s});
        QTRY_VERIFY(h.window->isVisible());
        const auto expanded = [&](const HookSession &claude) {
            const QModelIndex row = h.sessions().index(h.sessions().rowOfPid(claude.pid()));
            return row.data(InstanceManager::ExpandedRole).toBool();
        };
        QTRY_VERIFY(expanded(waiting));
        QVERIFY(!expanded(other));
        QTRY_COMPARE(run(u"dunstctl"_s, {u"count"_s, u"displayed"_s}), u"0"_s);
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktopshell.moc"
