#include "namedpipelistener.h"

#include "jsonstreamdecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcNamedPipe, "com.tolvo.app.NamedPipeListener", QtInfoMsg)

namespace {

// Room for a few large records while the reader is busy, so that writers
// rarely have to wait. The kernel may refuse; the default then stays.
constexpr int pipeCapacity = 1 << 20;
constexpr qsizetype readSize = 256 * 1024;

// Every record goes to the Qt handler (stderr by default) and, where a
// journal is running, to the journal with fields of its own.
void logRecord(QtMsgType type, const QString &message)
{
    const QLoggingCategory &category = lcNamedPipe();
    if (!category.isEnabled(type))
        return;
    const QByteArray text = message.toUtf8();
    int priority = LOG_INFO;
    switch (type) {
    case QtDebugMsg:
        qCDebug(lcNamedPipe, "%s", text.constData());
        priority = LOG_DEBUG;
        break;
    case QtCriticalMsg:
        qCCritical(lcNamedPipe, "%s", text.constData());
        priority = LOG_ERR;
        break;
    default:
        qCInfo(lcNamedPipe, "%s", text.constData());
        break;
    }
    static const bool journalRunning =
        QFileInfo::exists(QStringLiteral("/run/systemd/journal/socket"));
    if (journalRunning) {
        sd_journal_send("MESSAGE=%s", text.constData(), "PRIORITY=%i", priority,
                        "TOLVO_SUBSYSTEM=com.tolvo.app", "TOLVO_CATEGORY=NamedPipeListener",
                        nullptr);
    }
}

void logInfo(const QString &message)
{
    logRecord(QtInfoMsg, message);
}

void logError(const QString &message)
{
    logRecord(QtCriticalMsg, message);
}

QString tolvoDirectory()
{
    return QDir::homePath() + QStringLiteral("/.tolvo");
}

} // namespace

// The reading thread and everything it owns. The descriptors of the FIFO and
// the lock are touched by that thread alone; the owner only sets `stopping`,
// wakes the thread through `wakeFd` and joins it, so nothing races.
struct NamedPipeListener::Worker
{
    Worker(NamedPipeListener *listener, const QString &pipePath);
    ~Worker();

    void requestStop();
    void run();

    QPointer<NamedPipeListener> listener;
    const QString pipePathText;
    const QByteArray pipePath;
    const QByteArray lockPath;
    const QByteArray pidPath;
    const int wakeFd;
    std::atomic<bool> stopping = false;
    std::unique_ptr<QThread> thread;

private:
    enum class Drained { WriterOpen, EndOfFile, Stopped };

    int createAndOpenPipe();
    bool reopenAfterEndOfFile();
    Drained readAvailable();
    void handle(const QList<JsonStreamItem> &items);
    void writePidFile() const;

    int m_fifoFd = -1;
    int m_lockFd = -1;
    JsonStreamDecoder m_decoder;
    QByteArray m_readBuffer;
};

NamedPipeListener::Worker::Worker(NamedPipeListener *owner, const QString &path)
    : listener(owner), pipePathText(path), pipePath(QFile::encodeName(path)),
      lockPath(QFile::encodeName(tolvoDirectory() + QStringLiteral("/events.lock"))),
      pidPath(QFile::encodeName(tolvoDirectory() + QStringLiteral("/tolvo.pid"))),
      wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
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
    // Writers hold this lock from before their open of the FIFO until after
    // their close; the reader takes it before replacing the FIFO, so that no
    // writer is left holding the deleted one.
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    m_readBuffer.resize(readSize);

    m_fifoFd = createAndOpenPipe();
    if (m_fifoFd >= 0) {
        // Tells the hook script that somebody listens; it gives up at once
        // without this file.
        writePidFile();
        while (!stopping) {
            pollfd fds[] = {{m_fifoFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            // Without an eventfd (never seen in practice) `stopping` is polled.
            if (::poll(fds, 2, wakeFd >= 0 ? -1 : 50) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0)
                break;
            if (fds[0].revents == 0)
                continue;
            const Drained drained = readAvailable();
            if (drained == Drained::Stopped)
                break;
            if (drained == Drained::EndOfFile) {
                logRecord(QtDebugMsg, QStringLiteral("EOF reached, reopening pipe"));
                if (!reopenAfterEndOfFile())
                    break;
            }
        }
    }

    if (m_fifoFd >= 0)
        ::close(m_fifoFd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_fifoFd = m_lockFd = -1;
    // Ended on an error: hooks must stop trying to deliver.
    if (!stopping)
        ::unlink(pidPath.constData());
}

int NamedPipeListener::Worker::createAndOpenPipe()
{
    ::unlink(pipePath.constData());
    if (::mkfifo(pipePath.constData(), 0666) != 0) {
        const int error = errno;
        logError(QStringLiteral("Failed to create named pipe: %1 (errno: %2)")
                     .arg(QString::fromLocal8Bit(std::strerror(error)), QString::number(error)));
        return -1;
    }
    logInfo(QStringLiteral("Created named pipe at %1").arg(pipePathText));

    // Non-blocking, so that the thread never sits in open() waiting for a
    // writer: until the first writer comes, poll() simply reports nothing.
    const int fd = ::open(pipePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        logError(QStringLiteral("Failed to open named pipe for reading"));
        return -1;
    }
    ::fcntl(fd, F_SETPIPE_SZ, pipeCapacity);
    logInfo(QStringLiteral("Named pipe listener started on %1").arg(pipePathText));
    return fd;
}

// After the last writer has closed, the FIFO reports end of file for good, so
// it is replaced by a new one. A writer may already hold the lock and be about
// to open the old one: until the lock is free the old FIFO stays and is read.
bool NamedPipeListener::Worker::reopenAfterEndOfFile()
{
    bool writerOpen = false;
    while (m_lockFd >= 0 && ::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            break; // no locking here: replace the FIFO anyway
        // Without a writer the old descriptor reports hang-up constantly, so
        // it is only watched while a writer has it open.
        pollfd fds[] = {{wakeFd, POLLIN, 0}, {m_fifoFd, POLLIN, 0}};
        if (::poll(fds, writerOpen ? 2 : 1, writerOpen ? 100 : 1) < 0 && errno != EINTR)
            return false;
        if (fds[0].revents != 0)
            return false;
        const Drained drained = readAvailable();
        if (drained == Drained::Stopped)
            return false;
        writerOpen = drained == Drained::WriterOpen;
    }

    const auto unlock = [this] {
        if (m_lockFd >= 0)
            ::flock(m_lockFd, LOCK_UN);
    };
    // No well-behaved writer can have the old FIFO open now; read what is left.
    const Drained drained = readAvailable();
    if (drained != Drained::EndOfFile) {
        // Stopped, or somebody writes without the lock: keep the old FIFO.
        unlock();
        return drained != Drained::Stopped;
    }

    const int fd = createAndOpenPipe();
    ::close(m_fifoFd);
    m_fifoFd = fd;
    unlock();
    return fd >= 0;
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
            if (failure->rawText) {
                logError(QStringLiteral("Failed to parse JSON: %1, Raw data: %2")
                             .arg(failure->error, *failure->rawText));
            } else {
                logError(QStringLiteral("Failed to parse JSON: %1").arg(failure->error));
            }
            continue;
        }
        const QJsonObject &dictionary = std::get<QJsonObject>(item);
        if (lcNamedPipe().isDebugEnabled()) {
            logRecord(QtDebugMsg,
                      QStringLiteral("Received event: %1")
                          .arg(QString::fromUtf8(
                              QJsonDocument(dictionary).toJson(QJsonDocument::Compact))));
        }
        // Queued on the listener, which lives on the main thread; a queued
        // call whose receiver has been destroyed is dropped by Qt.
        QMetaObject::invokeMethod(
            listener.data(),
            [guard = listener, dictionary] {
                if (guard)
                    guard->deliver(dictionary);
            },
            Qt::QueuedConnection);
    }
}

void NamedPipeListener::Worker::writePidFile() const
{
    QSaveFile file(QFile::decodeName(pidPath));
    if (!file.open(QIODevice::WriteOnly))
        return;
    // "PID COMM": with the name in /proc/PID/comm, the hook script tells this
    // process from another that has the same id after Tolvo ended.
    QFile comm(QStringLiteral("/proc/self/comm"));
    QByteArray name = comm.open(QIODevice::ReadOnly) ? comm.readLine() : QByteArray();
    if (name.endsWith('\n'))
        name.chop(1);
    file.write(QByteArray::number(QCoreApplication::applicationPid()) + ' ' + name + '\n');
    file.commit();
}

NamedPipeListener::NamedPipeListener(QObject *parent) : QObject(parent)
{
    QDir().mkpath(tolvoDirectory());
    m_pipePath = tolvoDirectory() + QStringLiteral("/events");
    logInfo(QStringLiteral("Named pipe path: %1").arg(m_pipePath));
}

NamedPipeListener::~NamedPipeListener()
{
    stop();
}

void NamedPipeListener::setDelegate(QObject *delegate)
{
    m_delegate = delegate;
}

void NamedPipeListener::start()
{
    if (m_worker) {
        if (!m_worker->thread->isFinished())
            return; // already listening
        // The last run ended on an error; try again from the start.
        m_worker->thread->wait();
        m_worker.reset();
    }
    m_worker = std::make_unique<Worker>(this, m_pipePath);
    m_worker->thread->start();
}

void NamedPipeListener::stop()
{
    if (!m_worker)
        return;
    m_worker->requestStop();
    m_worker->thread->wait();
    const QByteArray pidPath = m_worker->pidPath;
    m_worker.reset();

    ::unlink(QFile::encodeName(m_pipePath).constData());
    ::unlink(pidPath.constData());
    logInfo(QStringLiteral("Named pipe listener stopped"));
}

void NamedPipeListener::deliver(const QJsonObject &dictionary)
{
    if (auto *delegate = qobject_cast<NamedPipeListenerDelegate *>(m_delegate.data()))
        delegate->didReceiveEvent(dictionary);
}
