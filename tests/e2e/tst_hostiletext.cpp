// Text that tries to be more than text (markup, control characters,
// direction overrides, a megabyte, broken escapes) through the real hook
// command into the running application: it comes out literally in the row,
// the log, the JSON panel and the notification server.

#include "activitylogmodel.h"
#include "appharness.h"
#include "hooksession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace {

// Whether `shown` is `prefix` and `text`, whole or cut between two characters.
bool quotes(const QString &shown, const QString &prefix, const QString &text)
{
    const QString rest = shown.mid(prefix.size());
    QTextBoundaryFinder cut(QTextBoundaryFinder::Grapheme, text);
    cut.setPosition(rest.size() - 3);
    return shown.startsWith(prefix) &&
           (rest == text ||
            (rest.endsWith(u"...") && text.startsWith(rest.chopped(3)) && cut.isAtBoundary()));
}

// What a server that reads bodies as markup shows, if the only markup in
// the body is the escapes of <, > and &.
QString visible(QString body)
{
    if (body.contains(u'<') || body.contains(QRegularExpression(u"&(?!(lt|gt|amp);)"_s)))
        return u"<markup>"_s;
    return body.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&amp;"_s, u"&"_s);
}

} // namespace

class TestHostileText : public QObject
{
    Q_OBJECT
    AppHarness h;
    qsizetype lastShown = 0;

private Q_SLOTS:
    void initTestCase() { QVERIFY(h.start()); }
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }
    void cleanup()
    {
        while (h.sessions().count() > 0)
            h.sessions().remove(0);
        Desktop::notificationsSince(lastShown);
    }

    void shownLiterally_data()
    {
        QTest::addColumn<QByteArray>("json"); // as it stands in the hook input
        QTest::addColumn<QString>("text");    // null: the hook refuses the input
        const auto row = [](const char *name, const QString &text) {
            const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
            QTest::newRow(name) << array.mid(2, array.size() - 4) << text;
        };
        row("markup",
            u"<b>b</b> <a href=\"https://x.org\">a</a> <span size=\"xx-large\">big</span> <img src=x> &lt;i&gt; &amp;amp; &#60; & <"_s);
        row("control characters",
            u"bell\a back\b \x1b[31mred\x1b[0m\ttab\rcr\nline\x7f \u0085 end"_s);
        row("direction overrides", u"\u202Egnp.exe\u202C report \u2066iso\u2069 \u200Fmark"_s);
        row("clusters", u"e\u0301"_s.repeated(25) +
                            u" \U0001F468\u200D\U0001F469\u200D\U0001F467"_s.repeated(9));
        row("a megabyte of markup", u"<i>ab</i>&amp;"_s.repeated(1 << 16));
        QTest::newRow("lone surrogate") << QByteArray("a\\udc00b") << u"a\uFFFDb"_s;
        QTest::newRow("nul") << QByteArray("a\\u0000b") << u"a"_s + QChar(0) + u"b"_s;
        QTest::newRow("raw control character") << QByteArray("a\001b") << QString();
    }

    // A prompt, a permission request for a command, the end of the turn.
    void shownLiterally()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, text);
        HookSession claude(TestPaths::buildPrefix());
        const auto send = [&](const char *event, const char *members) {
            return claude.send(
                "{\"session_id\":\"s\",\"cwd\":\"/w/hostile\",\"hook_event_name\":\"" +
                QByteArray(event) + "\"," + QByteArray(members).replace("@", json) + '}');
        };
        QVERIFY(send("UserPromptSubmit", "\"prompt\":\"@\""));
        QVERIFY(
            send("PermissionRequest", "\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"@\"}"));
        if (text.isNull()) { // and the pipe works on
            QVERIFY(send("UserPromptSubmit", "\"prompt\":\"after\""));
            QTRY_COMPARE(h.sessions().count(), 1);
            QCOMPARE(h.sessions().session(0).activityLog.size(), 1);
            return;
        }
        QTRY_COMPARE(h.sessions().count(), 1);
        const QModelIndex session = h.sessions().index(0);
        QTRY_VERIFY(quotes(session.data(InstanceManager::StatusLineRole).toString(),
                           u"Waiting for Input: Bash → "_s, text));
        // The notifications as the server has them, one at a time: a
        // session's next one takes the place of its last. D-Bus carries no NUL.
        const QString carried = QString(text).replace(QChar(0), QChar::ReplacementCharacter);
        const auto notified = [&](const QString &prefix, const QString &quoted) {
            QStringList shown;
            return QTest::qWaitFor([&] {
                       return !(shown = Desktop::notificationsSince(lastShown)).isEmpty();
                   }) &&
                   shown.size() == 1 &&
                   quotes(visible(shown[0]), u"Claude Code - hostile: "_s + prefix, quoted);
        };
        QVERIFY(notified(u"Permission required for: Bash → "_s, carried));
        QVERIFY(send("Stop", "\"last_assistant_message\":\"done\""));
        QVERIFY(notified(u"Completed: "_s, carried + u"\ndone"_s));

        // The log, open, with the prompt's raw record shown.
        auto *log = qobject_cast<ActivityLogModel *>(h.sessions().activityLog(0));
        QTRY_COMPARE(log->count(), 3);
        QCOMPARE(log->index(0).data(ActivityLogModel::DetailsTextRole).toString(), text);
        QVERIFY(h.sessions().setData(session, true, InstanceManager::ExpandedRole));
        QVERIFY(log->setData(log->index(0), true, ActivityLogModel::JsonShownRole));
        QQuickItem *json0 = nullptr;
        QTRY_VERIFY((json0 = h.find(u"jsonText"_s)));
        const QJsonDocument record =
            QJsonDocument::fromJson(json0->property("text").toString().toUtf8());
        QCOMPARE(record[u"details"].toString(), text);
        int showing = 0; // the status line, the log line, the JSON panel
        for (QQuickItem *item : findItems(h.window->contentItem(), QString())) {
            if (!item->property("text").toString().contains(text.left(6)))
                continue;
            QCOMPARE(item->property("textFormat").toInt(), int(Qt::PlainText));
            ++showing;
        }
        QVERIFY(showing >= 2);
    }
};

QTEST_MAIN(TestHostileText)
#include "tst_hostiletext.moc"
