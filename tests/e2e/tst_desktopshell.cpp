// The real binary among the processes of a desktop (Xvfb on xcb, a private
// session bus, dunst): launches, a tray host, signals, tolvoctl, a click.

#include "appharness.h"
#include "hooksession.h"

#include <QSystemTrayIcon>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace Desktop;

class TestDesktopShell : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // --hidden hides only where a tray brings it back. A second launch hands over
    // or the lock turns it away. Any signal takes the pipe and pid file along.
    void launches_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<QStringList>("second"); // a second launch; empty: none
        QTest::addColumn<int>("exitCode");       // the second's
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("signal");
        const QStringList tolvo{binary("tolvo")};
        QTest::newRow("no tray") << false << QStringList() << 0 << true << SIGINT;
        QTest::newRow("tray, same session") << true << tolvo << 0 << true << SIGTERM;
        QTest::newRow("tray, no session bus")
            << true << QStringList{u"env"_s, u"DBUS_SESSION_BUS_ADDRESS=unix:path=/none"_s} + tolvo
            << 1 << false << SIGHUP;
        QTest::newRow("tray, another session's bus")
            << true << QStringList{u"dbus-run-session"_s, u"--"_s} + tolvo << 1 << false << SIGTERM;
    }
    void launches()
    {
        QFETCH(bool, tray);
        QFETCH(QStringList, second);
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
            QVERIFY(!windowShown(u"Tolvo"_s));
            QProcess launch;
            launch.start(second.takeFirst(), second);
            QVERIFY(launch.waitForFinished());
            QCOMPARE(launch.exitCode(), exitCode);
            QCOMPARE(launch.readAllStandardError().count("Tolvo is already running"), exitCode);
        }
        if (!shown)
            QTest::qWait(200);
        QTRY_COMPARE(windowShown(u"Tolvo"_s), shown);
        // The first one's pipe works on.
        HookSession claude(TestPaths::buildPrefix());
        QVERIFY(claude.send(HookSession::fixture(u"SessionStart-startup.json"_s)));
        QTRY_VERIFY(instances().contains(u"\"pid\":%1,"_s.arg(claude.pid())));
        QVERIFY(tolvo.end(signal));
        QVERIFY(!QFile::exists(home.pipePath()) &&
                !QFile::exists(home.tolvoPath() + u"/tolvo.pid"_s));
    }

    // A status bar's line at once and at the next change; Go to Terminal by name,
    // refused for a name that two sessions go by, listing both.
    void scripts()
    {
        TestHome home;
        Child tolvo, watch;
        QVERIFY(tolvo.launchTolvo());
        HookSession claude(TestPaths::buildPrefix());
        QVERIFY(claude.send(HookSession::fixture(u"SessionStart-startup.json"_s)));
        QTRY_VERIFY(instances().contains(u"\"agent\":\"claude-code\""_s));
        watch.start(binary("tolvoctl"), {u"status"_s, u"--watch"_s});
        QTRY_COMPARE(watch.peek(99), "1 ready\n");
        QVERIFY(claude.send(HookSession::fixture(u"UserPromptSubmit.json"_s)));
        QTRY_COMPARE(watch.peek(99), "1 ready\n1 working\n");
        int exitCode = -1;
        const QString going = run(binary("tolvoctl"), {u"focus"_s, u"webshop"_s}, &exitCode);
        QVERIFY(going == u"Going to the terminal of webshop" && exitCode == 0);
        QVERIFY(run(binary("tolvoctl"), {u"focus"_s, u"blog"_s}, &exitCode).isEmpty() &&
                exitCode == 1);
        HookSession twin(TestPaths::buildPrefix());
        QVERIFY(twin.send(HookSession::fixture(u"SessionStart-startup.json"_s)));
        QTRY_VERIFY(instances().contains(u"\"pid\":%1,"_s.arg(twin.pid())));
        QProcess refused;
        refused.start(binary("tolvoctl"), {u"focus"_s, u"webshop"_s});
        QVERIFY(refused.waitForFinished() && refused.exitCode() == 1);
        QCOMPARE(refused.readAllStandardError().count("\nwebshop (pid "), 2);
    }

    // With a tray, closing hides the window; a notification's click opens the row.
    void notificationLeadsToItsRow()
    {
        Child trayHost;
        trayHost.start(u"trayer"_s, {});
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        AppHarness h;
        QVERIFY(h.start());
        h.window->close();
        QTRY_VERIFY(!h.window->isVisible());
        HookSession other(TestPaths::buildPrefix()), waiting(TestPaths::buildPrefix());
        QVERIFY(other.send(HookSession::fixture(u"UserPromptSubmit.json"_s, u"/w/blog"_s)));
        QVERIFY(waiting.start(HookSession::fixture(u"PermissionRequest-Bash.json"_s)).pid > 0);
        QTRY_COMPARE(run(u"dunstctl"_s, {u"count"_s, u"displayed"_s}), u"1"_s);
        run(u"dunstctl"_s, {u"action"_s});
        QTRY_VERIFY(h.window->isVisible());
        const auto open = [&](int row) {
            return h.sessions().index(row).data(SessionListModel::ExpandedRole).toBool();
        };
        QTRY_VERIFY(open(1)); // rows in order of arrival
        QVERIFY(!open(0));
        QTRY_COMPARE(run(u"dunstctl"_s, {u"count"_s, u"displayed"_s}), u"0"_s);
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktopshell.moc"
