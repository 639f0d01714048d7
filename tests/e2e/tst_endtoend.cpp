// One Claude Code session end to end: the real hook command (tolvo.sh,
// tolvo-hook, the event pipe) feeds a running instance manager, and its
// notifications are read back from a real notification server.

#include "defaultsstore.h"
#include "desktopnotifier.h"
#include "hooksession.h"
#include "instancemanager.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

namespace {

const QString project = QStringLiteral("/home/user/code/webshop");

// (summary, body) of every notification the server has shown, oldest first,
// as `dunstctl history` reports them once everything on screen is closed.
QList<QPair<QString, QString>> shownNotifications()
{
    QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    QProcess history;
    history.start(QStringLiteral("dunstctl"), {QStringLiteral("history")});
    history.waitForFinished();
    const QJsonArray entries =
        QJsonDocument::fromJson(history.readAllStandardOutput()).object().value(u"data").toArray().first().toArray();
    QList<QPair<QString, QString>> shown;
    for (const QJsonValue &entry : entries) {
        const QJsonObject o = entry.toObject();
        shown.prepend({o.value(u"summary").toObject().value(u"data").toString(),
                       o.value(u"body").toObject().value(u"data").toString()});
    }
    return shown;
}

QString entryText(const ActivityEvent &e)
{
    return e.eventType + u'|' + e.toolName.value_or(QString()) + u'|' + e.details.value_or(QString());
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aSessionFromPromptToIdle()
    {
        TestHome home;
        ConsoleCapture console;
        DefaultsStore defaults(home.defaultsPath());
        DesktopNotifier notifier;
        InstanceManager manager(defaults, notifier);
        QTRY_VERIFY(QFile::exists(home.path() + QStringLiteral("/.tolvo/tolvo.pid")));
        HookSession claude(TestPaths::buildPrefix());
        const QString pid = QString::number(claude.pid());

        // Sends one hook input and waits until the manager has logged it.
        qsizetype expectedLog = 0;
        const auto send = [&](const QString &fixture) {
            console.clear();
            QVERIFY(claude.send(HookSession::fixture(fixture)));
            ++expectedLog;
            QTRY_VERIFY(!manager.instances().isEmpty()
                        && manager.instances().first().activityLog.size() == expectedLog);
        };
        const auto instance = [&]() -> const ClaudeCodeInstance & { return manager.instances().first(); };

        // The prompt creates the instance.
        send(QStringLiteral("UserPromptSubmit.json"));
        QCOMPARE(console.lines(), QStringList({
            "🔍 handleHookEvent called with event: UserPromptSubmit, PID: " + pid + ", workingDirectory: " + project,
            "✅ New Claude instance detected with PID " + pid + " at " + project,
            "   Full event data: event=UserPromptSubmit, tool=nil, details=list the files",
            "💾 Saved 1 custom project names",
            "💾 Saved default name 'webshop' for " + project,
            "💾 Saved instance order",
            "💾 Saved 1 instance data",
        }));
        QCOMPARE(instance().lastPrompt, std::optional<QString>(QStringLiteral("list the files")));

        // The command asks for permission; the session waits.
        send(QStringLiteral("PreToolUse-Bash.json"));
        QCOMPARE(console.lines(), QStringList({"🔍 handleHookEvent called with event: PreToolUse, PID: " + pid
                                               + ", workingDirectory: " + project}));
        QCOMPARE(entryText(instance().activityLog.last()), QStringLiteral("PreToolUse|Bash|ls -la"));
        send(QStringLiteral("Notification-permission_prompt.json"));
        QCOMPARE(instance().status, InstanceStatus::waitingForInput);
        QCOMPARE(instance().currentTool, std::optional<QString>(QStringLiteral("Bash")));
        QCOMPARE(entryText(instance().activityLog.last()), QStringLiteral("Notification||"));
        QVERIFY(instance().activityLog.last().rawJSON->contains(QStringLiteral("\"details\": \"permission_prompt\"")));

        // Approved, run, done.
        send(QStringLiteral("PostToolUse-Bash.json"));
        send(QStringLiteral("Stop.json"));
        QCOMPARE(instance().status, InstanceStatus::ready);
        QCOMPARE(instance().currentTool, std::nullopt);
        QCOMPARE(instance().lastPrompt, std::optional<QString>(QStringLiteral("ls -la")));

        // A file written inside the project shows as its relative path.
        send(QStringLiteral("PreToolUse-Write.json"));
        QCOMPARE(entryText(instance().activityLog.last()), QStringLiteral("PreToolUse|Write|notes.txt"));
        send(QStringLiteral("PostToolUse-Write.json"));

        // /compact, with its two subagent stops.
        send(QStringLiteral("PreCompact-manual.json"));
        QCOMPARE(entryText(instance().activityLog.last()), QStringLiteral("PreCompact||Compacting Context"));
        send(QStringLiteral("SubagentStop.json"));
        send(QStringLiteral("SubagentStop.json"));
        send(QStringLiteral("Stop.json"));

        // The idle prompt: the record carries no message, so Tolvo sees a plain
        // notification after a finished turn.
        send(QStringLiteral("Notification-idle_prompt.json"));
        QCOMPARE(instance().status, InstanceStatus::ready);
        QCOMPARE(instance().unreadEventCount, expectedLog);

        const QString title = QStringLiteral("Claude Code - webshop");
        const QList<QPair<QString, QString>> expected = {
            {title, QStringLiteral("Permission required for: Bash")},
            {title, QStringLiteral("Completed: ls -la")},
            {title, QStringLiteral("Completed: Compacting Context")},
            {title, QStringLiteral("Notification")},
        };
        QTRY_COMPARE(shownNotifications(), expected);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
