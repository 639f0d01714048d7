// The real binary among the processes of a desktop: a second launch, a tray
// host, the signals that end it, tolvoctl, a click on a notification. Runs on
// xcb under with-notification-server.sh (Xvfb, a private session bus, dunst).

#include "appharness.h"
#include "hooksession.h"

#include <QSystemTrayIcon>
#include <csignal>

using namespace Qt::StringLiterals;
using namespace Desktop;

namespace {

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

} // namespace

class TestDesktopShell : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // `tolvo --hidden` stays hidden only where a tray can bring it back. A
    // second Tolvo never becomes a second listener: in the same session it
    // hands over (the window shows), anywhere else the lock turns it away.
    // Whichever signal ends Tolvo, it takes its pipe and pid file along.
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
            QVERIFY(!mainWindowShown());
            QProcess launch;
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

    // What scripts see: a status bar's line at once and another at the next
    // change; Go to Terminal by a session's name, or an error.
    void scripts()
    {
        TestHome home;
        Child tolvo, watch;
        QVERIFY(tolvo.launchTolvo());
        HookSession claude(TestPaths::buildPrefix());
        QVERIFY(claude.send(HookSession::fixture(u"SessionStart-startup.json"_s)));
        QTRY_VERIFY(instances().contains(u"webshop"_s));
        watch.start(binary("tolvoctl"), {u"status"_s, u"--watch"_s});
        QTRY_COMPARE(watch.peek(99), "1 ready\n");
        QVERIFY(claude.send(HookSession::fixture(u"UserPromptSubmit.json"_s)));
        QTRY_COMPARE(watch.peek(99), "1 ready\n1 working\n");
        int exitCode = -1;
        const QStringList focus{u"focus"_s, u"webshop"_s}, unknown{u"focus"_s, u"blog"_s};
        QCOMPARE(run(binary("tolvoctl"), focus, &exitCode), u"Going to the terminal of webshop"_s);
        QCOMPARE(exitCode, 0);
        QCOMPARE(run(binary("tolvoctl"), unknown, &exitCode), QString());
        QCOMPARE(exitCode, 1);
    }

    // With a tray, closing the window only hides it; a click on a permission
    // notification brings it back with that session's row open.
    void notificationLeadsToItsRow()
    {
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
