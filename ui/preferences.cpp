#include "preferences.h"

#include "defaultsstore.h"
#include "notifier.h"

Preferences::Preferences(DefaultsStore &store, QObject *parent) : QObject(parent), m_store(store)
{
    // The manager registers these too; registering again changes nothing and
    // keeps the switches right in a window that has no manager behind it.
    registerNotificationDefaults(m_store);
    connect(&m_store, &DefaultsStore::valueChanged, this, &Preferences::valueChanged);
}

bool Preferences::notifyOnPermissionRequired() const
{
    return m_store.boolValue(NotificationKeys::permissionRequired);
}

void Preferences::setNotifyOnPermissionRequired(bool on)
{
    m_store.setBool(NotificationKeys::permissionRequired, on);
}

bool Preferences::notifyOnTaskComplete() const
{
    return m_store.boolValue(NotificationKeys::taskComplete);
}

void Preferences::setNotifyOnTaskComplete(bool on)
{
    m_store.setBool(NotificationKeys::taskComplete, on);
}

bool Preferences::notifyOnIdle() const
{
    return m_store.boolValue(NotificationKeys::idle);
}

void Preferences::setNotifyOnIdle(bool on)
{
    m_store.setBool(NotificationKeys::idle, on);
}

bool Preferences::isPinnedToTop() const
{
    return m_store.boolValue(isPinnedToTopKey);
}

void Preferences::setIsPinnedToTop(bool pinned)
{
    m_store.setBool(isPinnedToTopKey, pinned);
}

void Preferences::valueChanged(const QString &key)
{
    if (key == NotificationKeys::permissionRequired)
        Q_EMIT notifyOnPermissionRequiredChanged();
    else if (key == NotificationKeys::taskComplete)
        Q_EMIT notifyOnTaskCompleteChanged();
    else if (key == NotificationKeys::idle)
        Q_EMIT notifyOnIdleChanged();
    else if (key == isPinnedToTopKey)
        Q_EMIT isPinnedToTopChanged();
}
