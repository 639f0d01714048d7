// tolvo-hook --relay as the desktop drives it over a transport, here without one: the client's
// standard input and output, the daemon it starts in a private HOME, and the unchanged hook helper
// delivering into that daemon.

#include "hooksession.h"
#include "relaystore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString helper = TestPaths::buildPrefix() + u"/libexec/tolvo/tolvo-hook"_s;
const QByteArray ownPid = QByteArray::number(QCoreApplication::applicationPid());

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Whether a process runs: a zombie that nobody reaps (a container's init may not) does not.
bool running(qint64 pid)
{
    const QByteArray stat = TestPaths::readFile(u"/proc/%1/stat"_s.arg(pid));
    const qsizetype name = stat.lastIndexOf(')');
    return name > 0 && stat.size() > name + 2 && stat[name + 2] != 'Z' && stat[name + 2] != 'X';
}

// One desktop connection: the client the transport would run.
class Desk
{
public:
    Desk() { m_process.start(helper, {u"--relay"_s}); }
    ~Desk() { leave(); }

    // The next line without its line feed; null after five seconds without one. Other processes
    // of the test go on meanwhile.
    QByteArray line()
    {
        return QTest::qWaitFor([this] { return m_process.canReadLine(); }, 5000)
                   ? m_process.readLine().chopped(1)
                   : QByteArray();
    }
    QJsonObject next() { return object(line()); }
    // Whether nothing arrives within `ms`.
    bool quietFor(int ms)
    {
        QTest::qWait(ms);
        return m_process.bytesAvailable() == 0;
    }

    // Reads hello, the replay and its end; the replayed lines.
    QList<QByteArray> connect(QJsonObject *hello = nullptr, QJsonArray *live = nullptr)
    {
        const QJsonObject greeting = next();
        if (hello)
            *hello = greeting;
        QList<QByteArray> items;
        for (QByteArray item = line(); !item.isNull(); item = line()) {
            if (object(item).value(u"relay") == u"replayed"_s) {
                if (live)
                    *live = object(item).value(u"live").toArray();
                return items;
            }
            items.append(item);
        }
        return {"no replayed line"};
    }
    void send(const QByteArray &line)
    {
        m_process.write(line + '\n');
        while (m_process.bytesToWrite() > 0 && m_process.waitForBytesWritten(5000)) {
        }
    }
    // Closes the client's input: the desktop went away. Whether the client ended.
    bool leave()
    {
        m_process.closeWriteChannel();
        return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, 3000);
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT

    TestHome m_home;
    QString m_tmuxSocket;
    QString m_tmuxPane;

    QString tolvo(const QString &name = {}) const
    {
        return name.isEmpty() ? m_home.tolvoPath() : m_home.tolvoPath() + u'/' + name;
    }

    // A record straight into the pipe, as a writer would put it there.
    bool writeRecord(const QByteArray &record)
    {
        const int fd = ::open(QFile::encodeName(tolvo(u"events"_s)).constData(),
                              O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const QByteArray framed = '\n' + record + '\n';
        const bool written = fd >= 0 && ::write(fd, framed.constData(), size_t(framed.size())) ==
                                            ssize_t(framed.size());
        if (fd >= 0)
            ::close(fd);
        return written;
    }

    // Runs the hook helper for `instance` with one hook input.
    QProcess *startHelper(const QByteArray &input,
                          const QString &instance = QString::fromLatin1(ownPid))
    {
        auto *process = new QProcess(this);
        QProcessEnvironment env;
        env.insert(u"HOME"_s, m_home.path());
        process->setProcessEnvironment(env);
        process->start(helper, {instance});
        process->write(input);
        process->closeWriteChannel();
        return process;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_tmuxSocket = m_home.path() + u"/tmux"_s;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"TERM"_s, u"xterm"_s);
        QProcess tmux;
        tmux.setProcessEnvironment(env);
        tmux.start(u"tmux"_s, {u"-S"_s, m_tmuxSocket, u"new-session"_s, u"-d"_s, u"-P"_s, u"-F"_s,
                               u"#{pane_id}"_s});
        QVERIFY(tmux.waitForFinished());
        m_tmuxPane = QString::fromLatin1(tmux.readAllStandardOutput().trimmed());
        QVERIFY(m_tmuxPane.startsWith(u'%'));
    }

    void cleanupTestCase()
    {
        QProcess::execute(u"tmux"_s, {u"-S"_s, m_tmuxSocket, u"kill-server"_s});
    }

    // After every test: --relay-stop leaves no daemon and none of its files behind.
    void cleanup()
    {
        const qint64 daemon =
            TestPaths::readFile(tolvo(u"tolvo.pid"_s)).split(' ').value(0).toLongLong();
        QCOMPARE(QProcess::execute(helper, {u"--relay-stop"_s}), 0);
        if (daemon > 0)
            QTRY_VERIFY_WITH_TIMEOUT(!running(daemon), 3000);
        for (const QString &name :
             {u"tolvo.pid"_s, u"events"_s, u"answers"_s, u"relay"_s, u"hold"_s})
            QVERIFY2(!QFileInfo(tolvo(name)).exists() && !QFileInfo(tolvo(name)).isSymLink(),
                     qPrintable(name));
        const QFileInfo folder(tolvo());
        if (folder.isSymLink() || folder.isFile())
            QFile::remove(tolvo());
        else
            QDir(tolvo()).removeRecursively();
    }

    // What the daemon keeps for the next desktop, with small bounds: 2 items per session, 3
    // sessions, 70 bytes (3 of the records here). L, P and I run (this test, its parent, init); G
    // never does. "check" looks for sessions whose process is gone.
    void store_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("replayed"); // the items' numbers
        QTest::addColumn<QString>("live");
        QTest::newRow("the newest of a session") << u"L L L"_s << QList{2, 3} << u"L"_s;
        QTest::newRow("a session that exits") << u"G check"_s << QList{1, 2} << QString();
        QTest::newRow("an exited session makes room first")
            << u"G L check P I"_s << QList{2, 4, 5} << u"I L P"_s;
        QTest::newRow("else the least recently active")
            << u"L P L I G"_s << QList{3, 4, 5} << u"G I L"_s;
        QTest::newRow("the oldest items go for bytes")
            << u"L P I P"_s << QList{2, 3, 4} << u"I L P"_s;
        QTest::newRow("an exited session comes back") << u"G check G"_s << QList{2, 3} << u"G"_s;
    }
    void store()
    {
        QFETCH(QString, steps);
        const QHash<QString, std::string> instances{{u"L"_s, ownPid.toStdString()},
                                                    {u"P"_s, std::to_string(::getppid())},
                                                    {u"I"_s, "1"},
                                                    {u"G"_s, "4194304"}}; // pid_max is at most 2^22
        Relay::Store store({2, 3, 70});
        for (const QString &step : steps.split(u' ')) {
            if (step == u"check")
                store.checkProcesses();
            else
                store.addRecord(instances.value(step), "{}");
        }
        QList<int> replayed;
        for (const auto &item : store.replay())
            replayed.append(object(QByteArray::fromStdString(*item)).value(u"seq").toInt());
        QTEST(replayed, "replayed");
        QStringList live;
        for (const std::string &instance : store.live())
            live.append(instances.key(instance));
        live.sort();
        QTEST(live.join(u' '), "live");
    }

    // A record comes out byte for byte, numbered; a session whose process ends, exits; a second
    // desktop replaces the first and gets the same items under the same epoch, and numbering goes
    // on.
    void recordsAndReplay()
    {
        auto first = std::make_unique<Desk>();
        QJsonObject hello;
        QCOMPARE(first->connect(&hello), QList<QByteArray>());
        QCOMPARE(hello.value(u"relay"), u"hello"_s);
        QCOMPARE(hello.value(u"version"), 1);
        const QString epoch = hello.value(u"epoch").toString();
        QVERIFY2(QRegularExpression(u"^[0-9a-f]{16}$"_s).match(epoch).hasMatch(),
                 qPrintable(epoch));
        QVERIFY(!hello.value(u"machine").toString().isEmpty());

        QList<QByteArray> items;
        auto session = std::make_unique<HookSession>(TestPaths::buildPrefix());
        const QString instance = QString::number(session->pid());
        QVERIFY(session->send(HookSession::fixture(u"UserPromptSubmit.json"_s)));
        items.append(first->line());
        const QJsonObject item = object(items.last());
        QCOMPARE(item.value(u"seq"), 1);
        QCOMPARE(item.value(u"record")[u"instance"], instance);
        QCOMPARE(item.value(u"record")[u"details"], u"list the files"_s);

        // Spacing, escapes and member order as they came: the record is not written anew.
        const QByteArray odd = "{ \"event\":\"Stop\" , \"instance\":\"" + ownPid +
                               "\",\"reply\":\"caf\\u00e9 \\\"done\\\" \xe2\x9c\x93\",\"n\":1.50}";
        QVERIFY(writeRecord(odd));
        items.append(first->line());
        QCOMPARE(items.last(), "{\"seq\":2,\"record\":" + odd + '}');
        // Not a record: dropped.
        QVERIFY(writeRecord("{\"event\":\"Stop\",\"instance\":\"$PPID\"}"));
        QVERIFY(writeRecord("[\"Stop\"]"));

        session.reset();
        items.append(first->line());
        QCOMPARE(object(items.last()), QJsonObject({{u"seq"_s, 3}, {u"exited"_s, instance}}));

        Desk second;
        QJsonArray live;
        QCOMPARE(second.connect(&hello, &live), items);
        QCOMPARE(hello.value(u"epoch"), epoch);
        QCOMPARE(live, QJsonArray({QString::fromLatin1(ownPid)}));
        QCOMPARE(first->next(), QJsonObject({{u"relay"_s, u"replaced"_s}}));
        QTRY_VERIFY(first->process().state() == QProcess::NotRunning);
        QCOMPARE(first->process().exitCode(), 0);

        QVERIFY(writeRecord(odd));
        QCOMPARE(second.next().value(u"seq"), 4);
    }

    // A permission request held on the remote: what the desktop does, what the helper prints and
    // what the desktop hears back.
    void heldRequests_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QList<QJsonObject>>("replies"); // "request" stands for the id
        const QByteArray allowed =
            "{\"hookSpecificOutput\":{\"hookEventName\":\"PermissionRequest\","
            "\"decision\":{\"behavior\":\"allow\"}}}";
        const auto answered = [](bool delivered) {
            return QJsonObject{{u"relay"_s, u"answered"_s},
                               {u"request"_s, u"request"_s},
                               {u"delivered"_s, delivered}};
        };
        QTest::newRow("answered") << u"answer"_s << allowed << QList{answered(true)};
        QTest::newRow("answered twice")
            << u"answer answer"_s << allowed << QList{answered(true), answered(false)};
        QTest::newRow("released") << u"release"_s << QByteArray() << QList<QJsonObject>();
        QTest::newRow("ended in the terminal")
            << u"kill"_s << QByteArray()
            << QList{QJsonObject{{u"relay"_s, u"ended"_s}, {u"request"_s, u"request"_s}}};
        QTest::newRow("the desktop leaves") << u"leave"_s << QByteArray() << QList<QJsonObject>();
    }
    void heldRequests()
    {
        QFETCH(QString, steps);
        Desk desk;
        desk.connect();
        desk.send("{\"hold\":60,\"agents\":[\"claude\",\"codex\"]}");
        QTRY_COMPARE(TestPaths::readFile(tolvo(u"hold"_s)), "60 claude codex\n");
        QVERIFY(!(QFileInfo(tolvo(u"hold"_s)).permissions() & 0x0077));

        QProcess *waiting =
            startHelper(TestPaths::readFile(TestPaths::fixture(u"PermissionRequest-Bash.json"_s)));
        const QJsonObject record = desk.next().value(u"record").toObject();
        const QString id = record.value(u"request").toString();
        QCOMPARE(id.size(), 32);
        QCOMPARE(record.value(u"helper_pid").toInteger(), waiting->processId());

        QList<QJsonObject> replies;
        for (const QString &step : steps.split(u' ')) {
            if (step == u"answer")
                desk.send("{\"answer\":\"" + id.toLatin1() +
                          "\",\"decision\":{\"behavior\":\"allow\"}}");
            else if (step == u"release")
                desk.send("{\"release\":\"" + id.toLatin1() + "\"}");
            else if (step == u"kill")
                waiting->kill();
            else if (step == u"leave")
                QVERIFY(desk.leave());
            if (step != u"release" && step != u"leave")
                replies.append(object(desk.line().replace(id.toLatin1(), "request")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(waiting->state() == QProcess::NotRunning, 1000);
        QTEST(replies, "replies");
        QTEST(waiting->readAllStandardOutput().trimmed(), "printed");
        if (steps == u"leave")
            QTRY_VERIFY(!QFile::exists(tolvo(u"hold"_s)));
    }

    // What the desktop sends that the daemon cannot use changes nothing: the reply to a request
    // that follows it is still the first reply to come. And where focusing leads.
    void desktopInput_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QJsonObject>("terminal"); // of the session's record; "@socket@", "@pane@"
        QTest::addColumn<QJsonObject>("reply");    // empty: none
        const auto focused = [](const QString &instance, bool ok, const QString &message) {
            return QJsonObject{{u"relay"_s, u"focused"_s},
                               {u"instance"_s, instance},
                               {u"ok"_s, ok},
                               {u"message"_s, message}};
        };
        const QString own = QString::fromLatin1(ownPid);
        const QByteArray focus = "{\"focus\":\"" + ownPid + "\"}";
        const QJsonObject inTmux{{u"TMUX"_s, u"@socket@,1,0"_s}, {u"TMUX_PANE"_s, u"@pane@"_s}};
        QTest::newRow("focus in a tmux pane")
            << focus << inTmux << focused(own, true, u"selected its tmux pane"_s);
        QTest::newRow("focus on a pane tmux does not have")
            << focus << QJsonObject{{u"TMUX"_s, u"@socket@,1,0"_s}, {u"TMUX_PANE"_s, u"%9999"_s}}
            << focused(own, false, u"tmux: can't find pane: %9999"_s);
        QTest::newRow("focus outside tmux")
            << focus << QJsonObject() << focused(own, false, u"the session runs in no tmux pane"_s);
        QTest::newRow("focus with a pane that is no pane")
            << focus << QJsonObject{{u"TMUX"_s, u"@socket@,1,0"_s}, {u"TMUX_PANE"_s, u"%1;ls"_s}}
            << focused(own, false, u"the session runs in no tmux pane"_s);
        QTest::newRow("an answer nobody waits for")
            << QByteArray("{\"answer\":\"" + QByteArray(32, 'a') + "\",\"decision\":{}}") << inTmux
            << QJsonObject{{u"relay"_s, u"answered"_s},
                           {u"request"_s, QString(32, u'a')},
                           {u"delivered"_s, false}};
        const QByteArrayList garbage = {
            "{\"hold\":",        // not JSON
            "[{\"quit\":true}]", // not an object
            "\"quit\"",          // a string
            "{\"quit\":1}",      // quit, but not true
            "{\"hold\":3601}",   // longer than the longest hold
            "{\"hold\":-1}",     //
            "{\"hold\":\"60\"}", // as text
            "{\"answer\":\"ab\",\"decision\":{}}",
            "{\"release\":7}",
            "{}",
            "\xff\xfe{\"quit\":true}", // not UTF-8
        };
        QTest::newRow("lines it cannot use") << garbage.join('\n') << inTmux << QJsonObject();
        QTest::newRow("a line of 17 MiB")
            << "{\"quit\":true,\"x\":\"" + QByteArray(17 << 20, 'x') + "\"}" << inTmux
            << QJsonObject();
    }
    void desktopInput()
    {
        QFETCH(QByteArray, input);
        QFETCH(QJsonObject, terminal);
        Desk desk;
        desk.connect();
        QByteArray record = "{\"instance\":\"" + ownPid + "\",\"event\":\"Stop\"";
        if (!terminal.isEmpty())
            record += ",\"terminal\":" + compact(terminal)
                                             .replace("@socket@", m_tmuxSocket.toUtf8())
                                             .replace("@pane@", m_tmuxPane.toUtf8());
        QVERIFY(writeRecord(record + '}'));
        QCOMPARE(desk.next().value(u"seq"), 1);

        desk.send(input);
        QFETCH(QJsonObject, reply);
        if (!reply.isEmpty())
            QCOMPARE(desk.next(), reply);
        desk.send("{\"focus\":\"1\"}");
        QCOMPARE(desk.next(), QJsonObject({{u"relay"_s, u"focused"_s},
                                           {u"instance"_s, u"1"_s},
                                           {u"ok"_s, false},
                                           {u"message"_s, u"no such session here"_s}}));
        QVERIFY(!QFile::exists(tolvo(u"hold"_s)));
    }

    // The user answers the dialog in the terminal: the transcript says whether that was a refusal.
    void refusals_data()
    {
        const QByteArray claude = "\"event\":\"PermissionRequest\"";
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QByteArray>("asked"); // the record's members that tell the prompt
        QTest::newRow("interrupted")
            << QByteArray(
                   "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[{\"type\":"
                   "\"text\",\"text\":\"[Request interrupted by user for tool use]\"}]}}")
            << true << claude;
        const QByteArray result =
            "{\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":"
            "[{\"type\":\"tool_result\",\"tool_use_id\":\"t1\",\"is_error\":%1,"
            "\"content\":\"%2\"}]}}";
        const QByteArray declined = "The user doesn't want to proceed with this tool use.";
        QTest::newRow("declined")
            << QByteArray(result).replace("%1", "true").replace("%2", declined) << true << claude;
        QTest::newRow("another error")
            << QByteArray(result).replace("%1", "true").replace("%2", "Exit code 1") << false
            << claude;
        QTest::newRow("the words, but no error")
            << QByteArray(result).replace("%1", "false").replace("%2", declined) << false
            << claude;
        const QByteArray cancelled =
            "{\"id\":\"8729\",\"type\":\"info\",\"content\":\"Request cancelled.\"}";
        QTest::newRow("gemini: cancelled")
            << cancelled << true
            << QByteArray("\"agent\":\"gemini\",\"event\":\"Notification\","
                          "\"notification_type\":\"ToolPermission\"");
        QTest::newRow("codex: not followed")
            << cancelled << false << QByteArray("\"agent\":\"codex\",\"event\":\"PermissionRequest\"");
    }
    void refusals()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, refused);
        QFETCH(QByteArray, asked);
        const QString transcript = m_home.path() + u"/transcript.jsonl"_s;
        QVERIFY(TestPaths::writeFile(transcript, entry + '\n')); // before: not read
        Desk desk;
        desk.connect();
        const QByteArray request = "{\"instance\":\"" + ownPid + "\"," + asked +
                                   ",\"transcript_path\":\"" + transcript.toUtf8() + "\"}";
        QVERIFY(writeRecord(request));
        QCOMPARE(desk.next().value(u"seq"), 1);
        QFile file(transcript);
        QVERIFY(file.open(QIODevice::Append));
        file.write("{\"type\":\"assistant\"}\n" + entry + '\n');
        file.close();
        if (refused) {
            QCOMPARE(desk.next(),
                     QJsonObject({{u"seq"_s, 2}, {u"refused"_s, QString::fromLatin1(ownPid)}}));
        } else {
            QVERIFY(desk.quietFor(700));
            QVERIFY(writeRecord(request));
            QCOMPARE(desk.next().value(u"seq"), 2);
        }
    }

    // A ~/.tolvo that is not the user's private folder, or one that Tolvo itself uses, is refused
    // with one error line, and no daemon starts.
    void refusedFolder_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("open to others")
            << u"mode"_s << u"~/.tolvo is open to other users (mode 0755)"_s;
        QTest::newRow("a symbolic link") << u"link"_s << u"~/.tolvo is a symbolic link"_s;
        QTest::newRow("a file") << u"file"_s << u"~/.tolvo is not a folder"_s;
        QTest::newRow("another owner") << u"owner"_s << u"~/.tolvo belongs to another user"_s;
        QTest::newRow("Tolvo runs here")
            << u"tolvo"_s
            << u"Tolvo itself runs on this machine for this user (process %1)"_s.arg(
                   QString::fromLatin1(ownPid));
    }
    void refusedFolder()
    {
        QFETCH(QString, setup);
        const QByteArray path = QFile::encodeName(tolvo());
        if (setup == u"owner" && ::getuid() != 0)
            QSKIP("needs root to give the folder away");
        if (setup == u"mode" || setup == u"owner" || setup == u"tolvo")
            QCOMPARE(::mkdir(path.constData(), setup == u"mode" ? 0755 : 0700), 0);
        if (setup == u"owner")
            QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
        if (setup == u"file")
            QVERIFY(TestPaths::writeFile(tolvo(), "x"));
        if (setup == u"link") {
            QCOMPARE(::mkdir(QFile::encodeName(m_home.path() + u"/elsewhere"_s).constData(), 0700),
                     0);
            QVERIFY(QFile::link(m_home.path() + u"/elsewhere"_s, tolvo()));
        }
        if (setup == u"tolvo")
            QVERIFY(TestPaths::writeFile(tolvo(u"tolvo.pid"_s),
                                         ownPid + ' ' + TestPaths::readFile(u"/proc/self/comm"_s)));
        QProcess client;
        client.start(helper, {u"--relay"_s});
        QTRY_VERIFY(client.state() == QProcess::NotRunning);
        QCOMPARE(client.exitCode(), 1);
        QFETCH(QString, message);
        const QByteArray output = client.readAllStandardOutput();
        QCOMPARE(output.count('\n'), 1);
        QCOMPARE(object(output), QJsonObject({{u"relay"_s, u"error"_s}, {u"message"_s, message}}));
        QVERIFY(!QFile::exists(tolvo(u"relay"_s)));
        if (setup == u"tolvo")
            QVERIFY(QFile::remove(tolvo(u"tolvo.pid"_s)));
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "tst_relay.moc"
