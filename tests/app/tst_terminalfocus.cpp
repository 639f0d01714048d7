// Go to Terminal: what it runs for a terminal record, kept from hostile or foreign values, and the
// real thing under xvfb-run and a window manager: one xterm shows a tmux client, another runs a
// plain "session", and each Go to Terminal must leave the right pane and xterm active. Then
// whether a session's terminal is in front: what the programs print, and the same windows.
#include "terminalfocus.h"
#include "terminalpresence.h"
#include "x11windows.h"

#include <QJsonDocument>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <map>

using namespace Qt::StringLiterals;

namespace {

QByteArray output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return process.readAllStandardOutput().trimmed();
}

// The pid of the process that owns the active window; 0 if none.
qint64 activeWindowPid()
{
    const QByteArray pid = output(
        u"sh"_s,
        {u"-c"_s, u"a=$(xprop -root _NET_ACTIVE_WINDOW) && xprop -id \"${a##* }\" _NET_WM_PID"_s});
    return pid.mid(pid.indexOf('=') + 1).toLongLong();
}

QString presenceName(Presence presence)
{
    static const std::map<Presence, QString> names{{Presence::inFront, u"in front"_s},
                                                   {Presence::notInFront, u"not in front"_s},
                                                   {Presence::unknown, u"unknown"_s}};
    return names.at(presence);
}

} // namespace

class TestTerminalFocus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QLocalServer m_own;
    const QString m_socket = m_dir.filePath(u"tmux"_s);
    QProcess m_windowManager, m_tmuxTerm, m_plainTerm;
    QString m_clientTty;

    QByteArray tmux(const QStringList &arguments)
    {
        return output(u"tmux"_s, QStringList{u"-S"_s, m_socket} + arguments);
    }

    // $S: a socket of this user; $F: a plain file; $L: a link to $S.
    QString expand(QString text) const
    {
        for (const char *name : {"$S", "$F", "$L"})
            text.replace(QLatin1String(name), m_dir.filePath(QLatin1String(name + 1)));
        return text;
    }

    // The "Claude Code" of a pane (of %0 for one that is gone or an orphan), else of the plain
    // xterm, whose record names tmux on a server that never answers for "hung".
    void sessionRequest(const QString &session, FocusRequest &request)
    {
        const QString pane = session == u"%99" || !session.startsWith(u'%') ? u"%0"_s : session;
        request.pid =
            tmux({u"display-message"_s, u"-p"_s, u"-t"_s, pane, u"#{pane_pid}"_s}).toLongLong();
        if (session.startsWith(u'%')) {
            request.terminal = TerminalRecord::fromEnvironment(
                output(u"cat"_s, {u"/proc/%1/environ"_s.arg(request.pid)}));
            request.terminal.values[u"TMUX_PANE"_s] = session;
        } else if (session != u"orphan") { // else a pane's process, its record stripped of tmux
            QFile children(u"/proc/%1/task/%1/children"_s.arg(m_plainTerm.processId()));
            QVERIFY(children.open(QIODevice::ReadOnly));
            request.pid = children.readAll().trimmed().toLongLong();
            request.terminal = TerminalRecord::fromEnvironment(
                output(u"cat"_s, {u"/proc/%1/environ"_s.arg(request.pid)}));
            QVERIFY(request.terminal.values.contains(u"WINDOWID"_s));
            if (session == u"plain by pid")
                request.terminal.values.remove(u"WINDOWID"_s);
            if (session == u"hung") {
                request.terminal.values[u"TMUX"_s] = expand(u"$S,1,0"_s);
                request.terminal.values[u"TMUX_PANE"_s] = u"%0"_s;
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_own.listen(expand(u"$S"_s)));
        QVERIFY(QFile(expand(u"$F"_s)).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(expand(u"$S"_s), expand(u"$L"_s)));
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X server of its own (xvfb-run)");
        // openbox takes its time on a busy machine, and now and then does not come up at all:
        // it is started again then. What it complains of goes to the test's log.
        const auto managed = [] {
            return output(u"xprop"_s, {u"-root"_s, u"_NET_SUPPORTING_WM_CHECK"_s}).contains('#');
        };
        m_windowManager.setProcessChannelMode(QProcess::ForwardedChannels);
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_windowManager.start(u"openbox"_s, {u"--sm-disable"_s});
            if (QTest::qWaitFor(managed, 20000))
                break;
            qWarning("openbox is not managing the screen after 20 s (%s); starting it again",
                     m_windowManager.state() == QProcess::Running ? "running" : "gone");
            m_windowManager.kill();
            m_windowManager.waitForFinished(3000);
        }
        QVERIFY(managed());
        // One tmux server: session "work" with two windows, session "other" with one; the first
        // window of "work" holds %0 and, split from it, %3.
        tmux({u"-f"_s, u"/dev/null"_s, u"new-session"_s, u"-d"_s, u"-s"_s, u"work"_s, u"sleep 1h"_s,
              u";"_s, u"new-window"_s, u"-d"_s, u"-t"_s, u"work"_s, u"sleep 1h"_s, u";"_s,
              u"new-session"_s, u"-d"_s, u"-s"_s, u"other"_s, u"sleep 1h"_s});
        tmux({u"split-window"_s, u"-d"_s, u"-t"_s, u"work:0"_s, u"sleep 1h"_s});
        // The plain session's name fakes the fields of /proc/<pid>/stat that follow it.
        const QString sleep = m_dir.filePath(u"x) S 1 1"_s);
        QVERIFY(QFile::link(QStandardPaths::findExecutable(u"sleep"_s), sleep));
        // One after the other, so that each is known to be up once it is active.
        for (QProcess *xterm : {&m_tmuxTerm, &m_plainTerm}) {
            xterm->start(u"env"_s, QStringList{u"-u"_s, u"TMUX"_s, u"xterm"_s, u"-e"_s} +
                                       (xterm == &m_plainTerm
                                            ? QStringList{sleep, u"1h"_s}
                                            : QStringList{u"tmux"_s, u"-S"_s, m_socket, u"attach"_s,
                                                          u"-t"_s, u"work"_s}));
            QTRY_COMPARE_WITH_TIMEOUT(activeWindowPid(), xterm->processId(), 10000);
        }
        QTRY_VERIFY(!tmux({u"list-clients"_s}).isEmpty());
        m_clientTty = QString::fromLatin1(tmux({u"list-clients"_s, u"-F"_s, u"#{client_tty}"_s}));
    }

    void cleanupTestCase()
    {
        tmux({u"kill-server"_s});
        for (QProcess *process : {&m_tmuxTerm, &m_plainTerm, &m_windowManager}) {
            process->kill();
            process->waitForFinished(3000);
        }
    }

    // What each terminal of the table makes of a record, "|" between them: tmux's commands to show
    // the pane on /dev/pts/4, kitty's, WezTerm's, "<service> <session>" for Konsole, the window id.
    void commands_data()
    {
        QTest::addColumn<QString>("terminal");
        QTest::addColumn<QString>("expected");
        const auto add = [this](const char *name, const char *json, const char *expected = "") {
            QTest::newRow(name) << expand(QString::fromUtf8(json))
                                << expand(QString::fromUtf8(expected));
        };
        // clang-format off
        add("tmux", R"({"TMUX":"$S,1,0","TMUX_PANE":"%12"})", "tmux -S $S select-window -t %12|"
            "tmux -S $S select-pane -t %12|tmux -S $S switch-client -c /dev/pts/4 -t %12");
        add("tmux pane with a command", R"({"TMUX":"$S,1,0","TMUX_PANE":"%3; touch x"})");
        add("tmux pane without %", R"({"TMUX":"$S,1,0","TMUX_PANE":"13"})");
        add("tmux pane past int", R"({"TMUX":"$S,1,0","TMUX_PANE":"%1234567890"})");
        add("tmux socket a plain file", R"({"TMUX":"$F,1,0","TMUX_PANE":"%3"})");
        add("tmux socket a link", R"({"TMUX":"$L,1,0","TMUX_PANE":"%3"})");
        add("kitty", R"({"KITTY_WINDOW_ID":"5"})", "kitty @ focus-window --match id:5");
        add("kitty through its socket", R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:$S"})",
            "kitty @ --to unix:$S focus-window --match id:5");
        add("kitty through an abstract socket", R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:@k-7"})",
            "kitty @ --to unix:@k-7 focus-window --match id:5");
        add("kitty through a plain file", R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:$F"})");
        add("kitty over tcp", R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"tcp:localhost:9"})");
        add("wezterm", R"({"WEZTERM_PANE":"7"})", "wezterm cli activate-pane --pane-id 7");
        add("konsole", R"({"KONSOLE_DBUS_SERVICE":"org.kde.konsole-12","KONSOLE_DBUS_SESSION":"/Sessions/15"})",
            "org.kde.konsole-12 15");
        add("konsole names another service", R"({"KONSOLE_DBUS_SERVICE":"org.x","KONSOLE_DBUS_SESSION":"/Sessions/2"})");
        add("konsole session path with more", R"({"KONSOLE_DBUS_SERVICE":":1.4","KONSOLE_DBUS_SESSION":"/Sessions/2/../x"})");
        add("window id", R"({"WINDOWID":"20971533"})", "20971533");
        add("window id past 32 bits", R"({"WINDOWID":"4294967296"})");
        // clang-format on
    }
    void commands()
    {
        QFETCH(QString, terminal);
        const TerminalRecord record =
            TerminalRecord::fromJson(QJsonDocument::fromJson(terminal.toUtf8()).object());
        QStringList lines;
        const auto line = [&lines](const FocusCommand &command) {
            lines.append((QStringList{command.program} + command.arguments).join(u' '));
        };
        for (const Terminal &row : TerminalCommands::terminals()) {
            const std::optional<FocusTarget> target = TerminalCommands::target(row, record);
            if (!target)
                continue;
            if (const auto *tmux = std::get_if<TmuxPane>(&target->step))
                std::ranges::for_each(TerminalCommands::tmuxCommands(*tmux, u"/dev/pts/4"_s), line);
            else if (const auto *command = std::get_if<FocusCommand>(&target->step))
                line(*command);
            else if (const auto *konsole = std::get_if<KonsoleSession>(&target->step))
                lines.append(konsole->service + u' ' + QString::number(konsole->sessionId));
            else if (const quint32 window = std::get<X11Window>(target->step).id)
                lines.append(QString::number(window));
        }
        QTEST(lines.join(u'|'), "expected");
    }

    // From list-clients lines "<activity> <pid> <session> <tty>": the client of session $0 that was
    // active last, else the one of any session.
    void pickTmuxClient_data()
    {
        QTest::addColumn<QString>("clients");
        QTest::addColumn<QString>("expected"); // "<tty> <pid>"
        QTest::newRow("the most recent in the session")
            << "300 43 $0 /dev/pts/5\n100 42 $0 /dev/pts/4\n900 41 $1 /dev/pts/3"
            << "/dev/pts/5 43";
        QTest::newRow("malformed lines passed over")
            << "900 41 $0 /dev/../etc/passwd\n900 4x $0 /dev/pts/6\n900 41 $0 pts/7\n"
               "900 41 $0 /dev/pts/8 x\n100 42 $1 /dev/pts/4"
            << "/dev/pts/4 42";
    }
    void pickTmuxClient()
    {
        QFETCH(QString, clients);
        const std::optional<TmuxClient> client = TerminalCommands::pickTmuxClient(clients, u"$0"_s);
        QTEST(client ? client->tty + u' ' + QString::number(client->pid) : QString(), "expected");
    }

    // The window of the nearest of a process's ancestors, itself first, among windows in stacking
    // order, bottom first; the topmost of that process's windows.
    void chooseWindow()
    {
        QCOMPARE(TerminalCommands::chooseWindow({5, 4, 3}, {{2, 4}, {6, 4}, {1, 3}, {7, 9}}), 6u);
    }

    // The rows run in order: each one changes the active window or the pane.
    void goToTerminal_data()
    {
        QTest::addColumn<QString>("session");   // a tmux pane id, plain, plain by pid or orphan
        QTest::addColumn<bool>("raiseWindows"); // false: as on Wayland
        QTest::addColumn<QString>("active");    // the xterm that must be active: tmux or plain
        QTest::addColumn<QString>("pane");      // the tmux client's pane afterwards
        QTest::addColumn<QString>("text");      // the row text or the error
        const auto add = [](const char *name, const char *session, bool raise, const char *active,
                            const char *pane, const char *text = "") {
            QTest::newRow(name) << QString::fromUtf8(session) << raise << QString::fromUtf8(active)
                                << QString::fromUtf8(pane) << QString::fromUtf8(text);
        };
        add("pane in the client's other window", "%1", true, "tmux", "%1");
        add("plain xterm by WINDOWID", "plain", true, "plain", "%1");
        add("pane without a window system", "%0", false, "plain", "%0",
            "Selected tmux pane %0 — switch to its window yourself");
        add("pane in a session no client shows", "%2", true, "tmux", "%2");
        add("plain xterm by its process tree", "plain by pid", true, "plain", "%2");
        add("pane that is gone", "%99", true, "plain", "%2", "Its tmux pane %99 is gone");
        add("process with no terminal window", "orphan", true, "plain", "%2",
            "Its terminal could not be found");
    }

    void goToTerminal()
    {
        QFETCH(QString, session);
        QFETCH(bool, raiseWindows);
        QFETCH(QString, active);
        FocusRequest request;
        sessionRequest(session, request);
        if (QTest::currentTestFailed())
            return;

        TerminalFocus focus;
        focus.setWindowSystem(raiseWindows ? TerminalFocus::WindowSystem::automatic
                                           : TerminalFocus::WindowSystem::none);
        QSignalSpy finished(&focus, &TerminalFocus::finished);
        focus.focus(request);
        QVERIFY(finished.wait(10000) && finished.size() == 1);
        const auto result = finished.first().first().value<FocusResult>();
        QCOMPARE(result.windowRaised, raiseWindows && !result.terminal.isEmpty());
        QTEST(result.terminal.isEmpty() ? result.error : result.rowText, "text");
        QTEST(QString::fromLatin1(
                  tmux({u"display-message"_s, u"-p"_s, u"-c"_s, m_clientTty, u"#{pane_id}"_s})),
              "pane");
        QCOMPARE(activeWindowPid(), (active == u"tmux" ? m_tmuxTerm : m_plainTerm).processId());
    }

    // What the programs print, read into an answer; the JSON of kitty's ls and WezTerm's
    // list-clients is written with ' for ". For "window": "<active window> <terminal window>".
    void presenceRules_data()
    {
        QTest::addColumn<QString>("kind");     // tmux, kitty, kitty ls, wezterm or window
        QTest::addColumn<QString>("printed");  // tmux: "<control> <activity> <pid> <tty> <pane>"
        QTest::addColumn<QString>("target");   // the session's pane or window
        QTest::addColumn<QString>("expected"); // the answer; tmux: and the client's pid
        const auto add = [](const char *name, const char *kind, const char *printed,
                            const char *target, const char *expected) {
            QTest::newRow(name) << QString::fromUtf8(kind)
                                << QString::fromUtf8(printed).replace(u'\'', u'"')
                                << QString::fromUtf8(target) << QString::fromUtf8(expected);
        };
        const char *twoSplits =
            "[{'id':1,'is_focused':true,'tabs':[{'id':1,'is_focused':true,"
            "'windows':[{'id':4,'is_focused':false},{'id':5,'is_focused':true}]}]}]";
        const char *twoOsWindows =
            "[{'id':1,'is_focused':false,'tabs':[{'id':1,'windows':[{'id':5,'is_focused':true}]}]},"
            "{'id':2,'is_focused':true,'tabs':[{'id':2,'is_focused':false,'windows':[{'id':6,"
            "'is_focused':false}]},{'id':3,'is_focused':true,'windows':[{'id':7,'is_focused':true}]"
            "}]}]";
        const char *weztermClients =
            "[{'pid':1,'idle_time':{'secs':30,'nanos':0},'focused_pane_id':7},"
            "{'pid':2,'idle_time':{'secs':0,'nanos':5000},'focused_pane_id':3}]";
        add("tmux: the latest client shows it", "tmux",
            "0 100 41 /dev/pts/3 %0\n0 300 42 /dev/pts/4 %1", "%1", "in front 42");
        add("tmux: only an older client shows it", "tmux",
            "0 100 41 /dev/pts/3 %0\n0 300 42 /dev/pts/4 %1", "%0", "not in front 42");
        add("tmux: of clients of the same second, one that shows it", "tmux",
            "0 300 41 /dev/pts/3 %1\n0 300 42 /dev/pts/4 %0\n0 300 43 /dev/pts/5 %2", "%0",
            "in front 42");
        add("tmux: a control-mode client does not count", "tmux",
            "1 900 40 /dev/pts/2 %1\n0 300 42 /dev/pts/4 %0", "%0", "in front 42");
        add("tmux: %1 is not %10", "tmux", "0 300 42 /dev/pts/4 %10", "%1", "not in front 42");
        add("tmux: no client", "tmux", "", "%1", "not in front");
        add("tmux: nothing readable", "tmux", "0 300 42 /dev/../pts/4 %1\n300 42 /dev/pts/4 %1",
            "%1", "unknown");
        add("kitty: its split focused", "kitty", twoSplits, "5", "in front");
        add("kitty: the other split focused", "kitty", twoSplits, "4", "not in front");
        add("kitty: its OS window without the focus", "kitty", twoOsWindows, "5", "not in front");
        add("kitty: in a tab not shown", "kitty", twoOsWindows, "6", "not in front");
        add("kitty: in the focused OS window's tab", "kitty", twoOsWindows, "7", "in front");
        add("kitty: not listed", "kitty", twoSplits, "9", "unknown");
        add("kitty: an id as text", "kitty",
            "[{'is_focused':true,'tabs':[{'windows':[{'id':'5','is_focused':true}]}]}]", "5",
            "unknown");
        add("kitty: not JSON", "kitty", "Error: Remote control is disabled", "5", "unknown");
        add("kitty ls through its address", "kitty ls", "unix:@k-7", "5",
            "kitty @ --to unix:@k-7 ls");
        add("wezterm: the least idle client focuses it", "wezterm", weztermClients, "3",
            "in front");
        add("wezterm: only an idler client does", "wezterm", weztermClients, "7", "not in front");
        add("wezterm: no client", "wezterm", "[]", "3", "unknown");
        add("wezterm: not a list", "wezterm", "{'focused_pane_id':3}", "3", "unknown");
        add("window: the terminal's is active", "window", "5 5", "", "in front");
        add("window: another is active", "window", "6 5", "", "not in front");
        add("window: none is active", "window", "0 5", "", "not in front");
        add("window: the terminal's is not found", "window", "5 0", "", "unknown");
    }
    void presenceRules()
    {
        QFETCH(QString, kind);
        QFETCH(QString, printed);
        QFETCH(QString, target);
        QString answer;
        if (kind == u"tmux") {
            const PresenceRules::TmuxView view = PresenceRules::tmuxView(printed, target);
            answer = presenceName(view.presence) +
                     (view.client ? u' ' + QString::number(view.client->pid) : QString());
        } else if (kind == u"kitty") {
            answer = presenceName(PresenceRules::kittyWindow(printed.toUtf8(), target));
        } else if (kind == u"kitty ls") {
            const TerminalRecord record{
                {{u"KITTY_WINDOW_ID"_s, target}, {u"KITTY_LISTEN_ON"_s, printed}}};
            const auto kitty =
                std::ranges::find(TerminalCommands::terminals(), u"kitty"_s, &Terminal::name);
            const auto focus =
                std::get<FocusCommand>(TerminalCommands::target(*kitty, record)->step);
            const FocusCommand ls = PresenceRules::kittyLsQuery(focus);
            answer = (QStringList{ls.program} + ls.arguments).join(u' ');
        } else if (kind == u"wezterm") {
            answer = presenceName(PresenceRules::weztermPane(printed.toUtf8(), target));
        } else {
            answer = presenceName(PresenceRules::window(printed.section(u' ', 0, 0).toUInt(),
                                                        printed.section(u' ', 1, 1).toUInt()));
        }
        QTEST(answer, "expected");
    }

    // The rows set the tmux client's pane and the active xterm, then ask twice at once.
    void presence_data()
    {
        QTest::addColumn<QString>("session");   // a tmux pane id, plain, hung or orphan
        QTest::addColumn<bool>("windowSystem"); // false: as on Wayland
        QTest::addColumn<QString>("shown");     // the pane the tmux client shows
        QTest::addColumn<QString>("active");    // the xterm made active: tmux or plain
        QTest::addColumn<QString>("expected");
        const auto add = [](const char *name, const char *session, bool windowSystem,
                            const char *shown, const char *active, const char *expected) {
            QTest::newRow(name) << QString::fromUtf8(session) << windowSystem
                                << QString::fromUtf8(shown) << QString::fromUtf8(active)
                                << QString::fromUtf8(expected);
        };
        add("its pane shown, its xterm active", "%0", true, "%0", "tmux", "in front");
        add("the other pane of its window", "%0", true, "%3", "tmux", "not in front");
        add("another window of its session", "%0", true, "%1", "tmux", "not in front");
        add("the client on another session", "%0", true, "%2", "tmux", "not in front");
        add("its pane shown, the other xterm active", "%0", true, "%0", "plain", "not in front");
        add("its pane shown, no window system", "%0", false, "%0", "tmux", "unknown");
        add("plain xterm active", "plain", true, "%0", "plain", "in front");
        add("plain xterm behind the tmux one", "plain", true, "%0", "tmux", "not in front");
        add("tmux server that never answers", "hung", true, "%0", "plain", "unknown");
        add("process with no terminal window", "orphan", true, "%0", "plain", "unknown");
    }
    void presence()
    {
        QFETCH(QString, session);
        QFETCH(bool, windowSystem);
        QFETCH(QString, shown);
        QFETCH(QString, active);
        for (const FocusCommand &command :
             TerminalCommands::tmuxCommands({m_socket, shown}, m_clientTty))
            output(command.program, command.arguments);
        const qint64 xterm = (active == u"tmux" ? m_tmuxTerm : m_plainTerm).processId();
        const std::unique_ptr<X11Windows> x11 = X11Windows::open();
        QVERIFY(x11);
        for (const auto &[window, pid] : x11->windowPids())
            if (pid == xterm)
                x11->requestActivation(window, 0);
        QTRY_COMPARE(activeWindowPid(), xterm);
        FocusRequest request;
        sessionRequest(session, request);
        if (QTest::currentTestFailed())
            return;

        TerminalPresence presence;
        presence.setWindowSystem(windowSystem ? TerminalFocus::WindowSystem::automatic
                                              : TerminalFocus::WindowSystem::none);
        QStringList answers;
        for (int question = 0; question < 2; ++question)
            presence.ask({request.pid, request.terminal},
                         [&answers](Presence p) { answers.append(presenceName(p)); });
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 3000);
        QTEST(answers.first(), "expected");
        QCOMPARE(answers.last(), answers.first());
    }
};

QTEST_MAIN(TestTerminalFocus)
#include "tst_terminalfocus.moc"
