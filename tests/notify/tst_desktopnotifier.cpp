// Runs under with-notification-server.sh: dunst serves the private session bus with ./dunstrc.
#include "desktopnotifier.h"
#include "testsupport.h"

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServer>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace {

const QString serverPath = u"/org/freedesktop/Notifications"_s;
const QString markupBody = uR"(<b>x</b> & <img src="http://127.0.0.1:1/x">)"_s;
const QString markupBodyEscaped =
    uR"(&lt;b&gt;x&lt;/b&gt; &amp; &lt;img src="http://127.0.0.1:1/x"&gt;)"_s;

// A notification server on a peer-to-peer connection, to read requests on the wire.
class FakeServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    FakeServer()
    {
        connect(&m_server, &QDBusServer::newConnection, this, [this](QDBusConnection peer) {
            accepted = peer.registerObject(serverPath, this, QDBusConnection::ExportAllSlots);
        });
        client = QDBusConnection::connectToPeer(m_server.address(), m_name);
        clock.start();
    }
    ~FakeServer() override { QDBusConnection::disconnectFromPeer(m_name); }

    QStringList capabilities;    // {"refuse"}: the request fails
    QList<QStringList> received; // the signature, then the arguments
    QElapsedTimer clock;
    qint64 receivedAtMs = -1;
    bool accepted = false;
    QDBusConnection client{QString()};

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        if (capabilities == QStringList{u"refuse"_s})
            sendErrorReply(QDBusError::NotSupported, u"no capabilities"_s);
        return capabilities;
    }
    uint Notify(const QString &app, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints,
                int expireTimeout)
    {
        QString hintsText;
        QDebug(&hintsText).nospace() << hints;
        received.append({message().signature(), app, QString::number(replacesId), icon, summary,
                         body, actions.join(u','), hintsText, QString::number(expireTimeout)});
        receivedAtMs = clock.elapsed();
        return uint(received.size());
    }

private:
    QDBusServer m_server;
    const QString m_name = QUuid::createUuid().toString();
};

// What dunst has shown with this summary: everything on screen is closed
// first, so that it enters the history.
QList<QVariantMap> shownByDunst(const QString &summary)
{
    const auto call = [](const QString &method) {
        return QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            u"org.freedesktop.Notifications"_s, serverPath, u"org.dunstproject.cmd0"_s, method));
    };
    call(u"NotificationCloseAll"_s);
    QList<QVariantMap> shown;
    const QVariant history = call(u"NotificationListHistory"_s).arguments().value(0);
    for (const QVariantMap &entry : qdbus_cast<QList<QVariantMap>>(history)) {
        if (entry.value(u"summary"_s).toString() == summary)
            shown.append(entry);
    }
    return shown;
}

} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void consoleLines_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("line"); // a pattern
        QTest::newRow("granted") << u"permission"_s << u"^✅ Notification permissions granted$"_s;
        QTest::newRow("no bus") << u"permission, no bus"_s
                                << u"^❌ Notification permission error: ."_s;
        QTest::newRow("send, no bus")
            << u"send, no bus"_s << u"^❌ Failed to send notification: ."_s;
    }

    void consoleLines()
    {
        QFETCH(QString, call);
        QFETCH(QString, line);
        ConsoleCapture console;
        DesktopNotifier notifier(call.endsWith(u"no bus") ? QDBusConnection::connectToBus(
                                                                u"unix:path=/none"_s, u"none"_s)
                                                          : QDBusConnection::sessionBus());
        call.startsWith(u"send")
            ? notifier.sendNotification(u"Claude Code"_s, u"Done"_s, u"1-stop-1.5"_s)
            : notifier.requestPermission();
        QTRY_COMPARE(console.lines().size(), 1);
        QVERIFY2(console.lines()[0].contains(QRegularExpression(line)),
                 qPrintable(console.lines()[0]));
    }

    void requestOnTheWire_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::newRow("server reads markup")
            << QStringList{u"body"_s, u"body-markup"_s} << markupBodyEscaped;
        QTest::newRow("server shows plain text") << QStringList{u"body"_s} << markupBody;
        QTest::newRow("capabilities unknown") << QStringList{u"refuse"_s} << markupBodyEscaped;
    }

    void requestOnTheWire()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        FakeServer peer;
        QTRY_VERIFY(peer.accepted);
        peer.capabilities = capabilities;
        DesktopNotifier notifier(peer.client);
        QTRY_COMPARE(notifier.escapesBody(), body != markupBody);
        const qint64 sentAtMs = peer.clock.elapsed();
        notifier.sendNotification(u"Claude Code - tolvo"_s, markupBody, u"42-stop-1.5"_s);
        QTRY_COMPARE(peer.received.size(), 1);
        const QString hints = uR"(QMap(("desktop-entry", QVariant(QString, "com.tolvo.Tolvo")))"
                              uR"(("sound-name", QVariant(QString, "message-new-instant")))"
                              uR"(("urgency", QVariant(uchar, 1))))"_s;
        QCOMPARE(peer.received.first(),
                 (QStringList{u"susssasa{sv}i"_s, u"Tolvo"_s, u"0"_s, u"com.tolvo.Tolvo"_s,
                              u"Claude Code - tolvo"_s, body, QString(), hints, u"-1"_s}));
        const qint64 delay = peer.receivedAtMs - sentAtMs;
        QVERIFY2(delay >= 100 && delay < 2000, qPrintable(QString::number(delay)));
    }

    // Two within a second are both shown, and markup in title and body shows literally.
    void shownByDunst()
    {
        const QString title = u"Claude Code - <i>a & b</i>"_s;
        DesktopNotifier notifier;
        notifier.sendNotification(title, markupBody, u"7-stop-1.25"_s);
        notifier.sendNotification(title, markupBody, u"7-stop-1.5"_s);
        QList<QVariantMap> shown;
        QTRY_COMPARE((shown = ::shownByDunst(title)).size(), 2);
        for (const QVariantMap &notification : shown) {
            // dunstrc marks notifications with Tolvo's desktop entry and normal urgency.
            QCOMPARE(notification.value(u"category"_s).toString(), u"tolvo-normal"_s);
            QCOMPARE(notification.value(u"message"_s).toString(),
                     u"Claude Code - &lt;i&gt;a &amp; b&lt;/i&gt;\n"_s + markupBodyEscaped);
        }
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
