#include "listenerfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As a hook writer does: open (a reader is there), write, close.
bool writeToPipe(const QString &path, const QByteArray &bytes)
{
    QFile pipe(path);
    return pipe.open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Unbuffered) &&
           pipe.write(bytes) == bytes.size();
}

QByteArray record(const char *event)
{
    return Records::record(42, QString::fromLatin1(event), u"/w"_s);
}

mode_t modeOf(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

class TestNamedPipeListener : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each row ends with a record from a second writer, on the FIFO re-created after end of file.
    void recordsAndFailures_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArrayList>("received");
        QTest::addColumn<QString>("warning");
        QTest::newRow("two records in one write, an array dropped silently")
            << record("A") + "\n[1,2]\n" + record("B") + "\n" << QByteArrayList{record("A"), record("B")}
            << QString();
        QTest::newRow("not JSON, then a record")
            << "{\"a\":\n" + record("B") + "\n" << QByteArrayList{record("B")}
            << u"unterminated object"_s;
        QTest::newRow("not UTF-8") << QByteArray("{\"a\":\"\xff\"}\n") << QByteArrayList{}
                                   << u"invalid UTF8 string"_s;
        QTest::newRow("missing members, a pid that is no number")
            << QByteArray("{}\n{\"event\":\"Stop\",\"instance\":\"4 2\"}\n") << QByteArrayList{}
            << QString();
    }
    // Then stop() while the reading thread waits for the next writer must be prompt.
    void recordsAndFailures()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArrayList, received);
        QFETCH(QString, warning);
        Running r;
        QVERIFY(r.started());
        QVERIFY(writeToPipe(r.home.pipePath(), written) && r.started(2));
        QVERIFY(writeToPipe(r.home.pipePath(), record("Z") + '\n'));
        QTRY_COMPARE(r.received, received + QByteArrayList{record("Z")});
        QCOMPARE(r.log(u"Failed to parse JSON"_s).join(QString()),
                 warning.isEmpty() ? warning : u"warning: Failed to parse JSON: "_s + warning);
        QVERIFY(!r.offMainThread && r.started(3));
        QElapsedTimer timer;
        timer.start();
        r.listener.stop();
        QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!QFileInfo::exists(r.home.pipePath()) && !QFileInfo::exists(r.pidFile()));
    }

    // ~/.tolvo is the user's alone: what another user could read or replace is
    // made private, or refused with a reason, and what is in the way is retried.
    void privateFolder_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QString>("problem"); // empty: listens at once
        QTest::newRow("open to others: made private") << u"chmod 777"_s << QString();
        QTest::newRow("a file where the pipe goes: replaced") << u"events file"_s << QString();
        QTest::newRow("a symbolic link") << u"link"_s << u"~/.tolvo is a symbolic link"_s;
        QTest::newRow("a file") << u"file"_s << u"~/.tolvo is not a folder"_s;
        QTest::newRow("a folder where the pipe goes") << u"events folder"_s
                                                      << u"~/.tolvo/events cannot be replaced"_s;
        QTest::newRow("the lock a link") << u"lock link"_s
                                         << u"~/.tolvo/events.lock is a symbolic link"_s;
    }
    void privateFolder()
    {
        QFETCH(QString, setUp);
        QFETCH(QString, problem);
        Running r(false);
        const QString dir = r.home.tolvoPath(), elsewhere = r.home.path() + u"/elsewhere"_s;
        QVERIFY(QDir().mkpath(elsewhere));
        QFile target(elsewhere + u"/target"_s);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("keep") == 4);
        target.close();
        if (setUp == u"link")
            QVERIFY(QFile::link(elsewhere, dir));
        else if (setUp == u"file")
            QVERIFY(QFile(dir).open(QIODevice::WriteOnly));
        else
            QVERIFY(QDir().mkpath(dir));
        if (setUp == u"chmod 777")
            QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0777) == 0);
        if (setUp == u"events folder")
            QVERIFY(QDir().mkpath(dir + u"/events/inside"_s));
        if (setUp == u"events file")
            QVERIFY(QFile(dir + u"/events"_s).open(QIODevice::WriteOnly));
        if (setUp == u"lock link")
            QVERIFY(QFile::link(target.fileName(), dir + u"/events.lock"_s));

        r.listener.start();
        if (problem.isEmpty()) {
            QVERIFY(r.started());
            QCOMPARE(modeOf(dir), mode_t(0700));
            QVERIFY(QFileInfo(dir + u"/events"_s).exists() && !QFileInfo(dir + u"/events"_s).isFile());
            for (const char *name : {"/events", "/events.lock", "/tolvo.pid"})
                QCOMPARE(modeOf(dir + QLatin1String(name)), mode_t(0600));
            return;
        }
        QTRY_VERIFY(r.listener.problem().startsWith(problem));
        QVERIFY(!QFileInfo::exists(elsewhere + u"/events"_s));
        QCOMPARE(QFileInfo(target.fileName()).size(), 4);
        // What is in the way gone, the next attempt listens.
        if (setUp == u"events folder")
            QVERIFY(QDir(dir + u"/events"_s).removeRecursively());
        else if (setUp == u"lock link")
            QVERIFY(QFile::remove(dir + u"/events.lock"_s));
        else
            return;
        QVERIFY(r.started());
        QTRY_COMPARE(r.listener.problem(), QString());
    }

    // Another user on the machine can neither read the records, nor write
    // records of their own, nor hold the writers' lock (which would stall
    // every hook). Run as uid 65534 when the test runs as root.
    void anotherUser_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("read the pipe") << u"dd if=\"$1/events\" iflag=nonblock count=0 status=none"_s;
        QTest::newRow("write a record") << u"printf '{}\\n' | dd of=\"$1/events\" oflag=nonblock status=none"_s;
        QTest::newRow("hold the lock") << u"flock -n \"$1/events.lock\" true"_s;
        QTest::newRow("list the folder") << u"ls \"$1\""_s;
    }
    void anotherUser()
    {
        QFETCH(QString, command);
        if (::geteuid() != 0)
            QSKIP("needs root, to run as another user with setpriv");
        Running r;
        QVERIFY(r.started());
        // The home itself may be entered, as usual homes can.
        QVERIFY(::chmod(QFile::encodeName(r.home.path()).constData(), 0711) == 0);
        QProcess other;
        other.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                                    u"sh"_s, u"-c"_s, command, u"sh"_s, r.home.tolvoPath()});
        QVERIFY(other.waitForFinished(10000));
        const QByteArray refused = other.readAllStandardError();
        QVERIFY2(other.exitCode() != 0 && refused.contains("ermission denied"), refused.constData());
    }

    // The pid file names this process as the hook script checks it, and a
    // link planted in its place is replaced, never followed.
    void pidFile()
    {
        Running r(false);
        const QString planted = r.home.path() + u"/planted"_s;
        QVERIFY(QFile(planted).open(QIODevice::WriteOnly));
        QVERIFY(QDir().mkpath(r.home.tolvoPath()) && QFile::link(planted, r.pidFile()));
        r.listener.start();
        QVERIFY(r.started());
        QFile pid(r.pidFile()), comm(u"/proc/self/comm"_s);
        QVERIFY(pid.open(QIODevice::ReadOnly) && comm.open(QIODevice::ReadOnly));
        QCOMPARE(pid.readAll(),
                 QByteArray::number(QCoreApplication::applicationPid()) + ' ' + comm.readAll());
        QVERIFY(!QFileInfo(r.pidFile()).isSymLink());
        QCOMPARE(QFileInfo(planted).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNamedPipeListener)
#include "tst_namedpipelistener.moc"
