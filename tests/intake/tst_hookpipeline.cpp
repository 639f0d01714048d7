#include "listenerfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <array>
#include <sys/file.h>

namespace {

// Runs the hook as Claude Code does; it must succeed silently. The milliseconds taken, or -1.
qint64 runHook(const QByteArray &input)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(u"/bin/sh"_s, {u"-c"_s, shellCommand()});
    process.write(input);
    process.closeWriteChannel();
    const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit;
    const bool silent = process.readAll().isEmpty() && process.readAllStandardError().isEmpty();
    return ok && process.exitCode() == 0 && silent ? timer.elapsed() : -1;
}

QByteArray fixture(const QString &name)
{
    QFile file(TestPaths::fixture(name + u".json"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray readAll(int fd)
{
    QByteArray bytes(1 << 20, Qt::Uninitialized);
    return bytes.left(qMax(::read(fd, bytes.data(), bytes.size()), ssize_t(0)));
}

} // namespace

class TestHookPipeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Real jq, tolvo.sh, tolvo-deliver and FIFO; $PPID is this test process.
    void fixturesArriveInOrder()
    {
        Running r;
        QVERIFY(r.started());
        const QString bash = uR"({"command":"ls -la","description":"List files"})"_s;
        const QString write =
            uR"({"file_path":"/home/user/code/webshop/notes.txt","content":"hello\n"})"_s;
        // Fixture, then tool and details as the jq filter fills them ("" is null).
        const QList<std::array<QString, 3>> fixtures = {
            {u"UserPromptSubmit"_s, {}, u"list the files"_s},
            {u"PreToolUse-Bash"_s, u"Bash"_s, bash},
            {u"Notification-permission_prompt"_s, {}, u"null"_s},
            {u"PostToolUse-Bash"_s, u"Bash"_s, bash},
            {u"PreToolUse-Write"_s, u"Write"_s, write},
            {u"PostToolUse-Write"_s, u"Write"_s, write},
            {u"Notification-idle_prompt"_s, {}, u"null"_s},
            {u"PreCompact-manual"_s, {}, u"null"_s}, // "trigger" is not read
            {u"SubagentStop"_s, {}, u"null"_s},
            {u"Stop"_s, {}, u"null"_s},
        };
        QByteArrayList wanted;
        for (const auto &[name, tool, details] : fixtures) {
            QVERIFY2(runHook(fixture(name)) >= 0, qPrintable(name));
            const QJsonObject record{
                {u"instance"_s, QString::number(QCoreApplication::applicationPid())},
                {u"event"_s, name.section(u'-', 0, 0)},
                {u"tool"_s, tool.isEmpty() ? QJsonValue() : tool},
                {u"details"_s, details},
                {u"working_directory"_s, u"/home/user/code/webshop"_s}};
            wanted << QJsonDocument(record).toJson(QJsonDocument::Compact);
        }
        QTRY_COMPARE(r.received, wanted);
    }

    // Whatever Tolvo's state, the hook ends soon and silently, never creating a file at the path.
    void hookEndsWithoutAListener_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("not running") << u"not running"_s;
        QTest::newRow("running, between two FIFOs") << u"no fifo"_s;
        QTest::newRow("frozen with a nearly full pipe") << u"full"_s;
        QTest::newRow("writer lock held by a stuck writer") << u"locked"_s;
    }

    void hookEndsWithoutAListener()
    {
        QFETCH(QString, situation);
        TestHome home;
        const QByteArray pipe = QFile::encodeName(home.pipePath());
        QVERIFY(QDir().mkpath(home.path() + u"/.tolvo"_s));
        QFile pidFile(home.path() + u"/.tolvo/tolvo.pid"_s);
        QVERIFY(situation == u"not running" ||
                (pidFile.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                 pidFile.write(QByteArray::number(::getpid()) + '\n')));
        // A frozen Tolvo holds the FIFO open and reads nothing; a full FIFO has 8 KiB room.
        const bool frozen = situation == u"full" || situation == u"locked";
        const int reader = frozen && ::mkfifo(pipe, 0666) == 0
                               ? ::open(pipe, O_RDWR | O_NONBLOCK | O_CLOEXEC)
                               : -1;
        char room[8192];
        QVERIFY(situation != u"full" ||
                (::write(reader, QByteArray(1 << 20, ' ').constData(), 1 << 20) > 0 &&
                 ::read(reader, room, sizeof room) == sizeof room));
        const int lock = ::open(pipe + ".lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        QVERIFY(situation != u"locked" || ::flock(lock, LOCK_EX) == 0);

        const qint64 ms =
            runHook("{\"hook_event_name\":\"Stop\",\"prompt\":\"" + QByteArray(20000, 'p') + "\"}");
        QVERIFY2(ms >= 0 && ms <= (frozen ? 1500 : 900), qPrintable(QString::number(ms)));
        QCOMPARE(QFileInfo::exists(home.pipePath()), frozen);
        // Some room gets the start of the record; the next record starts on a line of its own.
        QCOMPARE(readAll(reader).contains("{\"instance\""), situation == u"full");
        QVERIFY(situation != u"full" || (runHook(fixture(u"Stop"_s)) >= 0 &&
                                         readAll(reader).startsWith("\n{\"instance\"")));
        ::close(lock);
        ::close(reader);
    }
};

QTEST_GUILESS_MAIN(TestHookPipeline)
#include "tst_hookpipeline.moc"
