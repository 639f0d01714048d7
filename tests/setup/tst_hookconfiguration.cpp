#include "hookconfiguration.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

class TestHookConfiguration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void configurationText()
    {
        const QString prefix = u"/opt/Tolvo Preview"_s; // the path is quoted
        // Escaped for a JSON string, as the user pastes it: \" stands for a double quote.
        const QString start =
            uR"(jq -c --arg pid \"$PPID\" '{instance: $pid, event: .hook_event_name, tool: (.tool_name // null), details: (.prompt // .compact_trigger // (.tool_input | tojson) // null), working_directory: .cwd}' | \")"_s;
        QCOMPARE(start.size(), 201);
        const QString command = HookConfiguration::hookCommand(prefix);
        QCOMPARE(command, start + prefix + uR"(/share/tolvo/tolvo.sh\")"_s);

        const QString text = HookConfiguration::hooksConfiguration(prefix);
        QVERIFY(text.startsWith(u"\"hooks\": {"_s) && text.endsWith(u"\n}"_s));
        QCOMPARE(text.count(command), 7);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(('{' + text + '}').toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        // What Claude Code reads back: one command hook per event, the escaping undone.
        const QJsonArray hook{QJsonObject{
            {u"matcher"_s, u""_s},
            {u"hooks"_s, QJsonArray{QJsonObject{
                             {u"type"_s, u"command"_s},
                             {u"command"_s, QString(command).replace(u"\\\""_s, u"\""_s)}}}}}};
        QCOMPARE(document.object(),
                 (QJsonObject{{u"hooks"_s, QJsonObject{{u"UserPromptSubmit"_s, hook},
                                                       {u"PreToolUse"_s, hook},
                                                       {u"PostToolUse"_s, hook},
                                                       {u"Stop"_s, hook},
                                                       {u"SubagentStop"_s, hook},
                                                       {u"Notification"_s, hook},
                                                       {u"PreCompact"_s, hook}}}}));
    }
};

QTEST_APPLESS_MAIN(TestHookConfiguration)
#include "tst_hookconfiguration.moc"
