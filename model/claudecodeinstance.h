#pragma once

#include "activityevent.h"
#include "instancestatus.h"

#include <QList>
#include <QString>

// Colour of an instance's status light, decided from its last two event names.
enum class StatusColor { gray, green, yellow, red };

// One tracked Claude Code process, or a placeholder restored from an earlier run.
// A plain value: copies are cheap (the activity log is implicitly shared) until
// one of them is changed.
struct ClaudeCodeInstance
{
    QString id;
    qint64 pid = 0;
    QString projectPath;
    QString projectName;
    std::optional<QString> customName;
    InstanceStatus status = InstanceStatus::off;
    WallClockTime lastActivity = 0;
    WallClockTime startTime = 0;
    std::optional<QString> currentTool;
    std::optional<QString> lastPrompt;
    QList<ActivityEvent> activityLog;
    qint64 unreadEventCount = 0;
    std::optional<QString> lastEventType;
    std::optional<QString> previousEventType;
    std::optional<QString> lastNonNotificationEvent;
    // Set by the connection check once the process (pid > 0) is gone; the next
    // event from the same pid clears it. Never saved: a restart checks afresh.
    bool exited = false;

    // A fresh instance: status off, both dates now, everything else empty.
    static ClaudeCodeInstance make(const QString &id, qint64 pid, const QString &projectPath,
                                   const QString &projectName,
                                   const std::optional<QString> &customName);

    QString displayName() const { return customName.value_or(projectName); }
    StatusColor statusColor() const;

    bool operator==(const ClaudeCodeInstance &) const = default;
};

size_t qHash(const ClaudeCodeInstance &instance, size_t seed = 0);

// The last component of a directory path; a trailing slash is not a component.
QString lastPathComponent(const QString &path);
