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
    // A file in place of ~/.tolvo makes mkfifo fail, even for root; then a regular file at the
    // FIFO path is replaced by a working FIFO.
    void creationFailureThenRegularFileReplaced()
    {
        Running r(false);
        const QString directory = r.home.path() + u"/.tolvo"_s, pipe = r.home.pipePath();
        QVERIFY(QDir(directory).removeRecursively() && QFile(directory).open(QIODevice::WriteOnly));
        r.listener.start();
        QTRY_COMPARE(
            r.log(u"critical"_s),
            QStringList(QString::asprintf("critical: Failed to create named pipe: %s (errno: %d)",
                                          std::strerror(ENOTDIR), ENOTDIR)));
        QVERIFY(QFile::remove(directory) && QDir().mkpath(directory));
        QVERIFY(QFile(pipe).open(QIODevice::WriteOnly));
        r.listener.start();
        QVERIFY(r.started() && writeToPipe(pipe, "{}\n"));
        QTRY_COMPARE(r.received, QByteArrayList{"{}"});
        r.listener.stop();
        QVERIFY(!QFileInfo::exists(pipe) && !QFileInfo::exists(r.pidFile()));
    }

    // Each row ends with "{}" from a second writer, on the FIFO re-created after end of file.
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

    // Then stop() while the reading thread waits for the next writer must be prompt.
    void recordsAndFailures()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArrayList, received);
        QFETCH(QString, error);
        Running r;
        QVERIFY(r.started());
        QVERIFY(writeToPipe(r.home.pipePath(), written) && r.started(2));
        QVERIFY(writeToPipe(r.home.pipePath(), "{}\n"));
        QTRY_COMPARE(r.received, received + QByteArrayList{"{}"});
        QCOMPARE(r.log(u"critical"_s).join(QString()),
                 error.isEmpty() ? error : u"critical: Failed to parse JSON: "_s + error);
        QVERIFY(!r.offMainThread && r.started(3));
        QElapsedTimer timer;
        timer.start();
        r.listener.stop();
        QVERIFY2(timer.elapsed() < 100, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestNamedPipeListener)
#include "tst_namedpipelistener.moc"
