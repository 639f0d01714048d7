// Tolvo's reader of the event pipe in a home of its own: what it hands over, and the ~/.tolvo it
// keeps private.

#include "namedpipelistener.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString pidFile()
{
    return QDir::homePath() + u"/.tolvo/tolvo.pid"_s;
}

mode_t modeOf(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Once the pid file is Tolvo's own, not a link.
bool listening()
{
    return QTest::qWaitFor([] { return modeOf(pidFile()) == 0600; }, 10000);
}

// As a hook writer does: under the writers' lock, open (a reader is there), write, close.
bool write(const QByteArray &bytes)
{
    const QString tolvo = QDir::homePath() + u"/.tolvo"_s;
    QFile lock(tolvo + u"/events.lock"_s), pipe(tolvo + u"/events"_s);
    return lock.open(QIODevice::ReadWrite) && ::flock(lock.handle(), LOCK_EX) == 0 &&
           pipe.open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Unbuffered) &&
           pipe.write(bytes) == bytes.size();
}

} // namespace

class TestNamedPipeListener : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Records of one writer, on the main thread, a bad line and an array passed over, the last
    // one at end of file without its line feed; then one of a second writer on the FIFO that is
    // re-created after end of file. stop() while the reading thread waits must be prompt.
    void records()
    {
        const TestHome home;
        NamedPipeListener listener;
        QByteArrayList received;
        bool offMainThread = false;
        connect(&listener, &NamedPipeListener::eventReceived, this, [&](const HookEvent &event) {
            offMainThread |= QThread::currentThread() != thread();
            received.append(event.record);
        });
        listener.start();
        const auto record = [](const char *event) {
            return Records::record(42, QString::fromLatin1(event), u"/w"_s);
        };
        QVERIFY(listening() && write(record("A") + "\n[1,2]\n{\"a\":\n" + record("B")));
        QTRY_COMPARE(received, (QByteArrayList{record("A"), record("B")}));
        QVERIFY(write(record("C") + '\n'));
        QTRY_COMPARE(received, (QByteArrayList{record("A"), record("B"), record("C")}));
        QVERIFY(!offMainThread);
        QElapsedTimer timer;
        timer.start();
        listener.stop();
        QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!QFileInfo::exists(home.pipePath()) && !QFileInfo::exists(pidFile()));
    }

    // ~/.tolvo is the user's alone: what another user could read or replace is made private, or
    // refused with a reason, and once what is in the way is gone the next attempt listens. The
    // pid file names this process as the hook script checks it.
    void privateFolder_data()
    {
        QTest::addColumn<QString>("setUp");   // sh in the home folder, which has elsewhere/target
        QTest::addColumn<QString>("problem"); // empty: listens at once
        QTest::addColumn<QString>("clear");   // sh that clears the way; empty: stays refused
        QTest::newRow("open to others: made private")
            << u"mkdir -m 777 .tolvo"_s << QString() << QString();
        QTest::newRow("a file where the pipe goes: replaced")
            << u"mkdir .tolvo && touch .tolvo/events"_s << QString() << QString();
        QTest::newRow("a link where the pid file goes: replaced")
            << u"mkdir .tolvo && ln -s ../elsewhere/target .tolvo/tolvo.pid"_s << QString()
            << QString();
        QTest::newRow("a symbolic link")
            << u"ln -s elsewhere .tolvo"_s << u"~/.tolvo is a symbolic link"_s << QString();
        QTest::newRow("a file") << u"touch .tolvo"_s << u"~/.tolvo is not a folder"_s << QString();
        QTest::newRow("a folder where the pipe goes")
            << u"mkdir -p .tolvo/events/inside"_s << u"~/.tolvo/events cannot be replaced"_s
            << u"rm -r .tolvo/events"_s;
        QTest::newRow("the lock a link")
            << u"mkdir .tolvo && ln -s ../elsewhere/target .tolvo/events.lock"_s
            << u"~/.tolvo/events.lock is a symbolic link"_s << u"rm .tolvo/events.lock"_s;
    }
    void privateFolder()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, problem);
        QFETCH(QString, clear);
        const TestHome home;
        const QString dir = home.tolvoPath();
        const auto sh = [&home](const QString &script) {
            return QProcess::execute(u"sh"_s, {u"-c"_s, u"cd \"$0\" && "_s + script, home.path()});
        };
        QVERIFY(sh(u"mkdir elsewhere && echo keep > elsewhere/target && "_s + setUp) == 0);
        NamedPipeListener listener;
        listener.start();
        if (!problem.isEmpty()) {
            QTRY_VERIFY(listener.problem().startsWith(problem));
            QVERIFY(!QFileInfo::exists(home.path() + u"/elsewhere/events"_s));
        }
        QFile target(home.path() + u"/elsewhere/target"_s);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("keep\n"));
        if (!problem.isEmpty() && clear.isEmpty())
            return;
        QVERIFY(clear.isEmpty() || sh(clear) == 0);
        QVERIFY(listening());
        QTRY_COMPARE(listener.problem(), QString());
        QCOMPARE(modeOf(dir), mode_t(0700));
        QVERIFY(QFileInfo(home.pipePath()).exists() && !QFileInfo(home.pipePath()).isFile());
        for (const char *name : {"/events", "/events.lock", "/tolvo.pid"})
            QCOMPARE(modeOf(dir + QLatin1String(name)), mode_t(0600));
        QFile pid(pidFile()), comm(u"/proc/self/comm"_s);
        QVERIFY(pid.open(QIODevice::ReadOnly) && comm.open(QIODevice::ReadOnly));
        QCOMPARE(pid.readAll(),
                 QByteArray::number(QCoreApplication::applicationPid()) + ' ' + comm.readAll());
    }

    // Another user on the machine can neither read the records, nor write records of their own,
    // nor hold the writers' lock (which would stall every hook). Runs as uid 65534 under root.
    void anotherUser_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("read the pipe") << u"dd if=\"$1/events\" iflag=nonblock count=0 status=none"_s;
        QTest::newRow("write a record")
            << u"printf '{}\\n' | dd of=\"$1/events\" oflag=nonblock status=none"_s;
        QTest::newRow("hold the lock") << u"flock -n \"$1/events.lock\" true"_s;
        QTest::newRow("list the folder") << u"ls \"$1\""_s;
    }
    void anotherUser()
    {
        QFETCH(QString, command);
        if (::geteuid() != 0)
            QSKIP("needs root, to run as another user with setpriv");
        const TestHome home;
        NamedPipeListener listener;
        listener.start();
        QVERIFY(listening());
        // The home itself may be entered, as usual homes can.
        QVERIFY(::chmod(QFile::encodeName(home.path()).constData(), 0711) == 0);
        QProcess other;
        other.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                    u"sh"_s, u"-c"_s, command, u"sh"_s, home.tolvoPath()});
        QVERIFY(other.waitForFinished(10000));
        const QByteArray refused = other.readAllStandardError();
        QVERIFY2(other.exitCode() != 0 && refused.contains("ermission denied"), refused.constData());
    }
};

QTEST_GUILESS_MAIN(TestNamedPipeListener)
#include "tst_namedpipelistener.moc"
