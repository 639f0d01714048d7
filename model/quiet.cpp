#include "quiet.h"

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>

namespace Quiet {

Reason silencedBy(const Facts &facts, const State &state, WallClockTime now)
{
    if (state.until > now)
        return Reason::doNotDisturb;
    if (state.inhibited)
        return Reason::inhibited;
    if (facts.muted)
        return Reason::muted;
    // A turn of unknown length (Tolvo came in the middle of it) is told.
    if (facts.kind == NoticeKind::completed && facts.turnSeconds &&
        *facts.turnSeconds < state.completedAfterSeconds)
        return Reason::shortTurn;
    return Reason::none;
}

WallClockTime untilOf(const QString &stored)
{
    if (stored == u"on")
        return forever;
    bool ok = false;
    const qint64 seconds = stored.toLongLong(&ok);
    return ok && seconds > 0 ? WallClockTime(seconds) : 0;
}

QString storedUntil(WallClockTime until)
{
    if (until >= forever)
        return QStringLiteral("on");
    return until > 0 ? QString::number(qint64(std::ceil(until))) : QString();
}

std::optional<WallClockTime> untilFor(const QString &choice, WallClockTime now)
{
    if (choice == u"off")
        return 0;
    if (choice == u"on")
        return forever;
    if (choice == u"hour")
        return now + 3600;
    if (choice == u"tomorrow") {
        const QDateTime today = QDateTime::fromSecsSinceEpoch(qint64(now));
        return WallClockTime(QDateTime(today.date().addDays(1), QTime(8, 0)).toSecsSinceEpoch());
    }
    return std::nullopt;
}

std::optional<double> durationSeconds(const QString &text)
{
    static const QRegularExpression span(QStringLiteral("^(?:(\\d{1,6})d)?(?:(\\d{1,6})h)?"
                                                        "(?:(\\d{1,6})m)?(?:(\\d{1,8})s)?$"));
    const QRegularExpressionMatch match = span.match(text);
    if (text.isEmpty() || !match.hasMatch())
        return std::nullopt;
    const double seconds = match.captured(1).toDouble() * 86400 +
                           match.captured(2).toDouble() * 3600 + match.captured(3).toDouble() * 60 +
                           match.captured(4).toDouble();
    if (seconds <= 0 || seconds > 366 * 86400)
        return std::nullopt;
    return seconds;
}

QString describe(const State &state, WallClockTime now)
{
    if (state.until >= forever)
        return QStringLiteral("Do not disturb");
    if (state.until > now) {
        const QDateTime when = QDateTime::fromSecsSinceEpoch(qint64(std::ceil(state.until)));
        const QDate today = QDateTime::fromSecsSinceEpoch(qint64(now)).date();
        const QString time = when.toString(QStringLiteral("HH:mm"));
        if (when.date() == today)
            return QStringLiteral("Do not disturb until ") + time;
        if (when.date() == today.addDays(1))
            return QStringLiteral("Do not disturb until tomorrow, ") + time;
        return QStringLiteral("Do not disturb until ") +
               when.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    return state.inhibited ? QStringLiteral("Notifications paused by the desktop") : QString();
}

QString reasonToken(const State &state, WallClockTime now)
{
    if (state.until > now)
        return QStringLiteral("doNotDisturb");
    return state.inhibited ? QStringLiteral("inhibited") : QString();
}

} // namespace Quiet
