// What Go to Terminal runs for a session's terminal record: the argument lists
// for tmux, kitty, WezTerm and Konsole, and the checks that keep hostile or
// foreign values out of them.
#include "terminalcommands.h"

#include <QJsonDocument>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestTerminalCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QLocalServer m_own, m_foreign;
    bool m_haveForeign = false;

    // $SOCK: a socket of this user; $OTHER: one of another user; $FILE: a
    // plain file; $LINK: a link to $SOCK.
    QString expand(QString text) const
    {
        return text.replace(u"$SOCK"_s, m_dir.filePath(u"own"_s))
            .replace(u"$OTHER"_s, m_dir.filePath(u"foreign"_s))
            .replace(u"$FILE"_s, m_dir.filePath(u"file"_s))
            .replace(u"$LINK"_s, m_dir.filePath(u"link"_s));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_own.listen(m_dir.filePath(u"own"_s)));
        QVERIFY(m_foreign.listen(m_dir.filePath(u"foreign"_s)));
        m_haveForeign = ::geteuid() == 0 &&
                        ::chown(QFile::encodeName(m_dir.filePath(u"foreign"_s)), 65534, 65534) == 0;
        QFile file(m_dir.filePath(u"file"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(m_dir.filePath(u"own"_s), m_dir.filePath(u"link"_s)));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("terminal");     // the record's JSON
        QTest::addColumn<QString>("clientTty");    // tmux only
        QTest::addColumn<QStringList>("expected"); // one line per command; empty: skipped
        const auto add = [](const char *name, const char *kind, const char *json,
                            const QStringList &expected, const char *tty = "") {
            QTest::newRow(name) << QString::fromUtf8(kind) << QString::fromUtf8(json)
                                << QString::fromUtf8(tty) << expected;
        };
        const QString tmux = u"tmux -S $SOCK "_s;
        const QStringList skipped;

        // clang-format off
        add("tmux pane", "tmux", R"({"TMUX":"$SOCK,123,0","TMUX_PANE":"%3"})",
            {tmux + "select-window -t %3", tmux + "select-pane -t %3"});
        add("tmux pane shown on a client", "tmux", R"({"TMUX":"$SOCK,123,0","TMUX_PANE":"%12"})",
            {tmux + "select-window -t %12", tmux + "select-pane -t %12",
             tmux + "switch-client -c /dev/pts/4 -t %12"}, "/dev/pts/4");
        add("tmux pane with a command", "tmux", R"({"TMUX":"$SOCK,1,0","TMUX_PANE":"%3; touch x"})", skipped);
        add("tmux pane without %", "tmux", R"({"TMUX":"$SOCK,1,0","TMUX_PANE":"3"})", skipped);
        add("tmux pane negative", "tmux", R"({"TMUX":"$SOCK,1,0","TMUX_PANE":"%-1"})", skipped);
        add("tmux pane past int", "tmux", R"({"TMUX":"$SOCK,1,0","TMUX_PANE":"%1234567890"})", skipped);
        add("tmux pane with a newline", "tmux", R"({"TMUX":"$SOCK,1,0","TMUX_PANE":"%3\n"})", skipped);
        add("tmux socket is a plain file", "tmux", R"({"TMUX":"$FILE,1,0","TMUX_PANE":"%3"})", skipped);
        add("tmux socket is a link", "tmux", R"({"TMUX":"$LINK,1,0","TMUX_PANE":"%3"})", skipped);
        add("tmux socket of another user", "tmux", R"({"TMUX":"$OTHER,1,0","TMUX_PANE":"%3"})", skipped);
        add("tmux socket relative", "tmux", R"({"TMUX":"own,1,0","TMUX_PANE":"%3"})", skipped);
        add("tmux without TMUX", "tmux", R"({"TMUX_PANE":"%3"})", skipped);

        add("kitty", "kitty", R"({"KITTY_WINDOW_ID":"5"})", {"kitty @ focus-window --match id:5"});
        add("kitty through its socket", "kitty", R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:$SOCK"})",
            {"kitty @ --to unix:$SOCK focus-window --match id:5"});
        add("kitty through an abstract socket", "kitty",
            R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:@kitty-77"})",
            {"kitty @ --to unix:@kitty-77 focus-window --match id:5"});
        add("kitty window id with a suffix", "kitty", R"({"KITTY_WINDOW_ID":"12abc"})", skipped);
        add("kitty window id as a number", "kitty", R"({"KITTY_WINDOW_ID":5})", skipped);
        add("kitty socket of another user", "kitty",
            R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:$OTHER"})", skipped);
        add("kitty socket is a plain file", "kitty",
            R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"unix:$FILE"})", skipped);
        add("kitty over tcp", "kitty", R"({"KITTY_WINDOW_ID":"5","KITTY_LISTEN_ON":"tcp:localhost:9"})", skipped);

        add("wezterm", "wezterm", R"({"WEZTERM_PANE":"7"})", {"wezterm cli activate-pane --pane-id 7"});
        add("wezterm pane with an option", "wezterm", R"({"WEZTERM_PANE":"7 --help"})", skipped);

        add("konsole unique name", "konsole",
            R"({"KONSOLE_DBUS_SERVICE":":1.42","KONSOLE_DBUS_SESSION":"/Sessions/2"})", {":1.42 2"});
        add("konsole well-known name", "konsole",
            R"({"KONSOLE_DBUS_SERVICE":"org.kde.konsole-1234","KONSOLE_DBUS_SESSION":"/Sessions/15"})",
            {"org.kde.konsole-1234 15"});
        add("konsole names another service", "konsole",
            R"({"KONSOLE_DBUS_SERVICE":"org.freedesktop.systemd1","KONSOLE_DBUS_SESSION":"/Sessions/2"})",
            skipped);
        add("konsole session path with more", "konsole",
            R"({"KONSOLE_DBUS_SERVICE":":1.42","KONSOLE_DBUS_SESSION":"/Sessions/2/../x"})", skipped);

        add("window id", "window", R"({"WINDOWID":"20971533"})", {"20971533"});
        add("window id with a suffix", "window", R"({"WINDOWID":"12abc"})", skipped);
        add("window id in hex", "window", R"({"WINDOWID":"0x1400001"})", skipped);
        add("window id past 32 bits", "window", R"({"WINDOWID":"4294967296"})", skipped);
        // clang-format on
    }

    void commands()
    {
        QFETCH(QString, kind);
        QFETCH(QString, terminal);
        QFETCH(QString, clientTty);
        QFETCH(QStringList, expected);
        if (terminal.contains(u"$OTHER"_s) && !m_haveForeign)
            QSKIP("a socket of another user needs root to make");

        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(expand(terminal).toUtf8(), &error);
        QVERIFY2(json.isObject(), qPrintable(error.errorString()));
        const TerminalRecord record = TerminalRecord::fromJson(json.object());

        QList<FocusCommand> commands;
        QStringList lines;
        if (kind == u"tmux"_s) {
            commands = TerminalCommands::tmuxCommands(record, clientTty);
            // The queries go to the same server exactly when the commands do.
            QCOMPARE(TerminalCommands::tmuxSessionQuery(record).has_value(), !commands.isEmpty());
            QCOMPARE(TerminalCommands::tmuxClientsQuery(record).has_value(), !commands.isEmpty());
        } else if (kind == u"kitty"_s) {
            if (auto command = TerminalCommands::kittyCommand(record))
                commands.append(*command);
        } else if (kind == u"wezterm"_s) {
            if (auto command = TerminalCommands::weztermCommand(record))
                commands.append(*command);
        } else if (kind == u"konsole"_s) {
            if (auto target = TerminalCommands::konsoleTarget(record))
                lines.append(target->service + u' ' + QString::number(target->sessionId));
        } else if (auto id = TerminalCommands::windowId(record)) {
            lines.append(QString::number(*id));
        }
        for (const FocusCommand &command : commands)
            lines.append((QStringList{command.program} + command.arguments).join(u' '));
        for (QString &line : expected)
            line = expand(line);
        QCOMPARE(lines, expected);
    }

    void pickTmuxClient_data()
    {
        QTest::addColumn<QString>("clients");  // list-clients lines
        QTest::addColumn<QString>("expected"); // "<tty> <pid>", empty for none

        QTest::newRow("one client") << "100 41 $0 /dev/pts/3"
                                    << "/dev/pts/3 41";
        QTest::newRow("most recent in the session")
            << "100 41 $0 /dev/pts/3\n300 42 $0 /dev/pts/4\n200 43 $0 /dev/pts/5"
            << "/dev/pts/4 42";
        QTest::newRow("the session's client before a more recent other")
            << "900 41 $1 /dev/pts/3\n100 42 $0 /dev/pts/4"
            << "/dev/pts/4 42";
        QTest::newRow("the most recent other when none shows the session")
            << "100 41 $1 /dev/pts/3\n300 42 $2 /dev/pts/4"
            << "/dev/pts/4 42";
        QTest::newRow("malformed lines are passed over")
            << "900 41 $0 /dev/../etc/passwd\n900 4x $0 /dev/pts/6\n900 41 $0 pts/7\n"
               "900 41 $0 /dev/pts/8 extra\n100 42 $0 /dev/pts/4"
            << "/dev/pts/4 42";
        QTest::newRow("no clients") << ""
                                    << "";
    }

    void pickTmuxClient()
    {
        QFETCH(QString, clients);
        const std::optional<TmuxClient> client = TerminalCommands::pickTmuxClient(clients, u"$0"_s);
        QTEST(client ? client->tty + u' ' + QString::number(client->pid) : QString(), "expected");
    }

    void parentFromStat_data()
    {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<qint64>("parent"); // -1: unreadable

        QTest::newRow("plain") << QByteArray("4242 (bash) S 4100 4242 4242 34816") << 4100LL;
        QTest::newRow("command with spaces")
            << QByteArray("77 (tmux: server) S 1 77 77 0 -1") << 1LL;
        QTest::newRow("command that fakes the fields")
            << QByteArray("90 (x) S 666 9) S 12 90 90") << 12LL;
        QTest::newRow("no command") << QByteArray("90 x S 12") << -1LL;
        QTest::newRow("cut short") << QByteArray("90 (x) S") << -1LL;
        QTest::newRow("empty") << QByteArray() << -1LL;
    }

    void parentFromStat()
    {
        QFETCH(QByteArray, stat);
        QTEST(TerminalCommands::parentFromStat(stat).value_or(-1), "parent");
    }

    void chooseWindow_data()
    {
        using Windows = QList<std::pair<quint32, qint64>>;
        QTest::addColumn<QList<qint64>>("ancestors");
        QTest::addColumn<Windows>("windows"); // bottom of the stack first
        QTest::addColumn<quint32>("expected");

        const QList<qint64> chain{500, 400, 300};
        QTest::newRow("the nearest ancestor's window")
            << chain << Windows{{1, 300}, {2, 400}, {3, 999}} << 2u;
        QTest::newRow("nearest wins over higher in the stack")
            << chain << Windows{{2, 400}, {1, 300}} << 2u;
        QTest::newRow("topmost of one process's windows")
            << chain << Windows{{4, 400}, {5, 400}, {6, 300}} << 5u;
        QTest::newRow("no ancestor has a window") << chain << Windows{{7, 999}} << 0u;
        QTest::newRow("no process") << QList<qint64>{} << Windows{{7, 999}} << 0u;
    }

    void chooseWindow()
    {
        using Windows = QList<std::pair<quint32, qint64>>;
        QFETCH(QList<qint64>, ancestors);
        QFETCH(Windows, windows);
        QTEST(TerminalCommands::chooseWindow(ancestors, windows), "expected");
    }
};

QTEST_GUILESS_MAIN(TestTerminalCommands)
#include "tst_terminalcommands.moc"
