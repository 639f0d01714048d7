// Runs under with-notification-server.sh: the session bus is private and dunst
// serves org.freedesktop.Notifications on it with tests/notify/dunstrc.
#include "desktopnotifier.h"
#include "testsupport.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServer>
#include <QElapsedTimer>
#include <QTest>
#include <QUuid>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString serverName = u"org.freedesktop.Notifications"_s;
const QString serverPath = u"/org/freedesktop/Notifications"_s;
const QString markupBody = uR"(<b>x</b> & <img src="http://127.0.0.1:1/x">)"_s;
const QString markupBodyEscaped =
    uR"(&lt;b&gt;x&lt;/b&gt; &amp; &lt;img src="http://127.0.0.1:1/x"&gt;)"_s;

// A notification server on a peer-to-peer connection inside the test, so that
// the exact messages can be checked and failures provoked.
class FakeServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Received
    {
        QString signature, appName;
        uint replacesId;
        QString icon, summary, body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
        qint64 atMs;
    };

    QStringList capabilities{u"body"_s, u"body-markup"_s};
    bool refuseCapabilities = false;
    QString refusal; // when set, the other calls fail with this message
    int capabilityRequests = 0;
    QList<Received> received;
    QElapsedTimer clock;

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        ++capabilityRequests;
        if (refuseCapabilities)
            sendErrorReply(QDBusError::NotSupported, u"no capabilities"_s);
        return capabilities;
    }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion)
    {
        refuseIfAsked();
        vendor = u"tests"_s;
        version = u"1"_s;
        specVersion = u"1.2"_s;
        return u"fake"_s;
    }
    uint Notify(const QString &appName, uint replacesId, const QString &icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expireTimeout)
    {
        if (refuseIfAsked())
            return 0;
        received.append({message().signature(), appName, replacesId, icon, summary, body, actions,
                         hints, expireTimeout, clock.elapsed()});
        return uint(received.size());
    }

private:
    bool refuseIfAsked()
    {
        if (refusal.isEmpty())
            return false;
        sendErrorReply(u"org.freedesktop.Notifications.Error.Refused"_s, refusal);
        return true;
    }
};

// A client connection whose only peer is a FakeServer, or nothing at all.
class PeerBus
{
public:
    explicit PeerBus(bool withServer) : client(QString())
    {
        QObject::connect(&m_server, &QDBusServer::newConnection, &fake,
                         [this, withServer](QDBusConnection connection) {
                             if (withServer)
                                 connection.registerObject(serverPath, &fake,
                                                           QDBusConnection::ExportAllSlots);
                             m_accepted = true;
                         });
        client = QDBusConnection::connectToPeer(m_server.address(), m_name);
    }
    ~PeerBus() { QDBusConnection::disconnectFromPeer(m_name); }
    bool accepted() const { return m_accepted; }

private:
    QDBusServer m_server;
    const QString m_name = QUuid::createUuid().toString();
    bool m_accepted = false;

public:
    FakeServer fake;
    QDBusConnection client;
};

bool notificationServerRunning()
{
    const auto *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(serverName).value();
}

// The notifications of this summary that dunst has shown, as `dunstctl history`
// lists them: everything on screen is closed first so that it enters the history.
QList<QVariantMap> historyOf(const QString &summary)
{
    const QString dunst = u"org.dunstproject.cmd0"_s;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.call(
        QDBusMessage::createMethodCall(serverName, serverPath, dunst, u"NotificationCloseAll"_s));
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        serverName, serverPath, dunst, u"NotificationListHistory"_s));
    QList<QVariantMap> matching;
    for (const QVariantMap &entry : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0))) {
        if (entry.value(u"summary"_s).toString() == summary)
            matching.append(entry);
    }
    return matching;
}

} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void escapesBody_data();
    void escapesBody();
    void consoleLines_data();
    void consoleLines();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void shownByServer_data();
    void shownByServer();
    void twoInOneSecondBothShown();
};

void TestDesktopNotifier::escapesBody_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain text") << u"Task completed"_s << u"Task completed"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("ampersand") << u"a && b"_s << u"a &amp;&amp; b"_s;
    QTest::newRow("tags") << markupBody << markupBodyEscaped;
    QTest::newRow("an entity is text too") << u"&amp; &#60;"_s << u"&amp;amp; &amp;#60;"_s;
    QTest::newRow("quotes stay") << uR"(say "hi", it's)"_s << uR"(say "hi", it's)"_s;
    QTest::newRow("lines and emoji stay") << u"a\n🚀 → b"_s << u"a\n🚀 → b"_s;
}

void TestDesktopNotifier::escapesBody()
{
    QFETCH(QString, body);
    QFETCH(QString, escaped);
    QCOMPARE(escapeNotificationBody(body), escaped);
}

void TestDesktopNotifier::consoleLines_data()
{
    QTest::addColumn<QString>("bus");
    QTest::addColumn<bool>("send");    // else the permission request
    QTest::addColumn<QString>("line"); // when it ends in ": ", the start of the line

    const QString permissionError = u"❌ Notification permission error: "_s;
    const QString sendError = u"❌ Failed to send notification: "_s;
    QTest::newRow("server answers")
        << u"session"_s << false << u"✅ Notification permissions granted"_s;
    QTest::newRow("no bus: permission") << u"none"_s << false << permissionError;
    QTest::newRow("server error: permission")
        << u"refusing"_s << false << permissionError + u"the server refused"_s;
    QTest::newRow("no bus: send") << u"none"_s << true << sendError;
    QTest::newRow("server error: send")
        << u"refusing"_s << true << sendError + u"the server refused"_s;
    QTest::newRow("no server: send") << u"empty"_s << true << sendError;
}

void TestDesktopNotifier::consoleLines()
{
    QFETCH(QString, bus);
    QFETCH(bool, send);
    QFETCH(QString, line);
    if (bus == u"session" && !notificationServerRunning())
        QFAIL("no notification server: run under tests/notify/with-notification-server.sh");

    std::unique_ptr<PeerBus> peer;
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (bus == u"none") {
        connection =
            QDBusConnection::connectToBus(u"unix:path=/nonexistent/tolvo-bus"_s, u"tolvo-no-bus"_s);
        QVERIFY(!connection.isConnected());
    } else if (bus != u"session") {
        peer = std::make_unique<PeerBus>(bus == u"refusing");
        peer->fake.refusal = u"the server refused"_s;
        QTRY_VERIFY(peer->accepted());
        connection = peer->client;
    }

    ConsoleCapture console;
    DesktopNotifier notifier(connection);
    if (send)
        notifier.sendNotification(u"Claude Code - tolvo"_s, u"Task completed"_s, u"1-stop-1.5"_s);
    else
        notifier.requestPermission();

    QTRY_COMPARE(console.lines().size(), 1);
    const QString written = console.lines().first();
    if (line.endsWith(u": ")) {
        QVERIFY2(written.startsWith(line) && written.size() > line.size(), qPrintable(written));
    } else {
        QCOMPARE(written, line);
    }
}

void TestDesktopNotifier::requestOnTheWire_data()
{
    QTest::addColumn<QStringList>("capabilities");
    QTest::addColumn<bool>("refuseCapabilities");
    QTest::addColumn<QString>("body");

    QTest::newRow("server reads markup")
        << QStringList{u"body"_s, u"body-markup"_s} << false << markupBodyEscaped;
    QTest::newRow("server shows plain text") << QStringList{u"body"_s} << false << markupBody;
    QTest::newRow("capabilities unknown") << QStringList() << true << markupBodyEscaped;
}

void TestDesktopNotifier::requestOnTheWire()
{
    QFETCH(QStringList, capabilities);
    QFETCH(bool, refuseCapabilities);
    QFETCH(QString, body);

    PeerBus peer(true);
    QTRY_VERIFY(peer.accepted());
    peer.fake.capabilities = capabilities;
    peer.fake.refuseCapabilities = refuseCapabilities;
    DesktopNotifier notifier(peer.client);
    QTRY_COMPARE(peer.fake.capabilityRequests, 1);
    const bool escapes = body != markupBody;
    QTRY_COMPARE(notifier.escapesBody(), escapes);

    peer.fake.clock.start();
    notifier.sendNotification(u"Claude Code - tolvo"_s, markupBody, u"42-stop-1.5"_s);
    QTRY_COMPARE(peer.fake.received.size(), 1);

    const FakeServer::Received &sent = peer.fake.received.first();
    QVERIFY2(sent.atMs >= 100 && sent.atMs < 2000, qPrintable(QString::number(sent.atMs)));
    QCOMPARE(sent.signature, u"susssasa{sv}i"_s);
    QCOMPARE(sent.appName, u"Tolvo"_s);
    QCOMPARE(sent.replacesId, 0u);
    QCOMPARE(sent.icon, u"com.tolvo.Tolvo"_s);
    QCOMPARE(sent.summary, u"Claude Code - tolvo"_s);
    QCOMPARE(sent.body, body);
    QCOMPARE(sent.actions, QStringList());
    QCOMPARE(sent.hints.keys(), (QStringList{u"desktop-entry"_s, u"sound-name"_s, u"urgency"_s}));
    QCOMPARE(sent.hints.value(u"desktop-entry"_s), QVariant(u"com.tolvo.Tolvo"_s));
    QCOMPARE(sent.hints.value(u"sound-name"_s), QVariant(u"message-new-instant"_s));
    QCOMPARE(sent.hints.value(u"urgency"_s).metaType(), QMetaType::fromType<uchar>());
    QCOMPARE(sent.hints.value(u"urgency"_s).value<uchar>(), uchar(1));
    QCOMPARE(sent.expireTimeout, -1);
}

void TestDesktopNotifier::shownByServer_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("shown"); // dunst's text, in its markup ("%s\n%b")

    QTest::newRow("plain text") << u"Claude Code - plain"_s << u"Completed: fix the build"_s
                                << u"Claude Code - plain\nCompleted: fix the build"_s;
    QTest::newRow("markup in the body shows literally")
        << u"Claude Code - markup"_s << markupBody
        << u"Claude Code - markup\n"_s + markupBodyEscaped;
    QTest::newRow("markup in the title shows literally")
        << u"Claude Code - <i>a & b</i>"_s << u"Task completed"_s
        << u"Claude Code - &lt;i&gt;a &amp; b&lt;/i&gt;\nTask completed"_s;
}

void TestDesktopNotifier::shownByServer()
{
    QFETCH(QString, title);
    QFETCH(QString, body);
    QFETCH(QString, shown);
    if (!notificationServerRunning())
        QFAIL("no notification server: run under tests/notify/with-notification-server.sh");

    ConsoleCapture console;
    DesktopNotifier notifier;
    notifier.sendNotification(title, body, u"7-stop-1.5"_s);
    QList<QVariantMap> notifications;
    QTRY_COMPARE((notifications = historyOf(title)).size(), 1);

    const QVariantMap &notification = notifications.first();
    QCOMPARE(notification.value(u"appname"_s).toString(), u"Tolvo"_s);
    // dunstrc marks notifications with Tolvo's desktop entry and normal urgency.
    QCOMPARE(notification.value(u"category"_s).toString(), u"tolvo-normal"_s);
    QCOMPARE(notification.value(u"message"_s).toString(), shown);
    // The answer to Notify came before the history; its completion is queued.
    QCoreApplication::processEvents();
    QCOMPARE(console.lines(), QStringList());
}

void TestDesktopNotifier::twoInOneSecondBothShown()
{
    if (!notificationServerRunning())
        QFAIL("no notification server: run under tests/notify/with-notification-server.sh");

    const QString title = u"Claude Code - twice"_s;
    DesktopNotifier notifier;
    notifier.sendNotification(title, u"Task completed"_s, u"7-stop-1.25"_s);
    notifier.sendNotification(title, u"Task completed"_s, u"7-stop-1.5"_s);
    QList<QVariantMap> notifications;
    QTRY_COMPARE((notifications = historyOf(title)).size(), 2);
    QVERIFY(notifications[0].value(u"id"_s) != notifications[1].value(u"id"_s));
}

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
