// Text from a session that tries to be something else than text: markup of
// every kind the screen or the notification server might interpret, control
// characters, direction overrides, clusters that must not be split, a
// megabyte, and escapes that are not valid UTF-16. Each goes through the real
// hook command (tolvo.sh, tolvo-hook, the event pipe) into the running
// application, and must come out literally in the row, the log, the JSON panel
// and the notifications, in bounded time.

#include "appharness.h"
#include "desktopnotifier.h"
#include "hooksession.h"
#include "textrules.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTextBoundaryFinder>

namespace {

// A JSON string literal's contents (without the quotes) for a text.
QByteArray jsonContents(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(2, array.size() - 4);
}

// A hook input as Claude Code writes it; @DIR@ and @TEXT@ stand for the
// contents of JSON strings.
QByteArray hookInput(const char *event, const QByteArray &members, const QByteArray &directory,
                     const QByteArray &text)
{
    QByteArray input = "{\"session_id\":\"s\",\"transcript_path\":\"/t.jsonl\",\"cwd\":\"@DIR@\","
                       "\"hook_event_name\":\"" +
                       QByteArray(event) + "\"" + members + "}";
    return input.replace("@DIR@", directory).replace("@TEXT@", text);
}

// What a notification server shows for Pango markup: the text between the
// tags, with entities resolved.
QString visibleText(QStringView markup)
{
    static const QHash<QString, QChar> named{
        {"lt", u'<'}, {"gt", u'>'}, {"amp", u'&'}, {"quot", u'"'}, {"apos", u'\''}};
    QString shown;
    for (qsizetype i = 0; i < markup.size(); ++i) {
        const QChar c = markup.at(i);
        const qsizetype end = c == u'<'   ? markup.indexOf(u'>', i)
                              : c == u'&' ? markup.mid(i, 10).indexOf(u';') + i
                                          : -1;
        if (c == u'<' && end > 0) {
            i = end;
        } else if (c == u'&' && end > i) {
            const QStringView entity = markup.sliced(i + 1, end - i - 1);
            if (entity.startsWith(u"#x"))
                shown += QChar(entity.mid(2).toUInt(nullptr, 16));
            else if (entity.startsWith(u'#'))
                shown += QChar(entity.mid(1).toUInt());
            else
                shown += named.value(entity.toString());
            i = end;
        } else if (c == u'&' && markup.size() - i < 10) {
            break; // an entity cut off where the server shortened the text
        } else {
            shown += c;
        }
    }
    return shown;
}

// (summary, what the server shows) of every notification after `afterId`.
QList<QPair<QString, QString>> notificationsSince(qint64 &afterId)
{
    QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    QProcess history;
    history.start(QStringLiteral("dunstctl"), {QStringLiteral("history")});
    history.waitForFinished(30000);
    const QJsonArray entries = QJsonDocument::fromJson(history.readAllStandardOutput())
                                   .object()
                                   .value(u"data")
                                   .toArray()
                                   .first()
                                   .toArray();
    QList<QPair<QString, QString>> shown;
    qint64 newest = afterId;
    for (const QJsonValue &entry : entries) {
        const QJsonObject o = entry.toObject();
        const qint64 id = o.value(u"id").toObject().value(u"data").toInteger();
        if (id <= afterId)
            continue;
        newest = qMax(newest, id);
        shown.prepend({o.value(u"summary").toObject().value(u"data").toString(),
                       visibleText(o.value(u"message").toObject().value(u"data").toString())});
    }
    afterId = newest;
    return shown;
}

// Where two long texts part, readably; empty when they are equal.
QByteArray difference(const QString &actual, const QString &expected)
{
    if (actual == expected)
        return {};
    qsizetype at = 0;
    while (at < actual.size() && at < expected.size() && actual.at(at) == expected.at(at))
        ++at;
    const auto around = [at](const QString &text) {
        return QString::fromUtf8(QJsonDocument(QJsonArray{text.mid(qMax(0, at - 20), 40)})
                                     .toJson(QJsonDocument::Compact));
    };
    return QStringLiteral("lengths %1 and %2, first difference at %3: %4 instead of %5")
        .arg(actual.size())
        .arg(expected.size())
        .arg(at)
        .arg(around(actual), around(expected))
        .toUtf8();
}

#define COMPARE_TEXT(actual, expected)                                                             \
    do {                                                                                           \
        const QByteArray why = difference(actual, expected);                                       \
        QVERIFY2(why.isEmpty(), why.constData());                                                  \
    } while (false)

// Every text item of a subtree that holds text with markup characters shows
// it as plain text.
bool everyTextIsPlain(QQuickItem *root)
{
    for (QQuickItem *item : findItems(root, QString())) {
        const QVariant format = item->property("textFormat");
        const QString text = item->property("text").toString();
        if (!format.isValid() || !(text.contains(u'<') || text.contains(u'&')))
            continue;
        if (format.toInt() != 0) { // Text.PlainText and TextEdit.PlainText
            qWarning() << item << "interprets" << text.left(80);
            return false;
        }
    }
    return true;
}

QString textOf(QQuickItem *root, const QString &name)
{
    QQuickItem *item = findItem(root, name);
    return item ? item->property("text").toString() : QStringLiteral("<no %1>").arg(name);
}

// "<prefix><text cut at `limit` characters>..." or "<prefix><text>": the
// cut keeps whole characters.
bool isShortenedAtCharacters(const QString &shown, const QString &prefix, const QString &text,
                             qsizetype limit)
{
    if (!shown.startsWith(prefix))
        return false;
    const QString rest = shown.mid(prefix.size());
    if (rest == text)
        return TextRules::characterCount(text) <= limit;
    if (!rest.endsWith(u"...") || !text.startsWith(rest.chopped(3)))
        return false;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(rest.size() - 3);
    return finder.isAtBoundary() && TextRules::characterCount(rest.chopped(3)) == limit;
}

} // namespace

class TestHostileText : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppHarness> h;
    qint64 lastNotification = 0;
    int sessionCount = 0;

    QQuickItem *rowNamed(const QString &name)
    {
        QQuickItem *found = nullptr;
        const bool appeared = QTest::qWaitFor(
            [&] {
                for (QQuickItem *row :
                     findItems(h->window->contentItem(), QStringLiteral("instanceRow")))
                    if (row->property("displayName").toString() == name)
                        found = row;
                return found != nullptr;
            },
            20000);
        return appeared ? found : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        h = std::make_unique<AppHarness>();
        QVERIFY(h->start());
        QTRY_VERIFY(QFile::exists(h->home.path() + QStringLiteral("/.tolvo/tolvo.pid")));
        notificationsSince(lastNotification);
    }
    // A failed row leaves nothing behind for the next: rows below the visible
    // part of the list would not be created at all.
    void cleanup()
    {
        const QList<ClaudeCodeInstance> left = h->manager().instances();
        for (const ClaudeCodeInstance &instance : left)
            h->manager().removeInstance(instance.id);
        QTest::qWait(200);
        notificationsSince(lastNotification);
    }
    void cleanupTestCase() { h.reset(); }

    void shownLiterally_data()
    {
        QTest::addColumn<QByteArray>("json"); // the text as it stands in the hook input
        QTest::addColumn<QString>("text");    // the text the hook hands on; null when it refuses

        const auto row = [](const char *name, const QString &text) {
            QTest::newRow(name) << jsonContents(text) << text;
        };
        row("html", QStringLiteral("<b>bold</b> <a href=\"https://x.org\">link</a> <img src=x>"));
        row("rich text", QStringLiteral("<html><body><h1>Big</h1><font color=red>red</font>"));
        row("pango markup",
            QStringLiteral("<span foreground=\"red\" size=\"xx-large\">big</span> <u>u</u>"));
        row("entities", QStringLiteral("&lt;b&gt; &amp;amp; &#60;i&#62; &nbsp; & <"));
        row("control characters",
            QStringLiteral("bell\a back\b \x1b[31mred\x1b[0m\ttab\rcr\nline\x7f \u0085 end"));
        row("right-to-left override",
            QStringLiteral("\u202Egnp.exe\u202C report \u2066iso\u2069 \u200Fmark"));
        row("combining clusters", QStringLiteral("e\u0301").repeated(45));
        row("emoji sequences",
            QStringLiteral(" \U0001F468\u200D\U0001F469\u200D\U0001F467 \U0001F1EB\U0001F1EE")
                .repeated(12));
        row("stacked marks",
            QStringLiteral(" Z\u0351\u034B\u0352\u0357\u0350\u0346\u0315\u0362").repeated(10));
        row("a megabyte of markup", QStringLiteral("<i>ab</i>&amp;").repeated(1 << 16));
        QTest::newRow("lone low surrogate")
            << QByteArray("before\\udc00after") << QStringLiteral("before\uFFFDafter");
        QTest::newRow("lone high surrogate")
            << QByteArray("before\\ud800after") << QStringLiteral("before\uFFFDafter");
        // JSON has no raw control characters in strings.
        QTest::newRow("raw control character") << QByteArray("before\001after") << QString();
        QTest::newRow("nul") << QByteArray("before\\u0000after")
                             << QStringLiteral("before") + QChar(0) + "after";
    }

    // One session: a prompt, a tool with this text as its name and in its
    // file path, a permission request, a command, and the end of the turn.
    void shownLiterally()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, text);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QElapsedTimer timer;
        timer.start();

        // The directory's last component carries the text too.
        const int session = ++sessionCount;
        QByteArray name = json;
        name.replace('/', '_').append("-" + QByteArray::number(session));
        const QByteArray directory = "/home/user/" + name;
        const QString shownName =
            text.isNull() ? QString()
                          : QString(text).replace(u'/', u'_') + u'-' + QString::number(session);

        HookSession claude(TestPaths::buildPrefix());
        const auto send = [&](const char *event, const QByteArray &members) {
            return claude.send(hookInput(event, members, directory, json));
        };
        QVERIFY(send("UserPromptSubmit", ",\"prompt\":\"@TEXT@\""));

        if (text.isNull()) {
            // The hook refuses the input, so nothing arrives; the pipe still works.
            QVERIFY(send("PreToolUse", ",\"tool_name\":\"@TEXT@\",\"tool_input\":{}"));
            QVERIFY(claude.send(hookInput("UserPromptSubmit", ",\"prompt\":\"after\"",
                                          "/home/user/after-refusal", {})));
            QVERIFY(rowNamed(QStringLiteral("after-refusal")));
            QCOMPARE(h->manager().instances().size(), 1);
            return;
        }

        QQuickItem *row = rowNamed(shownName);
        QVERIFY(row);
        COMPARE_TEXT(textOf(row, QStringLiteral("title")), shownName);
        QVERIFY(isShortenedAtCharacters(textOf(row, QStringLiteral("statusLine")),
                                        QStringLiteral("Prompted: "), text, 40));

        QVERIFY(send("PreToolUse",
                     ",\"tool_name\":\"@TEXT@\",\"tool_input\":{\"file_path\":\"@DIR@/@TEXT@\"}"));
        QVERIFY(send("Notification", ",\"message\":\"Claude needs your "
                                     "permission\",\"notification_type\":\"permission_prompt\""));
        QVERIFY(
            send("PreToolUse", ",\"tool_name\":\"Bash\",\"tool_input\":{\"command\":\"@TEXT@\"}"));
        QTRY_VERIFY(isShortenedAtCharacters(textOf(row, QStringLiteral("statusLine")),
                                            QStringLiteral("Working: Bash \u2192 "), text, 40));
        QVERIFY(send("Stop", {}));
        QTRY_COMPARE(textOf(row, QStringLiteral("statusLine")), QStringLiteral("Ready"));

        // The log, newest entry last.
        QMetaObject::invokeMethod(row, "toggleExpanded");
        QTRY_COMPARE(findItems(row, QStringLiteral("logEntry")).size(), 5);
        QList<QQuickItem *> entries = findItems(row, QStringLiteral("logEntry"));
        std::sort(entries.begin(), entries.end(), [](QQuickItem *a, QQuickItem *b) {
            return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
        });
        COMPARE_TEXT(entries.at(0)->property("detailsText").toString(), text);
        COMPARE_TEXT(entries.at(1)->property("toolText").toString(),
                     QStringLiteral("\u2022 ") + text);
        COMPARE_TEXT(entries.at(3)->property("detailsText").toString(), text);

        // The JSON panel reads back as the record that arrived.
        QMetaObject::invokeMethod(findItem(entries.at(0), QStringLiteral("jsonButton")), "clicked");
        QTRY_VERIFY(findItem(entries.at(0), QStringLiteral("jsonText")));
        const QString json0 = textOf(entries.at(0), QStringLiteral("jsonText"));
        COMPARE_TEXT(QJsonDocument::fromJson(json0.toUtf8()).object().value(u"details").toString(),
                     text);
        QVERIFY(everyTextIsPlain(row));

        // Both notifications, as the server shows them: NUL stands in as the
        // replacement character, long texts are shortened before sending, and
        // the server may shorten them further, keeping the beginning.
        const QString summary = notificationText(QStringLiteral("Claude Code - ") + shownName);
        const QList<QPair<QString, QString>> expected = {
            {summary, summary + u'\n' +
                          notificationText(QStringLiteral("Permission required for: ") + text)},
            {summary, summary + u'\n' + notificationText(QStringLiteral("Completed: ") + text)},
        };
        // The window's own work is bounded.
        qInfo() << "the window took" << timer.elapsed() << "ms";
        QVERIFY(timer.elapsed() < 30000);
        QList<QPair<QString, QString>> shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown += notificationsSince(lastNotification)).size() >= 2,
                                 180000);
        QCOMPARE(shown.size(), expected.size());
        for (qsizetype i = 0; i < shown.size(); ++i) {
            COMPARE_TEXT(shown.at(i).first, expected.at(i).first);
            const QString &message = shown.at(i).second;
            QVERIFY(message.size() >= qMin(expected.at(i).second.size(), 20000));
            COMPARE_TEXT(message, expected.at(i).second.left(message.size()));
        }

        qInfo() << "with the notifications" << timer.elapsed() << "ms";
    }
};

QTEST_MAIN(TestHostileText)
#include "tst_hostiletext.moc"
