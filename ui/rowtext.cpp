#include "rowtext.h"

#include "textrules.h"

#include <QDateTime>
#include <QJsonDocument>
#include <cmath>

namespace RowText {

namespace {

QString workingText(const ClaudeCodeInstance &instance)
{
    const QList<ActivityEvent> &log = instance.activityLog;
    if (!log.isEmpty()) {
        const ActivityEvent &last = log.constLast();
        if (last.eventType == u"UserPromptSubmit" && last.details)
            return QStringLiteral("Prompted: ") + TextRules::shortened(*last.details, 40);
        if (instance.currentTool) {
            QString text = QStringLiteral("Working: ") + *instance.currentTool;
            if (last.details)
                text += toolSuffix(*instance.currentTool, *last.details);
            return text;
        }
    }
    // A cleared log leaves only the event history to go by.
    if (instance.lastNonNotificationEvent)
        return QStringLiteral("Working: ") + eventTypeLabel(*instance.lastNonNotificationEvent);
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

QString statusLineText(const ClaudeCodeInstance &instance)
{
    switch (instance.status) {
    case InstanceStatus::off:
        return QStringLiteral("Waiting for events");
    case InstanceStatus::ready:
        return QStringLiteral("Ready");
    case InstanceStatus::waitingForInput:
        if (instance.currentTool)
            return QStringLiteral("Waiting for Input: ") + *instance.currentTool;
        return QStringLiteral("Waiting for Input");
    case InstanceStatus::error:
        return QStringLiteral("Error");
    case InstanceStatus::working:
        return workingText(instance);
    }
    return {};
}

QString toolSuffix(const QString &tool, const QString &details)
{
    using TextRules::arrow;
    if (tool == u"Fetch") {
        if (const auto host = TextRules::urlHostOrText(details))
            return arrow + *host;
        // Not a URL: described like any other tool below.
    } else if (tool == u"Grep" || tool == u"Web Search" || tool == u"Glob") {
        return arrow + u'"' + TextRules::shortened(details, 30) + u'"';
    } else if (tool == u"Bash") {
        return arrow + TextRules::shortened(details, 40);
    } else if (tool == u"LS" || tool == u"Launching Agent") {
        return arrow + details;
    }
    if (const auto piece = TextRules::lastSlashPiece(details))
        return arrow + *piece;
    return {};
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
    };
    return labels.value(eventType, eventType);
}

QString eventTitle(const ActivityEvent &event)
{
    const bool agent = event.toolName == u"Launching Agent";
    if (event.eventType == u"PreToolUse")
        return agent ? QStringLiteral("Launching Agent") : QStringLiteral("Starting Tool");
    if (event.eventType == u"PostToolUse")
        return agent ? QStringLiteral("Agent Completed") : QStringLiteral("Finished Tool");
    if (event.eventType == u"SubagentStop")
        return QStringLiteral("Agent Work Finished");
    return eventTypeLabel(event.eventType);
}

QString formattedJSON(const QString &rawJSON)
{
    // QJsonDocument takes only an object or an array at the top, and
    // QJsonObject keeps its keys sorted, so writing it out sorts every level.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(rawJSON.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return rawJSON;
    QString text = QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

QString logToolText(const ActivityEvent &event)
{
    if (!event.toolName || *event.toolName == u"Launching Agent")
        return {};
    return QStringLiteral("\u2022 ") + *event.toolName;
}

QString logDetailsText(const ActivityEvent &event)
{
    if (!event.details || event.details->isEmpty())
        return {};
    if (event.eventType == u"PreCompact")
        return QStringLiteral("Trigger: ") + *event.details;
    return *event.details;
}

QString timeOfDayText(WallClockTime time, const QLocale &locale)
{
    const auto msecs = qint64(std::floor(time * 1000.0));
    const QTime local = QDateTime::fromMSecsSinceEpoch(msecs).time();
    return locale.toString(local, withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString subtitle(qint64 count)
{
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" instance") : QStringLiteral(" instances"));
}

std::array<QPointF, 3> chevronPoints(double w, double h, double progress)
{
    const double a = (0.5 - std::abs(progress - 0.5)) * h * 0.5;
    const double b = (progress - 0.5) * h * 0.5;
    const double yEnd = b + (h * 0.5 - a);
    const double yTip = (h * 0.5 + a) - b;
    return {QPointF(0, yEnd), QPointF(w * 0.5, yTip), QPointF(w, yEnd)};
}

QColor statusColor(StatusColor color)
{
    // Each shade keeps at least 3:1 contrast against white, a light gray
    // window and a dark gray window, so one set serves both themes.
    switch (color) {
    case StatusColor::green:
        return QColor(0x2B, 0x9C, 0x4A);
    case StatusColor::yellow:
        return QColor(0xB9, 0x83, 0x00);
    case StatusColor::red:
        return QColor(0xE5, 0x48, 0x3C);
    case StatusColor::gray:
        return QColor(0x8A, 0x8A, 0x8F);
    }
    return QColor(0x8A, 0x8A, 0x8F);
}

} // namespace RowText
