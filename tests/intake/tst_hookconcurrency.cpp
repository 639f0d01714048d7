#include "listenerfixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <cmath>
#include <memory>

namespace {

constexpr int writers = 16;

// "wNN sSSSS " and filler with braces, quotes, backslashes and non-ASCII text. Most records are
// 100 B to 4 KiB like prompts and commands; one in ten carries a file, 4 to 256 KiB. Sizes are
// log-uniform within each class.
QString prompt(int writer, int sequence)
{
    static QString filler;
    while (filler.size() < 256 * 1024)
        filler += u"lorem }{ ipsum ][ \"quoted\" back\\slash é ✓ "_s;
    QRandomGenerator random(quint32(writer * 10000 + sequence));
    const bool file = random.bounded(10) == 0;
    const double low = file ? 4096 : 100, high = file ? 256 * 1024 : 4096;
    const qsizetype size = qsizetype(low * std::pow(high / low, random.generateDouble()));
    return u"w%1 s%2 "_s.arg(writer, 2, 10, QChar(u'0')).arg(sequence, 4, 10, QChar(u'0')) +
           filler.left(size - 10);
}

} // namespace

class TestHookConcurrency : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The whole hook command costs jq's start-up (15 ms, and far more on a busy machine) per
    // record: sixteen thousand of them take about three minutes on two cores. Under the
    // sanitizers, where the writer helper is slow as well, the thousand records per writer go
    // through the hook script alone, as jq would have reduced them, and a shorter jq row keeps
    // the real $PPID and filter in the storm.
    void everyRecordArrivesOnceInWriterOrder_data()
    {
        QTest::addColumn<bool>("withJq");
        QTest::addColumn<int>("records");
#ifdef __SANITIZE_ADDRESS__
        QTest::newRow("hook command, 16 writers x 50") << true << 50;
        QTest::newRow("hook script, 16 writers x 1000") << false << 1000;
#else
        QTest::newRow("hook command, 16 writers x 1000") << true << 1000;
#endif
    }

    // Sixteen shells run the hook once per input ($PPID is the shell): records far beyond
    // PIPE_BUF, and many re-creations of the FIFO.
    void everyRecordArrivesOnceInWriterOrder()
    {
        QFETCH(bool, withJq);
        QFETCH(int, records);
        Running r;
        QVERIFY(r.started());
        for (int writer = 0; writer < writers; ++writer)
            for (int sequence = 0; sequence < records; ++sequence) {
                QFile file(r.home.path() +
                           u"/w%1-%2.json"_s.arg(writer).arg(sequence, 4, 10, QChar(u'0')));
                QVERIFY(file.open(QIODevice::WriteOnly));
                const QJsonObject input =
                    withJq ? QJsonObject{{u"prompt"_s, prompt(writer, sequence)}}
                           : QJsonObject{{u"instance"_s, QString::number(writer)},
                                         {u"event"_s, u"UserPromptSubmit"_s},
                                         {u"details"_s, prompt(writer, sequence)}};
                file.write(QJsonDocument(input).toJson(QJsonDocument::Compact));
            }
        // Each writer's records must come in its own order: sequence numbers by instance.
        QHash<QString, int> next;
        int received = 0, wrong = 0;
        r.onEvent = [&](const QJsonObject &record) {
            const QString text = record.value(u"details").toString();
            const int writer = text.mid(1, 2).toInt(), sequence = text.mid(5, 4).toInt();
            wrong += sequence != next[record.value(u"instance").toString()]++ ||
                     text != prompt(writer, sequence);
            ++received;
        };
        const QString command =
            withJq ? shellCommand()
                   : u"\"%1\""_s.arg(HookConfiguration::hookScriptPath(TestPaths::buildPrefix()));
        QElapsedTimer timer;
        timer.start();
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int writer = 0; writer < writers; ++writer) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(
                u"/bin/sh"_s, {u"-c"_s, u"for f in \"$1\"-*.json; do sh -c \"$2\" < \"$f\"; done"_s,
                               u"sh"_s, r.home.path() + u"/w%1"_s.arg(writer), command});
        }
        for (const auto &process : processes)
            QTRY_VERIFY_WITH_TIMEOUT(process->state() == QProcess::NotRunning, 900'000);
        QTRY_VERIFY_WITH_TIMEOUT(received >= writers * records, 60'000);
        qInfo("%d records in %.1f s", writers * records, double(timer.elapsed()) / 1000);
        QTest::qWait(100); // anything extra would show now
        QCOMPARE(received, writers * records);
        QCOMPARE(wrong, 0);
        QCOMPARE(r.log(u"critical"_s), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestHookConcurrency)
#include "tst_hookconcurrency.moc"
