// A Claude Code session's life through the real hook command into the running
// application, read back from its row, from what scripts read and from dunst.

#include "appharness.h"
#include "busservice.h"
#include "defaultsstore.h"
#include "hooksession.h"
#include "namedpipelistener.h"
#include "settingstable.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

// The record the older hook command's jq filter made of a hook input.
static const QString jqFilter =
    u"{instance: $pid, event: .hook_event_name, tool: (.tool_name // null), details: (.prompt "
    u"// .compact_trigger // (.tool_input | tojson) // null), working_directory: .cwd}"_s;

class TestEndToEnd : public QObject
{
    Q_OBJECT
    AppHarness h;
    HookSession claude{TestPaths::buildPrefix()}; // in the harness's home
    int arrived = 0;
    qsizetype lastShown = 0;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(h.start());
        h.app->defaults().setBool(Settings::notifyOnIdle, true); // off by default
        QTRY_VERIFY(QFile::exists(h.home.tolvoPath() + u"/tolvo.pid"_s));
        connect(&h.app->listener(), &NamedPipeListener::eventReceived, this, [this] { ++arrived; });
        Desktop::notificationsSince(lastShown);
    }

    void aSessionsLife_data()
    {
        QTest::addColumn<QString>("input"); // the next one; "jq:": as the older jq filter's record
        QTest::addColumn<QString>("statusLine");
        QTest::addColumn<QString>("status");   // the token scripts read
        QTest::addColumn<QString>("notified"); // the body on screen; empty: none
        const auto row = [](const char *input, const char *line, const char *status,
                            const char *notified = "") {
            QTest::newRow(input) << QString::fromUtf8(input) << QString::fromUtf8(line)
                                 << QString::fromUtf8(status) << QString::fromUtf8(notified);
        };
        row("SessionStart-startup", "Ready", "ready");
        row("UserPromptSubmit", "Prompted: list the files", "working");
        row("PreToolUse-Bash", "Working: Bash → ls -la", "working");
        row("PermissionRequest-Bash", "Waiting for Input: Bash → rm -f notes.txt", "waiting",
            "Permission required for: Bash → rm -f notes.txt");
        row("Notification-permission_prompt", "Waiting for Input: Bash → rm -f notes.txt",
            "waiting");
        row("PostToolUse-Bash", "Working: Bash → ls -la", "working");
        row("Stop", "Ready", "ready", "Completed: ls -la\nAll done.");
        row("Notification-idle_prompt", "Ready", "ready", "Claude Code is now idle");
        row("jq:PreToolUse-Bash", "Working: Bash → ls -la", "working");
        row("jq:Notification-permission_prompt", "Waiting for Input: Bash", "waiting",
            "Permission required for: Bash");
        row("jq:Stop", "Ready", "ready", "Completed: ls -la");
        row("jq:Notification-idle_prompt", "Ready", "ready"); // no type: never "Notification"
        row("StopFailure", "Failed: Rate limit reached", "failed", "Failed: Rate limit reached");
        row("SessionEnd-prompt_input_exit", "Ready", "ready");
    }

    void aSessionsLife()
    {
        QFETCH(QString, input);
        QFETCH(QString, statusLine);
        QFETCH(QString, status);
        QFETCH(QString, notified);
        QSignalSpy notices(&h.sessions(), &SessionListModel::notificationRequested);
        const int before = arrived;
        if (input.startsWith(u"jq:")) { // a record line written straight into the pipe
            QProcess jq;
            jq.setStandardOutputFile(h.home.pipePath(), QIODevice::Append);
            jq.start(u"jq"_s, {u"-c"_s, u"--arg"_s, u"pid"_s, QString::number(claude.pid()),
                               jqFilter, TestPaths::fixture(input.mid(3) + u".json"_s)});
            QVERIFY(jq.waitForFinished() && jq.exitCode() == 0);
        } else {
            QVERIFY(claude.send(HookSession::fixture(input + u".json"_s)));
        }
        QTRY_COMPARE(arrived, before + 1);
        QCOMPARE(h.sessions().count(), 1);
        QCOMPARE(h.sessions().data(h.sessions().index(0), SessionListModel::StatusLineRole),
                 statusLine);
        const QJsonArray script =
            QJsonDocument::fromJson(sessionsJson(h.sessions()).toUtf8()).array();
        QCOMPARE(script[0][u"status"].toString(), status);
        QCOMPARE(script[0][u"exited"].toBool(), input.startsWith(u"SessionEnd"));

        QCOMPARE(notices.size(), notified.isEmpty() ? 0 : 1); // any more would show up next

        if (notified.isEmpty())
            return;
        QCOMPARE(Desktop::nextNotifications(lastShown),
                 QStringList(u"Claude Code - webshop: "_s + notified));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
