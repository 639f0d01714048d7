#include "singleinstance.h"

#include "privatedirectory.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Long enough for a busy Tolvo to answer, short enough that a launcher
// clicked twice never seems to hang.
constexpr int activateTimeoutMs = 800;

// The launch's startup notification, passed on so that the running Tolvo's
// window may take the focus.
QVariantMap platformData()
{
    QVariantMap data;
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty())
        data.insert(u"activation-token"_s, token);
    const QString startupId = qEnvironmentVariable("DESKTOP_STARTUP_ID");
    if (!startupId.isEmpty())
        data.insert(u"desktop-startup-id"_s, startupId);
    return data;
}

} // namespace

SingleInstance::~SingleInstance()
{
    if (m_ownsName && m_bus.isConnected())
        m_bus.interface()->unregisterService(serviceName);
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the flock
}

QString SingleInstance::defaultLockPath()
{
    return QDir::homePath() + u"/.tolvo/tolvo.lock"_s;
}

SingleInstance::Outcome SingleInstance::claim()
{
    return claim(QDBusConnection::sessionBus(), defaultLockPath());
}

SingleInstance::Outcome SingleInstance::claim(const QDBusConnection &bus, const QString &lockPath)
{
    m_bus = bus;
    QDBusConnectionInterface *daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (daemon) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            daemon->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                    QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            m_ownsName = true;
        } else if (reply.isValid()) {
            QDBusMessage activate = QDBusMessage::createMethodCall(
                serviceName, objectPath, u"org.freedesktop.Application"_s, u"Activate"_s);
            activate.setArguments({platformData()});
            const QDBusMessage answer = bus.call(activate, QDBus::Block, activateTimeoutMs);
            if (answer.type() == QDBusMessage::ReplyMessage)
                return Outcome::HandedOver;
            m_message = u"Tolvo is already running but did not answer: "_s + answer.errorMessage();
            return Outcome::Refused;
        }
        // A bus that refuses the request leaves the decision to the lock.
    }
    if (!takeLock(lockPath))
        return Outcome::Refused;
    return Outcome::First;
}

bool SingleInstance::takeLock(const QString &lockPath)
{
    // The folder is private, so nobody else can open the lock and hold it.
    const QFileInfo lock(lockPath);
    PrivateDirectory directory(lock.absolutePath());
    m_lockFd = directory.openFile(QFile::encodeName(lock.fileName()).constData(), O_RDWR);
    if (m_lockFd < 0) {
        m_message = u"Tolvo cannot open its lock file: "_s + directory.problem();
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int error = errno;
    ::close(m_lockFd);
    m_lockFd = -1;
    m_message = error == EWOULDBLOCK
                    ? u"Tolvo is already running for this user (%1 is locked)"_s.arg(lockPath)
                    : u"Tolvo cannot lock %1: %2"_s.arg(
                          lockPath, QString::fromLocal8Bit(std::strerror(error)));
    return false;
}
