#include "hookconfiguration.h"
#include "logcapture.h"
#include "namedpipelistener.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <numeric>

using namespace Qt::StringLiterals;

namespace {

constexpr int writerCount = 16;
constexpr int recordsPerWriter = 200;
constexpr double smallestRecord = 100;
constexpr double largestRecord = 256 * 1024;

// Braces, quotes, backslashes and non-ASCII text inside the prompt, so that
// line and document boundaries inside strings are exercised as well.
QString prompt(int writer, int sequence, qsizetype size)
{
    static const QString filler = [] {
        QString text;
        while (text.size() < largestRecord)
            text += u"lorem }{ ipsum ][ \"quoted\" back\\slash é ✓ "_s;
        return text;
    }();
    const QString head =
        u"w%1 s%2 "_s.arg(writer, 2, 10, QChar(u'0')).arg(sequence, 4, 10, QChar(u'0'));
    return head + filler.left(qMax(size - head.size(), qsizetype(0)));
}

QByteArray digest(const QString &text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1);
}

} // namespace

class TestHookConcurrency : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Sixteen sessions fire hooks at once, each in its own order, with records
    // from a hundred bytes to 256 KiB: far more than PIPE_BUF, and far more
    // end-of-file re-creations of the FIFO than a real day brings.
    void everyRecordArrivesOnceInWriterOrder()
    {
        TestHome home;
        LogCapture log(false);

        // Record sizes log-uniform between the bounds, fixed by the seed.
        QRandomGenerator random(20240611);
        QHash<QString, QByteArray> expected; // "wNN sSSSS" -> digest of the prompt
        qint64 totalBytes = 0;
        for (int writer = 0; writer < writerCount; ++writer) {
            const QString directory = home.path() + u"/inputs/w%1"_s.arg(writer);
            QVERIFY(QDir().mkpath(directory));
            for (int sequence = 0; sequence < recordsPerWriter; ++sequence) {
                const double exponent =
                    std::log(smallestRecord) +
                    random.generateDouble() * (std::log(largestRecord) - std::log(smallestRecord));
                // The record adds about 100 bytes around the prompt.
                const qsizetype size = qsizetype(std::exp(exponent)) - 100;
                const QString text = prompt(writer, sequence, size);
                expected.insert(text.left(9), digest(text));
                const QJsonObject input{{u"hook_event_name"_s, u"UserPromptSubmit"_s},
                                        {u"cwd"_s, directory},
                                        {u"prompt"_s, text}};
                QFile file(directory + u"/%1.json"_s.arg(sequence, 4, 10, QChar(u'0')));
                QVERIFY(file.open(QIODevice::WriteOnly));
                totalBytes += file.write(QJsonDocument(input).toJson(QJsonDocument::Compact));
            }
        }

        QHash<QString, QList<int>> order; // instance -> sequence numbers
        QHash<QString, int> writerOfInstance;
        int received = 0;
        int corrupted = 0;
        RecordingDelegate delegate;
        delegate.onEvent = [&](const QJsonObject &record) {
            ++received;
            const QString text = record.value(u"details").toString();
            const QString key = text.left(9);
            if (expected.value(key) != digest(text)) {
                ++corrupted;
                return;
            }
            const QString instance = record.value(u"instance").toString();
            order[instance] << key.mid(5, 4).toInt();
            writerOfInstance[instance] = key.mid(1, 2).toInt();
        };
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        QTRY_VERIFY(QFileInfo::exists(home.path() + u"/.tolvo/tolvo.pid"_s));

        // Each writer is a shell that runs the hook command once per input,
        // the way Claude Code does: sh -c with the input on stdin. $PPID in the
        // command is then the writer's own process id.
        QString command = HookConfiguration::hookCommand(TestPaths::buildPrefix());
        command.replace(u"\\\""_s, u"\""_s);
        const QString loop = u"for f in \"$1\"/*.json; do sh -c \"$2\" < \"$f\"; done"_s;
        QElapsedTimer timer;
        timer.start();
        std::vector<std::unique_ptr<QProcess>> writers;
        QHash<QString, int> instanceOfWriter;
        for (int writer = 0; writer < writerCount; ++writer) {
            auto process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedChannels);
            process->start(u"/bin/sh"_s, {u"-c"_s, loop, u"sh"_s,
                                          home.path() + u"/inputs/w%1"_s.arg(writer), command});
            QVERIFY(process->waitForStarted());
            instanceOfWriter.insert(QString::number(process->processId()), writer);
            writers.push_back(std::move(process));
        }

        const auto allFinished = [&writers] {
            return std::all_of(writers.begin(), writers.end(), [](const auto &process) {
                return process->state() == QProcess::NotRunning;
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allFinished(), 500'000);
        for (const auto &process : writers)
            QCOMPARE(process->exitCode(), 0);
        const int expectedCount = writerCount * recordsPerWriter;
        QTRY_VERIFY_WITH_TIMEOUT(received >= expectedCount, 30'000);
        QTest::qWait(100); // anything extra would show now
        qInfo("%d records, %.1f MiB of input, from %d writers in %lld ms", received,
              totalBytes / 1048576.0, writerCount, timer.elapsed());

        QCOMPARE(received, expectedCount);
        QCOMPARE(corrupted, 0);
        QCOMPARE(log.startingWith(u"critical: "_s), QStringList());
        QCOMPARE(order.size(), writerCount);
        QList<int> inOrder(recordsPerWriter);
        std::iota(inOrder.begin(), inOrder.end(), 0);
        for (auto it = order.cbegin(); it != order.cend(); ++it) {
            QCOMPARE(instanceOfWriter.value(it.key(), -1), writerOfInstance.value(it.key()));
            QCOMPARE(it.value(), inOrder);
        }
        QVERIFY(!delegate.calledOffMainThread);
    }
};

QTEST_GUILESS_MAIN(TestHookConcurrency)
#include "tst_hookconcurrency.moc"
