#include "listenerfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <cstring>

namespace {

// As a hook writer does: open (a reader is there), write, close.
bool writeToPipe(const QString &path, const QByteArray &bytes)
{
    QFile pipe(path);
    return pipe.open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Unbuffered) &&
           pipe.write(bytes) == bytes.size();
}

} // namespace

class TestNamedPipeListener : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startReplacesWhatIsAtThePath_data()
    {
        QTest::addColumn<QString>("leftOver");
        QTest::newRow("regular file") << u"file"_s;
        QTest::newRow("FIFO of an earlier run") << u"fifo"_s;
    }

    void startReplacesWhatIsAtThePath()
    {
        QFETCH(QString, leftOver);
        Running r(false);
        const QString pipe = r.home.pipePath();
        if (leftOver == u"file")
            QVERIFY(QFile(pipe).open(QIODevice::WriteOnly));
        else if (leftOver == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        // Held open, the left-over keeps its inode number from being reused.
        const int leftOverFd = ::open(QFile::encodeName(pipe).constData(), O_RDWR | O_CLOEXEC);
        const ino_t before = fifoInode(pipe);
        r.listener.start();
        QVERIFY(r.started());
        QVERIFY(fifoInode(pipe) != 0 && fifoInode(pipe) != before);
        QFile pidFile(r.home.path() + u"/.tolvo/tolvo.pid"_s);
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        QCOMPARE(pidFile.readAll(), QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        r.listener.stop();
        ::close(leftOverFd);
        QVERIFY(!QFileInfo::exists(pipe) && !pidFile.exists());
    }

    // Permission bits would not stop root; a file in place of ~/.tolvo does.
    void creationFailureIsLoggedAndStartRetries()
    {
        Running r(false);
        const QString directory = r.home.path() + u"/.tolvo"_s;
        QVERIFY(QDir(directory).removeRecursively() && QFile(directory).open(QIODevice::WriteOnly));
        r.listener.start();
        QTRY_COMPARE(
            r.log(u"critical"_s),
            QStringList(QString::asprintf("critical: Failed to create named pipe: %s (errno: %d)",
                                          std::strerror(ENOTDIR), ENOTDIR)));
        QVERIFY(QFile::remove(directory) && QDir().mkpath(directory));
        r.listener.start();
        QVERIFY(r.started() && writeToPipe(r.home.pipePath(), "{}\n"));
        QTRY_COMPARE(r.received, QByteArrayList{"{}"});
    }

    void stopIsPrompt_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("waiting for the first writer") << u"waiting"_s;
        QTest::newRow("writer connected, no data") << u"connected"_s;
    }

    void stopIsPrompt()
    {
        QFETCH(QString, state);
        Running r;
        QVERIFY(r.started());
        const QByteArray pipe = QFile::encodeName(r.home.pipePath());
        const int writer =
            state == u"connected" ? ::open(pipe.constData(), O_WRONLY | O_NONBLOCK) : -1;
        QTest::qWait(20); // lets the reading thread settle into its wait
        QElapsedTimer timer;
        timer.start();
        r.listener.stop();
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
        ::close(writer);
    }

    void recordsAndFailures_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArrayList>("received");
        QTest::addColumn<QString>("error");
        QTest::newRow("two records in one write, an array dropped silently")
            << QByteArray("{\"a\":1}\n[1,2]\n{\"b\":2}\n")
            << QByteArrayList{"{\"a\":1}", "{\"b\":2}"} << QString();
        QTest::newRow("not JSON, then a record")
            << QByteArray("{\"a\":\n{\"b\":2}\n") << QByteArrayList{"{\"b\":2}"}
            << u"unterminated object, Raw data: {\"a\":"_s;
        QTest::newRow("not UTF-8")
            << QByteArray("{\"a\":\"\xff\"}\n") << QByteArrayList{} << u"invalid UTF8 string"_s;
    }

    void recordsAndFailures()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArrayList, received);
        QFETCH(QString, error);
        Running r;
        QVERIFY(r.started());
        QVERIFY(writeToPipe(r.home.pipePath(), written) && r.started(2));
        QVERIFY(writeToPipe(r.home.pipePath(), "{}\n"));
        received << "{}";
        QTRY_COMPARE(r.received, received);
        QCOMPARE(r.log(u"critical"_s).join(QString()),
                 error.isEmpty() ? error : u"critical: Failed to parse JSON: "_s + error);
        QVERIFY(!r.offMainThread);
    }
};

QTEST_GUILESS_MAIN(TestNamedPipeListener)
#include "tst_namedpipelistener.moc"
