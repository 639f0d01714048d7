#include "appharness.h"
#include "defaultsstore.h"
#include "updatercontroller.h"

#include <QDesktopServices>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

using State = UpdaterController::State;

// Serves one feed on 127.0.0.1; every connection gets the same answer.
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
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    socket->setProperty("request", socket->property("request").toByteArray() +
                                                       socket->readAll());
                    if (!socket->property("request").toByteArray().contains("\r\n\r\n"))
                        return;
                    socket->write(
                        "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                        "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    void goDown() { m_server.close(); }

    QString url;
    QByteArray body;

private:
    QTcpServer m_server;
};

QByteArray feedOffering(const QString &version)
{
    return QStringLiteral(
               "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/"
               "sparkle\"><channel><item><sparkle:releaseNotesLink>https://t.example/notes/%1"
               "</sparkle:releaseNotesLink><enclosure url=\"https://t.example/tolvo-%1.deb\" "
               "sparkle:version=\"%1\"/></item></channel></rss>")
        .arg(version)
        .toUtf8();
}

QQuickWindow *updateDialog()
{
    for (QWindow *w : QGuiApplication::topLevelWindows())
        if (w->objectName() == u"updateDialog")
            return qobject_cast<QQuickWindow *>(w);
    return nullptr;
}

// The dialog's buttons that the user can see, by object name.
QStringList visibleButtons(QQuickWindow *dialog)
{
    QStringList names;
    for (QQuickItem *item : AppHarness::findAll(dialog->contentItem(), QString()))
        if (item->inherits("QQuickAbstractButton") && item->isVisible())
            names.append(item->objectName());
    names.sort();
    return names;
}

} // namespace

// Records the addresses the application hands to the desktop.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    UrlRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestUpdateDialog : public QObject
{
    Q_OBJECT

    // The application with its feed on the loopback server; the last check
    // was just now, so only checks the test asks for run.
    struct Updating
    {
        FeedServer server;
        AppHarness h;
        QQuickWindow *dialog = nullptr;

        bool start()
        {
            {
                DefaultsStore defaults(h.home.defaultsPath());
                defaults.setData(QStringLiteral("SUFeedURL"), server.url.toUtf8());
                defaults.setData(
                    QStringLiteral("SULastCheckTime"),
                    QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8());
            }
            if (!h.start())
                return false;
            dialog = updateDialog();
            return dialog && !dialog->isVisible();
        }
        UpdaterController &updater() { return h.app.updaterController(); }
        bool check(State expected)
        {
            updater().checkForUpdates();
            return QTest::qWaitFor(
                [&] { return updater().state() == expected && dialog->isVisible(); });
        }
        QString text(const QString &name)
        {
            return h.find(name, dialog->contentItem())->property("text").toString();
        }
    };

private Q_SLOTS:
    void showsWhatTheCheckFound_data()
    {
        QTest::addColumn<QByteArray>("feed"); // empty: the server is down
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("buttons");

        QTest::newRow("newer version")
            << feedOffering(QStringLiteral("99.0")) << State::UpdateAvailable
            << "A new version of Tolvo is available!"
            << QStringList{"downloadButton", "releaseNotesLink", "remindLaterButton", "skipButton"};
        QTest::newRow("up to date")
            << feedOffering(QStringLiteral(TOLVO_VERSION)) << State::UpToDate
            << "You're up to date!" << QStringList{"okButton"};
        QTest::newRow("server down") << QByteArray() << State::CheckFailed << "Update check failed"
                                     << QStringList{"okButton"};
    }
    void showsWhatTheCheckFound()
    {
        QFETCH(QByteArray, feed);
        QFETCH(State, state);
        QFETCH(QString, title);
        QFETCH(QStringList, buttons);

        Updating u;
        u.server.body = feed;
        if (feed.isEmpty())
            u.server.goDown();
        QVERIFY(u.start());
        QVERIFY(u.check(state));
        QCOMPARE(u.dialog->transientParent(), u.h.window);
        QCOMPARE(u.text(QStringLiteral("updateTitle")), title);
        QCOMPARE(u.text(QStringLiteral("updateMessage")), u.updater().message());
        if (state == State::UpdateAvailable)
            QVERIFY(u.text(QStringLiteral("updateMessage")).contains(u"99.0"));
        if (state == State::CheckFailed)
            QVERIFY(u.text(QStringLiteral("updateMessage")).contains(u"Connection refused"));
        QCOMPARE(visibleButtons(u.dialog), buttons);
    }

    void answers_data()
    {
        QTest::addColumn<bool>("offer");     // else the server has nothing newer
        QTest::addColumn<QString>("answer"); // a button, or "close" for the window manager
        QTest::addColumn<bool>("stays");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("skipped");

        QTest::newRow("Download") << true << "downloadButton" << false
                                  << "https://t.example/tolvo-99.0.deb"
                                  << "";
        QTest::newRow("Remind Me Later") << true << "remindLaterButton" << false << ""
                                         << "";
        QTest::newRow("Skip This Version") << true << "skipButton" << false << ""
                                           << "99.0";
        QTest::newRow("release notes")
            << true << "releaseNotesLink" << true << "https://t.example/notes/99.0"
            << "";
        QTest::newRow("offer closed by the window manager") << true << "close" << false << ""
                                                            << "";
        QTest::newRow("OK on up to date") << false << "okButton" << false << ""
                                          << "";
        QTest::newRow("up to date closed by the window manager") << false << "close" << false << ""
                                                                 << "";
    }
    void answers()
    {
        QFETCH(bool, offer);
        QFETCH(QString, answer);
        QFETCH(bool, stays);
        QFETCH(QString, opened);
        QFETCH(QString, skipped);

        UrlRecorder urls;
        Updating u;
        u.server.body =
            feedOffering(offer ? QStringLiteral("99.0") : QStringLiteral(TOLVO_VERSION));
        QVERIFY(u.start());
        QVERIFY(u.check(offer ? State::UpdateAvailable : State::UpToDate));

        if (answer == u"close")
            u.dialog->close();
        else
            AppHarness::click(u.h.find(answer, u.dialog->contentItem()));
        QCoreApplication::processEvents();

        QCOMPARE(u.dialog->isVisible(), stays);
        QCOMPARE(u.updater().state(), stays ? State::UpdateAvailable : State::Idle);
        QCOMPARE(urls.opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>({QUrl(opened)}));
        QCOMPARE(u.updater().updater().skippedVersion(), skipped);

        // The next check the user asks for shows the dialog again.
        QVERIFY(u.check(offer ? State::UpdateAvailable : State::UpToDate));
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
