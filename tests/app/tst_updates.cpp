#include "appcast.h"
#include "appharness.h"
#include "defaultsstore.h"
#include "updatercontroller.h"

#include <QDesktopServices>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace {

const QString running = QStringLiteral(TOLVO_VERSION);
const QString builtInFeed = u"https://t.example/a.xml"_s;

QByteArray rss(const QByteArray &channel)
{
    return "<rss xmlns:s=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>" +
           channel + "</channel></rss>";
}

// One item per "<version>[@<channel>]".
QByteArray items(const QStringList &versions)
{
    QString channel;
    for (const QString &v : versions)
        channel +=
            u"<item><enclosure s:version=\"%1\" url=\"https://t.example/%1.deb\"/>"
            u"<s:channel>%2</s:channel></item>"_s.arg(v.section(u'@', 0, 0), v.section(u'@', 1));
    return channel.toUtf8();
}

// A response with a feed of those items.
QByteArray served(const QStringList &versions)
{
    return "HTTP/1.1 200 OK\r\n\r\n" + rss(items(versions));
}

// A feed on 127.0.0.1 answering every request with one response (none:
// connections are refused), where the store points the updater.
struct FeedServer : QObject
{
    FeedServer(DefaultsStore &store, const QByteArray &response)
    {
        connect(&server, &QTcpServer::newConnection, this, [this, response] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, response] {
                const qsizetype head = response.indexOf("\r\n\r\n");
                socket->write(response.left(head) + "\r\nConnection: close\r\nContent-Length: " +
                              QByteArray::number(response.size() - head - 4) + response.mid(head));
                socket->disconnectFromHost();
                ++requests;
            });
        });
        server.listen(QHostAddress::LocalHost);
        store.setData(u"SUFeedURL"_s,
                      "http://127.0.0.1:" + QByteArray::number(server.serverPort()));
        if (response.isEmpty())
            server.close();
    }
    QTcpServer server;
    int requests = 0;
};

void setLastCheck(DefaultsStore &store, int secondsAgo)
{
    store.setData(
        u"SULastCheckTime"_s,
        QDateTime::currentDateTimeUtc().addSecs(-secondsAgo).toString(Qt::ISODateWithMs).toUtf8());
}

// "UpdateAvailable 99.0", "UpToDate", ...
QString outcome(const UpdaterController &c)
{
    const QString state = QString::fromLatin1(
        QMetaEnum::fromType<UpdaterController::State>().valueToKey(int(c.state())));
    return c.offeredVersion().isEmpty() ? state : state + u' ' + c.offeredVersion();
}

} // namespace

class TestUpdates : public QObject
{
    Q_OBJECT
    QList<QUrl> opened; // what the application handed to the browser

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(u"https"_s, this, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"https"_s); }

    // What a feed offers to a running version: the fields of the update, or
    // "none", or "error". The version rows pin the order of versions.
    void feed_data()
    {
        QTest::addColumn<QByteArray>("channel");
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("offered");
        QTest::newRow("elements; relative addresses resolved, not web addresses dropped")
            << QByteArray("<item><s:version>120</s:version><s:channel>beta</s:channel>"
                          "<s:shortVersionString>1.2</s:shortVersionString><s:releaseNotesLink>"
                          "file:///etc/passwd</s:releaseNotesLink><link>/get</link>"
                          "<enclosure url=\"https://t.example/a.deb\"/></item>")
            << u"1"_s << u"120|1.2|beta||https://f.example/get|https://t.example/a.deb"_s;
        QTest::newRow("plain http dropped but on this machine")
            << QByteArray("<item><s:version>9</s:version><s:releaseNotesLink>http://n.example/n"
                          "</s:releaseNotesLink><link>http://127.0.0.1/page</link>"
                          "<enclosure url=\"http://t.example/a.deb\"/></item>")
            << u"1"_s << u"9||||http://127.0.0.1/page|"_s;
        QTest::newRow("items without a version left out; the version elements win")
            << QByteArray("<item><title>none</title></item><item><s:version>8</s:version>"
                          "<enclosure s:version=\"7\" s:shortVersionString=\"0.7\"/></item>")
            << u"1"_s << u"8|0.7||||"_s;
        QTest::newRow("trailing garbage")
            << QByteArray("<item><s:version>3</s:version></item></channel></rss><x/>") << u"1"_s
            << u"error"_s;
        // "<items> <running version> <offered>", "=" for the last item.
        for (const char *row :
             {"1.9,1.10 1.9 =", "1.10,1.9 1.10 none", "1.0.0 1.0 none", "1.01 1.1 none",
              "1.1 1.01 none", "1.184467440737095516160 1.18446744073709551615 =", "1.0b1 1.0 none",
              "1.0 1.0b1 =", "2.0-beta.10 2.0-beta.9 =", "2.0rc1 2.0beta3 =", "2.0RC1 2.0rc1 none",
              "v1.2 1.2 none"}) {
            const QStringList words = QString::fromLatin1(row).split(u' ');
            const QStringList listed = words[0].split(u',');
            const QString v = words[2] == u"=" ? listed.last() : words[2];
            QTest::newRow(row) << items(listed) << words[1]
                               << (v == u"none" ? v : u"%1|||||https://t.example/%1.deb"_s.arg(v));
        }
    }
    void feed()
    {
        QFETCH(QByteArray, channel);
        QFETCH(QString, running);
        const auto result = Appcast::parse(rss(channel), QUrl(u"https://f.example/u/a.xml"_s));
        const auto i = Appcast::newestUpdate(result.items, running, {u"beta"_s});
        const QStringList fields =
            !i ? QStringList{u"none"_s}
               : QStringList{i->version,         i->shortVersionString,
                             i->channel,         i->releaseNotesLink.toString(),
                             i->link.toString(), i->enclosureUrl.toString()};
        QTEST(result.ok() ? fields.join(u'|') : u"error"_s, "offered");
    }

    // Builds without a feed address (distribution packages) offer no check;
    // an address typed into tolvo.ini by hand counts like one Tolvo wrote.
    void feedAddress_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("builtIn");
        QTest::addColumn<QString>("feed"); // empty: no update checks at all
        QTest::newRow("none") << QByteArray() << QString() << QString();
        QTest::newRow("built in") << QByteArray() << u"https://b.example/f.xml"_s
                                  << u"https://b.example/f.xml"_s;
        QTest::newRow("typed by hand") << QByteArray("SUFeedURL=https://t.example/f.xml\n")
                                       << u"https://b.example/f.xml"_s << u"https://t.example/f.xml"_s;
    }
    void feedAddress()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, builtIn);
        QFETCH(QString, feed);
        TestHome home;
        const QString file = home.configPath() + u"/tolvo.ini"_s;
        QVERIFY(TestPaths::writeFile(file, "[General]\n" + ini));
        DefaultsStore store(file);
        UpdaterController controller(store, builtIn);
        QCOMPARE(controller.isAvailable(), !feed.isEmpty());
        QCOMPARE(controller.updater().isStarted(), !feed.isEmpty());
        QCOMPARE(controller.updater().feedUrl().toString(), feed);
    }

    // when: "asked" (a minute after the last check), or a background check
    // with the last one "never" or "3600 s ago"; then maybe ", 99.0 skipped".
    void check_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QByteArray>("response"); // empty: the server is down
        QTest::addColumn<QString>("outcome");     // "no check" when none ran
        const QByteArray newer = served({u"99.0"_s});
        const QString offer = u"UpdateAvailable 99.0"_s;
        const auto asked = [](const char *name, const QByteArray &response,
                              const QString &outcome) {
            QTest::newRow(name) << u"asked"_s << response << outcome;
        };
        asked("newer version offered", served({u"98.0"_s, u"99.0"_s, u"99.1@beta"_s}), offer);
        asked("same version; other channels ignored", served({running, u"99.0@beta"_s}),
              u"UpToDate"_s);
        asked("malformed feed", "HTTP/1.1 200 OK\r\n\r\n<rss><channel><item>", u"CheckFailed"_s);
        asked("server error", "HTTP/1.1 500 Oops\r\n\r\n", u"CheckFailed"_s);
        asked("redirect off loopback",
              "HTTP/1.1 302 Found\r\nLocation: http://t.example/a.xml\r\n\r\n", u"CheckFailed"_s);
        QTest::newRow("asked for a skipped version") << u"asked, 99.0 skipped"_s << newer << offer;
        QTest::newRow("never checked") << u"never"_s << newer << offer;
        QTest::newRow("failing in the background") << u"never"_s << QByteArray() << u"Idle"_s;
        QTest::newRow("checked an hour ago") << u"3600 s ago"_s << newer << u"no check"_s;
        QTest::newRow("skipped version") << u"never, 99.0 skipped"_s << newer << u"Idle"_s;
    }
    void check()
    {
        QFETCH(QString, when);
        QFETCH(QByteArray, response);
        QFETCH(QString, outcome);
        TestHome home;
        DefaultsStore store;
        FeedServer feed(store, response);
        const bool asked = when.startsWith(u"asked");
        if (when != u"never" && !when.startsWith(u"never,"))
            setLastCheck(store, asked ? 60 : when.section(u' ', 0, 0).toInt());
        store.setData(u"SUSkippedVersion"_s, when.section(u", "_s, 1).section(u' ', 0, 0).toUtf8());
        UpdaterController controller(store, builtInFeed);
        QSignalSpy finished(&controller.updater(), &Updater::checkFinished);
        if (asked)
            controller.checkForUpdates();
        const bool checked = finished.wait(outcome == u"no check" ? 500 : 10000);
        QCOMPARE(checked ? ::outcome(controller) : u"no check"_s, outcome);
        QCOMPARE(feed.requests, checked && !response.isEmpty() ? 1 : 0);
    }

    // Download opens the package and Skip This Version stores the version; no other answer does.
    void dialog_data()
    {
        QTest::addColumn<QString>("offered"); // empty: a feed address without https
        QTest::addColumn<QString>("answer");  // a button, or "close" for the window manager
        QTest::newRow("Download") << u"99.0"_s << u"downloadButton"_s;
        QTest::newRow("Remind Me Later") << u"99.0"_s << u"remindLaterButton"_s;
        QTest::newRow("Skip This Version") << u"99.0"_s << u"skipButton"_s;
        QTest::newRow("up to date") << running << u"okButton"_s;
        QTest::newRow("failed, closed by the window manager") << QString() << u"close"_s;
    }
    void dialog()
    {
        QFETCH(QString, offered);
        QFETCH(QString, answer);
        opened.clear();
        AppHarness h;
        DefaultsStore store;
        FeedServer feed(store, served({offered}));
        setLastCheck(store, 0); // keeps background checks away
        if (offered.isEmpty())
            store.setData(u"SUFeedURL"_s, "http://t.example/a.xml");
        QVERIFY(h.start());
        auto *dialog = h.window->findChild<QQuickWindow *>(u"updateDialog"_s);
        QVERIFY(dialog && !dialog->isVisible());
        UpdaterController &controller = h.app->updaterController();
        controller.checkForUpdates();
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(h.find(u"updateTitle"_s, dialog->contentItem())->property("text").toString(),
                 controller.title());
        QCOMPARE(h.find(u"skipButton"_s, dialog->contentItem())->isVisible(), offered == u"99.0");
        if (answer == u"close")
            dialog->close();
        else
            AppHarness::click(h.find(answer, dialog->contentItem()));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(controller.state(), UpdaterController::State::Idle);
        const bool download = answer == u"downloadButton", skip = answer == u"skipButton";
        QCOMPARE(opened, download ? QList{QUrl(u"https://t.example/99.0.deb"_s)} : QList<QUrl>());
        QCOMPARE(controller.updater().skippedVersion(), skip ? offered : QString());
    }
};

QTEST_MAIN(TestUpdates)
#include "tst_updates.moc"
