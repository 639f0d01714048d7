// What a running Tolvo (event pipe and instance manager, no windows) does
// with records arriving through the FIFO: throughput and loss under a writer
// that opens, writes and closes the pipe once per record as fast as it can;
// latency from write() to the record applied in the model at a steady rate;
// and resident memory per logged event. Prints table rows; asserts nothing.
//
//   bench_intake [throughput] [latency] [memory]     (default: all three)
//   bench_intake --writer COUNT INTERVAL_US PREFIX SUFFIX   (internal)
//
// The writer is a process of its own that follows the hook writer's rules
// (flock on events.lock around open, write and close; retry while the FIFO
// is being replaced; each record between line feeds). Each record is the
// PreToolUse fixture as tolvo-hook reduces it, its command carrying
// "#SEQUENCE NANOSECONDS" taken just before write().

#include "../benchsupport.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>
#include <cerrno>
#include <malloc.h>
#include <poll.h>
#include <sys/file.h>

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
            written = writeAll(fd, record.constData(), size_t(record.size()), deadline);
            ::close(fd);
        }
        ::flock(lock, LOCK_UN);
        failed += !written;
    }
    std::printf("%ld\n", failed);
    return 0;
}

// What the model applied, from the newest log entry at each change.
struct Probe
{
    explicit Probe(InstanceManager &manager)
    {
        QObject::connect(&manager, &InstanceManager::instanceChanged, &manager,
                         [this, &manager](const QString &id) {
                             const ClaudeCodeInstance *instance = manager.instance(id);
                             if (instance && !instance->activityLog.isEmpty())
                                 seen(
                                     instance->activityLog.constLast().details.value_or(QString()));
                         });
    }
    void seen(const QString &details)
    {
        const qsizetype at = details.indexOf(u'#');
        if (at < 0)
            return;
        const QStringList parts = details.mid(at + 1).split(u' ');
        const qint64 sequence = parts.value(0).toLongLong();
        if (sequence < next) // a change that logged nothing new
            return;
        outOfOrder += sequence != next;
        next = sequence + 1;
        ++applied;
        lastApplied = Bench::nowMs();
        latenciesMs.push_back(double(nowNs() - parts.value(1).toLongLong()) / 1e6);
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

// One writer against a fresh engine in a fresh home.
Run drive(long count, long intervalUs)
{
    Bench::ScratchHome home;
    const QByteArray record = Bench::reducedFixture("PreToolUse-Bash", home.path());
    const qsizetype cut = record.indexOf(marker);
    if (cut < 0)
        qFatal("the reduced PreToolUse record has no \"%s\"", marker);
    Bench::Engine engine;
    if (!home.waitForListener(QCoreApplication::applicationPid()))
        qFatal("the listener did not start");
    Probe probe(engine.manager);
    probe.latenciesMs.reserve(size_t(count));

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

long residentBytes()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * sysconf(_SC_PAGESIZE);
}

qsizetype loggedEvents(const InstanceManager &manager)
{
    qsizetype total = 0;
    for (const ClaudeCodeInstance &instance : manager.instances())
        total += instance.activityLog.size();
    return total;
}

// Resident growth per logged event, from the ten fixtures of a session turn
// spread over ten instances, handed to the manager as the listener would.
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
    Bench::Engine engine;
    const auto feed = [&](int count) {
        for (int n = 0; n < count; ++n) {
            QJsonObject record = records.at(n % records.size());
            record.insert(QStringLiteral("instance"), QString::number(4000000 + n % 10));
            engine.manager.didReceiveEvent(record);
            if (n % 100 == 99)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    };
    constexpr int events = 100000;
    feed(1000);
    const long before = residentBytes();
    const qsizetype loggedBefore = loggedEvents(engine.manager);
    feed(events);
    const long after = residentBytes();
    const qsizetype logged = loggedEvents(engine.manager) - loggedBefore;
    const double perEvent = logged > 0 ? double(after - before) / double(logged) : 0;
    const double beyond = perEvent - recordBytes;
    report.row("memory per logged event beyond the record's own bytes",
               QByteArray::number(beyond, 'f', 0) + " B (record " +
                   QByteArray::number(recordBytes, 'f', 0) + " B)",
               "<= 2048 B", Bench::met(logged > 0 && beyond <= 2048));
    report.note("memory: resident %.1f MiB after %d events, %.1f MiB before; %lld of them are "
                "held in the activity logs",
                double(after) / 1048576.0, events, double(before) / 1048576.0, qlonglong(logged));
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

} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && qstrcmp(argv[1], "--writer") == 0)
        return writer(argv);
    QCoreApplication app(argc, argv);
    const Bench::Report report;

    const QStringList parts = app.arguments().mid(1);
    const auto wanted = [&parts](const QString &part) {
        return parts.isEmpty() || parts.contains(part);
    };
    if (wanted(QStringLiteral("throughput")))
        throughput(report);
    if (wanted(QStringLiteral("latency")))
        latency(report);
    if (wanted(QStringLiteral("memory")))
        memory(report);
    return 0;
}
