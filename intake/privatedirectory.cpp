#include "privatedirectory.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString PrivateDirectory::defaultPath()
{
    return QDir::homePath() + QStringLiteral("/.tolvo");
}

PrivateDirectory::PrivateDirectory(const QString &path) : m_path(path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        fail(QStringLiteral("%1 cannot be created: %2").arg(shown(), systemError(errno)));
        return;
    }
    struct stat status;
    if (::lstat(native.constData(), &status) != 0) {
        fail(QStringLiteral("%1 cannot be read: %2").arg(shown(), systemError(errno)));
        return;
    }
    if (S_ISLNK(status.st_mode)) {
        fail(QStringLiteral("%1 is a symbolic link").arg(shown()));
        return;
    }
    if (!S_ISDIR(status.st_mode)) {
        fail(QStringLiteral("%1 is not a folder").arg(shown()));
        return;
    }
    m_fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // Checked again on the descriptor: the path may have changed since lstat.
    if (m_fd < 0 || ::fstat(m_fd, &status) != 0) {
        fail(QStringLiteral("%1 cannot be opened: %2").arg(shown(), systemError(errno)));
        return;
    }
    if (status.st_uid != ::getuid()) {
        fail(QStringLiteral("%1 belongs to another user").arg(shown()));
        return;
    }
    if ((status.st_mode & 077) != 0 && ::fchmod(m_fd, 0700) != 0) {
        fail(QStringLiteral("%1 is open to other users and cannot be made private: %2")
                 .arg(shown(), systemError(errno)));
        return;
    }
}

PrivateDirectory::~PrivateDirectory()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PrivateDirectory::fail(const QString &problem)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_problem = problem;
    return false;
}

QString PrivateDirectory::shown(const char *name) const
{
    QString text = m_path;
    const QString home = QDir::homePath();
    if (text == home || text.startsWith(home + u'/'))
        text = u'~' + text.mid(home.size());
    return name ? text + u'/' + QFile::decodeName(name) : text;
}

int PrivateDirectory::openFile(const char *name, int flags)
{
    if (m_fd < 0)
        return -1;
    const int fd = ::openat(m_fd, name, flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        m_problem =
            errno == ELOOP
                ? QStringLiteral("%1 is a symbolic link").arg(shown(name))
                : QStringLiteral("%1 cannot be opened: %2").arg(shown(name), systemError(errno));
        return -1;
    }
    struct stat status;
    QString problem;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        problem = QStringLiteral("%1 is not a regular file").arg(shown(name));
    else if (status.st_uid != ::getuid())
        problem = QStringLiteral("%1 belongs to another user").arg(shown(name));
    else if ((status.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)
        problem =
            QStringLiteral("%1 cannot be made private: %2").arg(shown(name), systemError(errno));
    if (!problem.isEmpty()) {
        ::close(fd);
        m_problem = problem;
        return -1;
    }
    return fd;
}

bool PrivateDirectory::replaceFile(const char *name, const QByteArray &content)
{
    if (m_fd < 0)
        return false;
    const QByteArray temporary = QByteArray(name) + ".new-" + QByteArray::number(::getpid());
    ::unlinkat(m_fd, temporary.constData(), 0);
    const int fd = ::openat(m_fd, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, content.constData(), size_t(content.size())) == content.size();
    ::close(fd);
    if (!written || ::renameat(m_fd, temporary.constData(), m_fd, name) != 0) {
        ::unlinkat(m_fd, temporary.constData(), 0);
        return false;
    }
    return true;
}
