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
using HookInstaller::State;
using Json = nlohmann::ordered_json;

namespace {

const QString prefix = u"/opt/tolvo"_s;
const QString movedPrefix = u"/home/me/Tolvo Build"_s;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// The text without whitespace outside strings: equal for the same content, the same key
// order and the same number texts, whatever the indentation.
QByteArray minified(const QByteArray &text)
{
    QByteArray out;
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString && c == '\\') {
            out += text.mid(i++, 2);
            continue;
        }
        if (c == '"')
            inString = !inString;
        if (inString || !QByteArrayView(" \t\r\n").contains(c))
            out += c;
    }
    return out.isEmpty() ? "{}" : out;
}

int countTolvoCommands(const QByteArray &text)
{
    return int(text.count("share/tolvo/tolvo.sh"));
}

QByteArray withStopCommand(const QString &command)
{
    Json settings;
    settings["hooks"]["Stop"] = Json::array({Json::object(
        {{"hooks", Json::array({Json::object(
                       {{"type", "command"}, {"command", command.toStdString()}})})}})});
    return QByteArray::fromStdString(settings.dump());
}

} // namespace

Q_DECLARE_METATYPE(HookInstaller::State)

class TestHookInstaller : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void configuration()
    {
        const QString text = HookConfiguration::hooksConfiguration(prefix);
        QVERIFY(text.startsWith(u"\"hooks\": {\n  \"UserPromptSubmit\": [\n    {\n      \""_s));
        QVERIFY(text.endsWith(u"\n  ]\n}"_s));
        const QByteArray document = ('{' + text + '}').toUtf8();
        const Json hooks = Json::parse(document.begin(), document.end())["hooks"];
        const Json group =
            Json::parse(R"([{"matcher": "", "hooks": [{"type": "command", )"
                        "\"command\": \"'/opt/tolvo/share/tolvo/tolvo.sh' \\\"$PPID\\\"\"}]}]");
        QStringList events;
        for (const auto &[event, groups] : hooks.items()) {
            events.append(QString::fromStdString(event));
            QVERIFY2(groups == group, groups.dump().c_str());
        }
        QCOMPARE(events, (QStringList{u"UserPromptSubmit"_s, u"PreToolUse"_s, u"PostToolUse"_s,
                                      u"Stop"_s, u"SubagentStop"_s, u"Notification"_s,
                                      u"PreCompact"_s, u"SessionStart"_s, u"SessionEnd"_s,
                                      u"PermissionRequest"_s, u"StopFailure"_s}));
    }

    // Each command of the configuration, run by sh from a folder with a hostile name,
    // runs the script in it with Claude Code's process id and nothing else; the installer
    // finds that script again in what it wrote.
    void hostileFolders_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("backquotes") << u"Tolvo `touch x`"_s;
        QTest::newRow("command substitution") << u"Tolvo $(touch y)"_s;
        QTest::newRow("single quote") << u"it's"_s;
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
        const QString script = HookConfiguration::hookScriptPath(hostile);
        QCOMPARE(HookConfiguration::prefixProblem(hostile), QString());
        QVERIFY(writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > \"$RECORD\"\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));

        const QString record = base.path() + u"/record"_s;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"RECORD"_s, record);
        const QByteArray configuration =
            ('{' + HookConfiguration::hooksConfiguration(hostile) + '}').toUtf8();
        const Json hooks = Json::parse(configuration.begin(), configuration.end())["hooks"];
        QCOMPARE(int(hooks.size()), 11);
        for (const auto &groups : hooks) {
            const QString command =
                QString::fromStdString(groups[0]["hooks"][0]["command"].get<std::string>());
            QCOMPARE(command, HookConfiguration::hookCommand(hostile));
            QProcess sh; // $PPID in the command is the process that started sh: this one
            sh.setProcessEnvironment(env);
            sh.setWorkingDirectory(base.path());
            sh.start(u"/bin/sh"_s, {u"-c"_s, command});
            QVERIFY(sh.waitForFinished(10000));
            QCOMPARE(sh.exitCode(), 0);
            QCOMPARE(readFile(record), QByteArray::number(QCoreApplication::applicationPid()));
            QVERIFY(QFile::remove(record));
        }
        QCOMPARE(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{name});

        const HookInstaller::Edit installed = HookInstaller::install({}, hostile);
        QVERIFY(installed.ok);
        QCOMPARE(HookInstaller::inspect(installed.text, hostile).state, State::Installed);
        const HookInstaller::Inspection elsewhere = HookInstaller::inspect(installed.text, prefix);
        QCOMPARE(elsewhere.state, State::OtherScriptPath);
        QCOMPARE(elsewhere.otherScriptPaths, QStringList{script});
        QCOMPARE(minified(HookInstaller::remove(installed.text).text), "{}");
    }

    void unusablePrefixes_data()
    {
        QTest::addColumn<QString>("unusable");
        QTest::addColumn<QString>("problem");
        QTest::newRow("line feed")
            << u"/opt/Tolvo\nBuild"_s
            << u"/opt/Tolvo\\x0aBuild contains a control character; move Tolvo to a folder without one"_s;
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
        QCOMPARE(HookConfiguration::hooksConfiguration(unusable), QString());

        const QByteArray settings = R"({"model": "opus"})";
        const HookInstaller::Edit edit = HookInstaller::install(settings, unusable);
        QVERIFY(!edit.ok && edit.reason.contains(message));
        QCOMPARE(HookInstaller::inspect(settings, unusable).state, State::Invalid);
        TestHome home;
        const QString path = home.path() + u"/.claude/settings.json"_s;
        const HookInstaller::FileOutcome outcome = HookInstaller::installFile(path, unusable);
        QVERIFY(!outcome.ok && outcome.message.contains(message));
        QVERIFY(!QFile::exists(path));
    }

    // Which commands are Tolvo's, and which script they run.
    void tolvoCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("script"); // empty: not Tolvo's
        QTest::newRow("this one") << HookConfiguration::hookCommand(prefix)
                                  << HookConfiguration::hookScriptPath(prefix);
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
        const HookInstaller::Inspection inspection =
            HookInstaller::inspect(withStopCommand(command), prefix);
        if (script.isEmpty())
            QCOMPARE(inspection.state, State::NotInstalled);
        else if (script == HookConfiguration::hookScriptPath(prefix))
            QCOMPARE(inspection.state, State::Incomplete); // one event of eleven
        else
            QCOMPARE(inspection.otherScriptPaths, QStringList{script});
    }

    // Numbers come back as written; what Tolvo cannot read as settings it refuses.
    void settingsText_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("refusal"); // empty: accepted

        QTest::newRow("huge integer")
            << QByteArray(R"({"n": 123456789012345678901234567890})") << QString();
        QTest::newRow("beyond a double")
            << QByteArray(R"({"n": [1e400, -1E+400, 1e-400, 1)" + QByteArray(400, '0') + "]}")
            << QString();
        QTest::newRow("written forms")
            << QByteArray(R"({"n": [1.50, -0.0, -0, 1E5, 0e0]})") << QString();
        QTest::newRow("numbers in strings")
            << QByteArray(R"({"1.50": "1e400", "s": "tolvo-number-", "a": [-1.0e-0]})")
            << QString();
        QTest::newRow("NUL") << QByteArray("{\"a\": 1}\0{\"b\": 2}", 18)
                             << u"contains a NUL character"_s;
        QTest::newRow("too deep") << QByteArray(600, '[') + QByteArray(600, ']')
                                  << u"is nested too deeply to be settings"_s;
        QTest::newRow("invalid UTF-8") << QByteArray("{\"a\": \"\xff\"}") << u"is not valid JSON"_s;
        QTest::newRow("error after a huge number")
            << QByteArray("{\"n\": 1e400,\n \"m\": 2,}")
            << u"is not valid JSON: parse error at line 2, column 9"_s;
        QTest::newRow("not an object") << QByteArray("[1.5]") << u"is not a JSON object"_s;
        QTest::newRow("hooks not an object") << QByteArray(R"({"hooks": [1e400]})")
                                             << u"has a \"hooks\" value that is not an object"_s;
    }
    void settingsText()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, refusal);
        const HookInstaller::Edit installed = HookInstaller::install(settings, prefix);
        const HookInstaller::Inspection inspection = HookInstaller::inspect(settings, prefix);
        if (!refusal.isEmpty()) {
            QCOMPARE(inspection.state, State::Invalid);
            QVERIFY2(inspection.reason.startsWith(refusal), qPrintable(inspection.reason));
            QVERIFY(!installed.ok && !HookInstaller::remove(settings).ok);
            return;
        }
        QCOMPARE(inspection.state, State::NotInstalled);
        QVERIFY(installed.ok && installed.changed);
        QVERIFY(!HookInstaller::install(installed.text, prefix).changed);
        QCOMPARE(minified(HookInstaller::remove(installed.text).text), minified(settings));
    }

    // Each settings file of the corpus goes through install, a second install, an
    // install from a moved build and remove, as text and as a file. The user's content
    // must come back unchanged apart from formatting; a file Tolvo cannot read as
    // settings must never be written.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<State>("before");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("installedHas"); // a piece of the installed text

        QTest::newRow("missing") << u"missing.json"_s << State::NotInstalled << QString()
                                 << QByteArray();
        QTest::newRow("empty object")
            << u"empty-object.json"_s << State::NotInstalled << QString() << QByteArray();
        QTest::newRow("unrelated keys")
            << u"unrelated-keys.json"_s << State::NotInstalled << QString() << QByteArray();
        QTest::newRow("user's hooks")
            << u"user-hooks.json"_s << State::NotInstalled << QString()
            << QByteArray("\"TeamReview\":\"not a list, and not Tolvo's business\"");
        QTest::newRow("older Tolvo elsewhere")
            << u"older-tolvo.json"_s << State::OtherScriptPath << QString() << QByteArray();
        QTest::newRow("jq entry between the user's")
            << u"jq-tolvo.json"_s << State::Incomplete << QString()
            << QByteArray(R"({"type":"command","command":"notify-send done"},{"type":"command",)"
                          "\"command\":\"'/opt/tolvo/share/tolvo/tolvo.sh' "
                          "\\\"$PPID\\\"\",\"timeout\":10},"
                          R"({"type":"command","command":"~/bin/log-stop.sh"})");
        QTest::newRow("seven events of the jq version")
            << u"seven-events.json"_s << State::Incomplete << QString()
            << QByteArray(R"({"model":"opus","hooks":{"UserPromptSubmit":[{"matcher":"","hooks")"
                          ":[{\"type\":\"command\",\"command\":\"'/opt/tolvo/");
        QTest::newRow("big numbers")
            << u"big-numbers.json"_s << State::NotInstalled << QString()
            << QByteArray(R"("MAX":1e400,"TINY":-1E-400},"limits":[1.50,-0.0,1E5,)");
        QTest::newRow("no final newline")
            << u"no-trailing-newline.json"_s << State::NotInstalled << QString() << QByteArray();
        QTest::newRow("invalid JSON")
            << u"invalid.json"_s << State::Invalid
            << u"is not valid JSON: parse error at line 4, column 1"_s << QByteArray();
        QTest::newRow("event not a list")
            << u"event-not-a-list.json"_s << State::Invalid
            << u"has a \"hooks\" entry \"PostToolUse\" that is not a list"_s << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QString, name);
        QFETCH(State, before);
        QFETCH(QString, reason);
        QFETCH(QByteArray, installedHas);
        const QString corpus = QStringLiteral(TOLVO_SETUP_CORPUS_DIR "/");
        const bool exists = QFile::exists(corpus + name);
        const QByteArray original = readFile(corpus + name);
        QString expectedFile = corpus + QString(name).replace(u".json"_s, u".removed.json"_s);
        const QByteArray userContent =
            QFile::exists(expectedFile) ? readFile(expectedFile) : original;

        const HookInstaller::Inspection inspection = HookInstaller::inspect(original, prefix);
        QCOMPARE(inspection.state, before);
        QVERIFY2(inspection.reason.startsWith(reason), qPrintable(inspection.reason));

        TestHome home;
        const QString path = home.path() + u"/.claude/settings.json"_s;
        const QString backup = HookInstaller::backupPath(path);
        if (exists)
            QVERIFY(writeFile(path, original));

        if (before == State::Invalid) {
            QVERIFY(!HookInstaller::install(original, prefix).ok);
            QVERIFY(!HookInstaller::remove(original).ok);
            for (const auto &outcome :
                 {HookInstaller::installFile(path, prefix), HookInstaller::removeFile(path)}) {
                QVERIFY(!outcome.ok && !outcome.changed);
                QVERIFY2(outcome.message.contains(reason), qPrintable(outcome.message));
            }
            QCOMPARE(readFile(path), original);
            QVERIFY(!QFile::exists(backup));
            return;
        }

        // As text.
        const HookInstaller::Edit installed = HookInstaller::install(original, prefix);
        QVERIFY(installed.ok && installed.changed);
        QVERIFY(installed.text.endsWith("}\n") && installed.text.contains("\n  \"hooks\": {\n"));
        QCOMPARE(countTolvoCommands(installed.text), 11);
        QVERIFY2(minified(installed.text).contains(installedHas), installed.text.constData());
        QCOMPARE(HookInstaller::inspect(installed.text, prefix).state, State::Installed);
        const HookInstaller::Edit again = HookInstaller::install(installed.text, prefix);
        QVERIFY(again.ok && !again.changed);
        QCOMPARE(again.text, installed.text);

        const HookInstaller::Inspection moved = HookInstaller::inspect(installed.text, movedPrefix);
        QCOMPARE(moved.state, State::OtherScriptPath);
        QCOMPARE(moved.otherScriptPaths, QStringList{HookConfiguration::hookScriptPath(prefix)});
        const HookInstaller::Edit reinstalled = HookInstaller::install(installed.text, movedPrefix);
        QCOMPARE(countTolvoCommands(reinstalled.text), 11);
        QCOMPARE(reinstalled.text.count(movedPrefix.toUtf8()), 11);
        QCOMPARE(HookInstaller::inspect(reinstalled.text, movedPrefix).state, State::Installed);

        const HookInstaller::Edit removed = HookInstaller::remove(reinstalled.text);
        QVERIFY(removed.ok && removed.changed);
        QCOMPARE(minified(removed.text), minified(userContent));
        QCOMPARE(HookInstaller::inspect(removed.text, prefix).state, State::NotInstalled);

        // As a file: the first change keeps the original; later ones leave that copy alone.
        auto outcome = HookInstaller::installFile(path, prefix);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(readFile(path), installed.text);
        QCOMPARE(QFile::exists(backup), exists);
        QCOMPARE(readFile(backup), original);
        QCOMPARE(HookInstaller::inspectFile(path, prefix).state, State::Installed);
        outcome = HookInstaller::installFile(path, prefix);
        QVERIFY(outcome.ok && !outcome.changed);
        outcome = HookInstaller::removeFile(path);
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        QCOMPARE(minified(readFile(path)), minified(userContent));
        if (exists)
            QCOMPARE(readFile(backup), original);
        QVERIFY(!HookInstaller::removeFile(path).changed);
    }

    // Something else writes the settings file between Tolvo's reading and replacing it:
    // once, and Tolvo edits the new content; every time, and Tolvo writes nothing.
    void lostUpdates_data()
    {
        QTest::addColumn<bool>("removing");
        QTest::addColumn<int>("changes");
        QTest::addColumn<QByteArray>("change"); // N counts the changes; null: deleted

        const QByteArray withHooks =
            R"({"model": "N", "hooks": {"Stop": [{"hooks": [{"command": "/x/tolvo.sh"}]}]}})";
        QTest::newRow("install, changed once") << false << 1 << QByteArray(R"({"model": "N"})");
        QTest::newRow("install, deleted once") << false << 1 << QByteArray();
        QTest::newRow("install, changed every time") << false << 9 << QByteArray(R"({"a": N})");
        QTest::newRow("remove, changed once") << true << 1 << withHooks;
        QTest::newRow("remove, changed every time") << true << 9 << withHooks;
    }
    void lostUpdates()
    {
        QFETCH(bool, removing);
        QFETCH(int, changes);
        QFETCH(QByteArray, change);
        TestHome home;
        const QString path = home.path() + u"/.claude/settings.json"_s;
        const QByteArray original = removing ? HookInstaller::install("{}", prefix).text : "{}";
        QVERIFY(writeFile(path, original));

        int calls = 0;
        QByteArray last = original;
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
        const QStringList files = QDir(QFileInfo(path).path()).entryList(QDir::Files);
        if (changes > 1) {
            QVERIFY(!outcome.ok && !outcome.changed);
            QVERIFY2(outcome.message.contains(u"changed while Tolvo was writing it; try again"_s),
                     qPrintable(outcome.message));
            QCOMPARE(readFile(path), last);
            QCOMPARE(files, QStringList{u"settings.json"_s}); // no backup, no leftovers
            return;
        }
        QVERIFY2(outcome.ok && outcome.changed, qPrintable(outcome.message));
        const QByteArray now = readFile(path);
        QCOMPARE(HookInstaller::inspect(now, prefix).state,
                 removing ? State::NotInstalled : State::Installed);
        QCOMPARE(minified(now).contains(R"("model":"1")"), !last.isNull());
        QCOMPARE(readFile(HookInstaller::backupPath(path)), last); // as Tolvo replaced it
        QCOMPARE(files.size(), last.isNull() ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(TestHookInstaller)
#include "tst_hookinstaller.moc"
