#pragma once

#include "eventrules.h"
#include "hookevent.h"
#include "session.h"

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
    // Usage warnings: the 5-hour window passing each percent (0: off), once
    // per window; a session's context passing its percent, once per session.
    int planWarnPercent = 80;
    int planAlarmPercent = 95;
    int contextWarnPercent = 90;
};

struct Notice
{
    QString body; // the title is the agent's name, " - " and the session's name
    bool operator==(const Notice &) const = default;
};

// The notice for an event as EventRules applied it, judged on the session as
// it was before. Permission and question notices follow the permission
// switch, completion and failure notices the task-complete one. What Tolvo
// cannot name, it does not announce.
std::optional<Notice> decide(const EventRules::Applied &applied, const HookEvent &event,
                             const Preferences &preferences);

// The body of a notification that asks the user to act, from the newest log
// entry; nullopt when the entry names nothing to act on.
std::optional<QString> actionText(const ActivityEvent &last);

} // namespace NotificationPolicy
