#include "hookconfiguration.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The command up to the script path, escaped for a JSON string: 201 characters.
const QString commandPrefix =
    uR"(jq -c --arg pid \"$PPID\" '{instance: $pid, event: .hook_event_name, tool: (.tool_name // null), details: (.prompt // .compact_trigger // (.tool_input | tojson) // null), working_directory: .cwd}' | \")"_s;

const QStringList hookEvents = {
    u"UserPromptSubmit"_s, u"PreToolUse"_s,   u"PostToolUse"_s, u"Stop"_s,
    u"SubagentStop"_s,     u"Notification"_s, u"PreCompact"_s};

} // namespace

class TestHookConfiguration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void configurationText_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("validJson");
        QTest::newRow("installed") << u"/usr"_s << true;
        QTest::newRow("build tree") << TestPaths::buildPrefix() << true;
        QTest::newRow("space in the prefix") << u"/opt/Tolvo Preview"_s << true;
        QTest::newRow("quote in the prefix") << u"/opt/say \"hi\""_s << false;
    }

    void configurationText()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, validJson);
        QCOMPARE(commandPrefix.size(), 201);

        const QString script = HookConfiguration::hookScriptPath(prefix);
        QCOMPARE(script, prefix + u"/share/tolvo/tolvo.sh"_s);
        const QString command = HookConfiguration::hookCommand(prefix);
        QCOMPARE(command, commandPrefix + script + u"\\\""_s);
        QVERIFY(command.endsWith(u"| \\\""_s + prefix + u"/share/tolvo/tolvo.sh\\\""_s));

        const QString text = HookConfiguration::hooksConfiguration(prefix);
        QVERIFY(text.startsWith(u"\"hooks\": {\n  \"UserPromptSubmit\": [\n"_s));
        QVERIFY(text.endsWith(u"\n  ]\n}"_s));
        QCOMPARE(text.count(command), 7);
        QCOMPARE(text.count(u"\"command\": \""_s + command + u"\"\n"_s), 7);
        QVERIFY(!text.contains(u'\t') && !text.contains(u'\r'));

        qsizetype previous = -1;
        for (const QString &event : hookEvents) {
            const qsizetype at = text.indexOf(u"\n  \""_s + event + u"\": [\n"_s);
            QVERIFY2(at > previous, qPrintable(event));
            previous = at;
        }

        QJsonParseError error;
        const QJsonDocument document =
            QJsonDocument::fromJson((u'{' + text + u'}').toUtf8(), &error);
        QCOMPARE(error.error == QJsonParseError::NoError, validJson);
        if (!validJson)
            return;

        // What Claude Code reads back: one command hook per event, empty
        // matcher, and the command with its escaping undone.
        QString shellForm = command;
        shellForm.replace(u"\\\""_s, u"\""_s);
        QVERIFY(shellForm.endsWith(u"| \""_s + script + u'"'));
        const QJsonObject hooks = document.object().value(u"hooks").toObject();
        QCOMPARE(hooks.keys().size(), hookEvents.size());
        for (const QString &event : hookEvents) {
            const QJsonArray sections = hooks.value(event).toArray();
            QCOMPARE(sections.size(), 1);
            const QJsonObject section = sections.first().toObject();
            QCOMPARE(section.value(u"matcher"), QJsonValue(u""_s));
            const QJsonArray entries = section.value(u"hooks").toArray();
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries.first().toObject(),
                     (QJsonObject{{u"type"_s, u"command"_s}, {u"command"_s, shellForm}}));
        }
    }
};

QTEST_APPLESS_MAIN(TestHookConfiguration)
#include "tst_hookconfiguration.moc"
