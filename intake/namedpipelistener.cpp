#include "namedpipelistener.h"

#include "eventslog.h"
#include "intakelog.h"
#include "jsonstreamdecoder.h"
#include "privatedirectory.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Room for a few large records while the reader is busy, so that writers
// rarely have to wait. The kernel may refuse; the default then stays.
constexpr int pipeCapacity = 1 << 20;
constexpr qsizetype readSize = 256 * 1024;

constexpr char pipeName[] = "events";
constexpr char lockName[] = "events.lock";
constexpr char pidName[] = "tolvo.pid";

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// "<pid> <comm>": the hook script compares the name with /proc/<pid>/comm,
// so that a pid left behind and since taken by another program counts for
// nothing.
QByteArray pidFileLine()
{
    QByteArray comm;
    QFile self(QStringLiteral("/proc/self/comm"));
    if (self.open(QIODevice::ReadOnly))
        comm = self.readAll().trimmed();
    return QByteArray::number(QCoreApplication::applicationPid()) + ' ' + comm + '\n';
}

} // namespace

// The reading thread and everything it owns. The descriptors are touched by
// that thread alone; the owner only sets `stopping`, wakes the thread through
// `wakeFd` and joins it, so nothing races.
struct NamedPipeListener::Worker
{
    Worker(NamedPipeListener *owner, const QString &directory);
    ~Worker();
    void run();
    void requestStop();

    NamedPipeListener *const listener;
    const QString directory;
    const qint64 ownPid = QCoreApplication::applicationPid();
    const int wakeFd;
    std::atomic<bool> stopping = false;
    std::unique_ptr<QThread> thread;

private:
    enum class Drained { WriterOpen, EndOfFile, Stopped };

    QString setUp();
    QString serve();
    void tearDown();
    bool pause(int ms);
    int createAndOpenPipe(QString *problem);
    bool reopenAfterEndOfFile(QString *problem);
    Drained readAvailable();
    void handle(const QList<JsonStreamItem> &items);
    void report(const QString &problem);

    std::unique_ptr<PrivateDirectory> m_dir;
    int m_fifoFd = -1;
    int m_lockFd = -1;
    JsonStreamDecoder m_decoder;
    QByteArray m_readBuffer;
    QString m_reported;
    int m_opened = 0; // FIFOs opened so far
};

NamedPipeListener::Worker::Worker(NamedPipeListener *owner, const QString &directory)
    : listener(owner), directory(directory), wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    thread.reset(QThread::create([this] { run(); }));
    thread->setObjectName(QStringLiteral("com.tolvo.namedpipe"));
}

NamedPipeListener::Worker::~Worker()
{
    if (wakeFd >= 0)
        ::close(wakeFd);
}

void NamedPipeListener::Worker::requestStop()
{
    stopping = true;
    const quint64 one = 1;
    if (wakeFd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }
}

void NamedPipeListener::Worker::run()
{
    m_readBuffer.resize(readSize);
    int pauseMs = firstRetryMs;
    while (!stopping) {
        QString problem = setUp();
        if (problem.isEmpty()) {
            report({});
            pauseMs = firstRetryMs;
            problem = serve();
        }
        tearDown();
        if (stopping)
            break;
        report(problem);
        if (!pause(pauseMs))
            break;
        pauseMs = std::min(pauseMs * 2, longestRetryMs);
    }
    qCInfo(lcIntake, "Named pipe listener stopped");
}

void NamedPipeListener::Worker::report(const QString &problem)
{
    if (problem == m_reported)
        return;
    m_reported = problem;
    if (!problem.isEmpty())
        qCWarning(lcIntake).noquote() << "Not receiving events:" << problem;
    Q_EMIT listener->problemChanged(problem);
}

bool NamedPipeListener::Worker::pause(int ms)
{
    pollfd wake{wakeFd, POLLIN, 0};
    while (!stopping) {
        const int ready = ::poll(&wake, 1, wakeFd >= 0 ? ms : std::min(ms, 50));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready == 0 && !stopping;
    }
    return false;
}

// The folder, the writers' lock, the FIFO, then the pid file that tells hooks
// to write: on success an empty text.
QString NamedPipeListener::Worker::setUp()
{
    m_dir = std::make_unique<PrivateDirectory>(directory);
    if (!m_dir->isOpen())
        return m_dir->problem();
    // Writers hold this lock from before their open of the FIFO until after
    // their close; the reader takes it before replacing the FIFO, so that no
    // writer is left holding the deleted one.
    m_lockFd = m_dir->openFile(lockName, O_RDWR);
    if (m_lockFd < 0)
        return m_dir->problem();
    QString problem;
    m_fifoFd = createAndOpenPipe(&problem);
    if (m_fifoFd < 0)
        return problem;
    if (!m_dir->replaceFile(pidName, pidFileLine()))
        return QStringLiteral("%1 cannot be written").arg(m_dir->shown(pidName));
    return {};
}

void NamedPipeListener::Worker::tearDown()
{
    if (m_fifoFd >= 0)
        ::close(m_fifoFd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_fifoFd = m_lockFd = -1;
    // Only in a folder that passed the checks: never through a link.
    if (m_dir && m_dir->isOpen()) {
        ::unlinkat(m_dir->fd(), pidName, 0);
        struct stat status;
        if (::fstatat(m_dir->fd(), pipeName, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISFIFO(status.st_mode))
            ::unlinkat(m_dir->fd(), pipeName, 0);
    }
    m_dir.reset();
}

// Until stopped (empty result) or the FIFO cannot be had any more.
QString NamedPipeListener::Worker::serve()
{
    while (!stopping) {
        pollfd fds[] = {{m_fifoFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        // Without an eventfd (never seen in practice) `stopping` is polled.
        if (::poll(fds, 2, wakeFd >= 0 ? -1 : 50) < 0) {
            if (errno == EINTR)
                continue;
            return QStringLiteral("waiting for %1 failed: %2")
                .arg(m_dir->shown(pipeName), systemError(errno));
        }
        if (fds[1].revents != 0 || fds[0].revents == 0)
            continue;
        if (readAvailable() != Drained::EndOfFile)
            continue;
        qCDebug(lcIntake, "EOF reached, reopening pipe");
        QString problem;
        if (!reopenAfterEndOfFile(&problem))
            return problem;
    }
    return {};
}

int NamedPipeListener::Worker::createAndOpenPipe(QString *problem)
{
    const int dir = m_dir->fd();
    if (::unlinkat(dir, pipeName, 0) != 0 && errno != ENOENT) {
        *problem = QStringLiteral("%1 cannot be replaced: %2")
                       .arg(m_dir->shown(pipeName), systemError(errno));
        return -1;
    }
    if (::mkfifoat(dir, pipeName, 0600) != 0) {
        const int error = errno;
        qCCritical(lcIntake).noquote()
            << QStringLiteral("Failed to create named pipe: %1 (errno: %2)")
                   .arg(systemError(error))
                   .arg(error);
        *problem = QStringLiteral("%1 cannot be created: %2")
                       .arg(m_dir->shown(pipeName), systemError(error));
        return -1;
    }
    // Said once: the pipe is made anew after every writer, which is not news.
    if (m_opened == 0)
        qCInfo(lcIntake).noquote() << "Created named pipe at" << listener->pipePath();
    else
        qCDebug(lcIntake).noquote() << "Created named pipe at" << listener->pipePath();

    // Non-blocking, so that the thread never sits in open() waiting for a
    // writer: until the first writer comes, poll() simply reports nothing.
    const int fd = ::openat(dir, pipeName, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode) ||
        status.st_uid != ::getuid() || ::fchmod(fd, 0600) != 0) {
        qCCritical(lcIntake, "Failed to open named pipe for reading");
        *problem = QStringLiteral("%1 cannot be opened").arg(m_dir->shown(pipeName));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETPIPE_SZ, pipeCapacity);
    if (m_opened++ == 0)
        qCInfo(lcIntake).noquote() << "Named pipe listener started on" << listener->pipePath();
    else
        qCDebug(lcIntake).noquote() << "Named pipe listener started on" << listener->pipePath();
    return fd;
}

// After the last writer has closed, the FIFO reports end of file for good, so
// it is replaced by a new one. A writer may already hold the lock and be about
// to open the old one: until the lock is free the old FIFO stays and is read.
bool NamedPipeListener::Worker::reopenAfterEndOfFile(QString *problem)
{
    bool writerOpen = false;
    while (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            break; // no locking here: replace the FIFO anyway
        // Without a writer the old descriptor reports hang-up constantly, so
        // it is only watched while a writer has it open.
        pollfd fds[] = {{wakeFd, POLLIN, 0}, {m_fifoFd, POLLIN, 0}};
        if (::poll(fds, writerOpen ? 2 : 1, writerOpen ? 100 : 1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            return true; // stopping
        const Drained drained = readAvailable();
        if (drained == Drained::Stopped)
            return true;
        writerOpen = drained == Drained::WriterOpen;
    }

    // No well-behaved writer can have the old FIFO open now; read what is left.
    const Drained drained = readAvailable();
    if (drained == Drained::EndOfFile) {
        const int fd = createAndOpenPipe(problem);
        ::close(m_fifoFd);
        m_fifoFd = fd;
    }
    // Otherwise stopped, or somebody writes without the lock: keep the old FIFO.
    ::flock(m_lockFd, LOCK_UN);
    return m_fifoFd >= 0;
}

// Reads until the FIFO is empty. EndOfFile: no writer has it open any more.
NamedPipeListener::Worker::Drained NamedPipeListener::Worker::readAvailable()
{
    while (!stopping) {
        const ssize_t count = ::read(m_fifoFd, m_readBuffer.data(), m_readBuffer.size());
        if (count > 0) {
            handle(m_decoder.feed(QByteArrayView(m_readBuffer.constData(), count)));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN)
            return Drained::WriterOpen;
        // End of file; an unexpected error is treated the same way.
        handle(m_decoder.finish());
        return Drained::EndOfFile;
    }
    return Drained::Stopped;
}

void NamedPipeListener::Worker::handle(const QList<JsonStreamItem> &items)
{
    for (const JsonStreamItem &item : items) {
        if (const auto *failure = std::get_if<JsonDecodeFailure>(&item)) {
            qCWarning(lcIntake).noquote() << "Failed to parse JSON:" << failure->error;
            if (failure->rawText)
                qCDebug(lcEvents).noquote()
                    << QStringLiteral("Failed to parse JSON: %1, Raw data: %2")
                           .arg(failure->error, *failure->rawText);
            continue;
        }
        const JsonRecord &record = std::get<JsonRecord>(item);
        qCDebug(lcEvents).noquote() << "Received event:" << QString::fromUtf8(record.bytes);
        auto decoded = decodeHookRecord(record.object, record.bytes, ownPid);
        if (const auto *rejected = std::get_if<HookRecordRejected>(&decoded)) {
            qCDebug(lcEvents).noquote() << rejected->consoleLine;
            continue;
        }
        Q_EMIT listener->eventReceived(std::get<HookEvent>(decoded));
    }
}

NamedPipeListener::NamedPipeListener(QObject *parent)
    : NamedPipeListener(PrivateDirectory::defaultPath(), parent)
{}

NamedPipeListener::NamedPipeListener(const QString &directory, QObject *parent)
    : QObject(parent), m_directory(directory)
{
    qRegisterMetaType<HookEvent>();
    // Connected first, so that every other receiver already reads the new text.
    connect(this, &NamedPipeListener::problemChanged, this,
            [this](const QString &problem) { m_problem = problem; });
    qCInfo(lcIntake).noquote() << "Named pipe path:" << pipePath();
}

NamedPipeListener::~NamedPipeListener()
{
    stop();
}

void NamedPipeListener::start()
{
    if (m_worker)
        return;
    m_worker = std::make_unique<Worker>(this, m_directory);
    m_worker->thread->start();
}

void NamedPipeListener::stop()
{
    if (!m_worker)
        return;
    m_worker->requestStop();
    m_worker->thread->wait();
    m_worker.reset();
}
