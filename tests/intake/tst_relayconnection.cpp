// The desktop's end of a relay, against a stand-in transport: a shell script
// that prints what a relay would (or would not) and keeps what it is sent.

#include "relayconnection.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray hello = R"({"relay":"hello","version":1,"epoch":"e1","machine":"x86_64"})"
                         "\n";
const QByteArray record =
    R"({"instance":"12","event":"Stop","tool":null,"working_directory":"/w/shop"})";

QByteArray item(int seq, const QByteArray &record)
{
    return "{\"seq\":" + QByteArray::number(seq) + ",\"record\":" + record + "}\n";
}

// Launch n prints out<n>, then keeps its input in in<n> when stay<n> exists.
struct Transport
{
    QTemporaryDir dir;
    QString path(const QString &name) const { return dir.filePath(name); }
    void write(const QString &name, const QByteArray &data) const
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == data.size());
    }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList command() const
    {
        return {u"sh"_s, u"-c"_s,
                u"cd \"$1\" && n=$(($(cat count 2>/dev/null || echo 0) + 1)) && echo $n > count && "
                u"cat out$n 2>/dev/null; cat err$n >&2 2>/dev/null; "
                u"if [ -f stay$n ]; then exec cat > in$n; fi; exit 1"_s,
                u"transport"_s, dir.path()};
    }
};

} // namespace

class TestRelayConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<bool>("stay");
        QTest::addColumn<int>("events");
        QTest::addColumn<QString>("said"); // other signals, in order
        QTest::addColumn<QString>("message");

        const QByteArray replayed = R"({"relay":"replayed","live":["12","x","-3"]})"
                                    "\n";
        QTest::newRow("record") << hello + item(1, record) + replayed << QByteArray() << true << 1
                                << u"replayed 12"_s << QString();
        QTest::newRow("before the greeting")
            << item(1, record) + hello << QByteArray() << true << 0 << QString() << QString();
        QTest::newRow("garbage and an oversized line")
            << hello + "not json\n[1,2]\n{\"seq\":x}\n{\"seq\":2,\"record\":{}}\n" +
                   QByteArray(RelayConnection::lineLimit + 10, 'x') + "\n" + item(3, record)
            << QByteArray() << true << 1 << QString() << QString();
        QTest::newRow("a number seen before")
            << hello + item(1, record) + item(1, record) + item(2, record) << QByteArray() << true
            << 2 << QString() << QString();
        QTest::newRow("no process of its own")
            << hello + item(1, R"({"instance":"$PPID","event":"Stop"})") +
                   item(2, R"({"instance":"0","event":"Stop"})")
            << QByteArray() << true << 0 << QString() << QString();
        QTest::newRow("exited and refused")
            << hello + "{\"seq\":1,\"exited\":\"12\"}\n{\"seq\":2,\"refused\":\"13\"}\n" +
                   "{\"seq\":3,\"exited\":\"rm -rf\"}\n" +
                   R"({"relay":"ended","request":"../x"})"
                   "\n" +
                   R"({"relay":"ended","request":"0123456789abcdef0123456789abcdef"})"
                   "\n"
            << QByteArray() << true << 0
            << u"exited 12, refused 13, ended 0123456789abcdef0123456789abcdef"_s << QString();
        QTest::newRow("another version")
            << QByteArray(R"({"relay":"hello","version":2,"epoch":"e"})"
                          "\n")
            << QByteArray() << false << 0 << QString()
            << u"the helper on devbox is of another version of Tolvo: set the host up again"_s;
        QTest::newRow("the relay's error")
            << QByteArray(R"({"relay":"error","message":"~/.tolvo is not private\u0007"})"
                          "\n")
            << QByteArray("shell noise\n") << false << 0 << QString()
            << u"~/.tolvo is not private"_s;
        QTest::newRow("the transport's error")
            << QByteArray() << QByteArray("Warning: x\nssh: connect to host devbox: refused\n")
            << false << 0 << QString() << u"ssh: connect to host devbox: refused"_s;
    }

    void lines()
    {
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(bool, stay);
        QFETCH(int, events);
        QFETCH(QString, said);
        QFETCH(QString, message);
        Transport transport;
        transport.write(u"out1"_s, out);
        transport.write(u"err1"_s, err);
        if (stay)
            transport.write(u"stay1"_s, {});
        RelayConnection relay(u"devbox"_s, transport.command());
        QList<HookEvent> received;
        QStringList others;
        connect(&relay, &RelayConnection::eventReceived, this,
                [&](const HookEvent &event) { received.append(event); });
        const auto note = [&](const QString &what) { others.append(what); };
        connect(&relay, &RelayConnection::replayed, this, [&](const QString &, QList<qint64> live) {
            note(u"replayed "_s + QString::number(live.value(0)) +
                 (live.size() > 1 ? u"+"_s : u""_s));
        });
        connect(&relay, &RelayConnection::exited, this,
                [&](const QString &, qint64 pid) { note(u"exited %1"_s.arg(pid)); });
        connect(&relay, &RelayConnection::refused, this,
                [&](const QString &, qint64 pid) { note(u"refused %1"_s.arg(pid)); });
        connect(&relay, &RelayConnection::requestEnded, this,
                [&](const QString &, const QString &id) { note(u"ended "_s + id); });
        relay.start();
        if (stay) {
            QTRY_VERIFY(!transport.read(u"in1"_s).isEmpty()); // what it was sent comes last
            QTest::qWait(100);
        } else {
            QTRY_COMPARE(relay.state(), RelayConnection::State::disconnected);
        }
        QCOMPARE(received.size(), events);
        for (const HookEvent &event : std::as_const(received)) {
            QCOMPARE(event.host, u"devbox"_s);
            QCOMPARE(event.record, record);
        }
        QCOMPARE(others.join(u", "_s), said);
        if (!message.isEmpty())
            QCOMPARE(relay.message(), message);
        relay.stop();
    }

    // Every connect replays what the relay kept: what was taken before is not
    // taken again, unless the relay started afresh (another epoch).
    void reconnectsAndPicksUp()
    {
        Transport transport;
        transport.write(u"out1"_s, hello + item(1, record) + item(2, record));
        transport.write(u"out2"_s, hello + item(1, record) + item(2, record) + item(3, record) +
                                       R"({"relay":"hello","version":1,"epoch":"e2"})"
                                       "\n" +
                                       item(1, record));
        transport.write(u"stay2"_s, {});
        RelayConnection relay(u"devbox"_s, transport.command());
        relay.setHold({540, true, true});
        QSignalSpy events(&relay, &RelayConnection::eventReceived);
        QList<RelayConnection::State> states;
        connect(&relay, &RelayConnection::stateChanged, this,
                [&] { states.append(relay.state()); });
        relay.start();
        QTRY_COMPARE(events.size(), 4);
        QTRY_VERIFY(transport.read(u"in2"_s).startsWith(
            "{\"agents\":[\"claude\",\"codex\"],\"hold\":540}\n"));
        using S = RelayConnection::State;
        QCOMPARE(states, (QList<S>{S::connecting, S::connected, S::disconnected, S::connecting,
                                   S::connected}));
        relay.stop();
    }
};

QTEST_GUILESS_MAIN(TestRelayConnection)
#include "tst_relayconnection.moc"
