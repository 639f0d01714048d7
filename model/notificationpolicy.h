#pragma once

#include "session.h"
#include "hookevent.h"

#include <QString>
#include <optional>

// Which events raise a desktop notification, and with which text. Pure; the
// switches are read afresh for every event (Settings::notificationPreferences).
namespace NotificationPolicy {

struct Preferences
{
    bool permissionRequired = true;
    bool taskComplete = true;
    bool idle = false;
};

// Permission and question notices follow the permission switch, completion
// and failure notices the task-complete one.
enum class Kind { permission, question, completion, failure, idle };

struct Notice
{
    Kind kind;
    QString body; // the title is "Claude Code - " and the session's name
    bool operator==(const Notice &) const = default;
};

// Decided on the session as it was before the event. No notice ever has the
// bare body "Notification": what Tolvo cannot name, it does not announce.
std::optional<Notice> decide(const Session &before, const HookEvent &event,
                             const Preferences &preferences);

// The body of a notification that asks the user to act, from the newest log entry.
QString actionText(const ActivityEvent &last);

} // namespace NotificationPolicy
