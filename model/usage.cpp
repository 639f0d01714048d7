#include "usage.h"

#include "session.h"

#include <QDateTime>
#include <QJsonArray>
#include <QLocale>
#include <algorithm>
#include <cmath>

namespace Usage {

namespace {

QDate localDay(WallClockTime now)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(now * 1000)).date();
}

QJsonObject windowJson(const UsageWindow &window)
{
    QJsonObject object{{QStringLiteral("usedPercent"), window.usedPercent}};
    if (window.resetsAt)
        object.insert(QStringLiteral("resetsAt"), *window.resetsAt);
    return object;
}

QString durationText(qint64 ms)
{
    const qint64 minutes = ms / 60000;
    if (minutes < 1)
        return QStringLiteral("%1 s").arg(ms / 1000);
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    return minutes % 60 == 0 ? QStringLiteral("%1 h").arg(minutes / 60)
                             : QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString resetText(qint64 resetsAt, WallClockTime now)
{
    const QDateTime at = QDateTime::fromSecsSinceEpoch(resetsAt);
    const QString time = at.toString(QStringLiteral("HH:mm"));
    if (at.date() == localDay(now))
        return time;
    return QLocale::c().toString(at, QStringLiteral("ddd HH:mm"));
}

} // namespace

QString contextText(const SessionUsage &usage)
{
    if (!usage.contextPercent)
        return {};
    return QString::number(std::lround(*usage.contextPercent)) + u'%';
}

QString costText(const std::optional<double> &usd)
{
    if (!usd)
        return {};
    if (*usd > 0 && *usd < 0.005)
        return QStringLiteral("<$0.01");
    return u'$' + QString::number(*usd, 'f', 2);
}

QString detailsText(const SessionUsage &usage)
{
    QStringList parts;
    if (usage.linesAdded || usage.linesRemoved)
        parts.append(QStringLiteral("+%1 \u2212%2 lines")
                         .arg(usage.linesAdded.value_or(0))
                         .arg(usage.linesRemoved.value_or(0)));
    if (usage.durationMs)
        parts.append(durationText(*usage.durationMs));
    return parts.join(QStringLiteral(" · "));
}

QJsonObject toJson(const SessionUsage &usage)
{
    QJsonObject object;
    const auto put = [&](const char *key, const auto &value) {
        if (value)
            object.insert(QLatin1String(key), *value);
    };
    put("model", usage.model);
    put("modelId", usage.modelId);
    put("contextPercent", usage.contextPercent);
    put("contextSize", usage.contextSize);
    put("costUsd", usage.costUsd);
    put("durationMs", usage.durationMs);
    put("linesAdded", usage.linesAdded);
    put("linesRemoved", usage.linesRemoved);
    if (usage.fiveHour)
        object.insert(QStringLiteral("fiveHour"), windowJson(*usage.fiveHour));
    if (usage.sevenDay)
        object.insert(QStringLiteral("sevenDay"), windowJson(*usage.sevenDay));
    return object;
}

PlanLimits planLimits(const QList<const Session *> &sessions, WallClockTime now)
{
    PlanLimits limits;
    WallClockTime fiveHourAt = 0, sevenDayAt = 0;
    const auto take = [&](const std::optional<UsageWindow> &window, WallClockTime at,
                          std::optional<UsageWindow> &into, WallClockTime &newest) {
        if (!window || at < newest || (window->resetsAt && *window->resetsAt <= now))
            return;
        into = window;
        newest = at;
    };
    for (const Session *session : sessions) {
        if (!session->usage)
            continue;
        take(session->usage->fiveHour, session->usageAt, limits.fiveHour, fiveHourAt);
        take(session->usage->sevenDay, session->usageAt, limits.sevenDay, sevenDayAt);
    }
    return limits;
}

QStringList planLimitsTexts(const PlanLimits &limits, WallClockTime now)
{
    QStringList texts;
    if (limits.fiveHour) {
        QString text = QStringLiteral("5h %1%").arg(std::lround(limits.fiveHour->usedPercent));
        if (limits.fiveHour->resetsAt)
            text += QStringLiteral(" · resets ") + resetText(*limits.fiveHour->resetsAt, now);
        texts.append(text);
    }
    if (limits.sevenDay)
        texts.append(QStringLiteral("7d %1%").arg(std::lround(limits.sevenDay->usedPercent)));
    return texts;
}

QJsonObject toJson(const PlanLimits &limits)
{
    QJsonObject object;
    if (limits.fiveHour)
        object.insert(QStringLiteral("fiveHour"), windowJson(*limits.fiveHour));
    if (limits.sevenDay)
        object.insert(QStringLiteral("sevenDay"), windowJson(*limits.sevenDay));
    return object;
}

void CostLedger::record(const QString &session, double totalUsd, WallClockTime now)
{
    const QDate day = localDay(now);
    if (day != m_day) {
        m_day = day;
        m_total = 0;
    }
    const auto seen = m_seen.constFind(session);
    const double before = seen == m_seen.cend() ? 0 : *seen;
    m_total += totalUsd >= before ? totalUsd - before : totalUsd;
    if (seen == m_seen.cend() && m_seen.size() >= sessionLimit)
        m_seen.clear(); // rare: a long-lived Tolvo that saw this many sessions
    m_seen.insert(session, totalUsd);
}

double CostLedger::today(WallClockTime now) const
{
    return localDay(now) == m_day ? m_total : 0;
}

QJsonObject CostLedger::toJson() const
{
    QJsonObject seen;
    for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
        seen.insert(it.key(), it.value());
    return {{QStringLiteral("day"), m_day.toString(Qt::ISODate)},
            {QStringLiteral("total"), m_total},
            {QStringLiteral("seen"), seen}};
}

CostLedger CostLedger::fromJson(const QJsonObject &object)
{
    CostLedger ledger;
    ledger.m_day = QDate::fromString(object.value(u"day").toString(), Qt::ISODate);
    const double total = object.value(u"total").toDouble();
    ledger.m_total = std::isfinite(total) && total >= 0 ? total : 0;
    const QJsonObject seen = object.value(u"seen").toObject();
    for (auto it = seen.begin(); it != seen.end() && ledger.m_seen.size() < sessionLimit; ++it) {
        const double value = it.value().toDouble(-1);
        if (std::isfinite(value) && value >= 0)
            ledger.m_seen.insert(it.key(), value);
    }
    return ledger;
}

} // namespace Usage
