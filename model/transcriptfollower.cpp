#include "transcriptfollower.h"

#include "transcriptrefusal.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A regular file of the user's, never through a link; -1 otherwise.
int openTranscript(const QString &path, struct stat *status)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, status) != 0 || !S_ISREG(status->st_mode) || status->st_uid != ::getuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TranscriptFollower::TranscriptFollower(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(pollMs);
    connect(&m_timer, &QTimer::timeout, this, &TranscriptFollower::poll);
}

void TranscriptFollower::follow(const QString &key, const QString &path)
{
    struct stat status;
    const int fd = openTranscript(path, &status);
    if (fd < 0) {
        stop(key);
        return;
    }
    ::close(fd);
    m_followed.insert(key, Followed{path, qint64(status.st_size), {}});
    if (!m_timer.isActive())
        m_timer.start();
}

void TranscriptFollower::stop(const QString &key)
{
    m_followed.remove(key);
    if (m_followed.isEmpty())
        m_timer.stop();
}

bool TranscriptFollower::isRefusal(QByteArrayView line)
{
    if (TranscriptRefusal::saysRefused(std::string_view(line.data(), size_t(line.size()))))
        return true;
    // A tool result the user turned down: an error that says so.
    const QJsonObject entry = QJsonDocument::fromJson(line.toByteArray()).object();
    const QJsonArray content = entry.value(u"message").toObject().value(u"content").toArray();
    for (const QJsonValue &part : content) {
        const QJsonObject result = part.toObject();
        if (result.value(u"type").toString() == u"tool_result" &&
            result.value(u"is_error").toBool() &&
            QJsonDocument(result).toJson().contains("doesn't want to proceed"))
            return true;
    }
    return false;
}

bool TranscriptFollower::readAppended(Followed &followed, QList<QByteArray> &lines)
{
    struct stat status;
    const int fd = openTranscript(followed.path, &status);
    if (fd < 0)
        return false;
    if (status.st_size < followed.offset) { // rewritten: start over at its end
        followed.offset = status.st_size;
        followed.partial.clear();
    }
    const qint64 size = std::min<qint64>(status.st_size - followed.offset, readLimit);
    QByteArray bytes(size, Qt::Uninitialized);
    const ssize_t read = size > 0 ? ::pread(fd, bytes.data(), size_t(size), followed.offset) : 0;
    ::close(fd);
    if (read < 0)
        return false;
    followed.offset = status.st_size; // beyond the limit, the rest is skipped
    followed.partial += bytes.left(read);
    const qsizetype end = followed.partial.lastIndexOf('\n');
    if (end >= 0) {
        lines = followed.partial.left(end).split('\n');
        followed.partial.remove(0, end + 1);
    }
    if (followed.partial.size() > readLimit)
        followed.partial.clear();
    return true;
}

void TranscriptFollower::poll()
{
    QStringList refusedKeys;
    for (auto it = m_followed.begin(); it != m_followed.end(); ++it) {
        QList<QByteArray> lines;
        if (!readAppended(it.value(), lines))
            continue;
        if (std::any_of(lines.cbegin(), lines.cend(),
                        [](const QByteArray &line) { return isRefusal(line); }))
            refusedKeys.append(it.key());
    }
    for (const QString &key : std::as_const(refusedKeys)) {
        stop(key);
        Q_EMIT refused(key);
    }
}
