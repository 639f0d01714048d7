#include "logcapture.h"
#include "namedpipelistener.h"
#include "testsupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

struct stat statOf(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        status.st_mode = 0;
    return status;
}

bool isFifo(const QString &path)
{
    return S_ISFIFO(statOf(path).st_mode);
}

// Opens the FIFO the way a hook writer does (it must have a reader), writes
// everything and closes.
bool writeToPipe(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETFL, 0);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (count <= 0)
            break;
        done += count;
    }
    ::close(fd);
    return done == bytes.size();
}

QStringList compact(const QList<QJsonObject> &objects)
{
    QStringList out;
    for (const QJsonObject &object : objects)
        out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    return out;
}

QString startedLine(const QString &path)
{
    return u"info: Named pipe listener started on "_s + path;
}

} // namespace

class TestNamedPipeListener : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startReplacesWhatIsAtThePath_data()
    {
        QTest::addColumn<QString>("leftOver");
        QTest::newRow("nothing") << QString();
        QTest::newRow("regular file") << u"file"_s;
        QTest::newRow("FIFO of an earlier run") << u"fifo"_s;
    }

    void startReplacesWhatIsAtThePath()
    {
        QFETCH(QString, leftOver);
        TestHome home;
        LogCapture log;
        QDir().mkpath(home.path() + u"/.tolvo"_s);
        const QByteArray pipe = QFile::encodeName(home.pipePath());
        if (leftOver == u"file") {
            QFile file(home.pipePath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("stale");
        } else if (leftOver == u"fifo") {
            QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
        }
        // Held open, the left-over keeps its inode number from being reused.
        const int leftOverFd =
            leftOver.isEmpty() ? -1 : ::open(pipe.constData(), O_RDWR | O_CLOEXEC);
        const ino_t before = statOf(home.pipePath()).st_ino;

        NamedPipeListener listener;
        QCOMPARE(listener.pipePath(), home.pipePath());
        listener.start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));
        QVERIFY(isFifo(home.pipePath()));
        QVERIFY(statOf(home.pipePath()).st_ino != before || leftOver.isEmpty());
        QCOMPARE(statOf(home.pipePath()).st_mode & 0777, 0666 & ~currentUmask());

        QFile pidFile(home.path() + u"/.tolvo/tolvo.pid"_s);
        QTRY_VERIFY(pidFile.exists());
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        QCOMPARE(pidFile.readAll(), QByteArray::number(QCoreApplication::applicationPid()) + '\n');

        listener.stop();
        QVERIFY(!QFileInfo::exists(home.pipePath()));
        QVERIFY(!pidFile.exists());
        if (leftOverFd >= 0)
            ::close(leftOverFd);
        QCOMPARE(log.lines(), (QStringList{u"info: Named pipe path: "_s + home.pipePath(),
                                           u"info: Created named pipe at "_s + home.pipePath(),
                                           startedLine(home.pipePath()),
                                           u"info: Named pipe listener stopped"_s}));
    }

    void creationFailureIsLogged_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<int>("error");
        // Runs as root in CI, where permission bits would not stop mkfifo.
        QTest::newRow("~/.tolvo is a file") << u".tolvo"_s << ENOTDIR;
        QTest::newRow("a directory at the FIFO path") << u".tolvo/events/keep"_s << EEXIST;
    }

    void creationFailureIsLogged()
    {
        QFETCH(QString, obstacle);
        QFETCH(int, error);
        TestHome home;
        LogCapture log;
        const QString obstaclePath = home.path() + u'/' + obstacle;
        QDir().mkpath(QFileInfo(obstaclePath).path());
        QFile file(obstaclePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        RecordingDelegate delegate;
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        const QString expected = u"critical: Failed to create named pipe: %1 (errno: %2)"_s.arg(
            QString::fromLocal8Bit(std::strerror(error)), QString::number(error));
        QTRY_VERIFY(log.contains(expected));
        QTest::qWait(20);
        QVERIFY(log.startingWith(u"info: Created"_s).isEmpty());
        QVERIFY(!QFileInfo::exists(home.path() + u"/.tolvo/tolvo.pid"_s));

        // Idle until started again; with the obstacle gone that works.
        if (obstacle == u".tolvo")
            QVERIFY(QFile::remove(obstaclePath));
        else
            QVERIFY(QDir(home.pipePath()).removeRecursively());
        QDir().mkpath(home.path() + u"/.tolvo"_s);
        listener.start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));
        QVERIFY(writeToPipe(home.pipePath(), "{\"after\":\"restart\"}\n"));
        QTRY_COMPARE(compact(delegate.received), QStringList{u"{\"after\":\"restart\"}"_s});
    }

    void stopIsPrompt_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("waiting for the first writer") << u"waiting"_s;
        QTest::newRow("writer connected, no data") << u"connected"_s;
        QTest::newRow("after end of file") << u"reopened"_s;
    }

    void stopIsPrompt()
    {
        QFETCH(QString, state);
        TestHome home;
        LogCapture log;
        RecordingDelegate delegate;
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));

        int writer = -1;
        if (state == u"connected") {
            writer = ::open(QFile::encodeName(home.pipePath()).constData(), O_WRONLY | O_NONBLOCK);
            QVERIFY(writer >= 0);
        } else if (state == u"reopened") {
            QVERIFY(writeToPipe(home.pipePath(), "{\"a\":1}\n"));
            QTRY_COMPARE(log.startingWith(startedLine(home.pipePath())).size(), 2);
        }
        QTest::qWait(20); // let the reading thread settle into its wait

        QElapsedTimer timer;
        timer.start();
        listener.stop();
        const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
        qInfo("stop() took %lld µs (%s)", elapsedUs, qPrintable(state));
        QVERIFY2(elapsedUs < 100'000, qPrintable(QString::number(elapsedUs)));
        QVERIFY(!QFileInfo::exists(home.pipePath()));
        if (writer >= 0)
            ::close(writer);
    }

    void endOfFileRecreatesThePipe()
    {
        TestHome home;
        LogCapture log;
        RecordingDelegate delegate;
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));
        const ino_t first = statOf(home.pipePath()).st_ino;

        QVERIFY(writeToPipe(home.pipePath(), "{\"n\":1}\n"));
        QTRY_COMPARE(compact(delegate.received), QStringList{u"{\"n\":1}"_s});
        QTRY_COMPARE(log.startingWith(startedLine(home.pipePath())).size(), 2);
        QVERIFY(isFifo(home.pipePath()));
        QVERIFY(statOf(home.pipePath()).st_ino != first);
        QVERIFY(log.contains(u"debug: Received event: {\"n\":1}"_s));
        QVERIFY(log.contains(u"debug: EOF reached, reopening pipe"_s));

        QVERIFY(writeToPipe(home.pipePath(), "{\"n\":2}\n"));
        QTRY_COMPARE(compact(delegate.received), (QStringList{u"{\"n\":1}"_s, u"{\"n\":2}"_s}));
        QVERIFY(!delegate.calledOffMainThread);
    }

    // Writers hold ~/.tolvo/events.lock around open, write and close. A writer
    // that has the lock may still open the old FIFO after the reader saw end
    // of file, so the reader must not replace it until the lock is free.
    void writerHoldingTheLockKeepsTheOldPipe()
    {
        TestHome home;
        LogCapture log;
        RecordingDelegate delegate;
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));
        const ino_t first = statOf(home.pipePath()).st_ino;

        const int lock =
            ::open(QFile::encodeName(home.path() + u"/.tolvo/events.lock"_s).constData(),
                   O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        QVERIFY(lock >= 0);
        QCOMPARE(::flock(lock, LOCK_EX), 0);
        QVERIFY(writeToPipe(home.pipePath(), "{\"n\":1}\n"));
        QTRY_VERIFY(log.contains(u"debug: EOF reached, reopening pipe"_s));
        QTest::qWait(30);
        QCOMPARE(statOf(home.pipePath()).st_ino, first);
        QVERIFY(writeToPipe(home.pipePath(), "{\"n\":2}\n"));
        QTest::qWait(30);
        QCOMPARE(statOf(home.pipePath()).st_ino, first);

        ::flock(lock, LOCK_UN);
        ::close(lock);
        QTRY_VERIFY(isFifo(home.pipePath()) && statOf(home.pipePath()).st_ino != first);
        QTRY_COMPARE(compact(delegate.received), (QStringList{u"{\"n\":1}"_s, u"{\"n\":2}"_s}));
    }

    void recordsAndFailures_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QStringList>("received");
        QTest::addColumn<QStringList>("errors");

        QTest::newRow("two records in one write")
            << QByteArray("{\"a\":1}\n{\"b\":2}\n") << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s}
            << QStringList{};
        QTest::newRow("array, silently") << QByteArray("[1,2]\n") << QStringList{} << QStringList{};
        QTest::newRow("bare number")
            << QByteArray("42\n") << QStringList{}
            << QStringList{u"critical: Failed to parse JSON: illegal value, Raw data: 42"_s};
        QTest::newRow("garbage, then a record")
            << QByteArray("{\"a\":\n{\"b\":2}\n") << QStringList{u"{\"b\":2}"_s}
            << QStringList{
                   u"critical: Failed to parse JSON: unterminated object, Raw data: {\"a\":"_s};
        QTest::newRow("not UTF-8")
            << QByteArray("{\"a\":\"\xff\"}\n") << QStringList{}
            << QStringList{u"critical: Failed to parse JSON: invalid UTF8 string"_s};
    }

    void recordsAndFailures()
    {
        QFETCH(QByteArray, written);
        QFETCH(QStringList, received);
        QFETCH(QStringList, errors);
        TestHome home;
        LogCapture log;
        RecordingDelegate delegate;
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));

        QVERIFY(writeToPipe(home.pipePath(), written));
        QTRY_COMPARE(log.startingWith(startedLine(home.pipePath())).size(), 2);
        QVERIFY(writeToPipe(home.pipePath(), "{\"last\":true}\n"));
        received << u"{\"last\":true}"_s;
        QTRY_COMPARE(compact(delegate.received), received);
        QCOMPARE(log.startingWith(u"critical: "_s), errors);
    }

    void destroyedReceiverIsNeverCalled_data()
    {
        QTest::addColumn<bool>("destroyListener");
        QTest::newRow("delegate destroyed") << false;
        QTest::newRow("listener destroyed") << true;
    }

    void destroyedReceiverIsNeverCalled()
    {
        QFETCH(bool, destroyListener);
        TestHome home;
        LogCapture log;
        int calls = 0;
        auto delegate = std::make_unique<RecordingDelegate>();
        delegate->onEvent = [&calls](const QJsonObject &) { ++calls; };
        auto listener = std::make_unique<NamedPipeListener>();
        listener->setDelegate(delegate.get());
        listener->start();
        QTRY_VERIFY(log.contains(startedLine(home.pipePath())));

        // Wait for the reading thread without running the event loop, so
        // that the hand-over is still queued when the receiver goes.
        QVERIFY(writeToPipe(home.pipePath(), "{\"n\":1}\n"));
        const QDeadlineTimer deadline(5000);
        while (!log.contains(u"debug: Received event: {\"n\":1}"_s) && !deadline.hasExpired())
            QThread::msleep(1);
        QVERIFY(!deadline.hasExpired());
        if (destroyListener)
            listener.reset();
        else
            delegate.reset();

        QTest::qWait(50);
        QCOMPARE(calls, 0);
    }

private:
    static mode_t currentUmask()
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }
};

QTEST_GUILESS_MAIN(TestNamedPipeListener)
#include "tst_namedpipelistener.moc"
