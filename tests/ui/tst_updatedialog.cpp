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

    void checkAndAnswer_data()
    {
        QTest::addColumn<QString>("offered"); // empty: the server is down
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("answer"); // a button, or "close" for the window manager
        QTest::addColumn<QString>("opens");
        QTest::addColumn<QString>("skipped");

        const QString v = QStringLiteral("99.0"), offer = "A new version of Tolvo is available!",
                      no;
        QTest::newRow("Download") << v << offer << "downloadButton"
                                  << "https://t.example/tolvo.deb" << no;
        QTest::newRow("Remind Me Later") << v << offer << "remindLaterButton" << no << no;
        QTest::newRow("Skip This Version") << v << offer << "skipButton" << no << v;
        QTest::newRow("release notes (the offer stays)") << v << offer << "releaseNotesLink"
                                                         << "https://t.example/notes" << no;
        QTest::newRow("up to date") << TOLVO_VERSION << "You're up to date!"
                                    << "okButton" << no << no;
        QTest::newRow("failed, closed by the window manager") << no << "Update check failed"
                                                              << "close" << no << no;
    }
    void checkAndAnswer()
    {
        QFETCH(QString, offered);
        QFETCH(QString, title);
        QFETCH(QString, answer);
        QFETCH(QString, opens);
        QFETCH(QString, skipped);

        opened.clear();
        AppHarness h;
        QByteArray feed = "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
                          "sparkle\"><channel><item><sparkle:releaseNotesLink>https://t.example/"
                          "notes</sparkle:releaseNotesLink><enclosure url=\"https://t.example/"
                          "tolvo.deb\" sparkle:version=\"%1\"/></item></channel></rss>";
        feed.replace("%1", offered.toUtf8());
        QTcpServer server; // answers every request with the feed
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&feed, socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(feed.size()) + "\r\n\r\n" + feed);
                socket->disconnectFromHost();
            });
        });
        DefaultsStore defaults(h.home.defaultsPath());
        defaults.setData(QStringLiteral("SUFeedURL"),
                         "http://127.0.0.1:" + QByteArray::number(server.serverPort()));
        defaults.setData(QStringLiteral("SULastCheckTime"), // keeps background checks away
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
        QCOMPARE(text("updateTitle"), title);
        QVERIFY(text("updateMessage").contains(offered.isEmpty() ? "Connection refused" : offered));
        int buttons = 0;
        for (QQuickItem *item : findItems(content, QString()))
            buttons += item->inherits("QQuickAbstractButton") && item->isVisible();
        QCOMPARE(buttons, offered == u"99.0" ? 4 : 1);

        if (answer == u"close")
            dialog->close();
        else
            AppHarness::click(h.find(answer, content));
        QCOMPARE(dialog->isVisible(), answer == u"releaseNotesLink");
        QCOMPARE(opened, opens.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opens)});
        QCOMPARE(h.app.updaterController().updater().skippedVersion(), skipped);

        // The next check the user asks for shows the dialog again.
        h.app.updaterController().checkForUpdates();
        QTRY_VERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
