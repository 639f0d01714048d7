#include "sessiontext.h"

#include "textrules.h"
#include "tooltable.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <cmath>

namespace SessionText {

namespace {

QString workingText(const Session &instance)
{
    if (!instance.activityLog.isEmpty()) {
        const ActivityEvent &newest = instance.activityLog.constLast();
        const EventRules::EntryText last = EventRules::entryText(newest);
        if (newest.kind == HookEventKind::userPromptSubmit && last.details)
            return QStringLiteral("Prompted: ") + TextRules::shortened(*last.details, 40);
        if (instance.currentTool) {
            QString text = QStringLiteral("Working: ") + *instance.currentTool;
            if (last.details && EventRules::describesWork(newest.kind))
                text += ToolTable::statusSuffix(*instance.currentTool, *last.details);
            return text;
        }
    }
    // A cleared log leaves only the event history to go by.
    if (instance.lastNonNotificationEvent)
        return QStringLiteral("Working: ") +
               eventTypeLabel(hookEventName(*instance.lastNonNotificationEvent));
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
    // A permission request says what it asks for.
    if (!instance.activityLog.isEmpty() &&
        instance.activityLog.constLast().kind == HookEventKind::permissionRequest) {
        const EventRules::EntryText last = EventRules::entryText(instance.activityLog.constLast());
        if (last.details)
            text += ToolTable::statusSuffix(*instance.currentTool, *last.details);
    }
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
        return QStringLiteral("Failed: ") + instance.failure.value_or(QString());
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
    return instance.status != SessionStatus::off && !instance.exited;
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

QString eventTypeLabel(const QString &eventType)
{
    static const QHash<QString, QString> labels{
        {QStringLiteral("UserPromptSubmit"), QStringLiteral("Prompted")},
        {QStringLiteral("PreToolUse"), QStringLiteral("Starting Tool")},
        {QStringLiteral("PostToolUse"), QStringLiteral("Finished Tool")},
        {QStringLiteral("PreCompact"), QStringLiteral("Compacting Context")},
        {QStringLiteral("Stop"), QStringLiteral("Completed")},
        {QStringLiteral("SubagentStop"), QStringLiteral("Agent Completed")},
        {QStringLiteral("Notification"), QStringLiteral("Notification")},
        {QStringLiteral("SessionStart"), QStringLiteral("Session started")},
        {QStringLiteral("SessionEnd"), QStringLiteral("Session ended")},
        {QStringLiteral("PermissionRequest"), QStringLiteral("Permission requested")},
        {QStringLiteral("StopFailure"), QStringLiteral("Turn failed")},
    };
    return labels.value(eventType, eventType);
}

QString eventTitle(const EventRules::EntryText &entry)
{
    const bool agent = entry.toolName == u"Launching Agent";
    if (entry.eventType == u"PreToolUse")
        return agent ? QStringLiteral("Launching Agent") : QStringLiteral("Starting Tool");
    if (entry.eventType == u"PostToolUse")
        return agent ? QStringLiteral("Agent Completed") : QStringLiteral("Finished Tool");
    if (entry.eventType == u"SubagentStop")
        return QStringLiteral("Agent Work Finished");
    return eventTypeLabel(entry.eventType);
}

QString logToolText(const EventRules::EntryText &entry)
{
    if (!entry.toolName || *entry.toolName == u"Launching Agent")
        return {};
    return QStringLiteral("\u2022 ") + *entry.toolName;
}

QString logDetailsText(const EventRules::EntryText &entry)
{
    if (!entry.details || entry.details->isEmpty())
        return {};
    if (entry.eventType == u"PreCompact")
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
