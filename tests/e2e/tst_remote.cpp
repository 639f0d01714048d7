// Sessions of another machine in the running application: the remote's hook
// helper, its relay and a real OpenSSH server on loopback, whose account
// stands for the remote user.

#include "appharness.h"
#include "hooksession.h"
#include "remoterelays.h"
#include "remotesetup.h"
#include "sshserver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <atomic>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestRemote : public QObject
{
    Q_OBJECT
    SshServer server;
    AppHarness h;
    QList<qint64> sessions; // the remote's stand-ins for Claude Code processes

    QStringList asRemoteUser() const
    {
        return {u"--reuid=%1"_s.arg(server.uid()), u"--regid=%1"_s.arg(server.gid()),
                u"--clear-groups"_s};
    }
    qint64 startSession()
    {
        auto *process = new QProcess(this);
        process->start(u"setpriv"_s, asRemoteUser() << u"sleep"_s << u"600"_s);
        process->waitForStarted();
        sessions.append(process->processId());
        return process->processId();
    }
    // The remote's hook command for that session, run with this input.
    QProcess *hook(qint64 pid, const QString &fixture)
    {
        auto *process = new QProcess(this);
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, server.home());
        process->setProcessEnvironment(environment);
        process->start(u"setpriv"_s,
                       asRemoteUser() << server.home() + u"/.local/libexec/tolvo/tolvo-hook"_s
                                      << QString::number(pid));
        process->write(QJsonDocument(HookSession::fixture(fixture, u"/w/webshop"_s)).toJson());
        process->closeWriteChannel();
        return process;
    }
    int row(qint64 pid) { return h.sessions().rowOfRemote(u"devbox"_s, pid); }
    QString badge(qint64 pid)
    {
        return h.sessions().data(h.sessions().index(row(pid)), SessionListModel::BadgeRole).toString();
    }
    QString hostState() { return h.app->remotes().describe()[0][u"state"].toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString why = SshServer::unavailable(); !why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY2(server.start(), qPrintable(server.error()));
        RemoteSetup setup;
        setup.setLocalHelper(TestPaths::buildPrefix() + u"/libexec/tolvo/tolvo-hook"_s);
        const RemoteSetup::Result added = setup.addAndWait({u"devbox"_s, server.transport()});
        QVERIFY2(added.ok, qPrintable(added.error));
        QVERIFY(h.start());
        QVERIFY(h.app->remotes().add({u"devbox"_s, server.transport()}));
        QTRY_COMPARE_WITH_TIMEOUT(hostState(), u"connected"_s, 15000);
    }

    void cleanupTestCase()
    {
        if (!h.app)
            return;
        h.app->remotes().remove(u"devbox"_s);
        server.stop(); // the relay's daemon and the sessions with it
    }

    void recordsAndAnswersCross()
    {
        const qint64 pid = startSession();
        QElapsedTimer clock;
        clock.start();
        hook(pid, u"UserPromptSubmit.json"_s);
        QTRY_VERIFY(row(pid) >= 0);
        qInfo("a remote record in the list after %lld ms (helper started by setpriv)",
              clock.elapsed());
        const Session &session = h.sessions().session(row(pid));
        QCOMPARE(session.shownName(), u"webshop · devbox"_s);
        QCOMPARE(session.status, SessionStatus::working);

        QProcess *held = hook(pid, u"PermissionRequest-Bash.json"_s);
        QTRY_COMPARE(h.sessions().session(row(pid)).requests.size(), 1);
        const QString id = h.sessions().session(row(pid)).requests.constFirst().id;
        QString said;
        QVERIFY2(h.app->answerRequest(id, u"allow"_s, {}, &said), qPrintable(said));
        QTRY_COMPARE(held->state(), QProcess::NotRunning);
        QVERIFY(held->readAllStandardOutput().contains(R"("behavior":"allow")"));
    }

    // The network goes away, the remote's session goes on; when the server is
    // back, Tolvo reconnects and picks up what happened meanwhile.
    void dropsAndPicksUp()
    {
        const qint64 pid = sessions.constFirst();
        server.stop({u"tolvo-relay"_s, u"sleep"_s});
        QTRY_COMPARE(badge(pid), u"Disconnected"_s);
        QProcess *stop = hook(pid, u"Stop.json"_s);
        QTRY_COMPARE(stop->state(), QProcess::NotRunning);
        QElapsedTimer clock;
        QVERIFY2(server.start(), qPrintable(server.error()));
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(badge(pid).isEmpty() && h.sessions().session(row(pid)).status ==
                                                              SessionStatus::ready,
                                 5000);
        qInfo("picked up %lld ms after the server came back", clock.elapsed());
    }

    // Garbage and a flood written straight into the remote's event pipe: Tolvo
    // keeps answering, and every record the relay took arrives once.
    void floodAndGarbage()
    {
        const bool stress = qEnvironmentVariableIsSet("TOLVO_STRESS");
        const int seconds = stress ? 10 : 1;
        const int perSecond = 10000;
        QList<qint64> pids;
        for (int i = 0; i < (stress ? 20 : 2); ++i)
            pids.append(startSession());
        const auto logged = [&] {
            qsizetype count = 0;
            for (qint64 pid : std::as_const(pids))
                count += row(pid) < 0 ? 0 : h.sessions().session(row(pid)).activityLog.size();
            return count;
        };

        std::atomic<int> written = 0;
        std::thread writer([&] {
            const QByteArray directory = (server.home() + u"/.tolvo/"_s).toUtf8();
            const int lock = ::open(directory + "events.lock", O_RDWR | O_CLOEXEC);
            ::flock(lock, LOCK_EX);
            const int pipe = ::open(directory + "events", O_WRONLY | O_CLOEXEC);
            const auto put = [&](const QByteArray &data) {
                for (qsizetype done = 0; done < data.size();) {
                    const ssize_t n = ::write(pipe, data.constData() + done, data.size() - done);
                    if (n <= 0)
                        return;
                    done += n;
                }
            };
            put("not json\n[1]\n{\"instance\":\"x\",\"event\":\"Stop\"}\n" +
                QByteArray(17 << 20, 'x') + "\n");
            QElapsedTimer clock;
            clock.start();
            for (int tick = 0; tick < seconds * 100; ++tick) {
                QByteArray batch;
                for (int i = 0; i < perSecond / 100; ++i) {
                    const qint64 pid = pids.at((tick + i) % pids.size());
                    batch += "\n{\"instance\":\"" + QByteArray::number(pid) +
                             "\",\"event\":\"PreToolUse\",\"tool\":\"Bash\",\"details\":"
                             "\"{\\\"command\\\":\\\"echo " +
                             QByteArray::number(tick * 1000 + i) +
                             "\\\"}\",\"working_directory\":\"/w/flood\"}\n";
                }
                put(batch);
                written += perSecond / 100;
                const qint64 due = (tick + 1) * 10;
                if (clock.elapsed() < due)
                    QThread::msleep(due - clock.elapsed());
            }
            ::close(pipe);
            ::close(lock);
        });
        // The event loop goes on meanwhile: the longest pause between two turns.
        QElapsedTimer turn;
        turn.start();
        qint64 longestPause = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this,
                [&] { longestPause = std::max(longestPause, turn.restart()); });
        ticker.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(written == seconds * perSecond && logged() >= written,
                                 seconds * 30000);
        writer.join();
        ticker.stop();
        QTest::qWait(200);
        QCOMPARE(logged(), qsizetype(written));
        qInfo("%d records over %d s, longest pause of the event loop %lld ms", int(written),
              seconds, longestPause);
        QVERIFY(longestPause < 1000);
    }
};

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
