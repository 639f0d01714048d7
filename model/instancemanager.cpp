#include "instancemanager.h"

#include "console.h"
#include "defaultsstore.h"
#include "eventrules.h"
#include "notifier.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <signal.h>
#include <utility>

namespace {

const QString unknownPath = QStringLiteral("Unknown");

QString orNil(const std::optional<QString> &text)
{
    return text.value_or(QStringLiteral("nil"));
}

// Placeholders are recognised by a pid below zero; any hash of the path will do.
qint64 placeholderPid(const QString &projectPath)
{
    const qint64 hash = qint64(qHash(projectPath) & 0x7fffffffffffffffULL);
    return -std::max<qint64>(hash, 1);
}

// Signal 0 only asks whether the process exists; EPERM means it does but
// belongs to someone else. A pid beyond pid_t names no process, and must not
// be narrowed into one (or into a process group).
bool processIsGone(qint64 pid)
{
    if (pid > std::numeric_limits<pid_t>::max())
        return true;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

InstanceManager::InstanceManager(DefaultsStore &defaults, Notifier &notifier, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_notifier(notifier)
{
    loadCustomNames();
    loadInstanceOrder();
    loadSavedInstanceData();
    restoreSavedInstances();

    m_namedPipeListener = std::make_unique<NamedPipeListener>();
    m_namedPipeListener->setDelegate(this);
    m_namedPipeListener->start();

    m_connectionCheckTimer.setInterval(5000);
    connect(&m_connectionCheckTimer, &QTimer::timeout, this, &InstanceManager::checkConnection);
    m_connectionCheckTimer.start();
    checkConnection();

    m_notifier.requestPermission();
    m_notifier.installDelegate();
    registerNotificationDefaults(m_defaults);
}

InstanceManager::~InstanceManager()
{
    m_namedPipeListener->stop();
    m_connectionCheckTimer.stop();
}

const ClaudeCodeInstance *InstanceManager::instance(const QString &id) const
{
    const qsizetype index = indexOfId(id);
    return index < 0 ? nullptr : &m_instances.at(index);
}

qsizetype InstanceManager::indexOfPid(qint64 pid) const
{
    for (qsizetype i = 0; i < m_instances.size(); ++i) {
        if (m_instances.at(i).pid == pid)
            return i;
    }
    return -1;
}

qsizetype InstanceManager::indexOfId(const QString &id) const
{
    for (qsizetype i = 0; i < m_instances.size(); ++i) {
        if (m_instances.at(i).id == id)
            return i;
    }
    return -1;
}

// ---- Display order and list operations -------------------------------------

QList<ClaudeCodeInstance> InstanceManager::sortedInstances() const
{
    const auto orderIndex = [this](const ClaudeCodeInstance &instance) -> qint64 {
        const qsizetype index = m_instanceOrder.indexOf(instance.id);
        return index < 0 ? std::numeric_limits<qint64>::max() : index;
    };
    QList<ClaudeCodeInstance> sorted = m_instances;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const ClaudeCodeInstance &a, const ClaudeCodeInstance &b) {
                         return orderIndex(a) < orderIndex(b);
                     });
    return sorted;
}

void InstanceManager::markAsRead(const QString &id)
{
    const qsizetype index = indexOfId(id);
    if (index < 0)
        return;
    m_instances[index].unreadEventCount = 0;
    Q_EMIT instanceChanged(id);
}

void InstanceManager::clearActivityLog(const QString &id)
{
    const qsizetype index = indexOfId(id);
    if (index < 0)
        return;
    m_instances[index].activityLog.clear();
    Console::line(QStringLiteral("🗑️ Cleared activity log for instance ") +
                  m_instances.at(index).displayName());
    Q_EMIT instanceChanged(id);
}

void InstanceManager::updateCustomName(const QString &id, const QString &name)
{
    const qsizetype index = indexOfId(id);
    if (index < 0)
        return;
    ClaudeCodeInstance &instance = m_instances[index];
    instance.customName = name.isEmpty() ? std::nullopt : std::optional<QString>(name);
    Q_EMIT instanceChanged(id);

    const QString path = instance.projectPath;
    if (path == unknownPath)
        return;
    if (name.isEmpty())
        m_customNames.remove(path);
    else
        m_customNames.insert(path, name);
    saveCustomNames();

    auto record = m_savedInstanceData.find(path);
    if (record != m_savedInstanceData.end()) {
        record->projectPath = path;
        record->customName = m_instances.at(index).customName;
        saveSavedInstanceData();
    }
}

void InstanceManager::updateCustomNames(const CustomNames &names)
{
    CustomNames kept;
    for (auto it = names.begin(); it != names.end(); ++it) {
        if (!it.value().isEmpty())
            kept.insert(it.key(), it.value());
    }
    m_customNames = kept;
    saveCustomNames();

    for (ClaudeCodeInstance &instance : m_instances) {
        if (instance.projectPath == unknownPath)
            continue;
        const auto name = m_customNames.constFind(instance.projectPath);
        std::optional<QString> customName;
        if (name != m_customNames.constEnd())
            customName = *name;
        if (instance.customName != customName) {
            instance.customName = customName;
            Q_EMIT instanceChanged(instance.id);
        }
    }
}

void InstanceManager::removeInstance(const QString &id)
{
    const qsizetype index = indexOfId(id);
    if (index >= 0) {
        m_savedInstanceData.remove(m_instances.at(index).projectPath);
        saveSavedInstanceData();
    }

    const qsizetype before = m_instances.size();
    m_instances.removeIf([&](const ClaudeCodeInstance &i) { return i.id == id; });
    m_instanceOrder.removeAll(id);
    saveInstanceOrder();

    if (m_instances.size() != before) {
        Q_EMIT instanceRemoved(id);
        Q_EMIT instanceCountChanged();
    }
}

void InstanceManager::removeExitedInstances()
{
    QStringList removed;
    for (const ClaudeCodeInstance &instance : std::as_const(m_instances)) {
        if (!instance.exited)
            continue;
        removed.append(instance.id);
        // A session started since in the same directory owns the record now.
        const auto record = m_savedInstanceData.constFind(instance.projectPath);
        if (record != m_savedInstanceData.constEnd() && record->id == instance.id)
            m_savedInstanceData.erase(record);
    }
    if (removed.isEmpty())
        return;
    saveSavedInstanceData();
    m_instances.removeIf([](const ClaudeCodeInstance &i) { return i.exited; });
    for (const QString &id : std::as_const(removed))
        m_instanceOrder.removeAll(id);
    saveInstanceOrder();

    for (const QString &id : std::as_const(removed))
        Q_EMIT instanceRemoved(id);
    Q_EMIT instanceCountChanged();
}

void InstanceManager::moveInstances(const QSet<int> &sources, int destination)
{
    QList<ClaudeCodeInstance> shown = sortedInstances();
    const int count = int(shown.size());
    if (sources.isEmpty())
        return;
    const int smallest = *std::min_element(sources.begin(), sources.end());
    if (smallest < 0 || smallest >= count || destination < 0 || destination > count)
        return;

    QList<int> ordered(sources.begin(), sources.end());
    std::sort(ordered.begin(), ordered.end());
    QStringList moved;
    QStringList rest;
    int insertAt = 0;
    for (int i = 0; i < count; ++i) {
        if (ordered.contains(i)) {
            moved.append(shown.at(i).id);
        } else {
            if (i < destination)
                ++insertAt;
            rest.append(shown.at(i).id);
        }
    }
    for (qsizetype i = 0; i < moved.size(); ++i)
        rest.insert(insertAt + i, moved.at(i));

    m_instanceOrder = rest;
    saveInstanceOrder();
    Q_EMIT orderChanged();
}

// ---- Connection check -------------------------------------------------------

void InstanceManager::checkConnection()
{
    markExitedInstances();
    if (!m_instances.isEmpty() || m_hasReceivedFirstEvent) {
        setConnected(true);
        return;
    }
    const QFileInfo pipe(m_namedPipeListener ? m_namedPipeListener->pipePath()
                                             : QDir::homePath() + QStringLiteral("/.tolvo/events"));
    setConnected(pipe.exists() || pipe.isSymLink());
}

void InstanceManager::markExitedInstances()
{
    for (ClaudeCodeInstance &instance : m_instances) {
        if (instance.exited || instance.pid <= 0 || !processIsGone(instance.pid))
            continue;
        instance.exited = true;
        Q_EMIT instanceChanged(instance.id);
    }
}

void InstanceManager::setConnected(bool connected)
{
    const bool changed = m_isConnected != connected;
    m_isConnected = connected;
    if (changed)
        Q_EMIT isConnectedChanged();
}

// ---- Event intake -----------------------------------------------------------

void InstanceManager::didReceiveEvent(const QJsonObject &dictionary)
{
    const auto decoded = decodeHookRecord(dictionary, QCoreApplication::applicationPid());
    if (const auto *rejected = std::get_if<HookRecordRejected>(&decoded)) {
        Console::line(rejected->consoleLine);
        return;
    }
    handleHookEvent(std::get<HookEvent>(decoded), rawJsonText(dictionary));
}

void InstanceManager::handleHookEvent(const HookEvent &event, const QString &rawJSON)
{
    Console::line(QStringLiteral("🔍 handleHookEvent called with event: ") + event.event +
                  QStringLiteral(", PID: ") + QString::number(event.pid) +
                  QStringLiteral(", workingDirectory: ") + orNil(event.workingDirectory));
    QMetaObject::invokeMethod(
        this, [this, event, rawJSON] { applyHookEvent(event, rawJSON); }, Qt::QueuedConnection);
}

void InstanceManager::applyHookEvent(const HookEvent &event, const QString &rawJSON)
{
    if (!m_hasReceivedFirstEvent) {
        m_hasReceivedFirstEvent = true;
        setConnected(true);
        Q_EMIT hasReceivedFirstEventChanged();
    }

    // Find or create the instance of the sending process. A process that
    // speaks again was not gone after all (or its pid has been reused).
    const qsizetype found = indexOfPid(event.pid);
    const bool revived = found >= 0 && std::exchange(m_instances[found].exited, false);
    if (found >= 0) {
        if (event.workingDirectory && m_instances.at(found).projectPath == unknownPath) {
            const QString directory = *event.workingDirectory;
            ClaudeCodeInstance &instance = m_instances[found];
            instance.projectPath = directory;
            instance.projectName = lastPathComponent(directory);
            const auto name = m_customNames.constFind(directory);
            if (name != m_customNames.constEnd()) {
                instance.customName = *name;
                Console::line(QStringLiteral("🏷️ Applied saved custom name '") + *name +
                              QStringLiteral("' for ") + directory);
            }
            m_savedInstanceData.insert(
                directory, {instance.id, instance.customName, directory, instance.projectName});
            saveSavedInstanceData();
            Console::line(QStringLiteral("📁 Updated project path for PID ") +
                          QString::number(event.pid) + QStringLiteral(" to ") + directory);
            Q_EMIT instanceChanged(instance.id);
        }
    } else {
        const QString projectPath = event.workingDirectory.value_or(unknownPath);
        Console::line(QStringLiteral("✅ New Claude instance detected with PID ") +
                      QString::number(event.pid) + QStringLiteral(" at ") + projectPath);
        Console::line(QStringLiteral("   Full event data: event=") + event.event +
                      QStringLiteral(", tool=") + orNil(event.tool) + QStringLiteral(", details=") +
                      orNil(event.details));
        createInstance(event.pid, projectPath);
    }

    // Tool events show a short description of the tool's input.
    EventRules::ToolDescription shown{event.tool, event.details};
    if (event.event == u"PreToolUse" || event.event == u"PostToolUse")
        shown = EventRules::describeTool(event.tool, event.details, event.workingDirectory);

    const QString &name = event.event;
    const auto working = InstanceStatus::working;
    if (name == u"UserPromptSubmit") {
        updateInstance(event.pid, working, name, std::nullopt, event.details, rawJSON);
    } else if (name == u"PreToolUse" || name == u"PostToolUse") {
        updateInstance(event.pid, working, name, shown.tool, shown.details, rawJSON);
    } else if (name == u"PreCompact") {
        updateInstance(event.pid, working, name, std::nullopt, QStringLiteral("Compacting Context"),
                       rawJSON);
    } else if (name == u"Stop") {
        notifyBeforeStop(event);
        updateInstance(event.pid, InstanceStatus::ready, name, std::nullopt, std::nullopt, rawJSON);
    } else if (name == u"SubagentStop") {
        updateInstance(event.pid, working, name, std::nullopt, std::nullopt, rawJSON);
    } else if (name == u"Notification") {
        notifyBeforeNotification(event);
        const qsizetype index = indexOfPid(event.pid);
        const std::optional<QString> last =
            index < 0 ? std::nullopt : m_instances.at(index).lastEventType;
        InstanceStatus status = working;
        if (event.details && event.details->contains(u"idle"))
            status = InstanceStatus::ready;
        else if (last == u"PreToolUse")
            status = InstanceStatus::waitingForInput;
        else if (last == u"Stop")
            status = InstanceStatus::ready;
        updateInstance(event.pid, status, name, std::nullopt, std::nullopt, rawJSON);
    } else if (revived) {
        Q_EMIT instanceChanged(m_instances.at(found).id);
    }
}

void InstanceManager::createInstance(qint64 pid, const QString &projectPath)
{
    // A live process in a restored directory takes the placeholder's place.
    for (qsizetype i = 0; i < m_instances.size(); ++i) {
        const ClaudeCodeInstance &placeholder = m_instances.at(i);
        if (placeholder.projectPath != projectPath || placeholder.pid >= 0)
            continue;
        m_instances[i] = ClaudeCodeInstance::make(placeholder.id, pid, projectPath,
                                                  placeholder.projectName, placeholder.customName);
        Console::line(QStringLiteral("♻️ Replaced restored instance with live instance for ") +
                      projectPath);
        saveSavedInstanceData();
        Q_EMIT instanceChanged(m_instances.at(i).id);
        return;
    }

    ClaudeCodeInstance instance =
        ClaudeCodeInstance::make(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), pid,
                                 projectPath, lastPathComponent(projectPath), std::nullopt);

    const auto record = m_savedInstanceData.constFind(projectPath);
    if (record != m_savedInstanceData.constEnd()) {
        instance.customName = record->customName;
        Console::line(QStringLiteral("🏷️ Using saved custom name '") +
                      orNil(record->customName) + QStringLiteral("' for ") + projectPath);
    } else if (projectPath != unknownPath) {
        const auto name = m_customNames.constFind(projectPath);
        if (name != m_customNames.constEnd()) {
            instance.customName = *name;
            Console::line(QStringLiteral("🏷️ Using saved custom name '") + *name +
                          QStringLiteral("' for ") + projectPath);
        } else {
            m_customNames.insert(projectPath, instance.projectName);
            saveCustomNames();
            Console::line(QStringLiteral("💾 Saved default name '") + instance.projectName +
                          QStringLiteral("' for ") + projectPath);
        }
    }

    m_instances.append(instance);
    if (!m_instanceOrder.contains(instance.id)) {
        m_instanceOrder.append(instance.id);
        saveInstanceOrder();
    }
    if (projectPath != unknownPath) {
        m_savedInstanceData.insert(
            projectPath, {instance.id, instance.customName, projectPath, instance.projectName});
        saveSavedInstanceData();
    }
    Q_EMIT instanceAdded(instance.id);
    Q_EMIT instanceCountChanged();
}

void InstanceManager::updateInstance(qint64 pid, InstanceStatus status,
                                     const std::optional<QString> &eventType,
                                     const std::optional<QString> &tool,
                                     const std::optional<QString> &details,
                                     const std::optional<QString> &rawJSON)
{
    const qsizetype index = indexOfPid(pid);
    if (index < 0)
        return;
    ClaudeCodeInstance &instance = m_instances[index];
    instance.status = status;
    instance.lastActivity = wallClockNow();
    if (eventType) {
        instance.previousEventType = instance.lastEventType;
        instance.lastEventType = eventType;
        if (*eventType != u"Notification")
            instance.lastNonNotificationEvent = eventType;
    }
    if (tool)
        instance.currentTool = tool;
    if (status == InstanceStatus::ready)
        instance.currentTool.reset();
    if (details)
        instance.lastPrompt = details;
    instance.activityLog.append(ActivityEvent{QUuid::createUuid(), wallClockNow(),
                                              eventType.value_or(QString()), tool, details,
                                              rawJSON});
    instance.unreadEventCount += 1;
    Q_EMIT instanceChanged(instance.id);
}

// ---- Notifications ----------------------------------------------------------

void InstanceManager::send(const ClaudeCodeInstance &instance, const QString &body,
                           const QString &kind)
{
    m_notifier.sendNotification(
        QStringLiteral("Claude Code - ") + instance.displayName(), body,
        EventRules::notificationIdentifier(instance.pid, kind, wallClockNow()));
}

void InstanceManager::notifyBeforeStop(const HookEvent &event)
{
    const qsizetype index = indexOfPid(event.pid);
    if (index < 0 || !m_defaults.boolValue(NotificationKeys::taskComplete))
        return;
    const ClaudeCodeInstance &instance = m_instances.at(index);
    const QString body = instance.lastPrompt ? QStringLiteral("Completed: ") + *instance.lastPrompt
                                             : QStringLiteral("Task completed");
    send(instance, body, QStringLiteral("-stop-"));
}

void InstanceManager::notifyBeforeNotification(const HookEvent &event)
{
    const qsizetype index = indexOfPid(event.pid);
    if (index < 0)
        return;
    const ClaudeCodeInstance &instance = m_instances.at(index);

    if (event.details && event.details->contains(u"idle")) {
        if (m_defaults.boolValue(NotificationKeys::idle))
            send(instance, QStringLiteral("Claude Code is now idle"), QStringLiteral("-notif-"));
        return;
    }
    if (instance.lastEventType == u"PreToolUse") {
        if (m_defaults.boolValue(NotificationKeys::permissionRequired)) {
            const QString body =
                instance.currentTool
                    ? QStringLiteral("Permission required for: ") + *instance.currentTool
                    : QStringLiteral("Permission required");
            send(instance, body, QStringLiteral("-notif-"));
        }
        return;
    }
    if (instance.activityLog.isEmpty() ||
        !m_defaults.boolValue(NotificationKeys::permissionRequired))
        return;
    send(instance, EventRules::actionText(instance.activityLog.constLast()),
         QStringLiteral("-notif-"));
}

// ---- Persistence ------------------------------------------------------------

void InstanceManager::loadCustomNames()
{
    const auto data = m_defaults.data(customNamesKey);
    const auto names = data ? decodeCustomNames(*data) : std::nullopt;
    if (!names)
        return;
    m_customNames = *names;
    Console::line(QStringLiteral("📂 Loaded %1 custom project names").arg(m_customNames.size()));
}

void InstanceManager::saveCustomNames()
{
    m_defaults.setData(customNamesKey, encodeCustomNames(m_customNames));
    Console::line(QStringLiteral("💾 Saved %1 custom project names").arg(m_customNames.size()));
    Q_EMIT customNamesChanged();
}

void InstanceManager::loadInstanceOrder()
{
    const auto data = m_defaults.data(instanceOrderKey);
    const auto order = data ? decodeInstanceOrder(*data) : std::nullopt;
    if (!order)
        return;
    m_instanceOrder = *order;
    Console::line(
        QStringLiteral("📊 Loaded custom instance order with %1 items").arg(m_instanceOrder.size()));
}

void InstanceManager::saveInstanceOrder()
{
    m_defaults.setData(instanceOrderKey, encodeInstanceOrder(m_instanceOrder));
    Console::line(QStringLiteral("💾 Saved instance order"));
}

void InstanceManager::loadSavedInstanceData()
{
    const auto data = m_defaults.data(savedInstancesKey);
    const auto records = data ? decodeSavedInstances(*data) : std::nullopt;
    if (!records)
        return;
    m_savedInstanceData = *records;
    Console::line(QStringLiteral("📂 Loaded %1 saved instances").arg(m_savedInstanceData.size()));
}

void InstanceManager::saveSavedInstanceData()
{
    m_defaults.setData(savedInstancesKey, encodeSavedInstances(m_savedInstanceData));
    Console::line(QStringLiteral("💾 Saved %1 instance data").arg(m_savedInstanceData.size()));
}

void InstanceManager::restoreSavedInstances()
{
    for (const SavedInstanceData &record : std::as_const(m_savedInstanceData)) {
        ClaudeCodeInstance placeholder =
            ClaudeCodeInstance::make(record.id, placeholderPid(record.projectPath),
                                     record.projectPath, record.projectName, record.customName);
        m_instances.append(placeholder);
        if (!m_instanceOrder.contains(record.id))
            m_instanceOrder.append(record.id);
    }
    if (m_instances.isEmpty())
        return;
    Console::line(
        QStringLiteral("🔄 Restored %1 instances from saved data").arg(m_instances.size()));
    saveInstanceOrder();
}
