// Runs under with-notification-server.sh: dunst serves the private session bus with ./dunstrc.
#include "desktopnotifier.h"
#include "testsupport.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServer>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSignalSpy>
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
            serverSide = peer;
        });
        client = QDBusConnection::connectToPeer(m_server.address(), u"peer"_s);
    }
    ~FakeServer() override { QDBusConnection::disconnectFromPeer(u"peer"_s); }

    const QStringList capabilities;
    QList<QStringList> received; // the arguments of each request
    qint64 receivedAtMs = -1;
    bool accepted = false;
    QDBusConnection client{QString()};
    QDBusConnection serverSide{QString()};
    QList<uint> closed; // CloseNotification requests

    // "invoke 2" (the default action of id 2) or "closed 2" (closed by the user).
    void emitSignal(const QString &step)
    {
        const QStringList words = step.split(u' ');
        const bool invoke = words.first() == u"invoke";
        QDBusMessage signal =
            QDBusMessage::createSignal(serverPath, u"org.freedesktop.Notifications"_s,
                                       invoke ? u"ActionInvoked"_s : u"NotificationClosed"_s);
        signal << words.last().toUInt();
        signal << (invoke ? QVariant(u"default"_s) : QVariant(uint(2)));
        serverSide.send(signal);
    }

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
    void CloseNotification(uint id) { closed.append(id); }

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
                                                         u"Claude Code - tolvo"_s, body,
                                                         u"default,Show"_s, hints, u"-1"_s}}));
        const qint64 delay = peer.receivedAtMs - sentAtMs;
        QVERIFY2(delay >= 100 && delay < 2000, qPrintable(QString::number(delay)));
    }

    // A click on one of Tolvo's notifications names the session it was sent
    // for and withdraws it; anything else is not Tolvo's to act on.
    void clickLeadsBack_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("activated");
        QTest::addColumn<QList<uint>>("closed");
        QTest::newRow("clicked") << QStringList{u"invoke 2"_s} << QStringList{u"102-notif-2.5"_s}
                                 << QList<uint>{2};
        QTest::newRow("another application's")
            << QStringList{u"invoke 9"_s} << QStringList() << QList<uint>();
        QTest::newRow("closed before the click")
            << QStringList{u"closed 1"_s, u"invoke 1"_s} << QStringList() << QList<uint>();
        QTest::newRow("clicked twice") << QStringList{u"invoke 1"_s, u"invoke 1"_s}
                                       << QStringList{u"101-stop-1.5"_s} << QList<uint>{1};
    }

    void clickLeadsBack()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, activated);
        QFETCH(QList<uint>, closed);
        FakeServer peer({u"body"_s, u"actions"_s});
        QTRY_VERIFY(peer.accepted);
        DesktopNotifier notifier(peer.client);
        QSignalSpy clicks(&notifier, &DesktopNotifier::activated);
        for (const QString &identifier : {u"101-stop-1.5"_s, u"102-notif-2.5"_s, u"103-stop-3.5"_s})
            notifier.sendNotification(u"Claude Code - tolvo"_s, u"Done"_s, identifier);
        QTRY_COMPARE(notifier.shownCount(), 3);

        // Messages from one peer arrive in order: once the last click is
        // through, so is everything before it.
        for (const QString &step : steps + QStringList{u"invoke 3"_s})
            peer.emitSignal(step);
        QTRY_COMPARE(clicks.size(), activated.size() + 1);
        QStringList seen;
        for (const QList<QVariant> &click : std::as_const(clicks))
            seen << click.first().toString();
        QCOMPARE(seen, activated + QStringList{u"103-stop-3.5"_s});
        QTRY_COMPARE(peer.closed, closed + QList<uint>{3});
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
