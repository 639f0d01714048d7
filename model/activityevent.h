#pragma once

#include "hookevent.h"
#include "wallclock.h"

#include <QByteArray>

// One line of a session's activity log. Only the record is kept, compact and
// as received; what the line shows is worked out from it when it is shown
// (EventRules::entryText), so a log costs little more than its records' bytes.
struct ActivityEvent
{
    quint64 id = 0; // unique within the run
    WallClockTime timestamp = 0;
    HookEventKind kind = HookEventKind::other;
    QByteArray record;

    bool operator==(const ActivityEvent &) const = default;
};
