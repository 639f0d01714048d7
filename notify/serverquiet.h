#pragma once

#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;

// Whether the notification server says it keeps notifications back: the
// `Inhibited` property of org.freedesktop.Notifications, where the server has
// it, or dunst's own `paused`. Follows both as they change; a server without
// either, or none at all, is not paused.
class ServerQuiet : public QObject
{
    Q_OBJECT
public:
    // `service` empty: a peer-to-peer connection to the server (tests).
    explicit ServerQuiet(const QDBusConnection &bus,
                         const QString &service = QStringLiteral("org.freedesktop.Notifications"),
                         QObject *parent = nullptr);

    bool inhibited() const { return m_inhibited || m_paused; }

Q_SIGNALS:
    void changed();

private Q_SLOTS:
    void propertiesChanged(const QString &interface, const QVariantMap &changed,
                           const QStringList &invalidated);

private:
    void readAll();
    void read(const QString &interface, const QString &property, bool ServerQuiet::*into);
    void set(bool ServerQuiet::*into, bool value);

    QDBusConnection m_bus;
    QString m_service;
    QDBusServiceWatcher *m_watcher = nullptr;
    bool m_inhibited = false;
    bool m_paused = false;
};
