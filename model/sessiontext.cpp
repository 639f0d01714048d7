#include "sessiontext.h"

#include "textrules.h"
#include "tooltable.h"

#include <QDateTime>
#include <QJsonDocument>
#include <cmath>

namespace SessionText {

namespace {

QString workingText(const Session &instance)
{
    if (!instance.activityLog.isEmpty()) {
        const ActivityEvent &newest = instance.activityLog.constLast();
        if (newest.kind == HookEventKind::userPromptSubmit && newest.details)
            return QStringLiteral("Prompted: ") + TextRules::shortened(*newest.details, 40);
        if (instance.currentTool) {
            QString text = QStringLiteral("Working: ") + *instance.currentTool;
            if (newest.details && EventRules::describesWork(newest.kind))
                text += ToolTable::statusSuffix(*instance.currentTool, *newest.details);
            return text;
        }
    }
    // A cleared log leaves only the event history to go by.
    if (instance.lastNonNotificationEvent)
        return QStringLiteral("Working: ") + hookEventLabel(*instance.lastNonNotificationEvent);
    return QStringLiteral("Working");
}

// The locale's time format without its time-zone field. Quoted text in a
// format string is literal and stays.
QString withoutTimeZone(const QString &format)
{
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.simplified();
}

} // namespace

namespace {

QString waitingText(const Session &instance)
{
    if (!instance.currentTool)
        return QStringLiteral("Waiting for Input");
    QString text = QStringLiteral("Waiting for Input: ") + *instance.currentTool;
    // A permission request says what it asks for; Gemini CLI makes none, and
    // its notice of the prompt follows the tool's start, which says it.
    const QList<ActivityEvent> &log = instance.activityLog;
    const ActivityEvent *asking = nullptr;
    if (!log.isEmpty() && log.constLast().kind == HookEventKind::permissionRequest)
        asking = &log.constLast();
    else if (instance.agent == Agent::gemini && log.size() >= 2 &&
             log.constLast().kind == HookEventKind::notification &&
             log.at(log.size() - 2).kind == HookEventKind::preToolUse)
        asking = &log.at(log.size() - 2);
    if (asking && asking->details)
        text += ToolTable::statusSuffix(*instance.currentTool, *asking->details);
    return text;
}

QString stateText(const Session &instance)
{
    switch (instance.status) {
    case SessionStatus::off:
        return QStringLiteral("Waiting for events");
    case SessionStatus::ready:
        return QStringLiteral("Ready");
    case SessionStatus::waitingForInput:
        return waitingText(instance);
    case SessionStatus::failed:
        return QStringLiteral("Failed: ") +
               TextRules::failureText(instance.failure.value_or(QString()));
    case SessionStatus::working:
        return workingText(instance);
    }
    return {};
}

} // namespace

QString statusLine(const Session &instance, WallClockTime now)
{
    QString line = stateText(instance);
    if (showsDuration(instance))
        line += durationSuffix(instance.statusSince, now);
    return line;
}

bool showsDuration(const Session &instance)
{
    return instance.status != SessionStatus::off && !instance.exited && !instance.disconnected;
}

QString durationSuffix(WallClockTime since, WallClockTime now)
{
    const auto minutes = qint64((now - since) / 60);
    if (minutes < 1)
        return {};
    if (minutes < 60)
        return QStringLiteral(" · %1 min").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral(" · %1 h").arg(minutes / 60);
    return QStringLiteral(" · %1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString eventTitle(const ActivityEvent &entry)
{
    const bool agent = entry.tool == u"Launching Agent";
    switch (entry.kind) {
    case HookEventKind::preToolUse:
        return agent ? QStringLiteral("Launching Agent") : QStringLiteral("Starting Tool");
    case HookEventKind::postToolUse:
        return agent ? QStringLiteral("Agent Completed") : QStringLiteral("Finished Tool");
    case HookEventKind::subagentStop:
        return QStringLiteral("Agent Work Finished");
    case HookEventKind::userPromptSubmit:
    case HookEventKind::stop:
    case HookEventKind::notification:
    case HookEventKind::preCompact:
    case HookEventKind::sessionStart:
    case HookEventKind::sessionEnd:
    case HookEventKind::permissionRequest:
    case HookEventKind::stopFailure:
    case HookEventKind::interrupt:
        return hookEventLabel(entry.kind);
    case HookEventKind::statusLine:
    case HookEventKind::other: // never logged
        break;
    }
    return {};
}

QString logToolText(const ActivityEvent &entry)
{
    if (!entry.tool || *entry.tool == u"Launching Agent")
        return {};
    return QStringLiteral("\u2022 ") + *entry.tool;
}

QString logDetailsText(const ActivityEvent &entry)
{
    if (!entry.details || entry.details->isEmpty())
        return {};
    if (entry.kind == HookEventKind::preCompact)
        return QStringLiteral("Trigger: ") + *entry.details;
    return *entry.details;
}

QString formattedJSON(const QByteArray &rawJSON)
{
    // QJsonDocument takes only an object or an array at the top, and
    // QJsonObject keeps its keys sorted, so writing it out sorts every level.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(rawJSON, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return QString::fromUtf8(rawJSON);
    QString text = QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

QString timeOfDay(WallClockTime time, const QLocale &locale)
{
    const auto msecs = qint64(std::floor(time * 1000.0));
    const QTime local = QDateTime::fromMSecsSinceEpoch(msecs).time();
    return locale.toString(local, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString subtitle(qint64 count)
{
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" session") : QStringLiteral(" sessions"));
}

} // namespace SessionText
