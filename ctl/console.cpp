#include "console.h"

#include <QDBusConnection>
#include <QDBusError>

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString busFailure(const QDBusError &error)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return QStringLiteral("Tolvo is not running (no session bus: %1)")
            .arg(QDBusConnection::sessionBus().lastError().message());
    return error.type() == QDBusError::ServiceUnknown
               ? QStringLiteral("Tolvo is not running")
               : QStringLiteral("Tolvo did not answer: ") + error.message();
}

bool tolvoAbsent(const QDBusError &error)
{
    return !QDBusConnection::sessionBus().isConnected() ||
           error.type() == QDBusError::ServiceUnknown;
}
