// Text that tries to be more than text through the real hook command: it comes
// out literally in the row, the log, the JSON panel and the notification server.

#include "activitylogmodel.h"
#include "appharness.h"
#include "defaultsstore.h"
#include "hooksession.h"
#include "session.h"
#include "settingstable.h"
#include "textrules.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

// Whether `shown` is `prefix` and `text`, whole or shortened ("...").
static bool quotes(const QString &shown, const QString &prefix, const QString &text)
{
    const QString rest = shown.mid(prefix.size());
    return shown.startsWith(prefix) &&
           (rest == text || (rest.endsWith(u"...") && text.startsWith(rest.chopped(3))));
}

class TestHostileText : public QObject
{
    Q_OBJECT
    AppHarness h;
    qsizetype seen = 0; // notifications

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(h.start());
        // What the row shows, not the answers: the hook returns at once.
        h.app->defaults().setBool(Settings::holdPermissionRequests, false);
    }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }
    void cleanup()
    {
        while (h.sessions().count() > 0)
            h.sessions().remove(0);
        Desktop::notificationsSince(seen);
    }

    void shownLiterally_data()
    {
        QTest::addColumn<QString>("agent");   // the hook command's word; empty: Claude Code
        QTest::addColumn<QByteArray>("json"); // as it stands in the hook input
        QTest::addColumn<QString>("text");    // as it arrives
        const auto row = [](const char *name, const QString &text, const QString &agent = {}) {
            const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
            QTest::newRow(qPrintable(agent.isEmpty() ? QString::fromUtf8(name)
                                                     : agent + u": "_s + QString::fromUtf8(name)))
                << agent << array.mid(2, array.size() - 4) << text;
        };
        row("markup",
            u"<b>b</b> <a href=\"https://x.org\">a</a> <span size=\"xx-large\">big</span> "
            u"<img src=x> &lt;i&gt; &amp;amp; &#60; & <"_s);
        row("control characters",
            u"bell\a back\b \x1b[31mred\x1b[0m\ttab\rcr\nline\x7f \u0085 end"_s);
        row("direction overrides", u"\u202Egnp.exe\u202C report \u2066iso\u2069 \u200Fmark"_s);
        row("clusters", u"e\u0301"_s.repeated(25) +
                            u" \U0001F468\u200D\U0001F469\u200D\U0001F467"_s.repeated(9));
        row("a megabyte of markup", u"<i>ab</i>&amp;"_s.repeated(1 << 16));
        QTest::newRow("lone surrogate") << QString() << QByteArray("a\\udc00b") << u"a\uFFFDb"_s;
        QTest::newRow("nul") << QString() << QByteArray("a\\u0000b") << u"a"_s + QChar(0) + u"b"_s;
        // The other agents' records, in their own shapes.
        for (const QString &agent : {u"codex"_s, u"gemini"_s}) {
            row("markup", u"<b>b</b> <a href=\"https://x.org\">a</a> &amp; & <"_s, agent);
            row("control characters", u"bell\a \x1b[31mred\x1b[0m\rcr\nline \u202Eevil"_s, agent);
        }
    }

    void shownLiterally()
    {
        QFETCH(QString, agent);
        QFETCH(QByteArray, json);
        QFETCH(QString, text);
        HookSession claude(TestPaths::buildPrefix(), agent);
        const auto send = [&](const char *event, const char *members) {
            return claude.send(
                "{\"cwd\":\"/w/hostile\",\"session_id\":\"s-hostile\",\"hook_event_name\":\"" +
                QByteArray(event) + "\"," + QByteArray(members).replace("@", json) + '}');
        };
        const bool gemini = agent == u"gemini";
        const QString tool = gemini ? u"Shell"_s : u"Bash"_s;
        if (gemini) {
            QVERIFY(send("BeforeAgent", "\"prompt\":\"@\""));
            QVERIFY(send("BeforeTool",
                         "\"tool_name\":\"run_shell_command\",\"tool_input\":{\"command\":\"@\"}"));
            QVERIFY(send("Notification", "\"notification_type\":\"ToolPermission\","
                                         "\"message\":\"@\",\"details\":{\"command\":\"@\"}"));
        } else {
            QVERIFY(send("UserPromptSubmit", "\"prompt\":\"@\""));
            QVERIFY(send("PermissionRequest",
                         "\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"@\"}"));
        }
        QTRY_VERIFY(quotes(h.sessions().index(0).data(SessionListModel::StatusLineRole).toString(),
                           u"Waiting for Input: "_s + tool + u" → "_s, text));
        // One at a time (a session's next one replaces its last); no NUL on D-Bus.
        const QString carried = QString(text).replace(QChar(0), QChar::ReplacementCharacter);
        const QString title = agent.isEmpty() ? u"Claude Code - hostile: "_s
                                              : agentName(agentOfHook(agent)) + u" — hostile: "_s;
        const auto notified = [&](const QString &prefix, const QString &quoted) {
            const QStringList shown = Desktop::nextNotifications(seen);
            return shown.size() == 1 &&
                   quotes(Desktop::shownBody(shown[0]), title + prefix, quoted);
        };
        // Gemini's notice of its prompt names the tool only.
        QVERIFY(gemini ? notified(u"Permission required for: Shell"_s, QString())
                       : notified(u"Permission required for: Bash → "_s, carried));
        // The row open, with the prompt's raw record; all of it plain text.
        auto *log = qobject_cast<ActivityLogModel *>(h.sessions().activityLog(0));
        QTRY_COMPARE(log->count(), gemini ? 3 : 2);
        QVERIFY(h.sessions().setData(h.sessions().index(0), true, SessionListModel::ExpandedRole));
        QVERIFY(log->setData(log->index(0), true, ActivityLogModel::JsonShownRole));
        QTRY_VERIFY(h.find(u"jsonText"_s));
        const QString record = h.find(u"jsonText"_s)->property("text").toString(); // pretty
        QCOMPARE(QJsonDocument::fromJson(record.toUtf8())[u"details"].toString(), text);
        int showing = 0; // the status line, the log lines, the JSON panel
        for (QQuickItem *item : findItems(h.window->contentItem(), QString())) {
            if (item->property("text").toString().contains(text.left(6))) {
                QCOMPARE(item->property("textFormat").toInt(), int(Qt::PlainText));
                ++showing;
            }
        }
        QVERIFY(showing >= 3);
        QVERIFY(gemini ? send("AfterAgent", "\"prompt_response\":\"done\"")
                       : send("Stop", "\"last_assistant_message\":\"done\""));
        // With Claude's answer below it, the prompt is shortened.
        QVERIFY(notified(u"Completed: "_s, TextRules::shortened(carried, 120) + u"\ndone"_s));
    }
};

QTEST_MAIN(TestHostileText)
#include "tst_hostiletext.moc"
