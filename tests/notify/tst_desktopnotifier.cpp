// Runs under with-notification-server.sh: dunst serves the private session bus with ./dunstrc.
#include "desktopnotifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServer>
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
    QList<QVariantList> received; // the arguments of each Notify
    QList<uint> closed;           // CloseNotification requests
    bool accepted = false;
    QDBusConnection client{QString()};
    QDBusConnection serverSide{QString()};

    // "invoke 2" (the default action of id 2) or "closed 2" (closed by the user).
    void emitSignal(const QString &step)
    {
        const bool invoke = step.startsWith(u"invoke");
        QDBusMessage signal =
            QDBusMessage::createSignal(serverPath, u"org.freedesktop.Notifications"_s,
                                       invoke ? u"ActionInvoked"_s : u"NotificationClosed"_s);
        signal << step.section(u' ', 1).toUInt()
               << (invoke ? QVariant(u"default"_s) : QVariant(uint(2)));
        serverSide.send(signal);
    }

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &app, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints,
                int expireTimeout)
    {
        received.append({app, replacesId, icon, summary, body, actions, hints, expireTimeout});
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
    // What goes to the server: NUL replaced, shortened, then (for a server
    // that reads markup) escaped, so that no entity is ever cut in two.
    void requestOnTheWire_data()
    {
        QTest::addColumn<bool>("markup"); // the server reads markup in bodies
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("sent");
        const QString x(notificationTextLimit - 1, u'x');
        QTest::newRow("markup") << true << markupBody << markupBodyEscaped;
        QTest::newRow("plain text server") << false << markupBody << markupBody;
        QTest::newRow("an entity stays text") << true << u"&amp; \"'"_s << u"&amp;amp; \"'"_s;
        QTest::newRow("NUL") << false << u"a\0b"_s << u"a\uFFFDb"_s;
        QTest::newRow("at the limit") << true << x + u'>' << x + u"&gt;"_s;
        QTest::newRow("over the limit") << true << x + u"<b"_s << x + u"&lt;..."_s;
    }
    void requestOnTheWire()
    {
        QFETCH(bool, markup);
        QFETCH(QString, body);
        FakeServer peer(markup ? QStringList{u"body"_s, u"body-markup"_s} : QStringList{u"body"_s});
        QTRY_VERIFY(peer.accepted);
        DesktopNotifier notifier(peer.client);
        QTRY_COMPARE(notifier.escapesBody(), markup);
        notifier.sendNotification(u"Claude Code - tolvo"_s, body, u"42-stop-1.5"_s);
        QTRY_COMPARE(peer.received.size(), 1);
        const QVariantList &sent = peer.received.first();
        QCOMPARE(sent.value(3).toString(), u"Claude Code - tolvo"_s);
        QTEST(sent.value(4).toString(), "sent");
        QCOMPARE(sent.value(5).toStringList().value(0), u"default"_s); // the click
        QCOMPARE(sent.value(6).toMap().value(u"desktop-entry"_s).toString(), u"com.tolvo.Tolvo"_s);
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
