#include "answerchannel.h"

#include "intakelog.h"
#include "permissionhold.h"
#include "privatedirectory.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

struct AnswerChannel::Connection
{
    int fd = -1;
    qint64 pid = 0;
    QByteArray received;
    QString id; // empty until the helper named it
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer naming;
    ~Connection()
    {
        notifier.reset();
        ::close(fd);
    }
};

AnswerChannel::AnswerChannel(const QString &directory, QObject *parent)
    : QObject(parent), m_path(directory)
{}

AnswerChannel::~AnswerChannel()
{
    m_connections.clear(); // helpers see the end and return at once
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
        ::unlinkat(m_directory->fd(), PermissionHold::socketName, 0);
    }
}

bool AnswerChannel::listen()
{
    if (m_fd >= 0)
        return true;
    m_directory = std::make_unique<PrivateDirectory>(m_path);
    if (!m_directory->isOpen()) {
        m_problem = m_directory->problem();
        return false;
    }
    const int directory = m_directory->fd();
    const char *name = PermissionHold::socketName;
    const QString shown = m_directory->shown(name);
    // A socket or a link left behind goes; anything else is the user's.
    struct stat status;
    if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISSOCK(status.st_mode) || S_ISLNK(status.st_mode)))
        ::unlinkat(directory, name, 0);

    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    // Relative to the folder's descriptor, however long the home path is.
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(directory) + '/' + name;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    if (m_fd < 0 ||
        ::bind(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::fchmodat(directory, name, 0600, 0) != 0 || ::listen(m_fd, 64) != 0) {
        m_problem = QStringLiteral("%1 cannot be created: %2")
                        .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &AnswerChannel::accept);
    qCDebug(lcIntake).noquote() << "Answering permission requests on" << shown;
    return true;
}

void AnswerChannel::accept()
{
    for (;;) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::getuid()) {
            qCWarning(lcIntake, "Refused a connection to the answer socket from uid %u",
                      unsigned(peer.uid));
            ::close(fd);
            continue;
        }
        auto connection = std::make_shared<Connection>();
        Connection *raw = connection.get();
        raw->fd = fd;
        raw->pid = peer.pid;
        raw->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(raw->notifier.get(), &QSocketNotifier::activated, this,
                [this, raw] { readFrom(raw); });
        raw->naming.setSingleShot(true);
        connect(&raw->naming, &QTimer::timeout, this, [this, raw] {
            qCDebug(lcIntake, "A helper did not name its request in time");
            drop(raw);
        });
        raw->naming.start(namingTimeoutMs);
        m_connections.insert(raw, std::move(connection));
        readFrom(raw); // the id is usually there already
    }
}

void AnswerChannel::catchUp()
{
    if (m_fd < 0)
        return;
    accept();
    const auto connections = m_connections.keys();
    for (Connection *connection : connections) {
        if (connection->id.isEmpty() && m_connections.contains(connection))
            readFrom(connection);
    }
}

void AnswerChannel::readFrom(Connection *connection)
{
    char chunk[512];
    const ssize_t count = ::recv(connection->fd, chunk, sizeof chunk, 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        const QString id = connection->id;
        drop(connection);
        if (!id.isEmpty())
            Q_EMIT ended(id);
        return;
    }
    if (!connection->id.isEmpty())
        return; // nothing more is asked of a helper that has named its request
    connection->received.append(chunk, count);
    const qsizetype end = connection->received.indexOf('\n');
    if (end < 0) {
        if (connection->received.size() > qsizetype(PermissionHold::idLength))
            drop(connection);
        return;
    }
    const QByteArray id = connection->received.left(end);
    if (!PermissionHold::isRequestId(std::string_view(id.constData(), size_t(id.size()))) ||
        m_waiting.contains(QString::fromLatin1(id))) {
        qCWarning(lcIntake, "Refused a helper that named no request, or one already waiting");
        drop(connection);
        return;
    }
    connection->naming.stop();
    connection->id = QString::fromLatin1(id);
    m_waiting.insert(connection->id, connection);
}

void AnswerChannel::drop(Connection *connection)
{
    if (!connection->id.isEmpty())
        m_waiting.remove(connection->id);
    // Not from inside its own notifier's signal: later.
    const auto owned = m_connections.take(connection);
    if (owned) {
        owned->notifier->setEnabled(false);
        QTimer::singleShot(0, this, [owned] {});
    }
}

AnswerChannel::Connection *AnswerChannel::waiting(const QString &id)
{
    // The helper's record may have come through the pipe before its
    // connection was served here.
    if (!m_waiting.contains(id))
        catchUp();
    return m_waiting.value(id);
}

bool AnswerChannel::finish(Connection *connection, const QByteArray &line)
{
    const QByteArray sent = line + '\n';
    // A few kilobytes into an empty socket buffer: one send.
    const bool delivered = ::send(connection->fd, sent.constData(), size_t(sent.size()),
                                  MSG_NOSIGNAL) == ssize_t(sent.size());
    drop(connection);
    return delivered;
}

bool AnswerChannel::answer(const QString &id, qint64 helperPid, const QByteArray &decision)
{
    Connection *connection = waiting(id);
    if (!connection || connection->pid != helperPid) {
        qCInfo(lcIntake, "Dropped an answer for a request that does not wait");
        return false;
    }
    return finish(connection, decision);
}

void AnswerChannel::release(const QString &id)
{
    if (Connection *connection = waiting(id))
        finish(connection, {});
}
