#pragma once

#include "activityevent.h"

#include <QString>
#include <optional>

// Pure rules of hook event handling, kept apart from the manager's state so
// that each table can be tested row by row.
namespace EventRules {

struct ToolDescription
{
    std::optional<QString> tool;
    std::optional<QString> details;
    bool operator==(const ToolDescription &) const = default;
};

// Rewrites a tool event's tool name and JSON input into what the log shows:
// "Bash" shows its command, a file inside the working directory its relative
// path, and so on. Details that are not a JSON object stay as they are.
ToolDescription describeTool(const std::optional<QString> &tool,
                             const std::optional<QString> &details,
                             const std::optional<QString> &workingDirectory);

// The body of a notification that asks the user to act, from the newest log entry.
QString actionText(const ActivityEvent &last);

// "<pid><kind><seconds since 1970 with a fraction>", unique per notification.
QString notificationIdentifier(qint64 pid, const QString &kind, double secondsSince1970);

} // namespace EventRules
