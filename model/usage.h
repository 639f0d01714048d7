#pragma once

// Usage as Claude Code's status line reports it: the texts of a session's
// row, the plan limits its sessions share, and what the day has cost.

#include "hookevent.h"
#include "wallclock.h"

#include <QDate>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct Session;

namespace Usage {

// From this share of its context on, a session's bar and percent are red.
inline constexpr double contextRedPercent = 90;
// Sessions above this share count as "full" in the sums.
inline constexpr double contextFullPercent = 80;

// "42%"; empty without a percentage.
QString contextText(const SessionUsage &usage);
// "$1.23", "<$0.01" for less than a cent above nothing; empty without a cost.
QString costText(const std::optional<double> &usd);
// The expanded row's: "+120 −30 lines · 12 min"; empty without either.
QString detailsText(const SessionUsage &usage);
// What `tolvoctl status --json` lists per session.
QJsonObject toJson(const SessionUsage &usage);

// The plan's windows, from the newest status line that had each; a window
// whose reset has passed is gone.
struct PlanLimits
{
    std::optional<UsageWindow> fiveHour;
    std::optional<UsageWindow> sevenDay;
    bool operator==(const PlanLimits &) const = default;
};
PlanLimits planLimits(const QList<const Session *> &sessions, WallClockTime now);
// "5h 42% · resets 14:10" and "7d 18%", each where its window is known; the
// reset in local time, with the weekday when it is not today.
QStringList planLimitsTexts(const PlanLimits &limits, WallClockTime now);
QJsonObject toJson(const PlanLimits &limits);

// What the sessions cost today: the increases of each session's total seen
// since local midnight, kept across restarts (toJson/fromJson).
class CostLedger
{
public:
    // The session's total as its status line says it now. The first total
    // of a session counts whole; one that went down started afresh.
    void record(const QString &session, double totalUsd, WallClockTime now);
    double today(WallClockTime now) const;

    QJsonObject toJson() const;
    static CostLedger fromJson(const QJsonObject &object);

    bool operator==(const CostLedger &) const = default;

private:
    static constexpr qsizetype sessionLimit = 512; // totals remembered
    QDate m_day;
    double m_total = 0;
    QHash<QString, double> m_seen;
};

} // namespace Usage
