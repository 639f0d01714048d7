// Runs under with-notification-server.sh: dunst serves the private session bus with ./dunstrc.
#include "desktopnotifier.h"
#include "testsupport.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServer>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString serverPath = u"/org/freedesktop/Notifications"_s;
const QString markupBody = uR"(<b>x</b> & <img src="http://127.0.0.1:1/x">)"_s;
const QString markupBodyEscaped =
    uR"(&lt;b&gt;x&lt;/b&gt; &amp; &lt;img src="http://127.0.0.1:1/x"&gt;)"_s;

// A notification server on a peer-to-peer connection; only the right signature reaches Notify().
class FakeServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeServer(const QStringList &capabilities) : capabilities(capabilities)
    {
        connect(&m_server, &QDBusServer::newConnection, this, [this](QDBusConnection peer) {
            accepted = peer.registerObject(serverPath, this, QDBusConnection::ExportAllSlots);
        });
        client = QDBusConnection::connectToPeer(m_server.address(), u"peer"_s);
    }
    ~FakeServer() override { QDBusConnection::disconnectFromPeer(u"peer"_s); }

    const QStringList capabilities;
    QList<QStringList> received; // the arguments of each request
    qint64 receivedAtMs = -1;
    bool accepted = false;
    QDBusConnection client{QString()};

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &app, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints,
                int expireTimeout)
    {
        QString hintsText;
        QDebug(&hintsText).nospace() << hints;
        received.append({app, QString::number(replacesId), icon, summary, body, actions.join(u','),
                         hintsText, QString::number(expireTimeout)});
        receivedAtMs = QDeadlineTimer::current().deadline();
        return uint(received.size());
    }

private:
    QDBusServer m_server;
};

// The messages dunst has shown with this summary; closing them all puts them in its history.
QStringList shownByDunst(const QString &summary)
{
    const auto call = [](const QString &method) { // QDBusInterface would leak its introspection
        return QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            u"org.freedesktop.Notifications"_s, serverPath, u"org.dunstproject.cmd0"_s, method));
    };
    call(u"NotificationCloseAll"_s);
    QStringList shown;
    const QVariant history = call(u"NotificationListHistory"_s).arguments().value(0);
    for (const QVariantMap &entry : qdbus_cast<QList<QVariantMap>>(history))
        if (entry.value(u"summary"_s).toString() == summary)
            shown << entry.value(u"message"_s).toString();
    return shown;
}

} // namespace

class TestDesktopNotifier : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The session's server grants permission; without a bus both calls fail with a reason.
    void consoleLines()
    {
        ConsoleCapture console;
        DesktopNotifier notifier,
            offline(QDBusConnection::connectToBus(u"unix:path=/none"_s, u"none"_s));
        notifier.requestPermission();
        offline.requestPermission();
        offline.sendNotification(u"Claude Code"_s, u"Done"_s, u"1-stop-1.5"_s);
        QTRY_COMPARE(console.lines().size(), 3);
        QStringList lines = console.lines();
        lines.sort(); // ✅ before ❌
        QVERIFY2(lines.join(u'\n').contains(QRegularExpression(
                     u"^✅ Notification permissions granted\n❌ Failed to send notification: .+\n"
                     u"❌ Notification permission error: .+$"_s)),
                 qPrintable(lines.join(u'\n')));
    }

    void requestOnTheWire_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::newRow("server reads markup")
            << QStringList{u"body"_s, u"body-markup"_s} << markupBodyEscaped;
        QTest::newRow("server shows plain text") << QStringList{u"body"_s} << markupBody;
    }

    void requestOnTheWire()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        FakeServer peer(capabilities);
        QTRY_VERIFY(peer.accepted);
        DesktopNotifier notifier(peer.client);
        QTRY_COMPARE(notifier.escapesBody(), body != markupBody);
        const qint64 sentAtMs = QDeadlineTimer::current().deadline();
        notifier.sendNotification(u"Claude Code - tolvo"_s, markupBody, u"42-stop-1.5"_s);
        const QString hints = uR"(QMap(("desktop-entry", QVariant(QString, "com.tolvo.Tolvo")))"
                              uR"(("sound-name", QVariant(QString, "message-new-instant")))"
                              uR"(("urgency", QVariant(uchar, 1))))"_s;
        QTRY_COMPARE(peer.received, QList<QStringList>({{u"Tolvo"_s, u"0"_s, u"com.tolvo.Tolvo"_s,
                                                         u"Claude Code - tolvo"_s, body, QString(),
                                                         hints, u"-1"_s}}));
        const qint64 delay = peer.receivedAtMs - sentAtMs;
        QVERIFY2(delay >= 100 && delay < 2000, qPrintable(QString::number(delay)));
    }

    // Two within a second are both shown, the markup in their bodies literally.
    void shownByDunst()
    {
        const QString title = u"Claude Code - shown"_s, message = title + u'\n' + markupBodyEscaped;
        DesktopNotifier notifier;
        notifier.sendNotification(title, markupBody, u"7-stop-1.25"_s);
        notifier.sendNotification(title, markupBody, u"7-stop-1.5"_s);
        QTRY_COMPARE(::shownByDunst(title), QStringList({message, message}));
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
