#include "appharness.h"
#include "defaultsstore.h"
#include "updatercontroller.h"

#include <QDesktopServices>
#include <QTcpServer>
#include <QTcpSocket>

class TestUpdateDialog : public QObject
{
    Q_OBJECT
    QList<QUrl> opened; // what the application handed to the browser

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    // Download opens the package and Skip This Version stores the version; no other answer does.
    void checkAndAnswer_data()
    {
        QTest::addColumn<QString>("offered"); // empty: the server is down
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("answer"); // a button, or "close" for the window manager
        const QString v = QStringLiteral("99.0"), offer = "A new version of Tolvo is available!",
                      upToDate = "You're up to date!", failed = "Update check failed";
        QTest::newRow("Download") << v << offer << "downloadButton";
        QTest::newRow("Remind Me Later") << v << offer << "remindLaterButton";
        QTest::newRow("Skip This Version") << v << offer << "skipButton";
        QTest::newRow("up to date") << QStringLiteral(TOLVO_VERSION) << upToDate << "okButton";
        QTest::newRow("failed, closed by the window manager") << QString() << failed << "close";
    }
    void checkAndAnswer()
    {
        QFETCH(QString, offered);
        QFETCH(QString, answer);
        opened.clear();
        AppHarness h;
        const QByteArray feed =
            "<rss xmlns:s=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
            "<s:releaseNotesLink>https://t.example/notes</s:releaseNotesLink>"
            "<enclosure url=\"https://t.example/tolvo.deb\" s:version=\"" +
            offered.toUtf8() + "\"/></item></channel></rss>";
        QTcpServer server; // answers the first bytes of every request with the feed
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&feed, socket] {
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(feed.size()) + "\r\n\r\n" + feed);
                socket->disconnectFromHost();
            });
        });
        DefaultsStore store(h.home.defaultsPath());
        store.setData("SUFeedURL", "http://127.0.0.1:" + QByteArray::number(server.serverPort()));
        store.setData("SULastCheckTime", // keeps background checks away
                      QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8());
        if (offered.isEmpty())
            server.close(); // connections to its port are refused from now on
        QVERIFY(h.start());
        auto *dialog = h.window->findChild<QQuickWindow *>(QStringLiteral("updateDialog"));
        QVERIFY(dialog && !dialog->isVisible());
        QQuickItem *content = dialog->contentItem();
        auto text = [&](const char *n) { return h.find(n, content)->property("text").toString(); };

        h.app.updaterController().checkForUpdates();
        QTRY_VERIFY(dialog->isVisible());
        QTEST(text("updateTitle"), "title");
        QVERIFY(text("updateMessage").contains(offered.isEmpty() ? "Connection refused" : offered));
        QCOMPARE(h.find("skipButton", content)->isVisible(), offered == u"99.0"); // only offers

        if (answer == u"close")
            dialog->close();
        else
            AppHarness::click(h.find(answer, content));
        QVERIFY(!dialog->isVisible());
        const bool download = answer == u"downloadButton", skip = answer == u"skipButton";
        QCOMPARE(opened, download ? QList{QUrl("https://t.example/tolvo.deb")} : QList<QUrl>());
        QCOMPARE(h.app.updaterController().updater().skippedVersion(), skip ? offered : "");

        h.app.updaterController().checkForUpdates(); // asked for: shown again, even after Skip
        QTRY_VERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
