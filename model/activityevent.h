#pragma once

#include "hookevent.h"
#include "wallclock.h"

#include <QByteArray>
#include <QString>
#include <optional>

// One line of a session's activity log: what it shows, worked out once when
// the event was applied, and the record as received (compact, for its JSON
// panel).
struct ActivityEvent
{
    quint64 id = 0; // unique within the run
    WallClockTime timestamp = 0;
    HookEventKind kind = HookEventKind::other;
    std::optional<QString> tool; // as the log names it: "Bash", "Reading File"
    std::optional<QString> details;
    QByteArray record;

    bool operator==(const ActivityEvent &) const = default;
};
