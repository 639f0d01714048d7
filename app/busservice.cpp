#include "busservice.h"

#include "instancemanager.h"
#include "rowtext.h"
#include "singleinstance.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

QString instancesJson(const QList<ClaudeCodeInstance> &instances)
{
    QJsonArray array;
    for (const ClaudeCodeInstance &instance : instances) {
        array.append(QJsonObject{
            {u"id"_s, instance.id},
            {u"pid"_s, instance.pid},
            {u"projectPath"_s, instance.projectPath},
            {u"displayName"_s, instance.displayName()},
            {u"status"_s, statusText(instance.status)},
            {u"currentTool"_s,
             instance.currentTool ? QJsonValue(*instance.currentTool) : QJsonValue()},
            {u"statusLine"_s, RowText::statusLineText(instance)},
            {u"unreadCount"_s, instance.unreadEventCount},
            {u"exited"_s, instance.exited},
        });
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

BusService::BusService(InstanceManager &manager, std::function<void(const QVariantMap &)> activate,
                       QObject *parent)
    : QObject(parent), m_manager(manager), m_activate(std::move(activate))
{
    new StatusAdaptor(this);
    new ApplicationAdaptor(this);

    m_changeTimer.setSingleShot(true);
    m_changeTimer.setInterval(changeIntervalMs);
    connect(&m_changeTimer, &QTimer::timeout, this, &BusService::changed);
    const auto noteChange = [this] {
        if (!m_changeTimer.isActive())
            m_changeTimer.start();
    };
    connect(&manager, &InstanceManager::instanceAdded, this, noteChange);
    connect(&manager, &InstanceManager::instanceChanged, this, noteChange);
    connect(&manager, &InstanceManager::instanceRemoved, this, noteChange);
    connect(&manager, &InstanceManager::orderChanged, this, noteChange);
    connect(&manager, &InstanceManager::customNamesChanged, this, noteChange);
}

BusService::~BusService()
{
    if (m_bus.isConnected())
        m_bus.unregisterObject(SingleInstance::objectPath);
}

bool BusService::registerOn(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    m_bus = bus;
    if (m_bus.registerObject(SingleInstance::objectPath, this, QDBusConnection::ExportAdaptors))
        return true;
    m_bus = QDBusConnection(QString());
    return false;
}

QString BusService::instances() const
{
    return instancesJson(m_manager.sortedInstances());
}

StatusAdaptor::StatusAdaptor(BusService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{
    connect(service, &BusService::changed, this, &StatusAdaptor::Changed);
}

QString StatusAdaptor::Instances() const
{
    return m_service->instances();
}

ApplicationAdaptor::ApplicationAdaptor(BusService *service)
    : QDBusAbstractAdaptor(service), m_service(service)
{}

void ApplicationAdaptor::Activate(const QVariantMap &platformData)
{
    m_service->activate(platformData);
}

// Tolvo opens no documents and has no actions; a request for either still
// means the user wants to see it.
void ApplicationAdaptor::Open(const QStringList &, const QVariantMap &platformData)
{
    m_service->activate(platformData);
}

void ApplicationAdaptor::ActivateAction(const QString &, const QVariantList &,
                                        const QVariantMap &platformData)
{
    m_service->activate(platformData);
}
