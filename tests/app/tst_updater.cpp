#include "defaultsstore.h"
#include "testsupport.h"
#include "updatercontroller.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

using State = UpdaterController::State;
const QString running = QStringLiteral(TOLVO_VERSION);

// Answers every request on 127.0.0.1 with one fixed response, then closes the connection.
class FeedServer : public QObject
{
public:
    FeedServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        url = QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort());
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    socket->setProperty("request", socket->property("request").toByteArray() +
                                                       socket->readAll());
                    if (!socket->property("request").toByteArray().contains("\r\n\r\n"))
                        return;
                    ++requests;
                    socket->write(m_response);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    void serve(const QByteArray &body, const QByteArray &status = "200 OK")
    {
        m_response = "HTTP/1.1 " + status +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) +
                     "\r\nConnection: close\r\n\r\n" + body;
    }
    void goDown() { m_server.close(); } // connections are refused from now on

    QString url;
    int requests = 0;

private:
    QTcpServer m_server;
    QByteArray m_response;
};

// "99.0", or "99.0@beta" for an item on the beta channel.
QByteArray feed(const QStringList &items)
{
    QByteArray body = "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/"
                      "xml-namespaces/sparkle\"><channel>";
    for (const QString &item : items) {
        const QString version = item.section(u'@', 0, 0);
        const QString channel = item.section(u'@', 1);
        body += QStringLiteral("<item><sparkle:releaseNotesLink>https://t.example/n/%1"
                               "</sparkle:releaseNotesLink><enclosure url=\"https://t.example/"
                               "%1.deb\" sparkle:version=\"%1\" sparkle:shortVersionString=\"v%1\""
                               "/><sparkle:channel>%2</sparkle:channel></item>")
                    .arg(version, channel)
                    .toUtf8();
    }
    return body + "</channel></rss>";
}

struct Fixture
{
    explicit Fixture(const QByteArray &body)
    {
        server.serve(body);
        defaults.setData(QStringLiteral("SUFeedURL"), server.url.toUtf8());
    }
    void setLastCheck(qint64 secondsAgo)
    {
        const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(-secondsAgo);
        defaults.setData(QStringLiteral("SULastCheckTime"),
                         when.toString(Qt::ISODateWithMs).toUtf8());
    }

    TestHome home;
    DefaultsStore defaults{home.defaultsPath()};
    FeedServer server;
};

} // namespace

class TestUpdater : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void userCheck_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("status"); // empty: the server is down
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("expected"); // offered build version, or part of the error

        const QByteArray ok = "200 OK";
        QTest::newRow("newer version offered")
            << feed({"99.0"}) << ok << State::UpdateAvailable << "99.0";
        QTest::newRow("newest of several")
            << feed({"98.0", "99.1", "99.0"}) << ok << State::UpdateAvailable << "99.1";
        QTest::newRow("same version up to date") << feed({running}) << ok << State::UpToDate << "";
        QTest::newRow("older only") << feed({"0.0.1"}) << ok << State::UpToDate << "";
        QTest::newRow("other-channel items ignored")
            << feed({running, "99.0@beta"}) << ok << State::UpToDate << "";
        QTest::newRow("default channel beside another")
            << feed({"99.0@beta", "98.0"}) << ok << State::UpdateAvailable << "98.0";
        QTest::newRow("server down")
            << QByteArray() << QByteArray() << State::CheckFailed << "Connection refused";
        QTest::newRow("malformed feed")
            << QByteArray("<rss><channel><item>") << ok << State::CheckFailed << "not well-formed";
        QTest::newRow("not found")
            << QByteArray() << QByteArray("404 Not Found") << State::CheckFailed << "Not Found";
        QTest::newRow("redirect off loopback")
            << QByteArray() << QByteArray("302 Found\r\nLocation: http://t.example/a.xml")
            << State::CheckFailed << "must use https";
    }

    void userCheck()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, status);
        QFETCH(State, state);
        QFETCH(QString, expected);

        Fixture f(body);
        f.server.serve(body, status);
        if (status.isEmpty())
            f.server.goDown();
        f.setLastCheck(60); // no background check gets in the way
        UpdaterController controller(f.defaults, QString());
        QSignalSpy finished(&controller.updater(), &Updater::checkFinished);
        QSignalSpy opened(&controller, &UpdaterController::downloadRequested);
        controller.checkForUpdates();
        QVERIFY(controller.isChecking());
        QVERIFY(finished.wait(5000));
        QVERIFY(!controller.isChecking());
        QCOMPARE(controller.state(), state);

        if (state == State::UpdateAvailable) {
            QCOMPARE(controller.title(), QStringLiteral("A new version of Tolvo is available!"));
            QCOMPARE(controller.offeredBuildVersion(), expected);
            QCOMPARE(controller.offeredVersion(), u'v' + expected);
            QCOMPARE(controller.releaseNotesUrl().toString(), "https://t.example/n/" + expected);
            controller.download();
            QCOMPARE(opened.size(), 1);
            QCOMPARE(opened[0][0].toUrl().toString(), "https://t.example/" + expected + ".deb");
            QCOMPARE(controller.state(), State::Idle);
        } else if (state == State::UpToDate) {
            QCOMPARE(controller.title(), QStringLiteral("You're up to date!"));
        } else {
            QVERIFY2(controller.errorText().contains(expected), qPrintable(controller.errorText()));
        }
    }

    void start_data()
    {
        QTest::addColumn<QString>("builtIn");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("feed"); // empty: the start fails

        QTest::newRow("no address") << "" << QByteArray() << "";
        QTest::newRow("plain http off loopback") << "http://t.example/a.xml" << QByteArray() << "";
        QTest::newRow("not a web address") << "file:///tmp/a.xml" << QByteArray() << "";
        QTest::newRow("not an address") << "https://bad host/a.xml" << QByteArray() << "";
        QTest::newRow("stored address checked too")
            << "https://t.example/a.xml" << QByteArray("http://t.example/b.xml") << "";
        QTest::newRow("built-in https")
            << "https://t.example/a.xml" << QByteArray() << "https://t.example/a.xml";
        QTest::newRow("stored address wins")
            << "https://t.example/a.xml" << QByteArray("https://t.example/b.xml")
            << "https://t.example/b.xml";
        QTest::newRow("loopback over http")
            << "http://localhost:9/a.xml" << QByteArray() << "http://localhost:9/a.xml";
    }

    void start()
    {
        QFETCH(QString, builtIn);
        QFETCH(QByteArray, stored);
        QFETCH(QString, feed);

        TestHome home;
        DefaultsStore defaults(home.defaultsPath());
        if (!stored.isNull())
            defaults.setData(QStringLiteral("SUFeedURL"), stored);
        defaults.setData(QStringLiteral("SULastCheckTime"),
                         QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8());
        ConsoleCapture console;
        UpdaterController controller(defaults, builtIn);

        QVERIFY(controller.updaterDelegate().allowedChannels().isEmpty());
        QCOMPARE(controller.updater().isStarted(), !feed.isEmpty());
        QCOMPARE(controller.updater().automaticallyChecksForUpdates(), !feed.isEmpty());
        if (!feed.isEmpty()) {
            QCOMPARE(console.lines(), QStringList());
            QCOMPARE(controller.updater().feedUrl().toString(), feed);
            QCOMPARE(controller.updater().updateCheckInterval(), 86400.0);
            return;
        }
        QCOMPARE(console.lines().size(), 1);
        QVERIFY2(console.lines()[0].startsWith(QStringLiteral("Failed to start updater: ")) &&
                     console.lines()[0].size() > 25,
                 qPrintable(console.lines()[0]));
        // The menu command still works and says why nothing can be checked.
        controller.checkForUpdates();
        QCOMPARE(controller.state(), State::CheckFailed);
        QCOMPARE(console.lines().size(), 1);
    }

    void backgroundCheck_data()
    {
        QTest::addColumn<int>("lastCheck"); // seconds ago; 0: never
        QTest::addColumn<QString>("skipped");
        QTest::addColumn<QString>("newest"); // empty: the server is down
        QTest::addColumn<bool>("checks");
        QTest::addColumn<bool>("offers");

        QTest::newRow("never checked") << 0 << ""
                                       << "99.0" << true << true;
        QTest::newRow("checked an hour ago") << 3600 << ""
                                             << "99.0" << false << false;
        QTest::newRow("checked two days ago") << 2 * 86400 << ""
                                              << "99.0" << true << true;
        QTest::newRow("last check in the future") << -7200 << ""
                                                  << "99.0" << true << true;
        QTest::newRow("skipped version not offered") << 0 << "99.0"
                                                     << "99.0" << true << false;
        QTest::newRow("newer than the skipped one") << 0 << "98.0"
                                                    << "99.0" << true << true;
        QTest::newRow("nothing new is silent") << 0 << "" << running << true << false;
        QTest::newRow("server down is silent") << 0 << ""
                                               << "" << true << false;
    }

    void backgroundCheck()
    {
        QFETCH(int, lastCheck);
        QFETCH(QString, skipped);
        QFETCH(QString, newest);
        QFETCH(bool, checks);
        QFETCH(bool, offers);

        Fixture f(feed({newest}));
        if (newest.isEmpty())
            f.server.goDown();
        if (lastCheck != 0)
            f.setLastCheck(lastCheck);
        if (!skipped.isEmpty())
            f.defaults.setData(QStringLiteral("SUSkippedVersion"), skipped.toUtf8());

        ConsoleCapture console;
        const QDateTime before = QDateTime::currentDateTimeUtc();
        UpdaterController controller(f.defaults, QString());
        QSignalSpy finished(&controller.updater(), &Updater::checkFinished);
        QCOMPARE(finished.wait(checks ? 5000 : 500), checks);
        QCOMPARE(f.server.requests, checks && !newest.isEmpty() ? 1 : 0);
        QCOMPARE(controller.state(), offers ? State::UpdateAvailable : State::Idle);
        QCOMPARE(controller.updater().lastUpdateCheckDate() >= before.addMSecs(-1), checks);
        QCOMPARE(console.lines().size(), newest.isEmpty() ? 1 : 0);
    }

    void skippedVersionOfferedWhenAsked()
    {
        Fixture f(feed({"99.0"}));
        UpdaterController controller(f.defaults, QString());
        QSignalSpy finished(&controller.updater(), &Updater::checkFinished);
        QVERIFY(finished.wait(5000));
        QCOMPARE(controller.state(), State::UpdateAvailable);
        controller.skipThisVersion();
        QCOMPARE(controller.state(), State::Idle);
        QCOMPARE(f.defaults.data(QStringLiteral("SUSkippedVersion")), QByteArray("99.0"));

        controller.checkForUpdates();
        QVERIFY(finished.wait(5000));
        QCOMPARE(controller.state(), State::UpdateAvailable);
        controller.remindLater();
        QCOMPARE(controller.state(), State::Idle);
        QCOMPARE(controller.offeredVersion(), QString());
    }

    void checksAgainAfterInterval()
    {
        Fixture f(feed({running}));
        UpdaterDelegate delegate;
        Updater updater(f.defaults, &delegate, QString());
        QVERIFY(updater.start(nullptr));
        updater.setAutomaticallyChecksForUpdates(true);
        updater.setUpdateCheckInterval(0.5);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 5000);
        updater.setAutomaticallyChecksForUpdates(false);
        QTest::qWait(800);
        QCOMPARE(f.server.requests, 2);
    }

    void availableMessage_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("message");

        QTest::newRow("versions differ") << "0.2"
                                         << "20"
                                         << "Tolvo 0.2 is now available";
        QTest::newRow("same shown version adds the build")
            << "0.1.0"
            << "0.1.0.7"
            << "Tolvo 0.1.0 (0.1.0.7) is now available";
    }

    void availableMessage()
    {
        QFETCH(QString, display);
        QFETCH(QString, build);
        QFETCH(QString, message);
        QCOMPARE(UpdaterController::availableMessage(display, build, QStringLiteral("0.1.0")),
                 message + QStringLiteral(" \u2014 you have 0.1.0."));
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
