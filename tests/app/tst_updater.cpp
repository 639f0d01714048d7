#include "defaultsstore.h"
#include "testsupport.h"
#include "updatercontroller.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString running = QStringLiteral(TOLVO_VERSION);

// A response with a feed of these items: "<version>[@<channel>]".
QByteArray feed(const QStringList &items)
{
    QString body = u"HTTP/1.1 200 OK\r\n\r\n<rss xmlns:s=\"http://www.andymatuschak.org/"
                   u"xml-namespaces/sparkle\"><channel>"_s;
    for (const QString &item : items)
        body += u"<item><enclosure s:version=\"%1\"/><s:channel>%2</s:channel></item>"_s.arg(
            item.section(u'@', 0, 0), item.section(u'@', 1));
    return (body + u"</channel></rss>"_s).toUtf8();
}

// A feed on 127.0.0.1 with one fixed response (none: server down), last checked then (0: never).
struct Fixture : QObject
{
    Fixture(const QByteArray &response, int lastCheckSecondsAgo)
    {
        connect(&server, &QTcpServer::newConnection, this, [=, this] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
                const qsizetype head = response.indexOf("\r\n\r\n");
                socket->write(response.left(head) + "\r\nContent-Length: " +
                              QByteArray::number(response.size() - head - 4) + response.mid(head));
                socket->disconnectFromHost();
                ++requests;
            });
        });
        server.listen(QHostAddress::LocalHost);
        defaults.setData(u"SUFeedURL"_s,
                         "http://127.0.0.1:" + QByteArray::number(server.serverPort()));
        if (response.isEmpty()) // connections are refused
            server.close();
        const QDateTime lastCheck = QDateTime::currentDateTimeUtc().addSecs(-lastCheckSecondsAgo);
        if (lastCheckSecondsAgo != 0)
            defaults.setData(u"SULastCheckTime"_s, lastCheck.toString(Qt::ISODateWithMs).toUtf8());
    }

    TestHome home;
    DefaultsStore defaults{home.defaultsPath()};
    QTcpServer server;
    int requests = 0;
};

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // when: "asked" (a minute after the last check), or the last check "never" or "<n> s ago";
    // then maybe ", <version> skipped". outcome: part of the console lines and message.
    void check_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QByteArray>("response"); // empty: the server is down
        QTest::addColumn<QString>("outcome");
        const QByteArray newer = feed({u"99.0"_s});
        const QString offer = u"Tolvo 99.0 is now available"_s;
        QTest::newRow("newer version offered")
            << u"asked"_s << feed({u"98.0"_s, u"99.0"_s, u"99.1@beta"_s}) << offer;
        QTest::newRow("same version up to date; other channels ignored")
            << u"asked"_s << feed({running, u"99.0@beta"_s}) << u"is the newest version"_s;
        QTest::newRow("server down") << u"asked"_s << QByteArray() << u"Connection refused"_s;
        QTest::newRow("malformed feed")
            << u"asked"_s << QByteArray("HTTP/1.1 200 OK\r\n\r\n<rss><channel><item>")
            << u"not well-formed"_s;
        QTest::newRow("redirect off loopback")
            << u"asked"_s
            << QByteArray("HTTP/1.1 302 Found\r\nLocation: http://t.example/a.xml\r\n\r\n")
            << u"must use https"_s;
        QTest::newRow("never checked") << u"never"_s << newer << offer;
        QTest::newRow("checked an hour ago") << u"3600 s ago"_s << newer << u"no check"_s;
        QTest::newRow("skipped version not offered")
            << u"never, 99.0 skipped"_s << newer << QString();
    }

    void check()
    {
        QFETCH(QString, when);
        QFETCH(QByteArray, response);
        QFETCH(QString, outcome);
        const bool user = when.startsWith(u"asked");
        Fixture f(response, user ? 60 : when.section(u' ', 0, 0).toInt()); // "never" is 0
        f.defaults.setData(u"SUSkippedVersion"_s,
                           when.section(u", "_s, 1).section(u' ', 0, 0).toUtf8());
        ConsoleCapture console;
        UpdaterController controller(f.defaults, QString());
        QSignalSpy finished(&controller.updater(), &Updater::checkFinished);
        if (user)
            controller.checkForUpdates();
        const bool checked = finished.wait(outcome == u"no check" ? 500 : 10000);
        const QString actual =
            checked ? (console.lines() << controller.message()).join(u'|') : u"no check"_s;
        QVERIFY2(outcome.isEmpty() ? actual.isEmpty() : actual.contains(outcome),
                 qPrintable(actual));
        QCOMPARE(f.requests, checked && !response.isEmpty() ? 1 : 0);
    }

    // After a check the next one waits for the interval; none once automatic checks are off.
    void checksAgainAfterInterval()
    {
        Fixture f(feed({running}), 0);
        UpdaterController controller(f.defaults, QString());
        controller.updater().setUpdateCheckInterval(0.5);
        QTRY_COMPARE_WITH_TIMEOUT(f.requests, 2, 10000);
        controller.updater().setAutomaticallyChecksForUpdates(false);
        QTest::qWait(800);
        QCOMPARE(f.requests, 2);
    }

    // The stored address wins over the built-in one, and must use https too.
    void start()
    {
        Fixture f({}, 60);
        ConsoleCapture console;
        f.defaults.setData(u"SUFeedURL"_s, "http://t.example/b.xml");
        UpdaterController refused(f.defaults, u"https://t.example/a.xml"_s);
        QCOMPARE(console.lines().size(), 1);
        QVERIFY(console.lines()[0].startsWith(u"Failed to start updater: "_s));
        f.defaults.setData(u"SUFeedURL"_s, "https://t.example/b.xml");
        UpdaterController controller(f.defaults, u"https://t.example/a.xml"_s);
        QCOMPARE(controller.updater().feedUrl(), QUrl(u"https://t.example/b.xml"_s));
        QCOMPARE(controller.updater().updateCheckInterval(), 86400.0);
        QCOMPARE(console.lines().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
