#pragma once

#include "claudecodeinstance.h"
#include "hookevent.h"
#include "namedpipelistener.h"
#include "savedinstancedata.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>

class DefaultsStore;
class Notifier;

// The one model object: every tracked instance, the rules by which hook events
// change them, the list operations the windows call, and what survives a
// restart. Lives on the main thread; nothing here takes a lock.
//
// Changes are announced finely enough for a list view to touch one row:
// instanceAdded / instanceChanged / instanceRemoved carry the instance id,
// orderChanged says the display order must be recomputed.
class InstanceManager : public QObject, public NamedPipeListenerDelegate
{
    Q_OBJECT
    Q_INTERFACES(NamedPipeListenerDelegate)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(
        bool hasReceivedFirstEvent READ hasReceivedFirstEvent NOTIFY hasReceivedFirstEventChanged)
    Q_PROPERTY(int instanceCount READ instanceCount NOTIFY instanceCountChanged)

public:
    // Loads what the last run saved, restores placeholders, starts the event
    // pipe and the connection check, then sets up notifications.
    InstanceManager(DefaultsStore &defaults, Notifier &notifier, QObject *parent = nullptr);
    ~InstanceManager() override;

    static inline const QString customNamesKey = QStringLiteral("com.tolvo.customProjectNames");
    static inline const QString instanceOrderKey = QStringLiteral("com.tolvo.instanceOrder");
    static inline const QString savedInstancesKey = QStringLiteral("com.tolvo.savedInstances");

    // Published state.
    const QList<ClaudeCodeInstance> &instances() const { return m_instances; }
    int instanceCount() const { return int(m_instances.size()); }
    const std::optional<QString> &selectedInstanceId() const { return m_selectedInstanceId; }
    bool isConnected() const { return m_isConnected; }
    bool hasReceivedFirstEvent() const { return m_hasReceivedFirstEvent; }

    // The first instance with this id, or nullptr. The pointer is valid until
    // the next change of the list.
    const ClaudeCodeInstance *instance(const QString &id) const;

    const CustomNames &customNames() const { return m_customNames; }
    const QStringList &instanceOrder() const { return m_instanceOrder; }
    const SavedInstances &savedInstanceData() const { return m_savedInstanceData; }
    NamedPipeListener *namedPipeListener() const { return m_namedPipeListener.get(); }

    // Instances in the order the main window lists them.
    QList<ClaudeCodeInstance> sortedInstances() const;

    // List operations; an id that matches no instance does nothing.
    Q_INVOKABLE void markAsRead(const QString &id);
    Q_INVOKABLE void clearActivityLog(const QString &id);
    Q_INVOKABLE void updateCustomName(const QString &id, const QString &name);
    void updateCustomNames(const CustomNames &names);
    Q_INVOKABLE void removeInstance(const QString &id);
    // Removes every instance marked exited, as removeInstance would one by one.
    Q_INVOKABLE void removeExitedInstances();
    // Offsets index the display order; the moved block lands before the
    // element that was at `destination`, or at the end.
    void moveInstances(const QSet<int> &sources, int destination);

    // Event intake: the listener's delegate call, and the handling it leads to.
    void didReceiveEvent(const QJsonObject &dictionary) override;
    void handleHookEvent(const HookEvent &event, const QString &rawJSON);

    // Persistence.
    void loadCustomNames();
    void saveCustomNames();
    void loadInstanceOrder();
    void saveInstanceOrder();
    void loadSavedInstanceData();
    void saveSavedInstanceData();
    void restoreSavedInstances();

    // Runs every five seconds: updates isConnected and marks instances whose
    // process is gone as exited.
    void checkConnection();

Q_SIGNALS:
    void instanceAdded(const QString &id);
    void instanceChanged(const QString &id);
    void instanceRemoved(const QString &id);
    void orderChanged();
    void instanceCountChanged();
    void customNamesChanged();
    void isConnectedChanged();
    void hasReceivedFirstEventChanged();

private:
    void applyHookEvent(const HookEvent &event, const QString &rawJSON);
    void createInstance(qint64 pid, const QString &projectPath);
    void updateInstance(qint64 pid, InstanceStatus status, const std::optional<QString> &eventType,
                        const std::optional<QString> &tool, const std::optional<QString> &details,
                        const std::optional<QString> &rawJSON);
    void notifyBeforeStop(const HookEvent &event);
    void notifyBeforeNotification(const HookEvent &event);
    void send(const ClaudeCodeInstance &instance, const QString &body, const QString &kind);

    qsizetype indexOfPid(qint64 pid) const;
    qsizetype indexOfId(const QString &id) const;
    void setConnected(bool connected);
    void markExitedInstances();

    DefaultsStore &m_defaults;
    Notifier &m_notifier;

    QList<ClaudeCodeInstance> m_instances;
    std::optional<QString> m_selectedInstanceId;
    bool m_isConnected = false;
    bool m_hasReceivedFirstEvent = false;
    std::unique_ptr<NamedPipeListener> m_namedPipeListener;
    CustomNames m_customNames;
    QStringList m_instanceOrder;
    SavedInstances m_savedInstanceData;
    QTimer m_connectionCheckTimer;
};
