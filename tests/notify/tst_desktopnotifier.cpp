// Runs under with-notification-server.sh: dunst serves a private session bus.
#include "desktopnotifier.h"
#include "serverquiet.h"

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
    Q_PROPERTY(bool Inhibited MEMBER inhibited)
public:
    explicit FakeServer(const QStringList &capabilities, bool withInhibited = false,
                        bool inhibited = false)
        : capabilities(capabilities), withInhibited(withInhibited), inhibited(inhibited)
    {
        connect(&server, &QDBusServer::newConnection, this, [this](QDBusConnection peer) {
            accepted = peer.registerObject(serverPath, this,
                                           QDBusConnection::ExportAllSlots |
                                               (this->withInhibited
                                                    ? QDBusConnection::ExportAllProperties
                                                    : QDBusConnection::ExportNonScriptableSlots));
            serverSide = peer;
        });
        client = QDBusConnection::connectToPeer(server.address(), u"peer"_s);
        (void)QTest::qWaitFor([this] { return accepted; }); // Notify() is served
    }
    ~FakeServer() override { QDBusConnection::disconnectFromPeer(u"peer"_s); }

    const QStringList capabilities;
    const bool withInhibited;
    bool inhibited;
    QList<QVariantList> received; // body and actions of each Notify
    QList<uint> closed;           // ids asked to close
    bool accepted = false;
    QDBusConnection client{QString()};
    QDBusConnection serverSide{QString()};
    QDBusServer server;

    // "invoke 2" (the default action of id 2), "terminal 2" (its Go to Terminal), "allow 2"
    // (any other action by its key), "token 2 t" (the activation token t for id 2) or
    // "closed 2" (closed by the user).
    void emitSignal(const QString &step)
    {
        const QString kind = step.section(u' ', 0, 0);
        const QString name = kind == u"closed"  ? u"NotificationClosed"_s
                             : kind == u"token" ? u"ActivationToken"_s
                                                : u"ActionInvoked"_s;
        QDBusMessage signal =
            QDBusMessage::createSignal(serverPath, u"org.freedesktop.Notifications"_s, name);
        signal << step.section(u' ', 1, 1).toUInt();
        if (kind == u"closed")
            signal << uint(2);
        else if (kind == u"token")
            signal << step.section(u' ', 2);
        else
            signal << (kind == u"invoke"     ? u"default"_s
                       : kind == u"terminal" ? u"go-to-terminal"_s
                                             : kind);
        serverSide.send(signal);
    }
    // "Inhibited" changes: with its value, or only said to have changed.
    void changeInhibited(bool to, bool withValue)
    {
        inhibited = to;
        QDBusMessage signal = QDBusMessage::createSignal(
            serverPath, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
        signal << u"org.freedesktop.Notifications"_s
               << (withValue ? QVariantMap{{u"Inhibited"_s, to}} : QVariantMap())
               << (withValue ? QStringList() : QStringList{u"Inhibited"_s});
        serverSide.send(signal);
    }

public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        received.append({body, actions});
        return uint(received.size());
    }
    void CloseNotification(uint id) { closed.append(id); }
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
        QTest::newRow("NUL") << false << u"a\0b"_s << u"a\uFFFDb"_s;
        QTest::newRow("at the limit") << true << x + u'>' << x + u"&gt;"_s;
        QTest::newRow("over the limit") << true << x + u"<b"_s << x + u"&lt;..."_s;
    }
    void requestOnTheWire()
    {
        QFETCH(bool, markup);
        QFETCH(QString, body);
        FakeServer peer(markup ? QStringList{u"body"_s, u"body-markup"_s} : QStringList{u"body"_s});
        DesktopNotifier notifier(peer.client);
        QTRY_COMPARE(notifier.escapesBody(), markup);
        notifier.sendNotification(u"Claude Code - tolvo"_s, body, u"42-stop-1.5"_s);
        QTRY_COMPARE(peer.received.size(), 1);
        const QVariantList &sent = peer.received.first();
        QTEST(sent.value(0).toString(), "sent");
        QCOMPARE(sent.value(1).toStringList().value(0), u"default"_s); // the click
    }

    // A click on one of Tolvo's notifications (server ids 1 to 3, sent for
    // "10<id>-...") names its session and withdraws it; nothing else does.
    void clickLeadsBack_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("activated");
        QTest::newRow("clicked") << QStringList{u"invoke 2"_s} << QStringList{u"102-notif-2.5"_s};
        QTest::newRow("another application's") << QStringList{u"invoke 9"_s} << QStringList();
        QTest::newRow("closed before the click")
            << QStringList{u"closed 1"_s, u"invoke 1"_s} << QStringList();
        QTest::newRow("clicked twice")
            << QStringList{u"invoke 1"_s, u"invoke 1"_s} << QStringList{u"101-stop-1.5"_s};
        QTest::newRow("Go to Terminal, with the server's token")
            << QStringList{u"token 2 kwin-42"_s, u"terminal 2"_s}
            << QStringList{u"terminal 102-notif-2.5 kwin-42"_s};
    }
    void clickLeadsBack()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, activated);
        FakeServer peer({u"body"_s, u"actions"_s});
        DesktopNotifier notifier(peer.client);
        QSignalSpy clicks(&notifier, &DesktopNotifier::activated);
        connect(&notifier, &DesktopNotifier::goToTerminalRequested, this,
                [&](const QString &identifier, const QByteArray &token) {
                    clicks.append(
                        {u"terminal "_s + identifier + u' ' + QString::fromLatin1(token)});
                });
        for (const QString &identifier : {u"101-stop-1.5"_s, u"102-notif-2.5"_s, u"103-stop-3.5"_s})
            notifier.sendNotification(u"Claude Code - tolvo"_s, u"Done"_s, identifier);
        QTRY_COMPARE(notifier.shownCount(), 3);
        for (const QString &step : steps + QStringList{u"invoke 3"_s}) // arrives last
            peer.emitSignal(step);
        activated.append(u"103-stop-3.5"_s);
        QTRY_COMPARE(clicks.size(), activated.size());
        QList<uint> closed;
        for (qsizetype i = 0; i < activated.size(); ++i) {
            QCOMPARE(clicks.at(i).first().toString(), activated[i]);
            const QString identifier =
                activated[i].section(u' ', -2, -2, QString::SectionSkipEmpty);
            closed.append(
                (activated[i].contains(u' ') ? identifier : activated[i]).mid(2, 1).toUInt());
        }
        QTRY_COMPARE(peer.closed, closed);
    }

    // A waiting request's notice offers the answers (Always allow where it suggests something);
    // an answer names the request; a notice withdrawn because the terminal answered takes none.
    void answersFromTheNotice()
    {
        FakeServer peer({u"body"_s, u"actions"_s});
        DesktopNotifier notifier(peer.client);
        QSignalSpy answers(&notifier, &DesktopNotifier::answerRequested);
        notifier.sendNotification(u"t"_s, u"Permission required for: Bash"_s, u"A"_s, {},
                                  {u"r1"_s, true});
        QTRY_COMPARE(notifier.shownCount(), 1);
        notifier.sendNotification(u"t"_s, u"Permission required for: Write"_s, u"B"_s, {},
                                  {u"r2"_s, false});
        QTRY_COMPARE(notifier.shownCount(), 2);
        notifier.sendNotification(u"t"_s, u"Completed"_s, u"C"_s);
        QTRY_COMPARE(notifier.shownCount(), 3);
        const QStringList show{u"default"_s, u"Show"_s},
            terminal{u"go-to-terminal"_s, u"Go to Terminal"_s};
        const QStringList allow{u"allow"_s, u"Allow"_s}, always{u"always"_s, u"Always allow"_s},
            deny{u"deny"_s, u"Deny"_s};
        QCOMPARE(peer.received[0][1].toStringList(), show + allow + always + deny + terminal);
        QCOMPARE(peer.received[1][1].toStringList(), show + allow + deny + terminal);
        QCOMPARE(peer.received[2][1].toStringList(), show + terminal);
        notifier.withdraw(u"r2"_s);
        for (const QString &step : {u"deny 3"_s, u"allow 2"_s, u"always 1"_s})
            peer.emitSignal(step);
        QTRY_COMPARE(answers.size(), 1);
        QCOMPARE(answers.first(), QVariantList({u"r1"_s, u"always"_s}));
        QTRY_COMPARE(peer.closed.size(), 3);
        QCOMPARE(notifier.shownCount(), 0);
    }

    // What dunst (which merges identical notifications) ends up showing: a
    // session's new notice replaces its previous one; another session's notice
    // that would look the same gets its distinction; markup shows literally.
    // Whether the server keeps notifications back: read at the start, followed as it changes,
    // read again when only said to have changed; a server without the property never does.
    void serverInhibited_data()
    {
        QTest::addColumn<bool>("hasProperty");
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<QString>("changes"); // "on"/"off" with the value, "on?"/"off?" without
        QTest::addColumn<QString>("seen");    // inhibited() after the start and each change
        QTest::newRow("inhibited from the start") << true << true << u"off"_s << u"10"_s;
        QTest::newRow("inhibited later, and again") << true << false << u"on off on"_s << u"0101"_s;
        QTest::newRow("only said to change") << true << false << u"on? off?"_s << u"010"_s;
        QTest::newRow("no such property") << false << false << QString() << u"0"_s;
    }
    void serverInhibited()
    {
        QFETCH(bool, hasProperty);
        QFETCH(bool, atStart);
        QFETCH(QString, changes);
        QFETCH(QString, seen);
        FakeServer server({}, hasProperty, atStart);
        ServerQuiet quiet(server.client, QString());
        QString told;
        QTest::qWait(100); // the first answer
        told += quiet.inhibited() ? u'1' : u'0';
        for (const QString &change : changes.split(u' ', Qt::SkipEmptyParts)) {
            const bool on = change.startsWith(u"on");
            server.changeInhibited(on, !change.endsWith(u'?'));
            QTRY_COMPARE(quiet.inhibited(), on);
            told += on ? u'1' : u'0';
        }
        QCOMPARE(told, seen);
    }

    void shownByDunst()
    {
        const QString title = u"Claude Code - shown"_s;
        DesktopNotifier notifier;
        notifier.sendNotification(title, u"first"_s, u"A"_s, u"/w/one/shown"_s);
        notifier.sendNotification(title, markupBody, u"A"_s, u"/w/one/shown"_s);
        // dunst is slow to answer on a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(notifier.shownCount(), 1, 20000);
        notifier.sendNotification(title, markupBody, u"B"_s, u"/w/two/shown"_s);
        QTRY_COMPARE_WITH_TIMEOUT(notifier.shownCount(), 2, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(
            ::shownByDunst(title),
            QStringList({title + u'\n' + markupBodyEscaped + u"\n/w/two/shown"_s,
                         title + u'\n' + markupBodyEscaped}),
            20000);
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
