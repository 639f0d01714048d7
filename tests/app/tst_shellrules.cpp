// What the shell tells the desktop and scripts about the sessions: the tray's
// summary, the JSON of the status service and how often it says so, what it
// takes from the desktop, and how its log lines look.
#include "busservice.h"
#include "sessionlistmodel.h"
#include "logging.h"
#include "sessionstore.h"
#include "testsupport.h"
#include "traystatus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A session list over a private home with one session per word of
// "working,waiting!,ready": "!" marks an exited process.
struct Sessions
{
    TestHome home;
    SessionStore store{home.configPath() + u"/sessions.json"_s};
    SessionListModel list{store};

    explicit Sessions(const QString &statuses)
    {
        qint64 pid = 100;
        for (QString word : statuses.split(u',', Qt::SkipEmptyParts)) {
            const bool exited = word.endsWith(u'!');
            word.remove(u'!');
            const QString cwd = u"/w/"_s + word + QString::number(pid);
            const auto send = [&](const QString &event, const Records::Text &tool = {}) {
                list.handle(Records::event(pid, event, cwd, tool, u"{}"_s));
            };
            if (word == u"waiting") {
                send(u"PreToolUse"_s, u"Bash"_s);
                send(u"Notification"_s);
            } else {
                send(word == u"working" ? u"UserPromptSubmit"_s
                     : word == u"failed" ? u"StopFailure"_s
                                          : u"Stop"_s);
            }
            if (exited)
                list.markExited(list.rowOfPid(pid));
            ++pid;
        }
    }
};

} // namespace

class TestShellRules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void trayStatus_data()
    {
        QTest::addColumn<QString>("statuses");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<StatusColor>("color");
        const StatusColor gray = StatusColor::gray, yellow = StatusColor::yellow,
                          red = StatusColor::red;
        QTest::newRow("no sessions") << "" << u"Tolvo — idle"_s << gray;
        QTest::newRow("working") << "working,ready" << u"Tolvo — 1 working"_s << yellow;
        QTest::newRow("waiting outranks working")
            << "working,waiting,working" << u"Tolvo — 2 working, 1 waiting for input"_s << red;
        QTest::newRow("failed outranks working")
            << "working,failed" << u"Tolvo — 1 working, 1 failed"_s << StatusColor::purple;
        QTest::newRow("exited sessions count for nothing")
            << "waiting!,working!,working" << u"Tolvo — 1 working"_s << yellow;
    }
    void trayStatus()
    {
        QFETCH(QString, statuses);
        const Sessions sessions(statuses);
        const TrayStatus::Counts counts = TrayStatus::count(sessions.list);
        QTEST(TrayStatus::toolTip(counts), "toolTip");
        QTEST(TrayStatus::color(counts), "color");
    }

    // Scripts read statuses as tokens, in on-screen order.
    void sessionsJson()
    {
        Sessions sessions(u"waiting,ready!"_s);
        sessions.list.rename(0, u"Shop \"live\" ✓"_s);
        sessions.list.move(1, 0);
        const QJsonArray array =
            QJsonDocument::fromJson(::sessionsJson(sessions.list).toUtf8()).array();
        QCOMPARE(array.size(), 2);
        const QJsonObject ready = array[0].toObject(), waiting = array[1].toObject();
        QCOMPARE(ready.value(u"status").toString() + u'|' + waiting.value(u"status").toString(),
                 u"ready|waiting"_s);
        QCOMPARE(waiting.value(u"displayName").toString(), u"Shop \"live\" ✓"_s);
        QCOMPARE(waiting.value(u"currentTool").toString(), u"Bash"_s);
        QCOMPARE(waiting.value(u"statusLine").toString(), u"Waiting for Input: Bash"_s);
        QVERIFY(ready.value(u"currentTool").isNull() && ready.value(u"exited").toBool());
        QCOMPARE(waiting.value(u"pid").toInteger(), 100);
    }

    // A burst of changes is one Changed() a tenth of a second later; a change
    // after that is another.
    void changesAreCoalesced()
    {
        Sessions sessions(u"working"_s);
        BusService service(sessions.list, [](const QVariantMap &) {});
        QSignalSpy changed(&service, &BusService::Changed);
        for (int i = 0; i < 5; ++i)
            sessions.list.handle(Records::event(100, u"Stop"_s, u"/w/a"_s));
        QTest::qWait(BusService::changeIntervalMs / 2);
        QCOMPARE(changed.size(), 0);
        QTRY_COMPARE(changed.size(), 1);
        QTest::qWait(BusService::changeIntervalMs * 2);
        QCOMPARE(changed.size(), 1);
        sessions.list.remove(0);
        QTRY_COMPARE(changed.size(), 2);
    }

    void activationToken_data()
    {
        QTest::addColumn<QVariant>("token");
        QTest::addColumn<QString>("accepted");
        QTest::newRow("plain") << QVariant(u"kwin-1234_TIME5"_s) << u"kwin-1234_TIME5"_s;
        QTest::newRow("256 characters") << QVariant(QString(256, u'x')) << QString(256, u'x');
        QTest::newRow("257 characters") << QVariant(QString(257, u'x')) << QString();
        QTest::newRow("a space") << QVariant(u"a b"_s) << QString();
        QTest::newRow("a line feed") << QVariant(u"a\nb"_s) << QString();
        QTest::newRow("not ASCII") << QVariant(u"tök"_s) << QString();
    }
    void activationToken()
    {
        QFETCH(QVariant, token);
        QTEST(checkedActivationToken({{u"activation-token"_s, token}}), "accepted");
    }

    // No record can forge a log line or flood the log, whatever the message
    // pattern (null: none set, as without QT_MESSAGE_PATTERN) adds to it.
    void logLines_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("a forged line")
            << u"/w/a\n✅ New Claude instance"_s << u"/w/a\\n✅ New Claude instance"_s << QString();
        QTest::newRow("escape, bell, line separator")
            << u"a\x1b[31mb\x07\u2028"_s << u"a\\x1b[31mb\\x07\\u{2028}"_s << QString();
        QTest::newRow("300 characters stay")
            << QString(300, u'x') << QString(300, u'x') << QString();
        QTest::newRow("longer is cut")
            << QString(4 << 20, u'y') << QString(299, u'y') + QChar(0x2026) << QString();
        QTest::newRow("escapes count")
            << QString(298, u'x') + u"\n\n"_s << QString(298, u'x') + QChar(0x2026) << QString();
        QTest::newRow("category from the pattern")
            << u"💾 Saved"_s << u"[tolvo.model] 💾 Saved"_s << u"[%{category}] %{message}"_s;
        QTest::newRow("pattern and message bounded together")
            << QString(300, u'z') << u"tolvo.model\\n"_s + QString(286, u'z') + QChar(0x2026)
            << u"%{category}\n%{message}"_s;
    }
    void logLines()
    {
        QFETCH(QString, message);
        QFETCH(QString, pattern);
        qSetMessagePattern(pattern.isNull() ? Logging::plainPattern : pattern);
        const QString line = Logging::formatLine(
            QtInfoMsg, QMessageLogContext(nullptr, 0, nullptr, "tolvo.model"), message);
        qSetMessagePattern(u"%{if-category}%{category}: %{endif}%{message}"_s); // Qt's own
        QTEST(line, "line");
    }
};

QTEST_MAIN(TestShellRules)
#include "tst_shellrules.moc"
