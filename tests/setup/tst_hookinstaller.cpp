// The hooks configuration and its command, and installing them into and removing them from an
// agent's settings, as text and as a file.

#include "codextrust.h"
#include "hookinstaller.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <nlohmann/json.hpp>

using namespace Qt::StringLiterals;
using HookInstaller::Agent;
using HookInstaller::State;
using HookInstaller::StatusLineState;
using TestPaths::readFile;
using TestPaths::writeFile;
using Json = nlohmann::ordered_json;

namespace {

const QString prefix = u"/opt/tolvo"_s;

// The text without whitespace outside strings: equal for the same content, the same key order and
// the same number texts, whatever the indentation.
QByteArray minified(const QByteArray &text)
{
    QByteArray out;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (inString && text[i] == '\\')
            out += text[i++];
        else if (text[i] == '"')
            inString = !inString;
        if (inString || !QByteArrayView(" \t\r\n").contains(text[i]))
            out += text[i];
    }
    return out.isEmpty() ? "{}" : out;
}

} // namespace

Q_DECLARE_METATYPE(HookInstaller::State)
Q_DECLARE_METATYPE(HookInstaller::Agent)
Q_DECLARE_METATYPE(HookInstaller::StatusLineState)

class TestHookInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The configuration of a folder with a hostile name: every event, in order, has one group whose
    // command, run by sh, runs the script in that folder with Claude Code's process id and nothing
    // else. The installer finds that script again in what it wrote.
    void hostileFolders_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("backquotes") << u"Tolvo `touch x`"_s;
        QTest::newRow("quote breakout") << u"'; touch x; '"_s;
        QTest::newRow("escaped quote breakout") << u"\\'; touch y; \\'"_s;
        QTest::newRow("double quotes") << u"say \"hi\" $(touch y)"_s;
        QTest::newRow("backslashes") << u"back\\slash\\"_s;
        QTest::newRow("spaces") << u"  Tolvo  Build  "_s;
        QTest::newRow("expansions and globs") << u"$PPID ${HOME} * ? ~ !x"_s;
        QTest::newRow("unicode") << u"Tölvö 👋 \u2028"_s;
    }
    void hostileFolders()
    {
        QFETCH(QString, name);
        QTemporaryDir base;
        const QString hostile = base.path() + u'/' + name;
        const QString script = HookConfiguration::hookHelperPath(hostile);
        QVERIFY(writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.record\"\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));

        const QString command = HookConfiguration::hookCommand(hostile);
        const QByteArray text =
            ('{' + HookConfiguration::hooksConfiguration(hostile) + '}').toUtf8();
        const Json group = {{"matcher", ""},
                            {"hooks", {{{"type", "command"}, {"command", command.toStdString()}}}}};
        Json hooks = Json::object();
        for (const char *event : {"UserPromptSubmit", "PreToolUse", "PostToolUse", "Stop",
                                  "SubagentStop", "Notification", "PreCompact", "SessionStart",
                                  "SessionEnd", "PermissionRequest", "StopFailure"})
            hooks[event] = Json::array({group});
        // The CLI must not end a helper that waits the default nine minutes for an answer.
        hooks["PermissionRequest"][0]["hooks"][0]["timeout"] = 600;
        const Json configured = Json::parse(text.begin(), text.end())["hooks"];
        QVERIFY2(configured == hooks, configured.dump().c_str());
        QProcess sh; // $PPID in the command is the process that started sh: this one
        sh.setWorkingDirectory(base.path());
        sh.start(u"/bin/sh"_s, {u"-c"_s, command});
        QVERIFY(sh.waitForFinished(10000) && sh.exitCode() == 0);
        QCOMPARE(readFile(script + u".record"_s),
                 QByteArray::number(QCoreApplication::applicationPid()));
        QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{name});

        const HookInstaller::Edit installed = HookInstaller::install({}, hostile);
        QCOMPARE(HookInstaller::inspect(installed.text, hostile).state, State::Installed);
        QCOMPARE(HookInstaller::inspect(installed.text, hostile, 30).state, State::Incomplete);
        const HookInstaller::Inspection elsewhere = HookInstaller::inspect(installed.text, prefix);
        QCOMPARE(elsewhere.state, State::OtherScriptPath);
        QCOMPARE(elsewhere.otherScriptPaths, QStringList{script});
        QCOMPARE(minified(HookInstaller::remove(installed.text).text), "{}");
    }

    // A folder that no command can name safely: nothing is configured or installed, and the reason
    // shows the control characters without containing any.
    void unusablePrefixes_data()
    {
        QTest::addColumn<QString>("unusable");
        QTest::addColumn<QString>("problem");
        QTest::newRow("line feed")
            << u"/opt/Tolvo\nBuild"_s << u"/opt/Tolvo\\x0aBuild contains a"_s;
        QTest::newRow("escape sequence") << u"/opt/\x1b[31mTolvo"_s << u"\\x1b[31mTolvo contains"_s;
        QTest::newRow("tab") << u"/opt/\tTolvo"_s << u"control character"_s;
        QTest::newRow("delete") << u"/opt/Tolvo\x7f"_s << u"control character"_s;
        QTest::newRow("C1 control") << u"/opt/Tolvo\u0085"_s << u"control character"_s;
        QTest::newRow("relative") << u"opt/tolvo"_s << u"is not an absolute path"_s;
    }
    void unusablePrefixes()
    {
        QFETCH(QString, unusable);
        QFETCH(QString, problem);
        const QString message = HookConfiguration::prefixProblem(unusable);
        QVERIFY2(message.contains(problem), qPrintable(message));
        QVERIFY(std::none_of(message.begin(), message.end(),
                             [](QChar c) { return c.category() == QChar::Other_Control; }));
        QCOMPARE(HookConfiguration::hookCommand(unusable), QString());
        const HookInstaller::Edit edit = HookInstaller::install("{}", unusable);
        QVERIFY(!edit.ok && edit.reason.contains(message));
        QCOMPARE(HookInstaller::inspect("{}", unusable).state, State::Invalid);
    }

    // Which commands are Tolvo's, and which script they run.
    void tolvoCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("script"); // empty: not Tolvo's
        QTest::newRow("this one") << HookConfiguration::hookCommand(prefix)
                                  << HookConfiguration::hookHelperPath(prefix);
        QTest::newRow("older script of this copy")
            << u"'"_s + prefix + u"/share/tolvo/tolvo.sh' \"$PPID\""_s
            << prefix + u"/share/tolvo/tolvo.sh"_s;
        QTest::newRow("helper of another copy") << u"'/opt/t/libexec/tolvo/tolvo-hook' \"$PPID\""_s
                                                << u"/opt/t/libexec/tolvo/tolvo-hook"_s;
        QTest::newRow("escaped single quote")
            << u"'/home/o'\\''brien/share/tolvo/tolvo.sh' \"$PPID\""_s
            << u"/home/o'brien/share/tolvo/tolvo.sh"_s;
        QTest::newRow("older jq pipe")
            << u"jq -c --arg pid \"$PPID\" '{instance: $pid, details: (.tool_input | tojson)}' | \"/srv/my \\\"t\\\"/tolvo.sh\""_s
            << u"/srv/my \"t\"/tolvo.sh"_s;
        QTest::newRow("bare path") << u"/x/tolvo.sh"_s << u"/x/tolvo.sh"_s;
        QTest::newRow("argument of sh") << u"sh '/a b/tolvo.sh'"_s << u"/a b/tolvo.sh"_s;
        QTest::newRow("escaped space") << u"/a\\ b/tolvo.sh \"$PPID\""_s << u"/a b/tolvo.sh"_s;
        QTest::newRow("redirected") << u"/x/tolvo.sh</dev/null"_s << u"/x/tolvo.sh"_s;
        QTest::newRow("longer name") << u"/x/mytolvo.sh"_s << QString();
        QTest::newRow("backup copy") << u"/x/tolvo.sh.bak"_s << QString();
        QTest::newRow("inside a quoted argument") << u"jq '. | \"/x/tolvo.sh\"'"_s << QString();
    }
    void tolvoCommands()
    {
        QFETCH(QString, command);
        QFETCH(QString, script);
        QCOMPARE(HookInstaller::isTolvoCommand(command), !script.isEmpty());
        Json settings;
        settings["hooks"]["Stop"][0]["hooks"][0]["command"] = command.toStdString();
        const HookInstaller::Inspection inspection =
            HookInstaller::inspect(QByteArray::fromStdString(settings.dump()), prefix);
        if (script.isEmpty())
            QCOMPARE(inspection.state, State::NotInstalled);
        else if (script == HookConfiguration::hookHelperPath(prefix))
            QCOMPARE(inspection.state, State::Incomplete); // one event of eleven
        else
            QCOMPARE(inspection.otherScriptPaths, QStringList{script});
    }

    // Each settings text goes through install, a second install, an install from a moved build and
    // remove, as text and as a file. The user's content (for a file of the corpus as in its
    // .removed.json where there is one) comes back unchanged apart from formatting, numbers with
    // the text they were written in; what Tolvo cannot read as settings is never written.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("original"); // null: no file
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<State>("before");
        QTest::addColumn<QByteArray>("installedHas"); // a piece of the installed text, or why not
        const auto file = [](const char *name, State before, const QByteArray &installedHas = {}) {
            const QString corpus = QStringLiteral(TOLVO_SETUP_CORPUS_DIR "/") + QLatin1String(name);
            const QByteArray original = readFile(corpus + u".json"_s);
            const QByteArray removed = readFile(corpus + u".removed.json"_s);
            QTest::newRow(name) << original << (removed.isNull() ? original : removed) << before
                                << installedHas;
        };
        const auto text = [](const char *name, const QByteArray &text, const QByteArray &why = {}) {
            QTest::newRow(name) << text << text
                                << (why.isEmpty() ? State::NotInstalled : State::Invalid) << why;
        };
        file("missing", State::NotInstalled);
        file("empty-object", State::NotInstalled);
        file("unrelated-keys", State::NotInstalled);
        file("user-hooks", State::NotInstalled,
             "\"TeamReview\":\"not a list, and not Tolvo's business\"");
        file("older-tolvo", State::OtherScriptPath);
        file("jq-tolvo", State::OtherScriptPath,
             R"({"type":"command","command":"notify-send done"},{"type":"command",)"
             "\"command\":\"'/opt/tolvo/libexec/tolvo/tolvo-hook' \\\"$PPID\\\"\",\"timeout\":10},"
             R"({"type":"command","command":"~/bin/log-stop.sh"})");
        file("seven-events", State::OtherScriptPath,
             R"({"model":"opus","hooks":{"UserPromptSubmit":[{"matcher":"","hooks")"
             ":[{\"type\":\"command\",\"command\":\"'/opt/tolvo/");
        file("big-numbers", State::NotInstalled,
             R"("MAX":1e400,"TINY":-1E-400},"limits":[1.50,-0.0,1E5,)");
        file("no-trailing-newline", State::NotInstalled);
        file("invalid", State::Invalid, "is not valid JSON: parse error at line 4, column 1");
        file("event-not-a-list", State::Invalid,
             "has a \"hooks\" entry \"PostToolUse\" that is not a list");
        text("numbers beyond a double, their written forms, numbers in strings",
             R"({"n": [1e400, -1E+400, 1e-400, 1.50, -0.0, -0, 1E5, 0e0, 1)" +
                 QByteArray(400, '0') +
                 R"(], "1.50": "1e400", "s": "tolvo-number-", "a": [-1.0e-0]})");
        text("NUL", QByteArray("{\"a\": 1}\0{\"b\": 2}", 18), "contains a NUL character");
        text("too deep", QByteArray(600, '[') + QByteArray(600, ']'),
             "is nested too deeply to be settings");
        text("invalid UTF-8", "{\"a\": \"\xff\"}", "is not valid JSON");
        text("error after a huge number", "{\"n\": 1e400,\n \"m\": 2,}",
             "is not valid JSON: parse error at line 2, column 9");
        text("not an object", "[1.5]", "is not a JSON object");
        text("hooks not an object", R"({"hooks": [1e400]})",
             "has a \"hooks\" value that is not an object");
    }
    void roundTrip()
    {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, user);
        QFETCH(State, before);
        QFETCH(QByteArray, installedHas);
        QCOMPARE(HookInstaller::inspect(original, prefix).state, before);
        const TestHome home;
        const QString path = home.path() + u"/.claude/settings.json"_s;
        const QString backup = HookInstaller::backupPath(path);
        QVERIFY(original.isNull() || writeFile(path, original));

        if (before == State::Invalid) {
            const QString reason = QString::fromUtf8(installedHas);
            QVERIFY(HookInstaller::inspect(original, prefix).reason.startsWith(reason));
            for (const auto &outcome :
                 {HookInstaller::installFile(path, prefix), HookInstaller::removeFile(path)}) {
                QVERIFY(!outcome.ok && !outcome.changed);
                QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
            }
            QCOMPARE(readFile(path), original);
            QVERIFY(!QFile::exists(backup));
            return;
        }

        const HookInstaller::Edit installed = HookInstaller::install(original, prefix);
        QVERIFY(installed.ok && installed.changed);
        QCOMPARE(installed.text.count("/libexec/tolvo/tolvo-hook"), 11);
        QVERIFY2(minified(installed.text).contains(installedHas), installed.text.constData());
        QCOMPARE(HookInstaller::inspect(installed.text, prefix).state, State::Installed);
        QVERIFY(!HookInstaller::install(installed.text, prefix).changed);
        const QString moved = u"/home/me/Tolvo Build"_s;
        const QByteArray reinstalled = HookInstaller::install(installed.text, moved).text;
        QCOMPARE(reinstalled.count(moved.toUtf8() + "/libexec/tolvo/tolvo-hook"), 11);
        QCOMPARE(reinstalled.count("/libexec/tolvo/tolvo-hook"), 11);
        const HookInstaller::Edit removed = HookInstaller::remove(reinstalled);
        QVERIFY(removed.ok && removed.changed);
        QCOMPARE(minified(removed.text), minified(user));

        // As a file: the first change keeps the original; later ones leave that copy alone.
        auto outcome = HookInstaller::installFile(path, prefix);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(readFile(path), installed.text);
        QCOMPARE(readFile(backup), original); // none for a file that was not there
        QVERIFY(!HookInstaller::installFile(path, prefix).changed);
        outcome = HookInstaller::removeFile(path);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(minified(readFile(path)), minified(user));
        QVERIFY(original.isNull() || readFile(backup) == original);
        QVERIFY(!HookInstaller::removeFile(path).changed);
    }

    // Each agent gets Tolvo's hooks in its own file and shape, its token on every command. The
    // user's entries and keys keep their place, a second install changes nothing, remove leaves
    // exactly the user's settings, and no other agent's file is touched. Codex's trust keys name
    // Tolvo's entries where they are, and only a trust entry for each of them counts.
    void agents_data()
    {
        QTest::addColumn<Agent>("agent");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("holding"); // Tolvo's hook that holds the permission prompt
        QTest::addColumn<int>("events");
        QTest::newRow("claude")
            << Agent::claudeCode
            << QByteArray(R"({"model": "opus", "hooks": {"Stop": [{"hooks": )"
                          R"([{"type": "command", "command": "/bin/done"}]}]}})")
            << QByteArray("\"PermissionRequest\":[{\"matcher\":\"\",\"hooks\":[{\"type\":"
                          "\"command\",\"command\":\"'/opt/tolvo/libexec/tolvo/tolvo-hook' "
                          "\\\"$PPID\\\"\",\"timeout\":600}]}]")
            << 11;
        QTest::newRow("codex")
            << Agent::codex
            << QByteArray(
                   R"({"description": "mine", "hooks": {"PreToolUse": [{"matcher": "Bash", )"
                   R"("hooks": [{"type": "command", "command": "/bin/audit", "timeout": 10}]}]}})")
            << QByteArray(
                   "\"PermissionRequest\":[{\"hooks\":[{\"type\":\"command\",\"command\":"
                   "\"'/opt/tolvo/libexec/tolvo/tolvo-hook' \\\"$PPID\\\" codex\",\"timeout\":"
                   "3660}]}]") // the longest bound: a new bound would need new trust
            << 12;
        QTest::newRow("gemini")
            << Agent::gemini
            << QByteArray(R"({"security": {"auth": {"selectedType": "gemini-api-key"}}, "hooks": )"
                          R"({"BeforeTool": [{"matcher": "run_shell_command", "hooks": [{"type": )"
                          R"("command", "command": "/bin/audit", "timeout": 5000}]}]}, "ui": {}})")
            << QByteArray("\"Notification\":[{\"matcher\":\"*\",\"hooks\":[{\"type\":\"command\","
                          "\"name\":\"tolvo\",\"command\":\"'/opt/tolvo/libexec/tolvo/tolvo-hook' "
                          "\\\"$PPID\\\" gemini\",\"timeout\":600000}]}]")
            << 8;
    }
    void agents()
    {
        QFETCH(Agent, agent);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, holding);
        QFETCH(int, events);
        const HookInstaller::Edit installed =
            HookInstaller::install(user, prefix, PermissionHold::defaultMinutes, agent);
        QVERIFY(installed.ok && installed.changed);
        QVERIFY2(minified(installed.text).contains(holding), installed.text.constData());
        QCOMPARE(installed.text.count("/libexec/tolvo/tolvo-hook"), events);
        const QByteArray token =
            "\\\"$PPID\\\"" + (agent == Agent::claudeCode
                                   ? QByteArray("\"")
                                   : ' ' + HookConfiguration::agentWord(agent).toUtf8());
        QCOMPARE(installed.text.count(token), events);
        const Json before = Json::parse(user.begin(), user.end());
        const Json after = Json::parse(installed.text.begin(), installed.text.end());
        const std::string userEvent = before["hooks"].begin().key();
        QCOMPARE(after["hooks"].begin().key(), userEvent); // the user's own first
        QVERIFY(after["hooks"][userEvent][0] == before["hooks"][userEvent][0]);
        QCOMPARE(after.begin().key(), before.begin().key());
        const HookInstaller::Inspection inspection =
            HookInstaller::inspect(installed.text, prefix, PermissionHold::defaultMinutes, agent);
        QCOMPARE(inspection.state, State::Installed);
        QVERIFY(HookInstaller::describe(inspection, agent).contains(::agentName(agent)));
        QVERIFY(
            !HookInstaller::install(installed.text, prefix, PermissionHold::defaultMinutes, agent)
                 .changed);
        QCOMPARE(minified(HookInstaller::remove(installed.text, agent).text), minified(user));

        const TestHome home;
        qunsetenv("CODEX_HOME");
        const QString path = HookInstaller::defaultSettingsPath(agent);
        QVERIFY(path.startsWith(home.path()) && writeFile(path, user));
        const auto outcome =
            HookInstaller::installFile(path, prefix, {}, PermissionHold::defaultMinutes, agent);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(readFile(path), installed.text);
        QCOMPARE(readFile(HookInstaller::backupPath(path)), user);
        QCOMPARE(QFile::exists(home.path() + u"/.claude/settings.json"_s),
                 agent == Agent::claudeCode);
        if (agent != Agent::codex)
            return;
        const QStringList keys = CodexTrust::hookKeys(path, installed.text);
        QCOMPARE(keys.size(), events);
        QCOMPARE(keys.filter(u":pre_tool_use:"_s), QStringList{path + u":pre_tool_use:1:0"_s});
        const QByteArray head = "model = \"m\"\n[hooks.state]\n";
        QByteArray tables;
        for (const QString &key : keys.mid(1))
            tables += "[hooks.state.\"" + key.toUtf8() + "\"]\ntrusted_hash = \"sha256:0\"\n";
        QVERIFY(writeFile(CodexTrust::configPath(), head + tables));
        QVERIFY(CodexTrust::note(path, false).contains(u"Hooks need review"_s)); // one is missing
        QVERIFY(writeFile(CodexTrust::configPath(), head + '\'' + keys[0].toUtf8() +
                                                        "' = { trusted_hash = \"sha256:1\" }\n" +
                                                        tables));
        QVERIFY(!CodexTrust::note(path, false).contains(u"Hooks need review\" dialog"_s));
        QVERIFY(CodexTrust::note(path, true).contains(u"Hooks need review\" dialog"_s));
    }

    // Claude Code's one status line, shared: install makes the entry Tolvo's around the user's own
    // command, every other key in its place, and sh hands Tolvo's helper exactly that command; a
    // second install changes nothing; remove gives the user's entry back (the whole key goes when
    // it had none). What Tolvo cannot wrap or read back stays, and says why. Without sharing, and
    // for the other agents, the status line is left alone.
    void statusLines_data()
    {
        QTest::addColumn<QByteArray>("user"); // the "statusLine" value; null: none
        QTest::addColumn<StatusLineState>("before");
        QTest::addColumn<QByteArray>("installed"); // in the minified result; null: left alone
        QTest::addColumn<QString>("command");      // the user's command Tolvo's runs
        QTest::addColumn<QString>("note");         // of install and remove
        // After remove, when the user's own differs from `user`: "-" for none.
        QTest::addColumn<QByteArray>("restored");
        // Plain literals: moc misreads single quotes in raw strings.
        const QByteArray helper =
            "'/opt/tolvo/libexec/tolvo/tolvo-hook' --status-line \\\"$PPID\\\"";
        QTest::newRow("none") << QByteArray() << StatusLineState::Absent
                              << "\"statusLine\":{\"type\":\"command\",\"command\":\"" + helper +
                                     "\"}}"
                              << QString() << QString() << QByteArray();
        QTest::newRow("padding and refresh interval")
            << QByteArray(R"({"type": "command", "command": "~/.claude/line.sh", "padding": 2,)"
                          R"( "refreshInterval": 1.50, "x": [1]})")
            << StatusLineState::User
            << "\"model\":\"opus\",\"statusLine\":{\"type\":\"command\",\"command\":\"" + helper +
                   " '~/.claude/line.sh'\",\"padding\":2,\"refreshInterval\":1.50,\"x\":[1]},"
                   "\"theme\""
            << u"~/.claude/line.sh"_s << QString() << QByteArray();
        QTest::newRow("pipeline with quotes")
            << QByteArray("{\"type\": \"command\", \"command\": \"bash -c 'printf \\\"%s\\\" "
                          "\\\"$(cat)\\\" | head -c 40' | sed \\\"s/'/\\\\x27/g\\\"\"}")
            << StatusLineState::User
            << "\"command\":\"" + helper +
                   " 'bash -c '\\\\''printf \\\"%s\\\" \\\"$(cat)\\\" | head -c 40'\\\\'' | "
                   "sed \\\"s/'\\\\''/\\\\x27/g\\\"'\"}"
            << u"bash -c 'printf \"%s\" \"$(cat)\" | head -c 40' | sed \"s/'/\\x27/g\""_s
            << QString() << QByteArray();
        QTest::newRow("Tolvo's of an older copy")
            << QByteArray("{\"padding\": 0, \"type\": \"command\", \"command\": "
                          "\"'/usr/local/libexec/tolvo/tolvo-hook' --status-line \\\"$PPID\\\" "
                          "'my line'\"}")
            << StatusLineState::OtherHelper
            << "{\"padding\":0,\"type\":\"command\",\"command\":\"" + helper + " 'my line'\"}"
            << u"my line"_s << QString()
            << QByteArray(R"({"padding": 0, "type": "command", "command": "my line"})");
        QTest::newRow("Tolvo's alone, not wrapped again")
            << "{\"type\": \"command\", \"command\": \"" + helper + "\"}"
            << StatusLineState::Installed << "{\"type\":\"command\",\"command\":\"" + helper + "\"}"
            << QString() << QString() << QByteArray("-");
        QTest::newRow("not a command entry")
            << QByteArray(R"({"type": "static", "text": "hi"})") << StatusLineState::NotCommand
            << QByteArray() << QString() << u"is of type \"static\", so Tolvo leaves it alone"_s
            << QByteArray();
        QTest::newRow("not an object")
            << QByteArray(R"("echo hi")") << StatusLineState::NotCommand << QByteArray()
            << QString() << u"is not an object"_s << QByteArray();
        QTest::newRow("Tolvo's, unreadable")
            << "{\"type\": \"command\", \"command\": \"" + helper + " \\\"$(id)\\\"\"}"
            << StatusLineState::Unreadable << QByteArray() << QString()
            << u"cannot read back, so Tolvo leaves it as it is"_s << QByteArray();
    }
    void statusLines()
    {
        QFETCH(QByteArray, user);
        QFETCH(StatusLineState, before);
        QFETCH(QByteArray, installed);
        QFETCH(QString, command);
        QFETCH(QString, note);
        QFETCH(QByteArray, restored);
        const auto settings = [](const QByteArray &line) {
            return line.isNull() || line == "-"
                       ? QByteArray(R"({"model": "opus", "theme": "dark"})")
                       : R"({"model": "opus", "statusLine": )" + line + R"(, "theme": "dark"})";
        };
        const QByteArray original = settings(user);
        QCOMPARE(HookInstaller::inspectStatusLine(original, prefix).state, before);
        const HookInstaller::Edit edit = HookInstaller::install(
            original, prefix, PermissionHold::defaultMinutes, Agent::claudeCode, true);
        QVERIFY(edit.ok && edit.changed);
        QVERIFY2(edit.note.contains(note) && edit.note.isEmpty() == note.isEmpty(),
                 qPrintable(edit.note));
        const QByteArray result = minified(edit.text);
        QVERIFY2(result.contains(installed.isNull() ? R"("statusLine":)" + minified(user) + ','
                                                    : installed),
                 result.constData());
        const HookInstaller::StatusLineInspection after =
            HookInstaller::inspectStatusLine(edit.text, prefix);
        QCOMPARE(after.state, installed.isNull() ? before : StatusLineState::Installed);
        QCOMPARE(after.userCommand.value_or(QString()), command);
        if (!command.isNull())
            QVERIFY(HookInstaller::describe(after).endsWith(u"keeps your own: "_s + command));
        const HookInstaller::Edit again = HookInstaller::install(
            edit.text, prefix, PermissionHold::defaultMinutes, Agent::claudeCode, true);
        QVERIFY(again.ok && !again.changed && again.text == edit.text);
        const HookInstaller::Edit removed = HookInstaller::remove(edit.text);
        QCOMPARE(minified(removed.text), minified(settings(restored.isNull() ? user : restored)));
        QCOMPARE(removed.note.isEmpty(), before != StatusLineState::Unreadable);
        for (const Agent agent : {Agent::claudeCode, Agent::codex}) {
            const QByteArray kept =
                HookInstaller::install(original, prefix, PermissionHold::defaultMinutes, agent,
                                       agent != Agent::claudeCode)
                    .text;
            QCOMPARE(HookInstaller::inspectStatusLine(kept, prefix).userCommand,
                     HookInstaller::inspectStatusLine(original, prefix).userCommand);
            QCOMPARE(minified(kept).count("--status-line"),
                     minified(original).count("--status-line"));
        }

        // What sh gives Tolvo's helper after "$PPID" is the user's command as written.
        if (command.isNull())
            return;
        QTemporaryDir base;
        const QString script = HookConfiguration::hookHelperPath(base.path());
        QVERIFY(writeFile(script, "#!/bin/sh\nprintf '%s' \"$3\" > \"$0.record\"\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
        QProcess sh;
        sh.start(u"/bin/sh"_s,
                 {u"-c"_s, HookConfiguration::statusLineCommand(base.path(), after.userCommand)});
        QVERIFY(sh.waitForFinished(10000) && sh.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(readFile(script + u".record"_s)), command);
    }

    // Something else writes the settings file between Tolvo's reading and replacing it: once, and
    // Tolvo edits the new content; every time, and Tolvo writes nothing.
    void lostUpdates_data()
    {
        QTest::addColumn<bool>("removing");
        QTest::addColumn<int>("changes");
        QTest::addColumn<QByteArray>("change"); // N counts the changes; null: deleted
        const QByteArray withHooks =
            R"({"model": "N", "hooks": {"Stop": [{"hooks": [{"command": "/x/tolvo.sh"}]}]}})";
        QTest::newRow("install, changed once") << false << 1 << QByteArray(R"({"model": "N"})");
        QTest::newRow("install, deleted once") << false << 1 << QByteArray();
        QTest::newRow("changed every time") << false << 9 << QByteArray(R"({"a": N})");
        QTest::newRow("remove, changed once") << true << 1 << withHooks;
    }
    void lostUpdates()
    {
        QFETCH(bool, removing);
        QFETCH(int, changes);
        QFETCH(QByteArray, change);
        const TestHome home;
        const QString path = home.path() + u"/.claude/settings.json"_s;
        QVERIFY(writeFile(path, removing ? HookInstaller::install("{}", prefix).text : "{}"));
        int calls = 0;
        QByteArray last;
        const auto meanwhile = [&] {
            if (calls++ >= changes)
                return;
            last = QByteArray(change).replace('N', QByteArray::number(calls));
            last.isNull() ? void(QFile::remove(path)) : void(writeFile(path, last));
        };
        const HookInstaller::FileOutcome outcome =
            removing ? HookInstaller::removeFile(path, meanwhile)
                     : HookInstaller::installFile(path, prefix, meanwhile);
        QCOMPARE(calls, 2);
        QVERIFY2(outcome.ok == (changes == 1) && outcome.changed == (changes == 1),
                 qPrintable(outcome.message));
        const QByteArray now = readFile(path);
        const QStringList files = QDir(QFileInfo(path).path()).entryList(QDir::Files);
        if (changes > 1) {
            QCOMPARE(now, last);
            QCOMPARE(files, QStringList{u"settings.json"_s}); // no backup, no leftovers
            return;
        }
        QCOMPARE(HookInstaller::inspect(now, prefix).state,
                 removing ? State::NotInstalled : State::Installed);
        QCOMPARE(minified(now).contains(R"("model":"1")"), !last.isNull());
        QCOMPARE(readFile(HookInstaller::backupPath(path)), last); // as Tolvo replaced it
        QCOMPARE(files.size(), last.isNull() ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(TestHookInstaller)
#include "tst_hookinstaller.moc"
