// Whether the relay daemon (tolvo-hook --relay) keeps up: records per second from the event pipe
// to the client's standard output, where the desktop reads them.
//
//   direct     one writer that follows the hook helper's rules (flock on events.lock, open, write,
//              close per record) as fast as it can: the daemon's own capacity, comparable with
//              bench_intake's throughput row for Tolvo's reader
//   large      the same with 64 KiB records: bytes per second
//   hooks      the real helper, one process per record, from two writers at once: what sessions
//              can send, with the daemon in the path
//
// Everything runs in a scratch HOME. Prints table rows; asserts nothing.
//
//   bench_relay [records]   records of the direct run (default 20000)

#include "../benchsupport.h"

#include <atomic>
#include <cerrno>
#include <poll.h>
#include <sys/file.h>
#include <thread>

namespace {

const QByteArray helper = TOLVO_BUILD_PREFIX "/libexec/tolvo/tolvo-hook";

// The client as the transport runs it, and what reaches its standard output.
class Client
{
public:
    Client()
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            qFatal("no pipes");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        m_pid = Bench::spawnWith(actions, {helper, "--relay"});
        ::close(in[0]);
        ::close(out[1]);
        m_input = in[1];
        m_output = out[0];
        m_reader = std::thread([this] { read(); });
        // Hello and the (empty) replay.
        while (m_lines.load() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_lines = 0;
    }
    ~Client()
    {
        ::close(m_input);
        m_reader.join();
        Bench::waitFor(m_pid);
        Bench::waitFor(Bench::spawn({helper, "--relay-stop"}));
    }

    // Waits until `count` more lines came; seconds taken since `start` (ms of Bench::nowMs).
    double waitFor(long count, double start)
    {
        while (m_lines.load() < count)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double seconds = (Bench::nowMs() - start) / 1000;
        m_lines -= count;
        return seconds;
    }

private:
    void read()
    {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t count = ::read(m_output, buffer.data(), buffer.size());
            if (count <= 0 && errno != EINTR)
                break;
            m_lines += std::count(buffer.data(), buffer.data() + std::max<ssize_t>(count, 0), '\n');
        }
        ::close(m_output);
    }

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    std::atomic<long> m_lines = 0;
    std::thread m_reader;
};

// As the hook helper writes: under the writers' lock, one open per record.
void writeRecords(const QByteArray &tolvo, const QByteArray &record, long count)
{
    const QByteArray framed = '\n' + record + '\n';
    const int lock = ::open((tolvo + "/events.lock").constData(), O_RDWR | O_CLOEXEC);
    for (long i = 0; i < count; ++i) {
        ::flock(lock, LOCK_EX);
        const int pipe = ::open((tolvo + "/events").constData(), O_WRONLY | O_CLOEXEC);
        for (const char *at = framed.constData(), *end = at + framed.size(); at < end;) {
            const ssize_t written = ::write(pipe, at, size_t(end - at));
            if (written <= 0 && errno != EINTR)
                qFatal("write failed");
            at += std::max<ssize_t>(written, 0);
        }
        ::close(pipe);
        ::flock(lock, LOCK_UN);
    }
    ::close(lock);
}

QByteArray record(int size)
{
    const QByteArray head = "{\"instance\":\"" + QByteArray::number(getpid()) +
                            "\",\"event\":\"PreToolUse\",\"tool\":\"Bash\",\"details\":\"";
    const QByteArray tail = "\",\"working_directory\":\"/home/user/code/webshop\"}";
    return head + QByteArray(std::max<int>(size - int(head.size() + tail.size()), 1), 'x') + tail;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Bench::Report report;
    const long records = argc > 1 ? std::atol(argv[1]) : 20000;
    Bench::ScratchHome home;
    const QByteArray tolvo = QFile::encodeName(home.path()) + "/.tolvo";
    Client client;

    double start = Bench::nowMs();
    writeRecords(tolvo, record(600), records);
    double seconds = client.waitFor(records, start);
    report.row("relay throughput, one writer, open-write-close per record, 600 B",
               QByteArray::number(double(records) / seconds, 'f', 0) + " records/s",
               ">= 20000 records/s", Bench::met(double(records) / seconds >= 20000));

    constexpr long large = 2000;
    start = Bench::nowMs();
    writeRecords(tolvo, record(64 * 1024), large);
    seconds = client.waitFor(large, start);
    report.row("relay throughput, 64 KiB records",
               QByteArray::number(double(large) * 64 / 1024 / seconds, 'f', 1) + " MiB/s (" +
                   QByteArray::number(double(large) / seconds, 'f', 0) + " records/s)",
               "", "");

    // The helper reduces a real hook input; each writer is one session.
    constexpr long perWriter = 500;
    const QByteArray input = QFile::encodeName(Bench::fixture("PreToolUse-Bash"));
    start = Bench::nowMs();
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&] {
            for (long i = 0; i < perWriter; ++i)
                Bench::waitFor(Bench::spawn({helper, QByteArray::number(getpid())}, input));
        });
    }
    for (std::thread &writer : writers)
        writer.join();
    const double hooksDone = (Bench::nowMs() - start) / 1000;
    seconds = client.waitFor(2 * perWriter, start);
    report.row("relay throughput, tolvo-hook per record, two writers",
               QByteArray::number(2.0 * perWriter / seconds, 'f', 0) + " records/s", "", "");
    report.note("relay: the last of %ld hook records reached the client %.1f ms after the last "
                "helper returned",
                2 * perWriter, (seconds - hooksDone) * 1000);
    return 0;
}
