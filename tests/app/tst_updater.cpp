#include "defaultsstore.h"
#include "testsupport.h"
#include "updatercontroller.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;
using State = UpdaterController::State;

namespace {

const QString running = QStringLiteral(TOLVO_VERSION);

// A response with a feed of these items: "<version>[/<shown version>][@<channel>]".
QByteArray feed(const QStringList &items)
{
    QString body = u"HTTP/1.1 200 OK\r\n\r\n<rss xmlns:sparkle=\"http://www.andymatuschak.org/"
                   u"xml-namespaces/sparkle\"><channel>"_s;
    for (const QString &item : items) {
        const QString version = item.section(u'@', 0, 0);
        body += u"<item><enclosure sparkle:version=\"%1\" sparkle:shortVersionString=\"%2\"/>"
                u"<sparkle:channel>%3</sparkle:channel></item>"_s.arg(
                    version.section(u'/', 0, 0), version.section(u'/', 1), item.section(u'@', 1));
    }
    return (body + u"</channel></rss>"_s).toUtf8();
}

// A home whose feed is served on 127.0.0.1 with one fixed response (none: the server is down).
struct Fixture : QObject
{
    Fixture(const QByteArray &response, int lastCheckSecondsAgo)
    {
        connect(&server, &QTcpServer::newConnection, this, [=, this] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
                if (socket->peek(1 << 16).contains("\r\n\r\n") && ++requests) {
                    const qsizetype head = response.indexOf("\r\n\r\n");
                    socket->write(response.left(head) + "\r\nContent-Length: " +
                                  QByteArray::number(response.size() - head - 4) +
                                  response.mid(head));
                    socket->disconnectFromHost();
                }
            });
        });
        server.listen(QHostAddress::LocalHost);
        defaults.setData(u"SUFeedURL"_s,
                         "http://127.0.0.1:" + QByteArray::number(server.serverPort()));
        if (response.isEmpty()) // the server is down: connections are refused
            server.close();
        const QDateTime lastCheck = QDateTime::currentDateTimeUtc().addSecs(-lastCheckSecondsAgo);
        if (lastCheckSecondsAgo != 0) // else never checked
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
    // when: "asked" (the user asks; the last check was a minute ago), or the last check "never"
    // or "<n> s ago", then maybe ", <version> skipped". outcome: part of the console lines and
    // the dialog's message, or "no check".
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
        QTest::newRow("shown version like ours: with the build")
            << u"asked"_s << feed({running + u".7/"_s + running})
            << u"Tolvo %1 (%1.7) is now available — you have %1."_s.arg(running);
        QTest::newRow("skipped version offered when asked")
            << u"asked, 99.0 skipped"_s << newer << offer;
        QTest::newRow("never checked") << u"never"_s << newer << offer;
        QTest::newRow("checked an hour ago") << u"3600 s ago"_s << newer << u"no check"_s;
        QTest::newRow("last check in the future") << u"-7200 s ago"_s << newer << offer;
        QTest::newRow("skipped version not offered")
            << u"never, 99.0 skipped"_s << newer << QString();
        QTest::newRow("newer than the skipped one") << u"never, 98.0 skipped"_s << newer << offer;
        QTest::newRow("nothing new is silent") << u"never"_s << feed({running}) << QString();
        QTest::newRow("server down in the background")
            << u"never"_s << QByteArray() << u"Update check failed: "_s;
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

    void checksAgainAfterInterval()
    {
        Fixture f(feed({running}), 0);
        Updater updater(f.defaults, nullptr, QString());
        QVERIFY(updater.start(nullptr));
        updater.setAutomaticallyChecksForUpdates(true);
        updater.setUpdateCheckInterval(0.5);
        QTRY_COMPARE_WITH_TIMEOUT(f.requests, 2, 10000);
        updater.setAutomaticallyChecksForUpdates(false);
        QTest::qWait(800);
        QCOMPARE(f.requests, 2);
    }

    void start_data()
    {
        QTest::addColumn<QString>("builtIn");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("feed"); // empty: the start fails
        const QString https = u"https://t.example/a.xml"_s;
        QTest::newRow("no address") << QString() << QByteArray() << QString();
        QTest::newRow("plain http off loopback")
            << u"http://t.example/a.xml"_s << QByteArray() << QString();
        QTest::newRow("not a web address") << u"file:///tmp/a.xml"_s << QByteArray() << QString();
        QTest::newRow("stored address checked too")
            << https << QByteArray("http://t.example/b.xml") << QString();
        QTest::newRow("stored address wins")
            << https << QByteArray("https://t.example/b.xml") << u"https://t.example/b.xml"_s;
        QTest::newRow("loopback over http")
            << u"http://localhost:9/a.xml"_s << QByteArray() << u"http://localhost:9/a.xml"_s;
    }

    void start()
    {
        QFETCH(QString, builtIn);
        QFETCH(QByteArray, stored);
        QFETCH(QString, feed);
        Fixture f({}, 60);
        f.defaults.setData(u"SUFeedURL"_s, stored);
        ConsoleCapture console;
        UpdaterController controller(f.defaults, builtIn);
        QCOMPARE(controller.updater().feedUrl().toString(), feed);
        QCOMPARE(controller.updater().automaticallyChecksForUpdates(), !feed.isEmpty());
        QCOMPARE(controller.updater().updateCheckInterval(), 86400.0);
        if (feed.isEmpty()) // the menu command still works and says why nothing can be checked
            controller.checkForUpdates();
        QCOMPARE(controller.state(), feed.isEmpty() ? State::CheckFailed : State::Idle);
        QCOMPARE(console.lines().size(), feed.isEmpty() ? 1 : 0);
        QVERIFY(!feed.isEmpty() || console.lines()[0].startsWith(u"Failed to start updater: "_s));
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
