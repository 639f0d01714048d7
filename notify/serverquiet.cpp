#include "serverquiet.h"

#include "notifylog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

const QString serverPath = QStringLiteral("/org/freedesktop/Notifications");
const QString notifications = QStringLiteral("org.freedesktop.Notifications");
const QString dunst = QStringLiteral("org.dunstproject.cmd0");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

ServerQuiet::ServerQuiet(const QDBusConnection &bus, const QString &service, QObject *parent)
    : QObject(parent), m_bus(bus), m_service(service)
{
    m_bus.connect(m_service, serverPath, properties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    if (!m_service.isEmpty()) {
        // A server that starts later, or again, is asked afresh; one that
        // went away keeps nothing back.
        m_watcher = new QDBusServiceWatcher(m_service, m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString &, const QString &, const QString &owner) {
                    set(&ServerQuiet::m_inhibited, false);
                    set(&ServerQuiet::m_paused, false);
                    if (!owner.isEmpty())
                        readAll();
                });
    }
    readAll();
}

void ServerQuiet::readAll()
{
    read(notifications, QStringLiteral("Inhibited"), &ServerQuiet::m_inhibited);
    read(dunst, QStringLiteral("paused"), &ServerQuiet::m_paused);
}

void ServerQuiet::read(const QString &interface, const QString &property, bool ServerQuiet::*into)
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(m_service, serverPath, properties, QStringLiteral("Get"));
    get << interface << property;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, into](QDBusPendingCallWatcher *call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                // No such property: a server that never keeps notices back.
                if (!reply.isError())
                    set(into, reply.value().variant().toBool());
            });
}

void ServerQuiet::propertiesChanged(const QString &interface, const QVariantMap &changed,
                                    const QStringList &invalidated)
{
    const auto follow = [&](const QString &property, bool ServerQuiet::*into) {
        if (changed.contains(property))
            set(into, changed.value(property).toBool());
        else if (invalidated.contains(property))
            read(interface, property, into);
    };
    if (interface == notifications)
        follow(QStringLiteral("Inhibited"), &ServerQuiet::m_inhibited);
    else if (interface == dunst)
        follow(QStringLiteral("paused"), &ServerQuiet::m_paused);
}

void ServerQuiet::set(bool ServerQuiet::*into, bool value)
{
    if (this->*into == value)
        return;
    const bool was = inhibited();
    this->*into = value;
    if (inhibited() != was) {
        qCInfo(lcNotify, inhibited() ? "🔕 The notification server keeps notifications back"
                                     : "🔔 The notification server shows notifications again");
        Q_EMIT changed();
    }
}
