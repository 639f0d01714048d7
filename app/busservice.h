#pragma once

#include "claudecodeinstance.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <functional>

class InstanceManager;

// The instances as scripts read them: a compact JSON array in display order,
// one object per instance with "id", "pid", "projectPath", "displayName",
// "status", "currentTool" (null when none), "statusLine", "unreadCount" and
// "exited".
QString instancesJson(const QList<ClaudeCodeInstance> &instances);

// Tolvo on the session bus, at /com/tolvo/Tolvo under the name SingleInstance
// claimed: the instances for scripts (com.tolvo.Tolvo) and the desktop's way
// of bringing an application to the front (org.freedesktop.Application).
class BusService : public QObject
{
    Q_OBJECT
public:
    // `activate` shows and raises the main window; it receives the caller's
    // platform data (activation token, startup id).
    BusService(InstanceManager &manager, std::function<void(const QVariantMap &)> activate,
               QObject *parent = nullptr);
    ~BusService() override;

    // False when the object path is taken or the bus is not connected.
    bool registerOn(const QDBusConnection &bus);

    QString instances() const;
    void activate(const QVariantMap &platformData) { m_activate(platformData); }

Q_SIGNALS:
    // At most one every changeIntervalMs, however many changes fall into it.
    void changed();

public:
    static constexpr int changeIntervalMs = 100;

private:
    InstanceManager &m_manager;
    std::function<void(const QVariantMap &)> m_activate;
    QTimer m_changeTimer;
    QDBusConnection m_bus{QString()};
};

// com.tolvo.Tolvo: what tolvoctl reads.
class StatusAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tolvo.Tolvo")
public:
    explicit StatusAdaptor(BusService *service);

public Q_SLOTS:
    QString Instances() const;

Q_SIGNALS:
    void Changed();

private:
    BusService *m_service;
};

// org.freedesktop.Application: every entry point shows the main window.
class ApplicationAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(BusService *service);

public Q_SLOTS:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &actionName, const QVariantList &parameter,
                        const QVariantMap &platformData);

private:
    BusService *m_service;
};
