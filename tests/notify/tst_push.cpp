// Runs on a private session bus (dbus-run-session): the keyring case starts
// its own gnome-keyring-daemon there, the away cases serve fake desktop services.
#include "awaywatch.h"
#include "pushnotifier.h"
#include "pushsender.h"
#include "pushtoken.h"
#include "testsupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

struct Request
{
    QByteArray method, path, body;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

// An ntfy server of the test's own: records each request and answers with the
// statuses given, in order (0: never answers), then 200.
class FakeNtfy : public QObject
{
public:
    explicit FakeNtfy(QList<int> answers = {}, QByteArray errorBody = {})
        : answers(std::move(answers)), errorBody(std::move(errorBody))
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }
    QString url() const { return u"http://127.0.0.1:"_s + QString::number(server.serverPort()); }

    QList<int> answers;
    const QByteArray errorBody;
    QList<Request> requests;

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = buffers[socket];
        buffer += socket->readAll();
        for (qsizetype end; (end = buffer.indexOf("\r\n\r\n")) >= 0;) {
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            Request request;
            const QList<QByteArray> first = lines.first().trimmed().split(' ');
            request.method = first.value(0);
            request.path = first.value(1);
            for (const QByteArray &line : lines.mid(1)) {
                const qsizetype colon = line.indexOf(':');
                request.headers.insert(line.left(colon).trimmed().toLower(),
                                       line.mid(colon + 1).trimmed());
            }
            const qsizetype length = request.headers.value("content-length").toInt();
            if (buffer.size() < end + 4 + length)
                return;
            request.body = buffer.mid(end + 4, length);
            buffer.remove(0, end + 4 + length);
            requests.append(request);
            answer(socket);
        }
    }
    void answer(QTcpSocket *socket)
    {
        const int status = answers.isEmpty() ? 200 : answers.takeFirst();
        if (status == 0)
            return;
        const QByteArray body =
            status == 200 ? "{\"id\":\"a1\",\"event\":\"message\"}"_ba : errorBody;
        const QByteArray reason = status == 404 ? "Not Found"_ba : "Some Reason"_ba;
        socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                      "\r\nContent-Type: application/json\r\nLocation: https://elsewhere.test/"
                      "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> buffers;
};

// The longest pause of the event loop while a test waits: a slow server must
// never stall it.
class Ticker
{
public:
    Ticker()
    {
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { longest = std::max(longest, clock.restart()); });
        clock.start();
        timer.start(10);
    }
    qint64 longest = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
};

const PushSender::Timing quick{400, 30, 60, 3};

QString decoded(const QByteArray &header)
{
    if (!header.startsWith("=?UTF-8?B?"))
        return QString::fromUtf8(header);
    return QString::fromUtf8(QByteArray::fromBase64(header.mid(10, header.size() - 12)));
}

// Fake desktop services: the screen saver, and logind's session properties.
class ScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    bool active = false;
public Q_SLOTS:
    bool GetActive() { return active; }
};

class LoginSession : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool IdleHint MEMBER idle)
    Q_PROPERTY(bool LockedHint MEMBER locked)
public:
    bool idle = false;
    bool locked = false;
};

} // namespace

class TestPush : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CURRENT_DESKTOP", "GNOME"); } // QtKeychain: libsecret

    // What goes over the wire, and what becomes of each answer: 4xx are final and
    // say the server's message; 5xx, network errors and silence are tried again,
    // a bounded number of times.
    void delivery_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QByteArray>("errorBody");
        QTest::addColumn<bool>("closedPort");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("requests");
        const QByteArray ntfyError =
            "{\"code\":40301,\"http\":403,\"error\":\"forbidden\\nby rule\"}"_ba;
        QTest::newRow("delivered")
            << QList<int>{} << QByteArray() << false << u"delivered: HTTP 200"_s << 1;
        QTest::newRow("ntfy error") << QList<int>{403} << ntfyError << false
                                    << u"failed: HTTP 403: forbidden by rule"_s << 1;
        QTest::newRow("4xx without JSON")
            << QList<int>{404} << "<html>"_ba << false << u"failed: HTTP 404: Not Found"_s << 1;
        QTest::newRow("redirect not followed")
            << QList<int>{301} << QByteArray() << false
            << u"failed: HTTP 301: Some Reason (the server points elsewhere: set the address it names)"_s
            << 1;
        QTest::newRow("5xx, then delivered")
            << QList<int>{502, 503} << QByteArray() << false << u"delivered: HTTP 200"_s << 3;
        QTest::newRow("5xx throughout") << QList<int>{500, 500, 500} << QByteArray() << false
                                        << u"failed: HTTP 500: Some Reason (tried 3 times)"_s << 3;
        QTest::newRow("silent server times out")
            << QList<int>{0, 0, 0} << QByteArray() << false
            << u"failed: No answer within 0.4 s (tried 3 times)"_s << 3;
        QTest::newRow("closed port") << QList<int>{} << QByteArray() << true
                                     << u"failed: Connection refused (tried 3 times)"_s << 0;
    }
    void delivery()
    {
        QFETCH(QList<int>, answers);
        QFETCH(QByteArray, errorBody);
        QFETCH(bool, closedPort);
        QFETCH(QString, outcome);
        QFETCH(int, requests);
        FakeNtfy ntfy(answers, errorBody);
        QString url = ntfy.url();
        if (closedPort) {
            QTcpServer closed;
            closed.listen(QHostAddress::LocalHost);
            url = u"http://127.0.0.1:"_s + QString::number(closed.serverPort());
        }
        PushSender sender;
        sender.setTiming(quick);
        sender.setToken(u"tk_secret"_s);
        QSignalSpy delivered(&sender, &PushSender::delivered);
        QSignalSpy failed(&sender, &PushSender::failed);
        Ticker ticker;
        QVERIFY(sender.send(url, u"phone_1"_s,
                            {u"Claude Code - caf\u00e9\nx"_s, u"Allow Bash?"_s,
                             u"/home/u/caf\u00e9"_s, true, u"tolvo,permission"_s}));
        QVERIFY(QTest::qWaitFor([&] { return delivered.size() + failed.size() > 0; }, 5000));
        const QString said = delivered.isEmpty()
                                 ? u"failed: "_s + failed.first().first().toString()
                                 : u"delivered: "_s + delivered.first().first().toString();
        QCOMPARE(said, outcome);
        QCOMPARE(ntfy.requests.size(), requests);
        QCOMPARE(sender.queued(), 0);
        QVERIFY2(ticker.longest < 300, qPrintable(QString::number(ticker.longest)));
        for (const Request &request : std::as_const(ntfy.requests)) {
            QCOMPARE(request.method, "POST"_ba);
            QCOMPARE(request.path, "/phone_1"_ba);
            QCOMPARE(decoded(request.headers.value("title")), u"Claude Code - caf\u00e9 x"_s);
            QCOMPARE(request.headers.value("priority"), "high"_ba);
            QCOMPARE(request.headers.value("tags"), "tolvo,permission"_ba);
            QCOMPARE(request.headers.value("authorization"), "Bearer tk_secret"_ba);
            QCOMPARE(request.body, u"Allow Bash?\n\n/home/u/caf\u00e9"_s.toUtf8());
        }
    }

    // Where a push may go: https anywhere, plain http to this computer only.
    void address_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("url"); // empty: refused
        QTest::newRow("https") << u"https://ntfy.example.org"_s << u"t"_s
                               << u"https://ntfy.example.org/t"_s;
        QTest::newRow("https with a path")
            << u" https://example.org/ntfy/ "_s << u"t"_s << u"https://example.org/ntfy/t"_s;
        QTest::newRow("http to 127.x")
            << u"http://127.3.2.1:8080"_s << u"t"_s << u"http://127.3.2.1:8080/t"_s;
        QTest::newRow("http to ::1")
            << u"http://[::1]:8080"_s << u"t"_s << u"http://[::1]:8080/t"_s;
        QTest::newRow("http to localhost")
            << u"http://LocalHost"_s << u"t"_s << u"http://localhost/t"_s;
        QTest::newRow("http to the LAN") << u"http://192.168.1.5"_s << u"t"_s << QString();
        QTest::newRow("http to a name") << u"http://127.0.0.1.example.org"_s << u"t"_s << QString();
        QTest::newRow("other scheme") << u"ftp://example.org"_s << u"t"_s << QString();
        QTest::newRow("password in the address")
            << u"https://u:p@example.org"_s << u"t"_s << QString();
        QTest::newRow("topic with a slash") << u"https://example.org"_s << u"a/b"_s << QString();
    }
    void address()
    {
        QFETCH(QString, server);
        QFETCH(QString, topic);
        QFETCH(QString, url);
        QString problem;
        QCOMPARE(PushSender::publishUrl(server, topic, &problem).toString(), url);
        QCOMPARE(problem.isEmpty(), !url.isEmpty());
        if (!url.isEmpty())
            return; // sent nowhere: no traffic leaves this computer
        // A refused address is said at once, and nothing waits.
        PushSender sender;
        QSignalSpy failed(&sender, &PushSender::failed);
        QVERIFY(!sender.send(server, topic, {}));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(sender.queued(), 0);
    }

    // Pauses between attempts double up to the longest, however many there were.
    void retryDelay_data()
    {
        QTest::addColumn<int>("retry");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("first") << 1 << 2000;
        QTest::newRow("third") << 3 << 8000;
        QTest::newRow("capped") << 4 << 10000;
        QTest::newRow("many") << 70 << 10000;
    }
    void retryDelay()
    {
        QFETCH(int, retry);
        QFETCH(int, delayMs);
        QCOMPARE(PushSender::retryDelay(retry, {10000, 2000, 10000, 99}), delayMs);
    }

    // A server that never answers holds one push on the wire; the queue takes
    // twenty in all, and counts what it drops.
    void queueOverflow()
    {
        FakeNtfy ntfy({0});
        PushSender sender;
        QSignalSpy dropped(&sender, &PushSender::droppedChanged);
        for (int i = 0; i < PushSender::queueLimit + 5; ++i)
            QCOMPARE(sender.send(ntfy.url(), u"t"_s, {}), i < PushSender::queueLimit);
        QCOMPARE(sender.queued(), PushSender::queueLimit);
        QCOMPARE(sender.dropped(), 5);
        QCOMPARE(dropped.last().first().toInt(), 5);
        QVERIFY(QTest::qWaitFor([&] { return ntfy.requests.size() == 1; }, 2000));
    }

    // When a notice is pushed: at once while away; a permission request also
    // when it has waited its minutes (here 300 ms each), unless it ended first.
    void whenPushed_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("request");
        QTest::addColumn<bool>("away");
        QTest::addColumn<int>("answerMs"); // when the away answer comes
        QTest::addColumn<int>("endsMs");   // when the request ends; -1: it waits on
        QTest::addColumn<bool>("sessionWaits");
        QTest::addColumn<int>("pushedAtMs"); // -1: never
        QTest::newRow("notice at the desk") << true << false << false << 0 << -1 << true << -1;
        QTest::newRow("notice while away") << true << false << true << 0 << -1 << true << 0;
        QTest::newRow("request answered in time")
            << true << true << false << 0 << 200 << true << -1;
        QTest::newRow("request left waiting") << true << true << false << 0 << -1 << true << 300;
        QTest::newRow("request while away, once") << true << true << true << 0 << -1 << true << 0;
        QTest::newRow("request ended before the away answer")
            << true << true << true << 60 << 20 << true << -1;
        QTest::newRow("request the session no longer has")
            << true << true << false << 0 << -1 << false << -1;
        QTest::newRow("pushing off") << false << true << true << 0 << -1 << true << -1;
    }
    void whenPushed()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, request);
        QFETCH(bool, away);
        QFETCH(int, answerMs);
        QFETCH(int, endsMs);
        QFETCH(bool, sessionWaits);
        QFETCH(int, pushedAtMs);
        FakeNtfy ntfy;
        const auto config = [&] { return PushNotifier::Config{enabled, ntfy.url(), u"t"_s, 1}; };
        const auto ask = [&](std::function<void(bool)> done) {
            QTimer::singleShot(answerMs, [done, away] { done(away); });
        };
        PushNotifier notifier(config, ask, [&](const QString &) { return sessionWaits; });
        notifier.setMinuteMs(300);
        SessionListModel::Notification notice{
            u"s1"_s, u"/p/a"_s, u"Claude Code - a"_s, {u"Done"_s}, request ? u"r1"_s : QString(),
            {}};
        QElapsedTimer clock;
        clock.start();
        QList<qint64> pushedAt;
        connect(&notifier, &PushNotifier::delivered, [&] { pushedAt.append(clock.elapsed()); });
        notifier.offer(notice);
        if (endsMs >= 0)
            QTimer::singleShot(endsMs, &notifier, [&] { notifier.cancel(u"r1"_s); });
        QTest::qWait(700);
        QCOMPARE(pushedAt.size(), pushedAtMs < 0 ? 0 : 1);
        if (pushedAtMs >= 0) {
            QVERIFY2(pushedAt.first() >= pushedAtMs && pushedAt.first() < pushedAtMs + 250,
                     qPrintable(QString::number(pushedAt.first())));
            QCOMPARE(ntfy.requests.first().headers.value("priority"),
                     request ? "high"_ba : "default"_ba);
        }
        QCOMPARE(notifier.armedCount(), 0);
    }

    // Away as the desktop's services say it: the screen saver, logind's hints.
    void away_data()
    {
        QTest::addColumn<int>("saver"); // -1: no such service; else whether it runs
        QTest::addColumn<int>("idle");  // -1: no logind; else IdleHint (LockedHint: 2)
        QTest::addColumn<bool>("away");
        QTest::newRow("no services") << -1 << -1 << false;
        QTest::newRow("at the desk") << 0 << 0 << false;
        QTest::newRow("screen saver") << 1 << -1 << true;
        QTest::newRow("idle session") << -1 << 1 << true;
        QTest::newRow("locked session") << 0 << 2 << true;
    }
    void away()
    {
        QFETCH(int, saver);
        QFETCH(int, idle);
        QFETCH(bool, away);
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY2(bus.isConnected(), "runs under dbus-run-session");
        ScreenSaver screenSaver;
        screenSaver.active = saver == 1;
        LoginSession session;
        session.idle = idle == 1;
        session.locked = idle == 2;
        if (saver >= 0) {
            QVERIFY(bus.registerObject(u"/org/freedesktop/ScreenSaver"_s, &screenSaver,
                                       QDBusConnection::ExportAllSlots));
            QVERIFY(bus.registerService(u"org.freedesktop.ScreenSaver"_s));
        }
        if (idle >= 0) {
            QVERIFY(bus.registerObject(u"/org/freedesktop/login1/session/auto"_s, &session,
                                       QDBusConnection::ExportAllProperties));
            QVERIFY(bus.registerService(u"org.freedesktop.login1"_s));
        }
        AwayWatch watch(bus, bus);
        std::optional<bool> said;
        watch.ask([&](bool answer) { said = answer; });
        QVERIFY(!said); // never before ask returns
        QVERIFY(QTest::qWaitFor([&] { return said.has_value(); }, 3000));
        QCOMPARE(*said, away);
        bus.unregisterService(u"org.freedesktop.ScreenSaver"_s);
        bus.unregisterService(u"org.freedesktop.login1"_s);
        bus.unregisterObject(u"/org/freedesktop/ScreenSaver"_s);
        bus.unregisterObject(u"/org/freedesktop/login1/session/auto"_s);
    }

    // The token through a real Secret Service: written and read back with
    // Tolvo's own code, sent as the bearer, and in no file of the test's home.
    void tokenInKeyring()
    {
        TestHome home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString runtime = home.path() + u"/run"_s;
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        QProcess daemon;
        daemon.setProcessEnvironment(environment);
        daemon.start(u"gnome-keyring-daemon"_s,
                     {u"--foreground"_s, u"--components=secrets"_s, u"--unlock"_s});
        if (!daemon.waitForStarted(3000))
            QSKIP("gnome-keyring-daemon does not start (Debian package gnome-keyring)");
        daemon.write("test-password");
        daemon.closeWriteChannel();
        const auto served = [] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                u"org.freedesktop.secrets"_s);
        };
        if (!QTest::qWaitFor(served, 5000))
            QSKIP("gnome-keyring-daemon did not offer the Secret Service on the test's bus");
        const auto stop = qScopeGuard([&] {
            daemon.terminate();
            daemon.waitForFinished(3000);
        });

        const QString token = u"tk_0123456789abcdefghijklmnopqrs"_s;
        FakeNtfy ntfy;
        const auto config = [&] { return PushNotifier::Config{true, ntfy.url(), u"t"_s, 1}; };
        const auto atDesk = [](std::function<void(bool)> done) { done(false); };
        {
            PushNotifier writer(config, atDesk, {});
            QSignalSpy saved(&writer, &PushNotifier::tokenSaved);
            writer.saveToken(token);
            QVERIFY(saved.wait(10000));
            QCOMPARE(saved.first().first().toString(), QString());
        }
        // A new run reads it when it first pushes.
        PushNotifier reader(config, atDesk, {});
        QSignalSpy delivered(&reader, &PushNotifier::delivered);
        reader.sendTest();
        QVERIFY(delivered.wait(10000));
        QCOMPARE(ntfy.requests.first().headers.value("authorization"),
                 "Bearer " + token.toLatin1());

        QDirIterator files(home.path(), QDir::Files | QDir::Hidden | QDir::System,
                           QDirIterator::Subdirectories);
        int seen = 0;
        while (files.hasNext()) {
            const QString path = files.next();
            ++seen;
            QVERIFY2(!TestPaths::readFile(path).contains(token.toLatin1()), qPrintable(path));
        }
        QVERIFY(seen > 0); // the keyring's own, encrypted file

        PushToken keyring;
        QSignalSpy removed(&keyring, &PushToken::tokenRemoved);
        QSignalSpy read(&keyring, &PushToken::tokenRead);
        keyring.remove();
        QVERIFY(removed.wait(10000));
        keyring.read();
        QVERIFY(read.wait(10000));
        QCOMPARE(read.first(), (QVariantList{QString(), QString()}));
    }
};

QTEST_GUILESS_MAIN(TestPush)
#include "tst_push.moc"
