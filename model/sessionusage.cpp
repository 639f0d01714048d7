// What the sessions' status lines report, summed up for the header, the tray
// and tolvoctl.

#include "sessionlistmodel.h"

#include <QVariantMap>
#include <algorithm>

namespace {

QVariantMap usageData(const Session &session)
{
    QVariantMap data;
    if (!session.usage)
        return data;
    const SessionUsage &usage = *session.usage;
    if (usage.model)
        data.insert(QStringLiteral("model"), *usage.model);
    if (usage.contextPercent) {
        data.insert(QStringLiteral("contextText"), Usage::contextText(usage));
        data.insert(QStringLiteral("contextFraction"), *usage.contextPercent / 100);
        data.insert(QStringLiteral("contextRed"),
                    *usage.contextPercent >= Usage::contextRedPercent);
    }
    if (usage.costUsd)
        data.insert(QStringLiteral("costText"), Usage::costText(usage.costUsd));
    if (const QString details = Usage::detailsText(usage); !details.isEmpty())
        data.insert(QStringLiteral("detailsText"), details);
    return data;
}

} // namespace

QVariant SessionListModel::usageData(int row) const
{
    return ::usageData(m_rows.at(row).session);
}

// A status line's report: the session's usage is already applied; the cost of
// the day follows its total.
void SessionListModel::tookUsage(int row)
{
    const Session &session = m_rows.at(row).session;
    if (session.usage && session.usage->costUsd) {
        const QString key =
            session.host + u'\n' +
            (session.agentSessionId.isEmpty() ? session.id : session.agentSessionId);
        m_costLedger.record(key, *session.usage->costUsd, session.usageAt);
        m_store.setCostLedger(m_costLedger.toJson());
    }
    warnOfUsage(row);
    Q_EMIT usageChanged();
}

// Once per 5-hour window for each percent it passes, once per session for its
// context: the user can still act before the work stops.
void SessionListModel::warnOfUsage(int row)
{
    Session &session = m_rows[row].session;
    const SessionUsage &usage = *session.usage;
    const NotificationPolicy::Preferences preferences = m_preferences();
    const auto notify = [&](const QString &body) {
        Q_EMIT notificationRequested(notificationOf(session, body, Quiet::NoticeKind::usage));
    };
    if (const auto &window = usage.fiveHour) {
        if (window->resetsAt != m_planWarnedWindow) {
            m_planWarnedWindow = window->resetsAt;
            m_planWarnedPercent = 0;
        }
        int passed = 0;
        for (const int percent : {preferences.planWarnPercent, preferences.planAlarmPercent}) {
            if (percent > 0 && window->usedPercent >= percent)
                passed = std::max(passed, percent);
        }
        if (passed > m_planWarnedPercent) {
            m_planWarnedPercent = passed;
            notify(QStringLiteral("5-hour limit at ") +
                   Usage::planLimitsTexts({window, std::nullopt}, wallClockNow()).value(0).mid(3));
        }
    }
    if (preferences.contextWarnPercent > 0 && usage.contextPercent && !session.contextWarned &&
        *usage.contextPercent >= preferences.contextWarnPercent) {
        session.contextWarned = true;
        notify(QStringLiteral("Context %1 full: compaction soon").arg(Usage::contextText(usage)));
    }
}

Usage::PlanLimits SessionListModel::planLimits() const
{
    QList<const Session *> sessions;
    for (const Row &row : m_rows)
        sessions.append(&row.session);
    return Usage::planLimits(sessions, wallClockNow());
}

double SessionListModel::costToday() const
{
    return m_costLedger.today(wallClockNow());
}

int SessionListModel::sessionsNearlyFull() const
{
    int count = 0;
    for (const Row &row : m_rows) {
        const Session &s = row.session;
        if (!s.exited && s.usage && s.usage->contextPercent &&
            *s.usage->contextPercent > Usage::contextFullPercent)
            ++count;
    }
    return count;
}

QString SessionListModel::usageSummary() const
{
    const WallClockTime now = wallClockNow();
    QStringList parts = Usage::planLimitsTexts(planLimits(), now);
    const double cost = costToday();
    if (cost > 0)
        parts.append(Usage::costText(cost) + QStringLiteral(" today"));
    if (const int full = sessionsNearlyFull(); full > 0)
        parts.append(
            QStringLiteral("%1 above %2% context").arg(full).arg(int(Usage::contextFullPercent)));
    return parts.join(QStringLiteral(" · "));
}

QJsonObject SessionListModel::usageJson() const
{
    QJsonObject object = Usage::toJson(planLimits());
    object.insert(QStringLiteral("costTodayUsd"), costToday());
    object.insert(QStringLiteral("sessionsNearlyFull"), sessionsNearlyFull());
    object.insert(QStringLiteral("limits"),
                  Usage::planLimitsTexts(planLimits(), wallClockNow()).join(QStringLiteral(" · ")));
    object.insert(QStringLiteral("summary"), usageSummary());
    return object;
}
