// Go to Terminal for real: under a window manager, one xterm shows a tmux
// client, another runs a plain "session"; each Go to Terminal must leave the
// right pane on the tmux client and the right xterm active.
#include "terminalfocus.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray runOrFail(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        qWarning() << program << arguments << process.readAllStandardError();
    return process.readAllStandardOutput().trimmed();
}

QByteArray environOf(qint64 pid)
{
    QFile file(u"/proc/%1/environ"_s.arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pid of the process that owns the active window; 0 if none.
qint64 activeWindowPid()
{
    static const QRegularExpression id(u"# (0x[0-9a-f]+)"_s);
    const QRegularExpressionMatch active =
        id.match(QString::fromLatin1(runOrFail(u"xprop"_s, {u"-root"_s, u"_NET_ACTIVE_WINDOW"_s})));
    if (!active.hasMatch())
        return 0;
    const QByteArray pid =
        runOrFail(u"xprop"_s, {u"-id"_s, active.captured(1), u"-notype"_s, u"_NET_WM_PID"_s});
    return pid.mid(pid.indexOf('=') + 1).trimmed().toLongLong();
}

// Stands in for one Konsole window on the session bus.
class KonsoleWindow : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.konsole.Window")
public:
    explicit KonsoleWindow(const QStringList &sessions) : m_sessions(sessions) {}
    int current = 0;

public Q_SLOTS:
    QStringList sessionList() { return m_sessions; }
    void setCurrentSession(int sessionId) { current = sessionId; }

private:
    QStringList m_sessions;
};

} // namespace

class TestTerminalFocus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_socket;
    QProcess m_tmuxTerm, m_plainTerm;  // the xterms
    QHash<QString, qint64> m_panePids; // "%0" -> the pane's "Claude Code"
    qint64 m_plainPid = 0;
    QString m_clientTty;

    QByteArray tmux(const QStringList &arguments)
    {
        return runOrFail(u"tmux"_s, QStringList{u"-S"_s, m_socket} + arguments);
    }

    QString clientPane()
    {
        return QString::fromLatin1(
            tmux({u"display-message"_s, u"-p"_s, u"-c"_s, m_clientTty, u"#{pane_id}"_s}));
    }

    static void startXterm(QProcess &xterm, const QStringList &command)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"TMUX"_s);
        environment.remove(u"TMUX_PANE"_s);
        xterm.setProcessEnvironment(environment);
        xterm.start(u"xterm"_s, QStringList{u"-geometry"_s, u"80x24"_s, u"-e"_s} + command);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server with a window manager (with-window-manager.sh)");
        for (const char *program : {"tmux", "xterm", "xprop"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1StringView(program)).isEmpty(),
                     program);

        // One tmux server: session "work" with two windows, session "other" with one.
        m_socket = m_dir.filePath(u"tmux"_s);
        const QString sleep = u"sleep 600"_s;
        tmux({u"-f"_s, u"/dev/null"_s, u"new-session"_s, u"-d"_s, u"-s"_s, u"work"_s, sleep});
        tmux({u"new-window"_s, u"-t"_s, u"work"_s, sleep});
        tmux({u"select-window"_s, u"-t"_s, u"work:0"_s});
        tmux({u"new-session"_s, u"-d"_s, u"-s"_s, u"other"_s, sleep});
        const QList<QByteArray> panes =
            tmux({u"list-panes"_s, u"-a"_s, u"-F"_s, u"#{pane_id} #{pane_pid}"_s}).split('\n');
        for (const QByteArray &line : panes)
            m_panePids.insert(QString::fromLatin1(line.split(' ').value(0)),
                              line.split(' ').value(1).toLongLong());
        QCOMPARE(m_panePids.size(), 3);

        // One after the other, so that each is known to be up once it is active.
        startXterm(m_tmuxTerm, {u"tmux"_s, u"-S"_s, m_socket, u"attach"_s, u"-t"_s, u"work"_s});
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowPid(), m_tmuxTerm.processId(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!tmux({u"list-clients"_s}).isEmpty(), 10000);
        m_clientTty = QString::fromLatin1(tmux({u"list-clients"_s, u"-F"_s, u"#{client_tty}"_s}));
        const QString pidFile = m_dir.filePath(u"plain.pid"_s);
        startXterm(m_plainTerm,
                   {u"sh"_s, u"-c"_s, u"echo $$ > \"$0\" && exec sleep 600"_s, pidFile});
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowPid(), m_plainTerm.processId(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile(pidFile).size() > 0, 10000);
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_plainPid = file.readAll().trimmed().toLongLong();
    }

    void cleanupTestCase()
    {
        if (!m_socket.isEmpty())
            tmux({u"kill-server"_s});
        for (QProcess *xterm : {&m_tmuxTerm, &m_plainTerm}) {
            xterm->kill();
            xterm->waitForFinished(3000);
        }
    }

    // The rows run in order: each one changes the active window or the pane.
    void goToTerminal_data()
    {
        QTest::addColumn<QString>("session");   // a tmux pane id, "plain", "plain by pid", "orphan"
        QTest::addColumn<bool>("raiseWindows"); // false: as on Wayland
        QTest::addColumn<FocusResult::Path>("path");
        QTest::addColumn<QString>("active"); // the xterm that must be active: "tmux" or "plain"
        QTest::addColumn<QString>("pane");   // the tmux client's pane afterwards
        QTest::addColumn<QString>("text");   // the row text or the error

        using P = FocusResult::Path;
        QTest::newRow("pane in the client's other window") << "%1" << true << P::tmux << "tmux"
                                                           << "%1"
                                                           << "";
        QTest::newRow("plain xterm by WINDOWID") << "plain" << true << P::window << "plain"
                                                 << "%1"
                                                 << "";
        QTest::newRow("pane without a window system")
            << "%0" << false << P::tmux << "plain"
            << "%0"
            << "Selected tmux pane %0 — switch to its window yourself";
        QTest::newRow("pane in a session no client shows") << "%2" << true << P::tmux << "tmux"
                                                           << "%2"
                                                           << "";
        QTest::newRow("plain xterm by its process tree")
            << "plain by pid" << true << P::window << "plain"
            << "%2"
            << "";
        QTest::newRow("back to the first session") << "%1" << true << P::tmux << "tmux"
                                                   << "%1"
                                                   << "";
        QTest::newRow("pane that is gone") << "%99" << true << P::none << "tmux"
                                           << "%1"
                                           << "Its tmux pane %99 is gone";
        QTest::newRow("process with no terminal window") << "orphan" << true << P::none << "tmux"
                                                         << "%1"
                                                         << "Its terminal could not be found";
    }

    void goToTerminal()
    {
        QFETCH(QString, session);
        QFETCH(bool, raiseWindows);
        QFETCH(FocusResult::Path, path);
        QFETCH(QString, active);

        FocusRequest request;
        if (session.startsWith(u'%')) {
            // What the hook helper would find in the pane's environment.
            request.pid = m_panePids.value(session, m_panePids.value(u"%0"_s));
            request.terminal = TerminalRecord::fromEnvironment(environOf(request.pid));
            request.terminal.tmuxPane = session;
        } else if (session == u"orphan"_s) {
            // A pane's process, its record stripped of tmux: no terminal above it.
            request.pid = m_panePids.value(u"%0"_s);
        } else {
            request.pid = m_plainPid;
            request.terminal = TerminalRecord::fromEnvironment(environOf(m_plainPid));
            QVERIFY(!request.terminal.windowId.isEmpty());
            if (session == u"plain by pid"_s)
                request.terminal.windowId.clear();
        }

        TerminalFocus focus;
        focus.setWindowSystem(raiseWindows ? TerminalFocus::WindowSystem::automatic
                                           : TerminalFocus::WindowSystem::none);
        QSignalSpy finished(&focus, &TerminalFocus::finished);
        focus.focus(request);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.size(), 1);
        const auto result = finished.first().first().value<FocusResult>();

        QCOMPARE(result.path, path);
        QCOMPARE(result.windowRaised, raiseWindows && path != FocusResult::Path::none);
        QTEST(result.path == FocusResult::Path::none ? result.error : result.rowText, "text");
        QTEST(clientPane(), "pane");
        QCOMPARE(activeWindowPid(), (active == u"tmux"_s ? m_tmuxTerm : m_plainTerm).processId());
    }

    // Konsole over the session bus, against stand-ins for two of its windows.
    void konsoleSession_data()
    {
        QTest::addColumn<int>("session");
        QTest::addColumn<QList<int>>("current"); // each window's current session afterwards
        QTest::addColumn<QString>("text");

        QTest::newRow("in the second window")
            << 7 << QList<int>{0, 7}
            << "Selected Konsole session 7 — switch to its window yourself";
        QTest::newRow("in the first window")
            << 2 << QList<int>{2, 0}
            << "Selected Konsole session 2 — switch to its window yourself";
        QTest::newRow("in no window") << 9 << QList<int>{0, 0} << "Its terminal could not be found";
    }

    void konsoleSession()
    {
        QFETCH(int, session);
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            QSKIP("needs a session bus");
        KonsoleWindow first({u"1"_s, u"2"_s}), second({u"5"_s, u"7"_s});
        QVERIFY(bus.registerObject(u"/Windows/1"_s, &first, QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerObject(u"/Windows/3"_s, &second, QDBusConnection::ExportAllSlots));
        const auto unregister = qScopeGuard([&bus] {
            bus.unregisterObject(u"/Windows/1"_s);
            bus.unregisterObject(u"/Windows/3"_s);
        });

        FocusRequest request;
        request.terminal.konsoleService = bus.baseService();
        request.terminal.konsoleSession = u"/Sessions/%1"_s.arg(session);
        TerminalFocus focus;
        focus.setWindowSystem(TerminalFocus::WindowSystem::none);
        QSignalSpy finished(&focus, &TerminalFocus::finished);
        focus.focus(request);
        QVERIFY(finished.wait(5000));
        const auto result = finished.first().first().value<FocusResult>();
        QTEST(result.path == FocusResult::Path::none ? result.error : result.rowText, "text");
        QTEST((QList<int>{first.current, second.current}), "current");
    }
};

QTEST_MAIN(TestTerminalFocus)
#include "tst_terminalfocus.moc"
