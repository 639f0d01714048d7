#include "listenerfixture.h"

#include <QProcess>
#include <QRandomGenerator>
#include <array>
#include <cmath>

namespace {

constexpr int writers = 16, records = 200;

// "wNN sSSSS " and filler with braces, quotes, backslashes and non-ASCII text, log-uniformly
// 0 to 256 Ki characters long; the record adds about 100 bytes.
QString prompt(int writer, int sequence)
{
    static QString filler;
    while (filler.size() < 256 * 1024)
        filler += u"lorem }{ ipsum ][ \"quoted\" back\\slash é ✓ "_s;
    const double random = QRandomGenerator(writer * records + sequence).generateDouble();
    return u"w%1 s%2 "_s.arg(writer, 2, 10, QChar(u'0')).arg(sequence, 4, 10, QChar(u'0')) +
           filler.left(qsizetype(100 * std::pow(2621.44, random)) - 100);
}

} // namespace

class TestHookConcurrency : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Sixteen shells run the real hook command once per input ($PPID is the shell): records far
    // beyond PIPE_BUF, and many re-creations of the FIFO.
    void everyRecordArrivesOnceInWriterOrder()
    {
        Running r;
        QVERIFY(r.started());
        for (int writer = 0; writer < writers; ++writer)
            for (int sequence = 0; sequence < records; ++sequence) {
                QFile file(r.home.path() +
                           u"/w%1-%2.json"_s.arg(writer).arg(sequence, 4, 10, QChar(u'0')));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(QJsonDocument(QJsonObject{{u"prompt"_s, prompt(writer, sequence)}})
                               .toJson(QJsonDocument::Compact));
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
        std::array<QProcess, writers> processes;
        for (int writer = 0; writer < writers; ++writer)
            processes[writer].start(
                u"/bin/sh"_s, {u"-c"_s, u"for f in \"$1\"-*.json; do sh -c \"$2\" < \"$f\"; done"_s,
                               u"sh"_s, r.home.path() + u"/w%1"_s.arg(writer), shellCommand()});
        for (const QProcess &process : processes)
            QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 500'000);
        QTRY_VERIFY_WITH_TIMEOUT(received >= writers * records, 30'000);
        QTest::qWait(100); // anything extra would show now
        QCOMPARE(received, writers * records);
        QCOMPARE(wrong, 0);
        QCOMPARE(r.log(u"critical"_s), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestHookConcurrency)
#include "tst_hookconcurrency.moc"
