// The writer side of the event pipe, always through the real programs: what tolvo.sh and tolvo-hook
// make of a hook input in front of Tolvo's own reader, a ~/.tolvo that somebody else arranged, and
// many writers at once.

#include "answerchannel.h"
#include "hooksession.h"
#include "namedpipelistener.h"
#include "terminalvariables.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Above any process id Linux hands out: the record gets no terminal from it.
const QString noProcess = u"4194304"_s;
const QString helper = TestPaths::buildPrefix() + u"/libexec/tolvo/tolvo-hook"_s;
// The hook as Claude Code runs it; $PPID is the shell's parent.
const QString hookCommand = HookSession::shellCommand(TestPaths::buildPrefix());

// Runs a program with `input` on standard input, with HOME and `extra` ("NAME=value") its only
// environment. Whether it exited 0 without a word.
bool run(const QString &program, const QStringList &arguments, const QByteArray &input,
         const QStringList &extra = {})
{
    QProcessEnvironment env;
    env.insert(u"HOME"_s, QDir::homePath());
    for (const QString &assignment : extra)
        env.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0 && process.readAll().isEmpty() &&
           process.readAllStandardError().isEmpty();
}

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// The record of an input with nothing but its event, then `members` on top; the test adds the
// process id it ran with.
QJsonObject record(const QString &event, const QJsonObject &members = {})
{
    QJsonObject record{
        {u"event"_s, event}, {u"tool"_s, {}}, {u"details"_s, {}}, {u"working_directory"_s, {}}};
    for (auto member = members.begin(); member != members.end(); ++member)
        record.insert(member.key(), member.value());
    return record;
}

// "wNN sSSSS " and filler with quotes, backslashes and non-ASCII text. Most are 100 B to 4 KiB like
// prompts and commands; one in ten carries a file, 4 to 256 KiB, far beyond PIPE_BUF.
QString prompt(int writer, int sequence)
{
    static const QString filler =
        u"lorem }{ ipsum ][ \"quoted\" back\\slash é ✓ \n"_s.repeated(6000);
    QRandomGenerator random(quint32(writer * 10000 + sequence));
    const int size =
        random.bounded(10) == 0 ? random.bounded(4096, 256 * 1024) : random.bounded(100, 4096);
    return u"w%1 s%2 "_s.arg(writer, 2, 10, QChar(u'0')).arg(sequence, 4, 10, QChar(u'0')) +
           filler.left(size - 10);
}

QByteArray statusLineInput(const char *name)
{
    return TestPaths::readFile(TestPaths::fixture(u"../status-line/"_s + QLatin1String(name)));
}

// A decoded usage in the record's own terms, to compare with what the helper wrote.
QJsonObject usageMembers(const SessionUsage &usage)
{
    QJsonObject members;
    const auto put = [&members](const char *name, const auto &value) {
        if (value)
            members.insert(QLatin1String(name), QJsonValue(*value));
    };
    put("model", usage.model);
    put("model_id", usage.modelId);
    put("context_percent", usage.contextPercent);
    put("context_size", usage.contextSize);
    put("cost_usd", usage.costUsd);
    put("duration_ms", usage.durationMs);
    put("lines_added", usage.linesAdded);
    put("lines_removed", usage.linesRemoved);
    for (const auto &[name, window] :
         {std::pair{"five_hour", usage.fiveHour}, {"seven_day", usage.sevenDay}}) {
        if (!window)
            continue;
        QJsonObject shown{{u"used_percent"_s, window->usedPercent}};
        if (window->resetsAt)
            shown.insert(u"resets_at"_s, *window->resetsAt);
        members.insert(QLatin1String(name), shown);
    }
    return members;
}

// Whether a process of the group still runs; what the shell started, orphaned, may wait as a
// zombie for init.
bool groupAlive(qint64 group)
{
    for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        const QByteArray stat = TestPaths::readFile(u"/proc/"_s + pid + u"/stat"_s);
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && fields[2].toLongLong() == group)
            return true;
    }
    return false;
}

} // namespace

class TestHookCommand : public QObject
{
    Q_OBJECT

    TestHome m_home; // before the listener, which takes its ~/.tolvo
    NamedPipeListener m_listener;
    QList<QJsonObject> m_received;

    // What reached the reader since the last call: the records before a marker sent after them.
    QList<QJsonObject> arrivals()
    {
        const QString marker = u"999999999"_s; // a pid that no process has
        const auto markerIn = [&] {
            return !m_received.isEmpty() && m_received.last().value(u"instance") == marker;
        };
        if (!run(helper, {marker}, R"({"hook_event_name":"Marker"})") ||
            !QTest::qWaitFor(markerIn, 20000))
            return {{{u"marker lost"_s, true}}};
        QList<QJsonObject> records = std::exchange(m_received, {});
        records.removeLast();
        return records;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(u"tolvo.intake.info=false"_s);
        connect(&m_listener, &NamedPipeListener::eventReceived, this,
                [this](const HookEvent &e) { m_received.append(object(e.record)); });
        m_listener.start();
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(m_home.tolvoPath() + u"/tolvo.pid"_s); },
                                10000));
    }

    // What arrives of one hook input: a record checked member by member as Tolvo decodes it, or
    // nothing (an empty expectation). A "details" object stands for its JSON text.
    void oneHook_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QJsonObject>("expected");
        const auto row = [](const char *name, const QByteArray &input, const QJsonObject &expected,
                            const QString &instance = noProcess,
                            const QStringList &variables = {}) {
            QTest::newRow(name) << input << instance << variables << expected;
        };

        // Every captured input, with the members that all of them carry; a tool's own entry
        // stands for each of its inputs that has none.
        const QJsonObject specific = object(R"({
            "Bash": {"tool": "Bash", "details": {"command": "ls -la", "description": "List files"}},
            "Write": {"tool": "Write",
                "details": {"file_path": "/home/user/code/webshop/notes.txt", "content": "hello\n"}},
            "MessageDisplay": {},
            "Notification-idle_prompt": {"details": "idle_prompt",
                "notification_type": "idle_prompt", "message": "Claude is waiting for your input"},
            "Notification-permission_prompt": {"details": "permission_prompt",
                "notification_type": "permission_prompt", "message": "Claude needs your permission"},
            "PermissionRequest-Bash": {"tool": "Bash",
                "details": {"command": "rm -f notes.txt", "description": "Remove notes"}},
            "PreCompact-manual": {"details": "manual"},
            "SessionEnd-prompt_input_exit": {"reason": "prompt_input_exit"},
            "SessionStart-startup": {"source": "startup"},
            "Stop": {"reply": "All done."},
            "StopFailure": {"error": "rate_limit",
                "reply": "API Error: Request rejected (429) · Rate limited"},
            "SubagentStop": {"reply": "Removed."},
            "UserPromptSubmit": {"details": "list the files"}
        })");
        for (QString name : QDir(TestPaths::fixture({})).entryList({u"*.json"_s}, QDir::Files)) {
            const QByteArray input = TestPaths::readFile(TestPaths::fixture(name));
            name.chop(5);
            const QJsonObject hook = object(input);
            QJsonObject members = specific.value(name).toObject(
                specific.value(name.section(u'-', 1)).toObject({{u"no expectation"_s, true}}));
            for (const char *key : {"session_id", "transcript_path", "permission_suggestions"}) {
                if (hook.contains(QLatin1String(key)))
                    members.insert(QString::fromLatin1(key), hook.value(QLatin1String(key)));
            }
            members.insert(u"working_directory"_s, hook.value(u"cwd"));
            QTest::newRow(qPrintable(name))
                << input << noProcess << QStringList() << record(name.section(u'-', 0, 0), members);
        }

        const QByteArray stop = R"({"hook_event_name":"Stop"})";
        row("not an object", '[' + stop + ']', {});
        row("not JSON", stop.chopped(1), {});
        row("no input", "", {});
        row("invalid UTF-8 and lone surrogates",
            "{\"hook_event_name\":\"Stop\",\"prompt\":\"a\xff"
            "b\xc3(c\\ud800d\\udc00e\\ud83d\\ude00f\",\"cwd\":\"/home/\xe2\x82\"}",
            record(u"Stop"_s, {{u"details"_s, u"a\uFFFDb\uFFFD(c\uFFFDd\uFFFDe\U0001F600f"_s},
                               {u"working_directory"_s, u"/home/\uFFFD"_s}}));
        row("members of other types",
            R"({"hook_event_name":"SessionStart","source":5,"session_id":null,"cwd":7,
                "tool_name":["Bash"],"prompt":7,"tool_input":null,"transcript_path":{},
                "error":null})",
            record(u"SessionStart"_s));
        row("notification without a type",
            R"({"hook_event_name":"Notification","message":"Waiting","prompt":"p"})",
            record(u"Notification"_s,
                   {{u"details"_s, u"Waiting"_s}, {u"message"_s, u"Waiting"_s}}));
        row("error as an object",
            R"({"hook_event_name":"StopFailure","error":{"type":"overloaded","status":529}})",
            record(u"StopFailure"_s, {{u"error"_s, uR"({"type":"overloaded","status":529})"_s}}));
        // Printing it again would recurse as deep: nesting past 512 is left out.
        row("tool input nested 100000 deep",
            "{\"hook_event_name\":\"PreToolUse\",\"tool_input\":" + QByteArray(100000, '[') +
                QByteArray(100000, ']') + '}',
            record(u"PreToolUse"_s, {{u"details"_s, QString(512, u'[') + QString(512, u']')}}));
        // 2001 code points of one to four bytes; the 500th is of two, the 501st of three.
        const QString reply = u"✓\U0001F600aé"_s.repeated(500) + u"z"_s;
        row("2000-character reply",
            QJsonDocument(QJsonObject{{u"hook_event_name"_s, u"Stop"_s},
                                      {u"last_assistant_message"_s, reply}})
                .toJson(),
            record(u"Stop"_s, {{u"reply"_s, u"✓\U0001F600aé"_s.repeated(125)}}));
        // Written without a terminal, and dropped by Tolvo's reader.
        row("process id that is not a number", stop, {}, u"/../self"_s);
        // The older hook command ran jq before the script and passed no process id.
        const QByteArray older =
            R"({"instance":"4242","event":"Stop","tool":null,"details":null,"working_directory":"/w"})";
        row("record of the older hook command", older, object(older), QString());

        // Where the session runs: the terminal's variables that are set and not empty (not the
        // first).
        QJsonObject terminal;
        QStringList variables;
        for (const char *name : TerminalVariables::all) {
            const QString value = variables.isEmpty() ? QString() : u"\"%1\" é"_s.arg(name);
            variables.append(QString::fromLatin1(name) + u'=' + value);
            if (!value.isEmpty())
                terminal.insert(QString::fromLatin1(name), value);
        }
        row("terminal variables", stop, record(u"Stop"_s, {{u"terminal"_s, terminal}}), noProcess,
            variables);
        // Four megabytes take many writes.
        const QJsonObject big{
            {u"content"_s,
             u"line \"quoted\" \\ \ttab é ✓ \U0001F600 </script>\n"_s.repeated(100000)},
            {u"file_path"_s, u"/w/big.txt"_s}};
        row("4 MiB tool input",
            R"({"hook_event_name":"PreToolUse","tool_name":"Write","tool_input":)" +
                QJsonDocument(big).toJson() + '}',
            record(u"PreToolUse"_s, {{u"tool"_s, u"Write"_s}, {u"details"_s, big}}));
    }

    void oneHook()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, instance);
        QFETCH(QStringList, variables);
        QFETCH(QJsonObject, expected);
        QVERIFY(run(helper, {instance}, input, variables));
        if (!expected.isEmpty() && !expected.contains(u"instance"))
            expected.insert(u"instance"_s, instance);
        QList<QJsonObject> records = arrivals();
        QCOMPARE(records.size(), expected.isEmpty() ? 0 : 1);
        if (expected.value(u"details").isObject())
            records.first().insert(u"details"_s,
                                   object(records.first().value(u"details").toString().toUtf8()));
        QCOMPARE(records.value(0), expected);
    }

    // What the status-line command reports of its input: the record's usage, member by member as
    // the helper writes it and as Tolvo decodes it (null: no record). A record written with
    // `forged` as its usage, as any process of the user's could, decodes to the same.
    void statusLineRecord_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QJsonValue>("usage");
        QTest::addColumn<QJsonObject>("forged");
        const QJsonObject captured{{u"model"_s, u"Opus 5.5"_s},
                                   {u"model_id"_s, u"claude-opus-5-5"_s},
                                   {u"context_percent"_s, 0},
                                   {u"context_size"_s, 1000000},
                                   {u"cost_usd"_s, 0.00028000000000000003},
                                   {u"duration_ms"_s, 7286},
                                   {u"lines_added"_s, 0},
                                   {u"lines_removed"_s, 0}};
        QTest::newRow("captured") << statusLineInput("status-line-2.1.328.json")
                                  << QJsonValue(captured) << QJsonObject();
        QJsonObject limited = captured;
        limited.insert(u"context_percent"_s, 91);
        limited.insert(u"five_hour"_s,
                       QJsonObject{{u"used_percent"_s, 42}, {u"resets_at"_s, 1796580000}});
        limited.insert(u"seven_day"_s,
                       QJsonObject{{u"used_percent"_s, 18.5}, {u"resets_at"_s, 1797000000}});
        QTest::newRow("rate limits") << statusLineInput("status-line-with-rate-limits.json")
                                     << QJsonValue(limited) << QJsonObject();
        QTest::newRow("one window missing, the other without its reset")
            << QByteArray(R"({"rate_limits":{"five_hour":{"resets_at":1796580000},
                                              "seven_day":{"used_percentage":3}}})")
            << QJsonValue(QJsonObject{{u"seven_day"_s, QJsonObject{{u"used_percent"_s, 3}}}})
            << QJsonObject();
        // Each member dropped on its own; the largest values allowed stay.
        const QByteArray wrong = QByteArray(R"({"model":{"display_name":"NAME","id":5},
            "context_window":{"used_percentage":"42","context_window_size":0},
            "cost":{"total_cost_usd":-0.01,"total_duration_ms":1e13,"total_lines_added":1.5,
                    "total_lines_removed":1000000000},
            "rate_limits":{"five_hour":{"used_percentage":100.5,"resets_at":1796580000},
                           "seven_day":{"used_percentage":100,"resets_at":"soon"}}})")
                                     .replace("NAME", QByteArray(201, 'x'));
        const QJsonObject kept{{u"lines_removed"_s, 1000000000},
                               {u"seven_day"_s, QJsonObject{{u"used_percent"_s, 100}}}};
        const QJsonObject forged{
            {u"model"_s, QString(201, u'x')},
            {u"model_id"_s, 5},
            {u"context_percent"_s, u"42"_s},
            {u"context_size"_s, 0},
            {u"cost_usd"_s, -0.01},
            {u"duration_ms"_s, 1e13},
            {u"lines_added"_s, 1.5},
            {u"lines_removed"_s, 1000000000},
            {u"five_hour"_s, QJsonObject{{u"used_percent"_s, 100.5}}},
            {u"seven_day"_s, QJsonObject{{u"used_percent"_s, 100}, {u"resets_at"_s, 1e12}}}};
        QTest::newRow("text where numbers belong, numbers out of range")
            << wrong << QJsonValue(kept) << forged;
        QTest::newRow("not JSON") << QByteArray("{\"model\":") << QJsonValue() << QJsonObject();
    }

    void statusLineRecord()
    {
        QFETCH(QByteArray, input);
        QFETCH(QJsonValue, usage);
        QFETCH(QJsonObject, forged);
        QProcess helperProcess;
        helperProcess.start(helper, {u"--status-line"_s, noProcess});
        helperProcess.write(input);
        helperProcess.closeWriteChannel();
        QVERIFY(helperProcess.waitForFinished(10000));
        const QList<QJsonObject> records = arrivals();
        QCOMPARE(records.size(), usage.isNull() ? 0 : 1);
        if (usage.isNull())
            return;
        QJsonObject expected{
            {u"instance"_s, noProcess}, {u"event"_s, u"StatusLine"_s}, {u"usage"_s, usage}};
        const QJsonObject given = object(input);
        for (const auto &[name, from] : {std::pair{"session_id", "session_id"},
                                         {"working_directory", "cwd"},
                                         {"transcript_path", "transcript_path"}}) {
            if (given.value(QLatin1String(from)).isString())
                expected.insert(QLatin1String(name), given.value(QLatin1String(from)));
        }
        QCOMPARE(records.first(), expected);
        const HookEvent decoded =
            Records::decode(QJsonDocument(records.first()).toJson(QJsonDocument::Compact));
        QCOMPARE(decoded.kind, HookEventKind::statusLine);
        QVERIFY(decoded.usage);
        QCOMPARE(usageMembers(*decoded.usage), usage.toObject());
        if (!forged.isEmpty()) {
            const HookEvent fromForger =
                Records::event(1, u"StatusLine"_s, {}, {}, {}, {{u"usage"_s, forged}});
            QCOMPARE(usageMembers(fromForger.usage.value_or(SessionUsage{})), usage.toObject());
        }
    }

    // The status-line command with and without one of the user's: what reaches the CLI (the
    // user's output unchanged), the exit status, and a command that does not end in time or
    // whose helper is ended: its whole process group goes. Only the outer helper reports.
    void statusLineCommand_data()
    {
        QTest::addColumn<QString>("command"); // null: none
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("ending"); // a signal for the helper once the command runs
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<int>("status");
        const QByteArray captured = statusLineInput("status-line-2.1.328.json");
        const QString script = m_home.path() + u"/no shebang"_s;
        QVERIFY(TestPaths::writeFile(script, "echo from sh\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
        const auto row = [&](const char *name, const QString &command, const QByteArray &printed,
                             int status = 0, const QByteArray &input = {}, int ending = 0) {
            QTest::newRow(name) << command << (input.isNull() ? captured : input) << ending
                                << printed << status;
        };
        row("no command", {}, "Opus 5.5 \xC2\xB7 0% \xC2\xB7 $0.00\n");
        row("no command, rate limits", {}, "Opus 5.5 \xC2\xB7 91% \xC2\xB7 $0.00\n", 0,
            statusLineInput("status-line-with-rate-limits.json"));
        row("no command, context and cost only", {}, "43% \xC2\xB7 $1.24\n", 0,
            R"({"context_window":{"used_percentage":42.5},"cost":{"total_cost_usd":1.235}})");
        row("no command, nothing known", {}, "", 0, "{}");
        row("colours", u"printf '\\033[1;32m%s\\033[0m\\n' \"$TOLVO_STATUS_LINE\""_s,
            "\x1b[1;32m"
            "1\x1b[0m\n");
        row("pipeline with quotes",
            u"grep -o '\"display_name\": *\"[^\"]*\"' | sed \"s/.*: *//\""_s, "\"Opus 5.5\"\n");
        row("fails", u"echo partial; exit 3"_s, "partial\n", 3);
        // Plain words, as sh would run them: with their quoted text, and
        // what is no program, or a word of sh's own, left to sh.
        row("plain words", u"printf '%s|%s|%s' a=1 'two words' ~/x"_s,
            "a=1|two words|" + QFile::encodeName(QDir::homePath()) + "/x");
        row("plain words, no program", u"no-such-program-here a"_s, "", 127);
        row("plain words, sh's own", u"exit 4"_s, "", 4);
        row("plain words, a script without #!", u"'"_s + script + u"'"_s, "from sh\n");
        row("killed by a signal", u"kill -9 $$"_s, "", 128 + SIGKILL);
        // Not JSON, and far more than a pipe holds.
        row("reads no input", u"echo done"_s, "done\n", 0, QByteArray(1 << 20, 'x'));
        row("Tolvo's command as the user's", u"'"_s + helper + u"' --status-line 7 'echo inner'"_s,
            "");
        // Ignores SIGTERM, as does what it started.
        row("hangs", u"echo $$ >&2; trap '' TERM; sleep 30 & sleep 30"_s, "", 0);
        row("helper ended", u"echo $$ >&2; sleep 30"_s, "", 128 + SIGTERM, {}, SIGTERM);
    }

    void statusLineCommand()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, input);
        QFETCH(int, ending);
        QFETCH(QByteArray, printed);
        QFETCH(int, status);
        QStringList arguments{u"--status-line"_s, noProcess};
        if (!command.isNull())
            arguments.append(command);
        QProcess helperProcess;
        QElapsedTimer timer;
        timer.start();
        helperProcess.start(helper, arguments);
        helperProcess.write(input);
        helperProcess.closeWriteChannel();
        // The command's process group, when it tells.
        qint64 group = 0;
        if (command.startsWith(u"echo $$ >&2")) {
            helperProcess.setReadChannel(QProcess::StandardError);
            QTRY_VERIFY(helperProcess.canReadLine());
            group = helperProcess.readLine().trimmed().toLongLong();
            QVERIFY(group > 1);
            if (ending)
                ::kill(pid_t(helperProcess.processId()), ending);
        }
        QVERIFY(helperProcess.waitForFinished(10000));
        const qint64 took = timer.elapsed();
        QCOMPARE(helperProcess.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helperProcess.exitCode(), status);
        QCOMPARE(helperProcess.readAllStandardOutput(), printed);
        if (group) {
            QTRY_VERIFY_WITH_TIMEOUT(!groupAlive(group), 500);
            QVERIFY2(took < (ending ? 1500 : 3000), qPrintable(QString::number(took)));
            QVERIFY2(ending || took >= 2000, qPrintable(QString::number(took)));
        }
        QCOMPARE(arrivals().size(), input.startsWith('{') ? 1 : 0);
    }

    // The whole hook command as Claude Code runs it ($PPID is this process) by how ~/.tolvo was
    // arranged: the helper goes on only while tolvo.pid holds "PID COMM" of a live process, and the
    // helper writes only into a FIFO of the user's own, in a directory of the user's own that
    // nobody else may change, through no link. It creates and changes nothing there, and waits for
    // a frozen Tolvo with a full pipe no longer than its budget.
    void arrangement_data()
    {
        QTest::addColumn<QString>("setUp"); // sh in the home folder, which has fifo and elsewhere
        QTest::addColumn<bool>("full");
        QTest::addColumn<bool>("arrives");
        QTest::addColumn<bool>("olderCommand"); // the script of older versions, not the helper
        const QString lock = u" && touch .tolvo/events.lock"_s,
                      pipe = u" && ln fifo .tolvo/events"_s;
        const QString pid = u" && echo \"$PPID $(cat /proc/$PPID/comm)\" > .tolvo/tolvo.pid"_s;
        const QString kept = u"mkdir -m 700 .tolvo"_s + lock + pipe;
        const auto row = [](const char *name, const QString &setUp, bool arrives = false) {
            QTest::newRow(name) << setUp << false << arrives << false;
        };
        row("as Tolvo keeps it", kept + pid, true);
        QTest::newRow("as Tolvo keeps it, through the older command")
            << kept + pid << false << true << true;
        QTest::newRow("Tolvo frozen with its pipe full") << kept + pid << true << false << false;
        row("no pid file", kept);
        row("live process under another name",
            kept + u" && echo \"$PPID tolvo\" >.tolvo/tolvo.pid"_s);
        row("the listening process without its name", kept + u" && echo $PPID >.tolvo/tolvo.pid"_s);
        row("not a process id",
            kept + u" && echo \"../$PPID $(cat /proc/$PPID/comm)\" >.tolvo/tolvo.pid"_s);
        row("directory writable by the group", u"mkdir -m 770 .tolvo"_s + lock + pipe + pid);
        row("directory readable by others", u"mkdir -m 704 .tolvo"_s + lock + pipe + pid);
        row("directory a link to a private one",
            u"mkdir -m 700 real && ln -s real .tolvo"_s + lock + pipe + pid);
        row("lock file missing", u"mkdir -m 700 .tolvo"_s + pipe + pid);
        row("lock file a link to a file elsewhere",
            u"mkdir -m 700 .tolvo && ln -s ../elsewhere .tolvo/events.lock"_s + pipe + pid);
        row("pipe a link to a FIFO elsewhere",
            u"mkdir -m 700 .tolvo && ln -s ../fifo .tolvo/events"_s + lock + pid);
        row("pipe a regular file", u"mkdir -m 700 .tolvo && touch .tolvo/events"_s + lock + pid);
    }

    void arrangement()
    {
        QFETCH(QString, setUp);
        QFETCH(bool, full);
        QFETCH(bool, arrives);
        QFETCH(bool, olderCommand);
        const TestHome home;
        const QByteArray fifo = QFile::encodeName(home.path()) + "/fifo";
        // The reader: a FIFO that this test holds open.
        QVERIFY(::mkfifo(fifo, 0600) == 0);
        const int reader = ::open(fifo, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int writer = ::open(fifo, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        while (full && ::write(writer, QByteArray(65536, '\n').constData(), 65536) > 0) {
        }
        ::close(writer);
        const QString script = u"cd \"$0\" && echo untouched > elsewhere && "_s + setUp;
        QVERIFY(QProcess::execute(u"sh"_s, {u"-c"_s, script, home.path()}) == 0);
        QElapsedTimer timer;
        timer.start();
        const QString command =
            olderCommand ? u"'"_s + TestPaths::buildPrefix() + u"/share/tolvo/tolvo.sh' \"$PPID\""_s
                         : hookCommand;
        QVERIFY(run(u"/bin/sh"_s, {u"-c"_s, command},
                    TestPaths::readFile(TestPaths::fixture(u"Stop.json"_s))));
        // Three times the budget: a hook that waits for anything else fails here.
        QVERIFY2(timer.elapsed() < 2400, qPrintable(QString::number(timer.elapsed())));
        QByteArray written(1 << 16, '\0');
        written.truncate(std::max<ssize_t>(::read(reader, written.data(), written.size()), 0));
        ::close(reader);
        // A record starts on a line of its own, whatever a writer cut short left before it.
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        QCOMPARE(written.startsWith("\n{\"instance\":\"" + self + '"'), arrives);
        QCOMPARE(written.isEmpty(), !arrives && !full);
        QFile elsewhere(home.path() + u"/elsewhere"_s);
        QVERIFY(elsewhere.open(QIODevice::ReadOnly));
        QCOMPARE(elsewhere.readAll(), QByteArray("untouched\n"));
        QCOMPARE(QFileInfo(home.tolvoPath() + u"/events"_s).size(), 0);
    }

    // A permission request held by the real helper, answered through the channel as Tolvo does:
    // what each answer returns, what the helper prints, and whether the channel saw it end.
    void answers_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<bool>>("results"); // of each answer, in order
        QTest::addColumn<QByteArray>("printed");  // the decision, or nothing
        QTest::addColumn<bool>("ended");          // the helper stopped waiting by itself
        const QByteArray allowed =
            R"({"hookSpecificOutput":{"hookEventName":"PermissionRequest","decision":{"behavior":"allow"}}})";
        QTest::newRow("answered") << u"answer"_s << QList<bool>{true} << allowed << false;
        QTest::newRow("answered twice")
            << u"answer answer"_s << QList<bool>{true, false} << allowed << false;
        QTest::newRow("a forged id, then released")
            << u"forge release answer"_s << QList<bool>{false, false} << QByteArray() << false;
        QTest::newRow("the id from another process")
            << u"other-pid answer"_s << QList<bool>{false, true} << allowed << false;
        QTest::newRow("after its bound")
            << u"expire answer"_s << QList<bool>{false} << QByteArray() << true;
        QTest::newRow("Tolvo quits") << u"quit"_s << QList<bool>{} << QByteArray() << false;
        QTest::newRow("ended by the terminal")
            << u"kill answer"_s << QList<bool>{false} << QByteArray() << true;
    }
    void answers()
    {
        QFETCH(QString, steps);
        QFETCH(QByteArray, printed);
        QFETCH(bool, ended);
        auto channel = std::make_unique<AnswerChannel>(m_home.tolvoPath());
        QVERIFY(channel->listen());
        QSignalSpy endings(channel.get(), &AnswerChannel::ended);
        QFile hold(m_home.tolvoPath() + u"/hold"_s);
        QVERIFY(hold.open(QIODevice::WriteOnly));
        hold.write(steps.startsWith(u"expire") ? "1\n" : "60\n");
        hold.close();
        QProcess waiting;
        waiting.start(helper, {noProcess});
        waiting.write(TestPaths::readFile(TestPaths::fixture(u"PermissionRequest-Bash.json"_s)));
        waiting.closeWriteChannel();
        QTRY_COMPARE(m_received.size(), 1);
        const QJsonObject record = m_received.takeFirst();
        const QString id = record.value(u"request").toString();
        const qint64 pid = record.value(u"helper_pid").toInteger();
        QCOMPARE(pid, waiting.processId());
        QCOMPARE(id.size(), 32);

        QElapsedTimer timer;
        QList<bool> results;
        const QByteArray allow = R"({"behavior":"allow"})";
        for (const QString &step : steps.split(u' ')) {
            timer.start();
            if (step == u"answer")
                results.append(channel->answer(id, pid, allow));
            else if (step == u"forge")
                results.append(channel->answer(
                    QString(id).replace(0, 1, id[0] == u'a' ? u'b' : u'a'), pid, allow));
            else if (step == u"other-pid")
                results.append(channel->answer(id, pid + 1, allow));
            else if (step == u"release")
                channel->release(id);
            else if (step == u"quit")
                channel.reset();
            else if (step == u"kill")
                waiting.kill();
            if (step == u"expire" || step == u"kill")
                QTRY_COMPARE(endings.size(), 1);
        }
        // Let go, the helper is gone at once; the bound ends a wait within its second.
        QTRY_VERIFY_WITH_TIMEOUT(waiting.state() == QProcess::NotRunning, 1000);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTEST(results, "results");
        QCOMPARE(waiting.readAllStandardOutput().trimmed(), printed);
        QCOMPARE(endings.size(), ended ? 1 : 0);
        QVERIFY(QFile::remove(hold.fileName()));
    }

    // Which permission requests the helper holds for an answer: none while holding is off (no
    // bound), none that only the terminal can ask, none of a subagent (whose dialog waits for
    // the hook); the others wait.
    void held_data()
    {
        QTest::addColumn<QByteArray>("bound"); // ~/.tolvo/hold; null: none
        QTest::addColumn<QString>("tool");
        QTest::addColumn<bool>("subagent");
        QTest::addColumn<bool>("held");
        QTest::newRow("Bash") << QByteArray("60") << u"Bash"_s << false << true;
        QTest::newRow("holding off") << QByteArray() << u"Bash"_s << false << false;
        QTest::newRow("a bound of nothing") << QByteArray("0") << u"Bash"_s << false << false;
        QTest::newRow("a question") << QByteArray("60") << u"AskUserQuestion"_s << false << false;
        QTest::newRow("a plan") << QByteArray("60") << u"ExitPlanMode"_s << false << false;
        QTest::newRow("a subagent's") << QByteArray("60") << u"Bash"_s << true << false;
    }
    void held()
    {
        QFETCH(QByteArray, bound);
        QFETCH(QString, tool);
        QFETCH(bool, subagent);
        QFETCH(bool, held);
        AnswerChannel channel(m_home.tolvoPath());
        QVERIFY(channel.listen());
        const QString hold = m_home.tolvoPath() + u"/hold"_s;
        QVERIFY(bound.isNull() || TestPaths::writeFile(hold, bound));
        QJsonObject input = HookSession::fixture(u"PermissionRequest-Bash.json"_s);
        input.insert(u"tool_name"_s, tool);
        if (subagent)
            input.insert(u"agent_id"_s, u"a6725d8e981d8d58"_s);
        QProcess helperProcess;
        helperProcess.start(helper, {noProcess});
        helperProcess.write(QJsonDocument(input).toJson());
        helperProcess.closeWriteChannel();
        QTRY_COMPARE(m_received.size(), 1);
        const QJsonObject record = m_received.takeFirst();
        QCOMPARE(record.contains(u"request"), held);
        QCOMPARE(record.value(u"agent_id").toString().isEmpty(), !subagent);
        if (held) {
            QTRY_COMPARE(channel.waitingCount(), 1);
            channel.release(record.value(u"request").toString());
        }
        QTRY_VERIFY_WITH_TIMEOUT(helperProcess.state() == QProcess::NotRunning, 1000);
        QCOMPARE(helperProcess.readAllStandardOutput(), QByteArray());
        QFile::remove(hold);
    }

    // Another user can neither wait on the channel nor write a record, even with the home given.
    void anotherUser()
    {
        if (::getuid() != 0)
            QSKIP("needs root to run the helper as another user");
        AnswerChannel channel(m_home.tolvoPath());
        QVERIFY(channel.listen());
        QVERIFY(TestPaths::writeFile(m_home.tolvoPath() + u"/hold"_s, "60\n"));
        QVERIFY(
            run(u"setpriv"_s,
                {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, helper, noProcess},
                TestPaths::readFile(TestPaths::fixture(u"PermissionRequest-Bash.json"_s))));
        QCOMPARE(arrivals(), QList<QJsonObject>());
        QCOMPARE(channel.waitingCount(), 0);
        QVERIFY(QFile::remove(m_home.tolvoPath() + u"/hold"_s));
    }

    // Several sessions' hooks at once (a shell each, so $PPID tells them apart): records far beyond
    // PIPE_BUF, many re-creations of the FIFO; each arrives once, whole and in its writer's order.
    // The long run takes minutes and belongs to the stress label.
    void concurrentWriters_data()
    {
        QTest::addColumn<int>("writers");
        QTest::addColumn<int>("records");
        QTest::newRow("4 writers x 40") << 4 << 40;
        if (qEnvironmentVariableIsSet("TOLVO_STRESS"))
            QTest::newRow("16 writers x 1000") << 16 << 1000;
    }

    void concurrentWriters()
    {
        QFETCH(int, writers);
        QFETCH(int, records);
        const QTemporaryDir inputs;
        std::vector<std::unique_ptr<QProcess>> shells;
        for (int writer = 0; writer < writers; ++writer) {
            for (int sequence = 0; sequence < records; ++sequence) {
                QFile file(inputs.filePath(
                    u"w%1-%2.json"_s.arg(writer).arg(sequence, 4, 10, QChar(u'0'))));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(QJsonDocument(QJsonObject{{u"hook_event_name"_s, u"UserPromptSubmit"_s},
                                                     {u"prompt"_s, prompt(writer, sequence)}})
                               .toJson(QJsonDocument::Compact));
            }
            shells.push_back(std::make_unique<QProcess>());
            shells.back()->start(
                u"/bin/sh"_s, {u"-c"_s, u"for f in \"$1\"-*.json; do sh -c \"$2\" < \"$f\"; done"_s,
                               u"sh"_s, inputs.filePath(u"w%1"_s.arg(writer)), hookCommand});
        }
        QHash<QString, int> next;
        int received = 0, wrong = 0;
        const auto drain = [&] {
            for (const QJsonObject &record : std::exchange(m_received, {})) {
                const QString text = record.value(u"details").toString();
                const int writer = text.mid(1, 2).toInt(), sequence = text.mid(5, 4).toInt();
                wrong += sequence != next[record.value(u"instance").toString()]++ ||
                         text != prompt(writer, sequence);
                ++received;
            }
        };
        QVERIFY(QTest::qWaitFor(
            [&] {
                drain();
                return std::all_of(shells.begin(), shells.end(), [](const auto &shell) {
                    return shell->state() == QProcess::NotRunning;
                });
            },
            900'000));
        m_received = arrivals();
        drain();
        QCOMPARE(received, writers * records);
        QCOMPARE(wrong, 0);
    }
};

QTEST_GUILESS_MAIN(TestHookCommand)
#include "tst_hookcommand.moc"
