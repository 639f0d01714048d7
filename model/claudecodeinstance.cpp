#include "claudecodeinstance.h"

#include <QHash>

QString statusText(InstanceStatus status)
{
    switch (status) {
    case InstanceStatus::off:
        return QStringLiteral("Off");
    case InstanceStatus::ready:
        return QStringLiteral("Ready");
    case InstanceStatus::working:
        return QStringLiteral("Working");
    case InstanceStatus::waitingForInput:
        return QStringLiteral("Waiting for Input");
    case InstanceStatus::error:
        return QStringLiteral("Error");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<InstanceStatus> instanceStatusFromText(QStringView text)
{
    for (InstanceStatus status : allInstanceStatuses) {
        if (statusText(status) == text)
            return status;
    }
    return std::nullopt;
}

ClaudeCodeInstance ClaudeCodeInstance::make(const QString &id, qint64 pid,
                                            const QString &projectPath, const QString &projectName,
                                            const std::optional<QString> &customName)
{
    ClaudeCodeInstance instance;
    instance.id = id;
    instance.pid = pid;
    instance.projectPath = projectPath;
    instance.projectName = projectName;
    instance.customName = customName;
    instance.startTime = instance.lastActivity = wallClockNow();
    return instance;
}

StatusColor ClaudeCodeInstance::statusColor() const
{
    if (!lastEventType)
        return StatusColor::gray;
    if (*lastEventType == u"Stop")
        return StatusColor::green;
    if (*lastEventType == u"Notification") {
        if (previousEventType == u"PreToolUse")
            return StatusColor::red;
        if (previousEventType == u"Stop")
            return StatusColor::green;
    }
    return StatusColor::yellow;
}

size_t qHash(const ClaudeCodeInstance &i, size_t seed)
{
    seed = qHashMulti(seed, i.id, i.pid, i.projectPath, i.projectName, i.customName, i.status,
                      i.lastActivity, i.startTime, i.currentTool, i.lastPrompt);
    seed = qHashMulti(seed, i.activityLog.size());
    for (const ActivityEvent &event : i.activityLog)
        seed = qHashMulti(seed, event);
    return qHashMulti(seed, i.unreadEventCount, i.lastEventType, i.previousEventType,
                      i.lastNonNotificationEvent);
}

QString lastPathComponent(const QString &path)
{
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(u'/'))
        view.chop(1);
    if (view == u"/")
        return QStringLiteral("/");
    const qsizetype slash = view.lastIndexOf(u'/');
    return view.mid(slash + 1).toString();
}
