#include "sshserver.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
#include <unistd.h>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    return address;
}

// A loopback port that no one listens on now.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// The processes running as `uid`, by their ids; not those that only wait to be reaped.
QList<pid_t> processesOf(uid_t uid)
{
    QList<pid_t> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        const QString path = QStringLiteral("/proc/") + entry;
        struct stat info;
        if (!number || ::stat(qPrintable(path), &info) != 0 || info.st_uid != uid)
            continue;
        QFile stat(path + QStringLiteral("/stat"));
        const QByteArray fields = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        if (!fields.mid(fields.lastIndexOf(')')).startsWith(") Z"))
            pids.append(pid);
    }
    return pids;
}

bool write(const QString &path, const QByteArray &text, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text) == text.size() && file.setPermissions(permissions);
}

} // namespace

QString SshServer::unavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("a real ssh server needs root, to add its account and run sshd");
    for (const char *program : {"/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen",
                                "/usr/sbin/useradd", "/usr/sbin/usermod"}) {
        if (!QFile::exists(QLatin1String(program)))
            return QStringLiteral("%1 is missing (openssh-server, openssh-client, passwd)")
                .arg(QLatin1String(program));
    }
    return {};
}

SshServer::~SshServer()
{
    stop();
    if (m_lock >= 0)
        ::close(m_lock);
}

bool SshServer::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    m_error = program + QStringLiteral(": ") +
              QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return false;
}

bool SshServer::prepare()
{
    const QString name = QLatin1String(user);
    if (!::getpwnam(user)) {
        // A new account is locked ("!"), and sshd lets no locked account in, not even
        // with a key; "*" only rules out a password.
        if (!run(QStringLiteral("useradd"),
                 {QStringLiteral("-m"), QStringLiteral("-s"), QStringLiteral("/bin/sh"), name}) ||
            !run(QStringLiteral("usermod"), {QStringLiteral("-p"), QStringLiteral("*"), name}))
            return false;
    }
    const passwd *account = ::getpwnam(user);
    if (!account || account->pw_uid == 0) {
        m_error = QStringLiteral("no account %1").arg(name);
        return false;
    }
    m_home = QString::fromLocal8Bit(account->pw_dir);
    m_uid = account->pw_uid;
    m_gid = account->pw_gid;
    clearHome();

    // The account reads its authorized key from here (sshd reads it as the account).
    const QString dir = m_dir.path();
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                   QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                   QFile::ExeGroup);
    for (const char *key : {"host_key", "client_key"}) {
        if (!run(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                  QStringLiteral("-N"), QString(), QStringLiteral("-C"), QString(),
                  QStringLiteral("-f"), dir + u'/' + QLatin1String(key)}))
            return false;
    }
    const auto read = [&](const char *file) {
        QFile in(dir + u'/' + QLatin1String(file));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    m_port = freePort();
    const QByteArray server = QStringLiteral("ListenAddress 127.0.0.1:%1\n"
                                             "HostKey %2/host_key\n"
                                             "PidFile %2/sshd.pid\n"
                                             "AuthorizedKeysFile %2/authorized_keys\n"
                                             "AllowUsers %3\n"
                                             "PasswordAuthentication no\n"
                                             "KbdInteractiveAuthentication no\n"
                                             "UsePAM no\n"
                                             "StrictModes no\n"
                                             "LogLevel ERROR\n")
                                  .arg(m_port)
                                  .arg(dir, name)
                                  .toUtf8();
    const QByteArray client =
        QStringLiteral("Host devbox\n"
                       "  HostName 127.0.0.1\n"
                       "  Port %1\n"
                       "  User %3\n"
                       "  IdentityFile %2/client_key\n"
                       "  IdentitiesOnly yes\n"
                       "  HostKeyAlias devbox\n"
                       "  UserKnownHostsFile %2/known_hosts\n"
                       "  GlobalKnownHostsFile /dev/null\n"
                       "  StrictHostKeyChecking yes\n"
                       "  BatchMode yes\n"
                       "  ConnectTimeout 5\n"
                       // a third less time per connection than the post-quantum default
                       "  KexAlgorithms curve25519-sha256\n")
            .arg(m_port)
            .arg(dir, name)
            .toUtf8();
    const auto readable =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (!write(dir + QStringLiteral("/authorized_keys"), read("client_key.pub"), readable) ||
        !write(dir + QStringLiteral("/known_hosts"), "devbox " + read("host_key.pub"), readable) ||
        !write(dir + QStringLiteral("/sshd_config"), server, readable) ||
        !write(dir + QStringLiteral("/ssh_config"), client, readable)) {
        m_error = QStringLiteral("cannot write the configuration into ") + dir;
        return false;
    }
    // Where sshd's privilege separation goes.
    QDir().mkpath(QStringLiteral("/run/sshd"));
    return true;
}

bool SshServer::start()
{
    if (running())
        return true;
    // The account is the machine's: one user of it at a time (the suite, a
    // benchmark, another worktree's suite).
    if (m_lock < 0) {
        m_lock = ::open("/tmp/tolvo-remote-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_lock < 0 ||
            !QTest::qWaitFor([&] { return ::flock(m_lock, LOCK_EX | LOCK_NB) == 0; }, 300000)) {
            m_error = QStringLiteral("the account %1 stayed in use").arg(QLatin1String(user));
            return false;
        }
    }
    if (m_port == 0 && !prepare())
        return false;
    m_sshd.setProcessChannelMode(QProcess::ForwardedChannels); // its errors show in the log
    m_sshd.start(QStringLiteral("/usr/sbin/sshd"),
                 {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"),
                  m_dir.filePath(QStringLiteral("sshd_config"))});
    // sshd writes its pid file once it listens.
    const QString pidFile = m_dir.filePath(QStringLiteral("sshd.pid"));
    QFile::remove(pidFile);
    if (m_sshd.waitForStarted() &&
        QTest::qWaitFor([&] { return !running() || QFile::exists(pidFile); }, 10000) && running())
        return true;
    m_error = QStringLiteral("sshd did not listen on port %1").arg(m_port);
    return false;
}

void SshServer::stop(const QStringList &spared)
{
    if (m_sshd.state() != QProcess::NotRunning) {
        m_sshd.terminate();
        m_sshd.waitForFinished(5000);
    }
    // Each connection lives on in processes of its own, the account's: ending them
    // drops it, as a server going away would.
    if (m_uid == 0)
        return;
    (void)QTest::qWaitFor(
        [&] {
            QList<pid_t> pids = processesOf(m_uid);
            pids.removeIf([&](pid_t pid) {
                return spared.contains(
                    QString::fromUtf8(TestPaths::readFile(u"/proc/%1/comm"_s.arg(pid)).trimmed()));
            });
            for (const pid_t pid : pids)
                ::kill(pid, SIGKILL);
            return pids.isEmpty();
        },
        5000);
}

QString SshServer::transport() const
{
    return QStringLiteral("ssh -F %1 devbox").arg(m_dir.filePath(QStringLiteral("ssh_config")));
}

void SshServer::clearHome() const
{
    if (m_uid == 0 || !m_home.endsWith(QLatin1String(user)))
        return;
    const QDir home(m_home);
    for (const QFileInfo &entry : home.entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                     QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
}
