#include "statustext.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

class TestStatusText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Sessions are given as "name:status", with a trailing "!" for an exited process.
    void statusAndWaybar_data()
    {
        QTest::addColumn<QString>("sessions");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("tooltip");

        QTest::newRow("none") << u""_s << u"no sessions"_s << u"none"_s
                              << u"No Claude Code sessions"_s;
        QTest::newRow("only earlier and exited ones")
            << u"old:Off,gone:Working!"_s << u"no sessions"_s << u"none"_s
            << u"No Claude Code sessions"_s;
        QTest::newRow("all ready") << u"a:Ready,b:Ready,c:Ready"_s << u"3 ready"_s << u"idle"_s
                                   << u"a: Ready\nb: Ready\nc: Ready"_s;
        QTest::newRow("working and waiting")
            << u"api:Working,webshop:Waiting for Input,docs:Ready,cli:Working"_s
            << u"2 working · 1 waiting: webshop"_s << u"waiting"_s
            << u"api: Working\nwebshop: Waiting for Input\ndocs: Ready\ncli: Working"_s;
        QTest::newRow("waiting ones named in order")
            << u"b:Waiting for Input,a:waiting for input"_s << u"2 waiting: b, a"_s << u"waiting"_s
            << u"b: Waiting for Input\na: waiting for input"_s;
        QTest::newRow("error") << u"x:Error,y:Working"_s << u"1 working · 1 error"_s << u"working"_s
                               << u"x: Error\ny: Working"_s;
        // Names come from the user's folders and prompts: one line, and markup escaped for waybar.
        QTest::newRow("hostile name")
            << u"<b>a\nb</b> & c:Waiting for Input"_s << u"1 waiting: <b>a b</b> & c"_s
            << u"waiting"_s << u"<b>a b</b> & c: Waiting for Input"_s;
    }
    void statusAndWaybar()
    {
        QFETCH(QString, sessions);
        QFETCH(QString, line);
        QFETCH(QString, kind);
        QFETCH(QString, tooltip);
        QJsonArray instances;
        for (const QString &session : sessions.split(u',', Qt::SkipEmptyParts)) {
            QString status = session.section(u':', -1);
            const bool exited = status.endsWith(u'!');
            status.remove(u'!');
            instances.append(QJsonObject{{u"displayName"_s, session.section(u':', 0, -2)},
                                         {u"status"_s, status},
                                         {u"exited"_s, exited}});
        }
        QCOMPARE(StatusText::statusLine(instances), line);
        const QJsonObject waybar = StatusText::waybarObject(instances);
        QCOMPARE(waybar.value(u"text").toString(), line.toHtmlEscaped());
        QCOMPARE(waybar.value(u"tooltip").toString(), tooltip.toHtmlEscaped());
        QCOMPARE(waybar.value(u"class").toString(), kind);
        QCOMPARE(waybar.value(u"alt").toString(), kind);
    }
};

QTEST_APPLESS_MAIN(TestStatusText)
#include "tst_statustext.moc"
