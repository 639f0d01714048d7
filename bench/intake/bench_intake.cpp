// What a running Tolvo (event pipe, session list and store, no windows) does
// with records arriving through the FIFO: throughput and loss under a writer
// that opens, writes and closes the pipe once per record as fast as it can;
// latency from write() to the record applied in the model at a steady rate;
// the main thread's time spent saving while 2,000 new sessions arrive, one
// more new session and the restore with 2,000 saved directories; resident
// memory per logged event, and of one session's log fed 100,000 large
// records. Prints table rows; asserts nothing.
//
//   bench_intake [throughput] [latency] [saves] [memory] [logmemory]   (default: all)
//   bench_intake --child PART                                (internal)
//   bench_intake --writer COUNT INTERVAL_US PREFIX SUFFIX    (internal)
//
// The writer is a process of its own that follows the hook writer's rules
// (flock on events.lock around open, write and close; retry while the FIFO
// is being replaced; each record between line feeds). Each record is the
// PreToolUse fixture as tolvo-hook reduces it, its command carrying
// "#SEQUENCE NANOSECONDS" taken just before write(); "@N@" in the record
// becomes a number of its own for each record (1000000 + SEQUENCE).
//
// The two memory parts run in processes of their own, so that what other
// parts left on the heap does not count.

#include "../benchsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cerrno>
#include <functional>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>

namespace {

constexpr char marker[] = "ls -la";

qint64 nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int openPipe(const QByteArray &path, qint64 deadline)
{
    for (;;) {
        const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || (errno != ENOENT && errno != ENXIO && errno != EINTR) || nowNs() >= deadline)
            return fd;
        const timespec pause = {0, 100000};
        nanosleep(&pause, nullptr);
    }
}

bool writeAll(int fd, const char *data, size_t size, qint64 deadline)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count > 0) {
            data += count;
            size -= size_t(count);
        } else if (count < 0 && errno == EAGAIN && nowNs() < deadline) {
            pollfd watch = {fd, POLLOUT, 0};
            ::poll(&watch, 1, 10);
        } else if (!(count < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

// Writer mode: prints how many records it could not deliver within the hook's budget.
int writer(char **argv)
{
    const long count = atol(argv[2]);
    const long intervalUs = atol(argv[3]);
    const QByteArray prefix = argv[4], suffix = argv[5];
    const bool numbered = prefix.contains("@N@") || suffix.contains("@N@");
    const QByteArray tolvo = qgetenv("HOME") + "/.tolvo/";
    const QByteArray pipe = tolvo + "events";
    const int lock = ::open((tolvo + "events.lock").constData(), O_RDWR | O_CLOEXEC);
    QByteArray record;
    long failed = 0;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long sequence = 0; sequence < count; ++sequence) {
        if (intervalUs > 0) {
            next.tv_nsec += intervalUs * 1000;
            next.tv_sec += next.tv_nsec / 1000000000;
            next.tv_nsec %= 1000000000;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        ::flock(lock, LOCK_EX);
        const qint64 deadline = nowNs() + 800000000;
        const int fd = openPipe(pipe, deadline);
        bool written = false;
        if (fd >= 0) {
            record = '\n' + prefix + marker + " #" + QByteArray::number(qlonglong(sequence)) + ' ' +
                     QByteArray::number(nowNs()) + suffix + '\n';
            if (numbered)
                record.replace("@N@", QByteArray::number(qlonglong(1000000 + sequence)));
            written = writeAll(fd, record.constData(), size_t(record.size()), deadline);
            ::close(fd);
        }
        ::flock(lock, LOCK_UN);
        failed += !written;
    }
    std::printf("%ld\n", failed);
    return 0;
}

// Times what the main thread does for the store and for the events: every
// event it delivers passes through notify(). The store's save timer is a
// member of the store, so its timer events are those for a receiver inside
// the store object; a delivery that leaves the store clean was a write.
class TimedApplication : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!store || m_depth > 0 || QThread::currentThread() != thread())
            return QCoreApplication::notify(receiver, event);
        const auto at = reinterpret_cast<quintptr>(receiver);
        const auto begin = reinterpret_cast<quintptr>(store);
        const bool saveTimer =
            event->type() == QEvent::Timer && at >= begin && at < begin + sizeof(SessionStore);
        const bool call = event->type() == QEvent::MetaCall;
        const bool wasDirty = store->hasUnsavedChanges();
        const qint64 start = nowNs();
        ++m_depth;
        const bool result = QCoreApplication::notify(receiver, event);
        --m_depth;
        const qint64 spent = nowNs() - start;
        if (saveTimer) {
            savingNs += spent;
            writes += wasDirty && !store->hasUnsavedChanges();
        } else if (call) {
            handlingNs += spent;
        }
        return result;
    }

    const SessionStore *store = nullptr;
    qint64 savingNs = 0;   // in the store's timer: its writes
    qint64 handlingNs = 0; // in queued calls: the events applied
    int writes = 0;

private:
    int m_depth = 0;
};

TimedApplication *timedApp()
{
    return static_cast<TimedApplication *>(QCoreApplication::instance());
}

// The "#SEQUENCE NANOSECONDS" of a record's command.
struct Stamp
{
    qint64 sequence = -1;
    qint64 writtenNs = 0;
};

Stamp stampOf(QByteArrayView record)
{
    const qsizetype at = record.indexOf('#');
    if (at < 0)
        return {};
    Stamp stamp{0, 0};
    qsizetype i = at + 1;
    for (; i < record.size() && record[i] >= '0' && record[i] <= '9'; ++i)
        stamp.sequence = stamp.sequence * 10 + (record[i] - '0');
    for (++i; i < record.size() && record[i] >= '0' && record[i] <= '9'; ++i)
        stamp.writtenNs = stamp.writtenNs * 10 + (record[i] - '0');
    return stamp;
}

// What the model applied, from the newest log entry of each changed row.
struct Probe
{
    explicit Probe(SessionListModel &manager)
    {
        QObject::connect(&manager, &QAbstractItemModel::dataChanged, &manager,
                         [this, &manager](const QModelIndex &index) {
                             const QList<ActivityEvent> &log =
                                 manager.session(index.row()).activityLog;
                             if (!log.isEmpty())
                                 seen(stampOf(log.constLast().record));
                         });
    }
    void seen(const Stamp &stamp)
    {
        if (stamp.sequence < next) // a change that logged nothing new
            return;
        outOfOrder += stamp.sequence != next;
        next = stamp.sequence + 1;
        ++applied;
        lastApplied = Bench::nowMs();
        latenciesMs.push_back(double(nowNs() - stamp.writtenNs) / 1e6);
    }

    qint64 next = 0;
    qint64 applied = 0;
    qint64 outOfOrder = 0;
    double lastApplied = 0;
    std::vector<double> latenciesMs;
};

struct Run
{
    qint64 applied = 0;
    qint64 undelivered = 0; // the writer gave up
    qint64 outOfOrder = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;
};

// The reduced PreToolUse record, optionally as the first event of a session
// of its own: "instance" and the working directory numbered per record.
QByteArray writerRecord(const QString &scratch, bool ownSessions)
{
    QByteArray record = Bench::reducedFixture("PreToolUse-Bash", scratch);
    if (ownSessions) {
        QJsonObject object = QJsonDocument::fromJson(record).object();
        object.insert(QStringLiteral("instance"), QStringLiteral("@N@"));
        object.insert(QStringLiteral("working_directory"),
                      QStringLiteral("/home/user/code/project-@N@"));
        record = QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    return record;
}

// One writer against a fresh engine in a fresh home. `started` sees the
// engine before the first record is written, `finished` after the last one
// was applied.
Run drive(long count, long intervalUs, bool ownSessions = false,
          const std::function<void(Bench::Engine &)> &started = {},
          const std::function<void(Bench::Engine &)> &finished = {})
{
    Bench::ScratchHome home;
    const QByteArray record = writerRecord(home.path(), ownSessions);
    const qsizetype cut = record.indexOf(marker);
    if (cut < 0)
        qFatal("the reduced PreToolUse record has no \"%s\"", marker);
    Bench::Engine engine;
    if (!home.waitForListener(QCoreApplication::applicationPid()))
        qFatal("the listener did not start");
    Probe probe(engine.manager);
    probe.latenciesMs.reserve(size_t(count));
    if (started)
        started(engine);

    const QByteArray output = QFile::encodeName(home.path() + QStringLiteral("/writer.out"));
    const double start = Bench::nowMs();
    const pid_t child = Bench::spawn({"/proc/self/exe", "--writer", QByteArray::number(count),
                                      QByteArray::number(intervalUs), record.left(cut),
                                      record.mid(cut + qsizetype(sizeof marker) - 1)},
                                     "/dev/null", output.constData());
    bool writerDone = false;
    double quietSince = 0;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        int status = 0;
        if (!writerDone && waitpid(child, &status, WNOHANG) == child) {
            writerDone = true;
            quietSince = Bench::nowMs();
        }
        if (probe.applied >= count ||
            (writerDone && Bench::nowMs() - std::max(quietSince, probe.lastApplied) > 3000))
            loop.quit();
    });
    tick.start(10);
    loop.exec();
    if (!writerDone)
        Bench::waitFor(child);
    if (finished)
        finished(engine);

    QFile report(QString::fromUtf8(output));
    Run run;
    run.undelivered =
        report.open(QIODevice::ReadOnly) ? report.readAll().trimmed().toLongLong() : -1;
    run.applied = probe.applied;
    run.outOfOrder = probe.outOfOrder;
    run.seconds = (probe.lastApplied - start) / 1e3;
    run.latenciesMs = std::move(probe.latenciesMs);
    return run;
}

qsizetype loggedEvents(const SessionListModel &manager)
{
    qsizetype total = 0;
    for (int row = 0; row < manager.count(); ++row)
        total += manager.session(row).activityLog.size();
    return total;
}

// Resident growth per logged event, from the ten fixtures of a session turn
// spread over ten sessions, handed to the session list as the listener would.
void memory(const Bench::Report &report)
{
    Bench::ScratchHome home;
    static const char *names[] = {
        "UserPromptSubmit",        "PreToolUse-Bash",  "Notification-permission_prompt",
        "PostToolUse-Bash",        "PreToolUse-Write", "PostToolUse-Write",
        "PreCompact-manual",       "SubagentStop",     "Stop",
        "Notification-idle_prompt"};
    QList<QJsonObject> records;
    double recordBytes = 0;
    for (const char *name : names) {
        const QByteArray reduced = Bench::reducedFixture(name, home.path());
        recordBytes += double(reduced.size() + 1) / double(std::size(names));
        records.append(QJsonDocument::fromJson(reduced).object());
    }
    Bench::Engine engine(false);
    const auto feed = [&](int count) {
        for (int n = 0; n < count; ++n) {
            QJsonObject record = records.at(n % records.size());
            record.insert(QStringLiteral("instance"), QString::number(4000000 + n % 10));
            engine.manager.handle(
                Bench::decode(QJsonDocument(record).toJson(QJsonDocument::Compact)));
            if (n % 100 == 99)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    };
    constexpr int events = 100000;
    feed(1000);
    const long before = Bench::residentBytes();
    const qsizetype loggedBefore = loggedEvents(engine.manager);
    feed(events);
    const long after = Bench::residentBytes();
    const qsizetype logged = loggedEvents(engine.manager) - loggedBefore;
    const double perEvent = logged > 0 ? double(after - before) / double(logged) : 0;
    const double beyond = perEvent - recordBytes;
    report.row("memory per logged event beyond the record's own bytes",
               QByteArray::number(beyond, 'f', 0) + " B (record " +
                   QByteArray::number(recordBytes, 'f', 0) + " B)",
               "<= 2048 B", Bench::met(logged > 0 && beyond <= 2048));
    report.note("memory: resident %.1f MiB after %d events, %.1f MiB before; the logs hold %lld "
                "entries more than before (at most %lld per session)",
                double(after) / 1048576.0, events, double(before) / 1048576.0, qlonglong(logged),
                qlonglong(Session::logLimit));
}

// One session's log fed 100,000 records of about 1.7 KB: a Write of 1.5 KB
// of text, each record different, as the listener hands them up.
void logMemory(const Bench::Report &report)
{
    Bench::ScratchHome home;
    QJsonObject record =
        QJsonDocument::fromJson(Bench::reducedFixture("PreToolUse-Write", home.path())).object();
    record.insert(QStringLiteral("instance"), QStringLiteral("4000000"));
    QJsonObject input =
        QJsonDocument::fromJson(record.value(u"details").toString().toUtf8()).object();
    QString content;
    while (content.size() < 1500)
        content += QStringLiteral("Line %1 of the notes, written to measure the log.\n")
                       .arg(content.size(), 4, 10, QChar(u'0'));
    content.truncate(1500 - 8);
    input.insert(QStringLiteral("content"), QStringLiteral("@NUMBER@") + content);
    record.insert(QStringLiteral("details"),
                  QString::fromUtf8(QJsonDocument(input).toJson(QJsonDocument::Compact)));
    const QByteArray shape = QJsonDocument(record).toJson(QJsonDocument::Compact);
    const qsizetype cut = shape.indexOf("@NUMBER@");
    const QByteArray head = shape.left(cut), tail = shape.mid(cut + 8);

    Bench::Engine engine(false);
    double recordBytes = 0;
    const auto feed = [&](int from, int count) {
        for (int n = from; n < from + count; ++n) {
            const QByteArray bytes =
                head + QByteArray::number(n).rightJustified(8, '0') + tail + '\n';
            recordBytes += double(bytes.size() - 1); // as the log keeps it: no line feed
            engine.manager.handle(Bench::decode(bytes));
            if (n % 100 == 99)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    };
    constexpr int events = 100000;
    feed(0, 10);
    recordBytes = 0;
    const long before = Bench::residentBytes();
    feed(10, events);
    const long after = Bench::residentBytes();
    recordBytes /= events;
    const qsizetype held = engine.manager.session(0).activityLog.size();
    const double perEntry = double(after - before) / double(held);
    const double ratio = perEntry / recordBytes;
    report.row("one session's log, 100,000 records of 1.7 KB: memory per held entry",
               QByteArray::number(perEntry, 'f', 0) + " B = " + QByteArray::number(ratio, 'f', 2) +
                   " x the record (" + QByteArray::number(recordBytes, 'f', 0) + " B)",
               "<= 1.20 x", Bench::met(ratio <= 1.2));
    report.row("one session's log, 100,000 records of 1.7 KB: resident size",
               QByteArray::number(double(after) / 1e6, 'f', 1) + " MB", "< 150 MB",
               Bench::met(after < 150000000));
    report.note("log memory: resident %.1f MB before, %.1f MB after; %lld of the %d entries held "
                "(sessions: %d)",
                double(before) / 1e6, double(after) / 1e6, qlonglong(held), events,
                engine.manager.count());
}

void throughput(const Bench::Report &report)
{
    // Throughput: the median of three runs of 50,000 records.
    constexpr long throughputRecords = 50000;
    std::vector<double> rates;
    qint64 lost = 0, undelivered = 0, outOfOrder = 0;
    for (int run = 0; run < 3; ++run) {
        const Run r = drive(throughputRecords, 0);
        rates.push_back(double(r.applied) / r.seconds);
        lost = std::max(lost, throughputRecords - r.applied);
        undelivered = std::max(undelivered, r.undelivered);
        outOfOrder = std::max(outOfOrder, r.outOfOrder);
    }
    const double rate = Bench::median(rates);
    report.row("intake throughput, one writer, open-write-close per record",
               QByteArray::number(rate, 'f', 0) + " records/s", ">= 20000 records/s",
               Bench::met(rate >= 20000));
    report.row("records lost of 50,000 (worst of 3 runs)", QByteArray::number(lost), "0",
               Bench::met(lost == 0 && outOfOrder == 0));
    report.note("throughput runs: %.0f, %.0f, %.0f records/s; the writer gave up on %lld, %lld "
                "arrived out of order",
                rates[0], rates[1], rates[2], qlonglong(undelivered), qlonglong(outOfOrder));
}

void latency(const Bench::Report &report)
{
    // Latency at 200 records/s: medians over three runs of each run's percentiles.
    std::vector<double> p50, p99, worst;
    for (int run = 0; run < 3; ++run) {
        const Run r = drive(1000, 5000);
        p50.push_back(Bench::percentile(r.latenciesMs, 0.5));
        p99.push_back(Bench::percentile(r.latenciesMs, 0.99));
        worst.push_back(Bench::percentile(r.latenciesMs, 1.0));
    }
    report.row("latency write() to applied, 200 records/s, p50",
               QByteArray::number(Bench::median(p50), 'f', 2) + " ms", "", "");
    report.row("latency write() to applied, 200 records/s, p99",
               QByteArray::number(Bench::median(p99), 'f', 2) + " ms", "<= 5 ms",
               Bench::met(Bench::median(p99) <= 5));
    report.note("latency runs%s: p99 %.2f, %.2f, %.2f ms; longest %.2f, %.2f, %.2f ms",
                sched_getscheduler(0) == SCHED_FIFO ? " under SCHED_FIFO" : "", p99[0], p99[1],
                p99[2], worst[0], worst[1], worst[2]);
}

// How often a complete sessions.json appeared, as inotify saw it: a save
// writes a temporary file and then links it in (the first time) or renames
// it over the old one.
class FileWrites
{
public:
    explicit FileWrites(const QString &filePath)
        : m_name(QFile::encodeName(QFileInfo(filePath).fileName())),
          m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        QDir().mkpath(QFileInfo(filePath).absolutePath());
        inotify_add_watch(m_fd, QFile::encodeName(QFileInfo(filePath).absolutePath()).constData(),
                          IN_CREATE | IN_MOVED_TO);
    }
    ~FileWrites() { ::close(m_fd); }
    int count()
    {
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t size = ::read(m_fd, buffer, sizeof buffer);
            if (size <= 0)
                return m_count;
            for (ssize_t at = 0; at < size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                m_count += event->len > 0 && m_name == event->name;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    QByteArray m_name;
    int m_fd;
    int m_count = 0;
};

void saves(const Bench::Report &report)
{
    // 2,000 new sessions through the pipe, one record each.
    constexpr long sessions = 2000;
    std::unique_ptr<FileWrites> files;
    int rows = 0;
    qsizetype savedRecords = 0;
    const Run run = drive(
        sessions, 0, true,
        [&](Bench::Engine &engine) {
            files = std::make_unique<FileWrites>(engine.store.filePath());
            timedApp()->store = &engine.store;
        },
        [&](Bench::Engine &engine) {
            // The last change is written saveDelayMs after it came.
            QElapsedTimer wait;
            wait.start();
            while (engine.store.hasUnsavedChanges() && wait.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            timedApp()->store = nullptr;
            rows = engine.manager.count();
            savedRecords = engine.store.savedSessions().size();
        });
    const double savingMs = double(timedApp()->savingNs) / 1e6;
    report.row("main thread saving, 2,000 new sessions through the pipe",
               QByteArray::number(savingMs, 'f', 1) +
                   " ms; file writes: " + QByteArray::number(timedApp()->writes),
               "<= 2000 ms", Bench::met(savingMs <= 2000 && rows == sessions));
    report.note("saves: %d sessions of %ld arrived in %.2f s, %lld directories saved; events "
                "took %.0f ms of the main thread; inotify saw %d writes of the file",
                rows, sessions, run.seconds, qlonglong(savedRecords),
                double(timedApp()->handlingNs) / 1e6, files->count());

    // With 2,000 directories saved: restoring them, then one more new session.
    Bench::ScratchHome home;
    Bench::saveDirectories(SessionStore::defaultFilePath(), int(sessions));
    std::vector<double> restores;
    int restored = 0;
    for (int n = 0; n < 11; ++n) {
        const double start = Bench::nowMs();
        Bench::Engine engine(false);
        restores.push_back(Bench::nowMs() - start);
        restored = engine.manager.count();
    }
    report.row("restoring 2,000 saved directories (stores and session list)",
               QByteArray::number(Bench::median(restores), 'f', 1) + " ms (" +
                   QByteArray::number(restored) + " placeholders)",
               "", "");

    Bench::Engine engine(false);
    std::vector<double> handled, saved;
    for (int n = 0; n < 21; ++n) {
        const qint64 pid = 2000000 + n;
        const HookEvent event =
            Bench::decode("{\"instance\":\"" + QByteArray::number(pid) +
                          "\",\"event\":\"UserPromptSubmit\",\"tool\":null,\"details\":\"go\","
                          "\"working_directory\":\"" +
                          Bench::projectDirectory(pid).toUtf8() + "\"}");
        double start = Bench::nowMs();
        Bench::deliver(engine.manager, event);
        QCoreApplication::processEvents();
        handled.push_back(Bench::nowMs() - start);
        if (!engine.store.hasUnsavedChanges())
            qFatal("a new session left nothing to save");
        // What the save timer runs saveDelayMs later.
        start = Bench::nowMs();
        engine.store.flush();
        saved.push_back(Bench::nowMs() - start);
    }
    std::vector<double> total(handled.size());
    for (size_t i = 0; i < total.size(); ++i)
        total[i] = handled[i] + saved[i];
    report.row("main thread for one more new session, 2,000 directories saved",
               QByteArray::number(Bench::median(total), 'f', 2) + " ms (event " +
                   QByteArray::number(Bench::median(handled), 'f', 2) + " ms, one write " +
                   QByteArray::number(Bench::median(saved), 'f', 2) + " ms)",
               "", "");
    report.note("restore: median of 11 starts of the stores and session list with %lld saved "
                "directories; one more session: median of 21",
                qlonglong(sessions));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && qstrcmp(argv[1], "--writer") == 0)
        return writer(argv);
    TimedApplication app(argc, argv);
    const Bench::Report report;

    QStringList parts = app.arguments().mid(1);
    const bool child = parts.value(0) == QStringLiteral("--child");
    if (child)
        parts.removeFirst();
    const auto wanted = [&parts](const QString &part) {
        return parts.isEmpty() || parts.contains(part);
    };
    if (wanted(QStringLiteral("throughput")))
        throughput(report);
    if (wanted(QStringLiteral("latency")))
        latency(report);
    if (wanted(QStringLiteral("saves")))
        saves(report);
    // Each in a fresh process, unless this is it.
    for (const char *part : {"memory", "logmemory"}) {
        if (!wanted(QString::fromLatin1(part)))
            continue;
        if (!child)
            Bench::runAgain({"--child", part}, report);
        else if (qstrcmp(part, "memory") == 0)
            memory(report);
        else
            logMemory(report);
    }
    return 0;
}
