// Tolvo in trouble while sessions keep running hooks. Afterwards it misses no
// event, its pipe is a pipe and what it saved reads back. `make stress`.

#include "application.h"
#include "busservice.h"
#include "hooksession.h"
#include "namedpipelistener.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

class TestReliability : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void missesNothingAfterwards_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("frozen for 2 s") << u"frozen"_s;
        QTest::newRow("killed 3 times while saving") << u"killed"_s;
        QTest::newRow("listener restarted for 1 s") << u"restarted"_s;
    }
    void missesNothingAfterwards()
    {
        QFETCH(QString, trouble);
        TestHome home;
        Desktop::Child tolvo; // the real binary; in this process where its listener restarts
        std::unique_ptr<Application> inProcess(trouble == u"restarted" ? new Application : nullptr);
        QVERIFY(inProcess ? inProcess->start() : tolvo.launchTolvo());
        QTRY_VERIFY(QFile::exists(home.tolvoPath() + u"/tolvo.pid"_s));
        // Each hook a new session (the subshell's pid), each prompt 64 KiB:
        // the pipe (1 MiB) of a frozen Tolvo is full within a second.
        std::array<Desktop::Child, 4> writers;
        for (Desktop::Child &writer : writers)
            writer.start(
                u"/bin/sh"_s,
                {u"-c"_s,
                 u"p=$(head -c 65536 /dev/zero | tr '\\0' x); while :; do (printf "
                 u"'{\"hook_event_name\":\"UserPromptSubmit\",\"cwd\":\"/w/x\",\"prompt\":\"%s\"}' "
                 u"\"$p\" | sh -c \"$1\"; :); done"_s,
                 u"sh"_s, HookSession::shellCommand(TestPaths::buildPrefix())});
        QTest::qWait(500);
        if (trouble == u"frozen") {
            ::kill(pid_t(tolvo.processId()), SIGSTOP);
            QTest::qWait(2000);
            ::kill(pid_t(tolvo.processId()), SIGCONT);
        }
        for (int kill = 0; trouble == u"killed" && kill < 3; ++kill) {
            QTest::qWait(300 + 250 * kill); // around its saves, every 500 ms
            tolvo.kill();
            tolvo.waitForFinished();
            QFile saved(home.configPath() + u"/sessions.json"_s);
            QVERIFY(!saved.open(QIODevice::ReadOnly) ||
                    QJsonDocument::fromJson(saved.readAll()).isObject());
            QVERIFY(tolvo.launchTolvo());
        }
        for (int turn = 0; inProcess && turn < 50; ++turn) {
            inProcess->listener().stop();
            inProcess->listener().start();
            QTest::qWait(20);
        }
        for (Desktop::Child &writer : writers)
            writer.kill();

        // Every event of a session that starts now arrives.
        HookSession claude(TestPaths::buildPrefix());
        for (int event = 0; event < 5; ++event)
            QVERIFY(claude.send(HookSession::fixture(u"UserPromptSubmit.json"_s)));
        const QRegularExpression all(u"\"pid\":%1,[^}]*\"unreadCount\":5}"_s.arg(claude.pid()));
        QTRY_VERIFY_WITH_TIMEOUT(
            (inProcess ? sessionsJson(inProcess->sessions()) : Desktop::instances()).contains(all),
            20000);
        struct stat pipe;
        QVERIFY(::lstat(QFile::encodeName(home.pipePath()).constData(), &pipe) == 0 &&
                S_ISFIFO(pipe.st_mode));
    }
};

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
