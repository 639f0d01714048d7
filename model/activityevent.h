#pragma once

#include "optionalhash.h"
#include "wallclock.h"

#include <QString>
#include <QUuid>
#include <optional>

// One line of an instance's activity log.
struct ActivityEvent
{
    QUuid id;
    WallClockTime timestamp = 0;
    QString eventType;
    std::optional<QString> toolName;
    std::optional<QString> details;
    std::optional<QString> rawJSON;

    bool operator==(const ActivityEvent &) const = default;
};

inline size_t qHash(const ActivityEvent &e, size_t seed = 0)
{
    return qHashMulti(seed, e.id, e.timestamp, e.eventType, e.toolName, e.details, e.rawJSON);
}
