#include "hookconfiguration.h"
#include "logcapture.h"
#include "namedpipelistener.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// What Claude Code runs: the configured command with its JSON escaping undone.
QString shellCommand()
{
    QString command = HookConfiguration::hookCommand(TestPaths::buildPrefix());
    command.replace(u"\\\""_s, u"\""_s);
    return command;
}

struct HookRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
    qint64 milliseconds = 0;
};

HookRun runHook(const QByteArray &input)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(u"/bin/sh"_s, {u"-c"_s, shellCommand()});
    process.write(input);
    process.closeWriteChannel();
    HookRun run;
    run.finished = process.waitForFinished(10000);
    run.milliseconds = timer.elapsed();
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = process.readAllStandardOutput() + process.readAllStandardError();
    return run;
}

QByteArray fixture(const QString &name)
{
    QFile file(TestPaths::fixture(name + u".json"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray promptInput(qsizetype size)
{
    return "{\"hook_event_name\":\"UserPromptSubmit\",\"cwd\":\"/tmp\",\"prompt\":\"" +
           QByteArray(size, 'p') + "\"}";
}

void writePidFile(const TestHome &home, qint64 pid)
{
    QDir().mkpath(home.path() + u"/.tolvo"_s);
    QFile file(home.path() + u"/.tolvo/tolvo.pid"_s);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray::number(pid) + '\n');
}

qint64 finishedProcessId()
{
    QProcess process;
    process.start(u"/bin/true"_s, {});
    process.waitForStarted();
    const qint64 pid = process.processId();
    process.waitForFinished();
    return pid;
}

// The test plays a frozen Tolvo: it holds the FIFO open for reading and
// reads only when told to.
struct FrozenReader
{
    explicit FrozenReader(const QString &path)
    {
        ::mkfifo(QFile::encodeName(path).constData(), 0666);
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    ~FrozenReader()
    {
        if (fd >= 0)
            ::close(fd);
    }
    void fill(const QString &path) const
    {
        const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        const QByteArray chunk(65536, ' ');
        while (::write(writer, chunk.constData(), chunk.size()) > 0) {
        }
        ::close(writer);
    }
    QByteArray read(qsizetype most = 1 << 20) const
    {
        QByteArray bytes(most, Qt::Uninitialized);
        const ssize_t count = ::read(fd, bytes.data(), bytes.size());
        bytes.resize(qMax<ssize_t>(count, 0));
        return bytes;
    }
    QByteArray readAll() const
    {
        QByteArray all;
        for (QByteArray part = read(); !part.isEmpty(); part = read())
            all += part;
        return all;
    }
    int fd = -1;
};

} // namespace

class TestHookPipeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(
            QFileInfo(HookConfiguration::hookScriptPath(TestPaths::buildPrefix())).isExecutable(),
            "tolvo.sh is not in the build tree");
        QVERIFY2(
            QFileInfo(TestPaths::buildPrefix() + u"/libexec/tolvo/tolvo-deliver"_s).isExecutable(),
            "tolvo-deliver is not built");
    }

    // Real jq, real tolvo.sh and tolvo-deliver, real FIFO, and $PPID expanded
    // by the shell: the test process is the "Claude Code" here.
    void fixturesArriveInOrder_data()
    {
        QTest::addColumn<QStringList>("fixtures");
        QTest::newRow("a turn with a permission prompt")
            << QStringList{u"UserPromptSubmit"_s, u"PreToolUse-Bash"_s,
                           u"Notification-permission_prompt"_s, u"PostToolUse-Bash"_s, u"Stop"_s};
        QTest::newRow("a file write, then idle") << QStringList{
            u"PreToolUse-Write"_s, u"PostToolUse-Write"_s, u"Notification-idle_prompt"_s};
        QTest::newRow("compaction")
            << QStringList{u"PreCompact-manual"_s, u"SubagentStop"_s, u"SubagentStop"_s};
    }

    void fixturesArriveInOrder()
    {
        QFETCH(QStringList, fixtures);
        TestHome home;
        LogCapture log;
        RecordingDelegate delegate;
        NamedPipeListener listener;
        listener.setDelegate(&delegate);
        listener.start();
        QTRY_VERIFY(QFileInfo::exists(home.path() + u"/.tolvo/tolvo.pid"_s));

        // tool and details as the jq filter fills them; a details text
        // starting with "{" is tool input, compared as JSON.
        const QHash<QString, std::pair<QJsonValue, QString>> expected = {
            {u"UserPromptSubmit"_s, {QJsonValue::Null, u"list the files"_s}},
            {u"PreToolUse-Bash"_s,
             {u"Bash"_s, u"{\"command\":\"ls -la\",\"description\":\"List files\"}"_s}},
            {u"PostToolUse-Bash"_s,
             {u"Bash"_s, u"{\"command\":\"ls -la\",\"description\":\"List files\"}"_s}},
            {u"PreToolUse-Write"_s,
             {u"Write"_s,
              u"{\"file_path\":\"/home/user/code/webshop/notes.txt\",\"content\":\"hello\\n\"}"_s}},
            {u"PostToolUse-Write"_s,
             {u"Write"_s,
              u"{\"file_path\":\"/home/user/code/webshop/notes.txt\",\"content\":\"hello\\n\"}"_s}},
            {u"Notification-permission_prompt"_s, {QJsonValue::Null, u"null"_s}},
            {u"Notification-idle_prompt"_s, {QJsonValue::Null, u"null"_s}},
            {u"Stop"_s, {QJsonValue::Null, u"null"_s}},
            {u"SubagentStop"_s, {QJsonValue::Null, u"null"_s}},
            // The input's member is "trigger", which the filter does not read.
            {u"PreCompact-manual"_s, {QJsonValue::Null, u"null"_s}},
        };

        QList<QJsonObject> wanted;
        for (const QString &name : fixtures) {
            const QByteArray input = fixture(name);
            QVERIFY2(!input.isEmpty(), qPrintable(name));
            const HookRun run = runHook(input);
            QVERIFY(run.finished);
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.output, QByteArray());

            const auto &[tool, details] = expected.value(name);
            wanted << QJsonObject{
                {u"instance"_s, QString::number(QCoreApplication::applicationPid())},
                {u"event"_s, QJsonDocument::fromJson(input).object().value(u"hook_event_name")},
                {u"tool"_s, tool},
                {u"details"_s, details},
                {u"working_directory"_s, u"/home/user/code/webshop"_s},
            };
        }

        QTRY_COMPARE(delegate.received.size(), wanted.size());
        for (qsizetype i = 0; i < wanted.size(); ++i) {
            QJsonObject got = delegate.received.at(i);
            const QString details = got.value(u"details").toString();
            if (details.startsWith(u'{')) {
                // jq keeps the input's member order; compare the values.
                QCOMPARE(QJsonDocument::fromJson(details.toUtf8()).object(),
                         QJsonDocument::fromJson(wanted.at(i).value(u"details").toString().toUtf8())
                             .object());
                got[u"details"_s] = wanted.at(i).value(u"details");
            }
            QCOMPARE(got, wanted.at(i));
        }
        QCOMPARE(log.startingWith(u"critical: "_s), QStringList());
    }

    // Whatever the state of Tolvo, the hook ends soon, succeeds, prints
    // nothing and never leaves a regular file where the FIFO belongs.
    void hookEndsWithoutAListener_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("atMostMs");
        QTest::newRow("not running") << u"not running"_s << 900;
        QTest::newRow("crashed: stale pid file and FIFO") << u"stale"_s << 900;
        QTest::newRow("running, between two FIFOs") << u"no fifo"_s << 900;
        QTest::newRow("running, regular file at the path") << u"regular file"_s << 900;
        QTest::newRow("frozen with a full pipe") << u"full"_s << 1500;
        QTest::newRow("writer lock held by a stuck writer") << u"locked"_s << 1500;
    }

    void hookEndsWithoutAListener()
    {
        QFETCH(QString, situation);
        QFETCH(int, atMostMs);
        TestHome home;
        const QString pipe = home.pipePath();
        std::unique_ptr<FrozenReader> reader;
        int lock = -1;
        if (situation == u"stale") {
            writePidFile(home, finishedProcessId());
            QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0666), 0);
        } else if (situation != u"not running") {
            writePidFile(home, QCoreApplication::applicationPid());
        }
        if (situation == u"regular file") {
            QFile file(pipe);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("keep");
        }
        if (situation == u"full" || situation == u"locked") {
            reader = std::make_unique<FrozenReader>(pipe);
            QVERIFY(reader->fd >= 0);
        }
        if (situation == u"full")
            reader->fill(pipe);
        if (situation == u"locked") {
            lock = ::open(QFile::encodeName(home.path() + u"/.tolvo/events.lock"_s).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            QCOMPARE(::flock(lock, LOCK_EX), 0);
        }

        const HookRun run = runHook(fixture(u"PreToolUse-Bash"_s));
        qInfo("%s: %lld ms", qPrintable(situation), run.milliseconds);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.output, QByteArray());
        QVERIFY2(run.milliseconds <= atMostMs, qPrintable(QString::number(run.milliseconds)));

        struct stat status = {};
        const bool present = ::lstat(QFile::encodeName(pipe).constData(), &status) == 0;
        if (situation == u"regular file") {
            QFile file(pipe);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("keep"));
        } else if (situation == u"stale" || reader) {
            QVERIFY(present && S_ISFIFO(status.st_mode));
        } else {
            QVERIFY(!present);
        }
        if (situation == u"locked")
            QCOMPARE(reader->read(), QByteArray());
        if (lock >= 0)
            ::close(lock);
    }

    // A writer that runs out of time halfway through a record leaves the pipe
    // in the middle of a line; the next record must start on a line of its own.
    void cutRecordIsFollowedByAFreshLine()
    {
        TestHome home;
        writePidFile(home, QCoreApplication::applicationPid());
        FrozenReader reader(home.pipePath());
        QVERIFY(reader.fd >= 0);
        reader.fill(home.pipePath());
        QCOMPARE(reader.read(8192).size(), 8192);

        const HookRun cut = runHook(promptInput(20000));
        QCOMPARE(cut.exitCode, 0);
        QVERIFY(cut.milliseconds >= 900);
        const QByteArray backlog = reader.readAll();
        QVERIFY(backlog.contains("{\"instance\":"));
        QVERIFY(!backlog.endsWith('\n'));

        QCOMPARE(runHook(promptInput(10)).exitCode, 0);
        const QByteArray next = reader.readAll();
        QVERIFY2(next.startsWith("\n{\"instance\":") && next.endsWith("}\n"), next.constData());

        QCOMPARE(runHook(promptInput(10)).exitCode, 0);
        const QByteArray after = reader.readAll();
        QVERIFY2(after.startsWith("{\"instance\":") && after.endsWith("}\n"), after.constData());
    }
};

QTEST_GUILESS_MAIN(TestHookPipeline)
#include "tst_hookpipeline.moc"
