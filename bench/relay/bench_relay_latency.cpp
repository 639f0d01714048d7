// What a relay adds to one record's way to the desktop, against the local event pipe, in one run:
//
//   local   a record written into ~/.tolvo/events of a scratch HOME, as the hook helper writes it
//           (flock on events.lock, open, "\n" record "\n", close), until NamedPipeListener's
//           eventReceived reaches the main thread
//   relay   the same into the event pipe of `tolvo-hook --relay`, whose HOME is another scratch
//           folder standing for the remote, until RelayConnection's eventReceived; the transport
//           runs the helper directly: env HOME=... tolvo-hook --relay
//   ssh     the same over a real OpenSSH server on loopback (the tests' SshServer, with the helper
//           installed by RemoteSetup): only as root, where /usr/sbin/sshd exists
//
// The sides take turns, one record each per round, the first of a round changing from round to
// round, so that load on the machine falls on all of them alike; the difference is taken per
// round. Then the records per second that RelayConnection takes in, the desktop's whole side,
// from one writer as fast as the relay's pipe takes them (median of three runs). Prints table
// rows; asserts nothing.
//
//   bench_relay_latency [records] [throughput records]   (default 400 per side, 20000; 0: no
//                                                         throughput, as under SCHED_FIFO)

#include "../benchsupport.h"
#include "relayconnection.h"
#include "remotehost.h"

#ifdef TOLVO_BENCH_SSH
#include "remotesetup.h"
#include "sshserver.h"
#endif

#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cctype>
#include <cerrno>
#include <optional>
#include <sys/file.h>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr char marker[] = "ls -la";
constexpr int warmUpRounds = 20;
constexpr int arrivalTimeoutMs = 5000;

const QByteArray helper = TOLVO_BUILD_PREFIX "/libexec/tolvo/tolvo-hook";

// As the hook helper writes one record: its own opening of the lock and of the pipe.
bool writeRecord(const QByteArray &tolvo, const QByteArray &framed)
{
    const int lock = ::open((tolvo + "/events.lock").constData(), O_RDWR | O_CLOEXEC);
    if (lock < 0)
        return false;
    ::flock(lock, LOCK_EX);
    const int pipe = ::open((tolvo + "/events").constData(), O_WRONLY | O_CLOEXEC);
    bool written = pipe >= 0;
    for (const char *at = framed.constData(), *end = at + framed.size(); written && at < end;) {
        const ssize_t count = ::write(pipe, at, size_t(end - at));
        written = count > 0 || (count < 0 && errno == EINTR);
        at += std::max<ssize_t>(count, 0);
    }
    if (pipe >= 0)
        ::close(pipe);
    ::close(lock); // and with it the lock
    return written;
}

// The number after "#" in a record's command.
qint64 numberOf(const QByteArray &record)
{
    const qsizetype at = record.indexOf('#');
    qint64 number = -1;
    for (qsizetype i = at + 1; at >= 0 && i < record.size() && std::isdigit(uchar(record[i])); ++i)
        number = std::max<qint64>(number, 0) * 10 + (record[i] - '0');
    return number;
}

// One way a record takes: where it is written, and what the desktop's side saw of it.
struct Side
{
    Side(const char *name, const QByteArray &tolvo) : name(name), tolvo(tolvo) {}

    const char *name;
    QByteArray tolvo; // the event pipe's folder
    std::vector<double> latenciesMs;
    qint64 expected = -1;
    double arrivedMs = 0;
    qint64 received = 0;
    double lastArrivalMs = 0;
    QEventLoop *waiting = nullptr;
    int lost = 0;

    void arrived(const HookEvent &event)
    {
        ++received;
        lastArrivalMs = Bench::nowMs();
        if (numberOf(event.record) != expected)
            return;
        arrivedMs = lastArrivalMs;
        if (waiting)
            waiting->quit();
    }

    // Milliseconds from the hook's write to eventReceived; nothing when it did not come.
    std::optional<double> send(const QByteArray &record, qint64 number)
    {
        QByteArray framed = record;
        framed.replace(marker, QByteArray(marker) + " #" + QByteArray::number(number));
        framed = '\n' + framed + '\n';
        expected = number;
        arrivedMs = 0;
        const double start = Bench::nowMs();
        if (!writeRecord(tolvo, framed))
            return std::nullopt;
        QEventLoop loop;
        waiting = &loop;
        QTimer::singleShot(arrivalTimeoutMs, &loop, &QEventLoop::quit);
        if (arrivedMs == 0)
            loop.exec();
        waiting = nullptr;
        if (arrivedMs == 0)
            return std::nullopt;
        return arrivedMs - start;
    }
};

// Starts the relay and waits for its replay to end; false when it did not connect in 20 s.
bool connectRelay(RelayConnection &relay)
{
    QEventLoop loop;
    QObject::connect(&relay, &RelayConnection::replayed, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    relay.start();
    loop.exec();
    return relay.state() == RelayConnection::State::connected;
}

// Runs a command to its end, for at most 10 s.
void run(const QStringList &command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(10000))
        process.kill();
}

QByteArray range(const std::vector<double> &ms)
{
    return QByteArray::number(Bench::median(ms), 'f', 2) + " / " +
           QByteArray::number(Bench::percentile(ms, 0.99), 'f', 2) + " ms";
}

struct Flood
{
    double perSecond = 0;
    qint64 received = 0;
};

// Records per second through a relay's whole desktop side: one writer as fast as the pipe takes
// them, until the connection has handed up the last one (or nothing came for a while).
Flood throughput(Side &side, const QByteArray &framed, long count)
{
    const qint64 before = side.received;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (side.received - before >= count ||
            Bench::nowMs() - side.lastArrivalMs > arrivalTimeoutMs)
            loop.quit();
    });
    const double start = Bench::nowMs();
    side.lastArrivalMs = start;
    std::thread writer([&] {
        for (long i = 0; i < count; ++i)
            writeRecord(side.tolvo, framed);
    });
    tick.start(1);
    loop.exec();
    writer.join();
    const qint64 received = side.received - before;
    return {double(received) / ((side.lastArrivalMs - start) / 1000), received};
}

// Rounds of one record per side, the order turning; the difference of each side after the first
// against the first, per round.
void measure(std::vector<Side *> sides, const QByteArray &record, int rounds,
             std::vector<std::vector<double>> &addedMs)
{
    addedMs.assign(sides.size(), {});
    qint64 number = 0;
    for (int round = 0; round < warmUpRounds + rounds; ++round) {
        std::vector<std::optional<double>> taken(sides.size());
        for (size_t i = 0; i < sides.size(); ++i) {
            const size_t at = (size_t(round) + i) % sides.size();
            taken[at] = sides[at]->send(record, ++number);
        }
        if (round < warmUpRounds)
            continue;
        for (size_t i = 0; i < sides.size(); ++i) {
            if (!taken[i]) {
                ++sides[i]->lost;
                continue;
            }
            sides[i]->latenciesMs.push_back(*taken[i]);
            if (i > 0 && taken[0])
                addedMs[i].push_back(*taken[i] - *taken[0]);
        }
    }
}

#ifdef TOLVO_BENCH_SSH
// The helper installed over ssh to the tests' server; why not when it cannot be.
QString prepareSsh(SshServer &server)
{
    if (const QString why = SshServer::unavailable(); !why.isEmpty())
        return why;
    if (!server.start())
        return server.error();
    RemoteSetup setup;
    setup.setLocalHelper(QString::fromUtf8(helper));
    const RemoteSetup::Result added = setup.addAndWait({u"devbox"_s, server.transport()});
    return added.ok ? QString() : added.error;
}
#endif

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Bench::Report report;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 400;
    const long flood = argc > 2 ? std::atol(argv[2]) : 20000;
    Bench::ScratchHome home;
    const QByteArray record = Bench::reducedFixture("PreToolUse-Bash", home.path());
    if (!record.contains(marker))
        qFatal("the reduced PreToolUse record has no \"%s\"", marker);

    Side local("local", QFile::encodeName(home.path()) + "/.tolvo");
    NamedPipeListener listener;
    QObject::connect(&listener, &NamedPipeListener::eventReceived, &app,
                     [&](const HookEvent &event) { local.arrived(event); });
    listener.start();
    if (!home.waitForListener(QCoreApplication::applicationPid()))
        qFatal("the listener did not start");

    QTemporaryDir remoteHome;
    Side relayed("relay", QFile::encodeName(remoteHome.path()) + "/.tolvo");
    const QString homeVariable = u"HOME="_s + remoteHome.path();
    RelayConnection relay(u"bench"_s,
                          {u"env"_s, homeVariable, QString::fromUtf8(helper), u"--relay"_s});
    QObject::connect(&relay, &RelayConnection::eventReceived, &app,
                     [&](const HookEvent &event) { relayed.arrived(event); });
    std::vector<Side *> sides{&local, &relayed};

    QString sshMissing = u"built without the tests' support (BUILD_TESTING off)"_s;
#ifdef TOLVO_BENCH_SSH
    SshServer server;
    const double sshStart = Bench::nowMs();
    sshMissing = prepareSsh(server);
    const QString sshTransport = server.transport();
    Side overSsh("ssh", QFile::encodeName(server.home()) + "/.tolvo");
    RelayConnection sshRelay(
        u"devbox"_s,
        RemoteHosts::commandLine(sshTransport, RemoteHosts::remoteCommand({u"--relay"_s})));
    QObject::connect(&sshRelay, &RelayConnection::eventReceived, &app,
                     [&](const HookEvent &event) { overSsh.arrived(event); });
    if (sshMissing.isEmpty() && !connectRelay(sshRelay))
        sshMissing = u"the relay over ssh did not connect: "_s + sshRelay.message();
    if (sshMissing.isEmpty()) {
        sides.push_back(&overSsh);
        report.note("relay latency: the ssh server started and the helper was installed in %.1f s",
                    (Bench::nowMs() - sshStart) / 1000);
    }
#endif

    if (connectRelay(relay)) {
        std::vector<std::vector<double>> addedMs;
        measure(sides, record, rounds, addedMs);
        report.row("record to eventReceived, local pipe (NamedPipeListener), p50 / p99",
                   range(local.latenciesMs), "", "");
        report.row("record to eventReceived, tolvo-hook --relay (RelayConnection), p50 / p99",
                   range(relayed.latenciesMs), "", "");
        report.row("latency added by the relay, per round, p50 / p99", range(addedMs[1]), "", "");
        if (sides.size() > 2) {
            report.row("record to eventReceived, relay over ssh to loopback, p50 / p99",
                       range(sides[2]->latenciesMs), "", "");
            report.row("latency added by the relay over ssh, per round, p50 / p99",
                       range(addedMs[2]), "", "");
        } else {
            report.row("latency added by the relay over ssh",
                       "not measured: " + sshMissing.toUtf8(), "", "");
        }
        for (const Side *side : sides)
            report.note("relay latency%s, %s: %zu records after %d to warm up, longest %.2f ms; "
                        "%d did not arrive within %d ms",
                        sched_getscheduler(0) == SCHED_FIFO ? " under SCHED_FIFO" : "", side->name,
                        side->latenciesMs.size(), warmUpRounds,
                        Bench::percentile(side->latenciesMs, 1.0), side->lost, arrivalTimeoutMs);

        const QByteArray framed = '\n' + record + '\n';
        for (Side *side : std::vector<Side *>(sides.begin() + 1, sides.end())) {
            if (flood <= 0)
                break;
            // The median of three runs: the rate swings with what else runs.
            std::vector<double> rates;
            qint64 received = 0;
            for (int attempt = 0; attempt < 3; ++attempt) {
                const Flood flooded = throughput(*side, framed, flood);
                rates.push_back(flooded.perSecond);
                received += flooded.received;
            }
            report.row(side == &relayed
                           ? "relay throughput through RelayConnection, one writer, hook records"
                           : "relay throughput through RelayConnection over ssh to loopback",
                       QByteArray::number(Bench::median(rates), 'f', 0) + " records/s", "", "");
            report.note("relay throughput, %s: runs %.0f, %.0f, %.0f records/s; %lld of %ld "
                        "records of %lld B arrived",
                        side->name, rates[0], rates[1], rates[2], qlonglong(received), 3 * flood,
                        qlonglong(framed.size()));
        }
    } else {
        report.row("relay latency",
                   "failed: the relay did not connect: " + relay.message().toUtf8(), "", "no");
    }

    relay.stop();
    run({u"env"_s, homeVariable, QString::fromUtf8(helper), u"--relay-stop"_s});
#ifdef TOLVO_BENCH_SSH
    sshRelay.stop();
    if (sshMissing.isEmpty())
        run(RemoteHosts::commandLine(sshTransport,
                                     RemoteHosts::remoteCommand({u"--relay-stop"_s})));
    server.stop();
#endif
    return 0;
}
