#include "hookevent.h"

#include "permissionhold.h"
#include "usagebounds.h"

#include <QJsonDocument>
#include <limits>

namespace {

std::optional<QString> text(const QJsonObject &record, QStringView key)
{
    const QJsonValue value = record.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<double> number(const QJsonObject &object, QStringView key, UsageBounds::Range range)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble() || !UsageBounds::admits(range, value.toDouble()))
        return std::nullopt;
    return value.toDouble();
}

std::optional<qint64> whole(const QJsonObject &object, QStringView key, UsageBounds::Range range)
{
    const std::optional<double> value = number(object, key, range);
    return value ? std::optional(qint64(*value)) : std::nullopt;
}

std::optional<QString> shortText(const QJsonObject &object, QStringView key)
{
    std::optional<QString> value = text(object, key);
    if (value && value->toUtf8().size() > qsizetype(UsageBounds::textBytes))
        return std::nullopt;
    return value;
}

std::optional<UsageWindow> usageWindow(const QJsonObject &object, QStringView key)
{
    const QJsonObject window = object.value(key).toObject();
    const std::optional<double> used = number(window, u"used_percent", UsageBounds::percent);
    if (!used)
        return std::nullopt;
    return UsageWindow{*used, whole(window, u"resets_at", UsageBounds::resetsAt)};
}

// Checked again: anybody of the user's may write into the pipe.
SessionUsage sessionUsage(const QJsonObject &usage)
{
    SessionUsage decoded;
    decoded.model = shortText(usage, u"model");
    decoded.modelId = shortText(usage, u"model_id");
    decoded.contextPercent = number(usage, u"context_percent", UsageBounds::percent);
    decoded.contextSize = whole(usage, u"context_size", UsageBounds::contextSize);
    decoded.costUsd = number(usage, u"cost_usd", UsageBounds::costUsd);
    decoded.durationMs = whole(usage, u"duration_ms", UsageBounds::durationMs);
    decoded.linesAdded = whole(usage, u"lines_added", UsageBounds::lines);
    decoded.linesRemoved = whole(usage, u"lines_removed", UsageBounds::lines);
    decoded.fiveHour = usageWindow(usage, u"five_hour");
    decoded.sevenDay = usageWindow(usage, u"seven_day");
    return decoded;
}

} // namespace

HookEventKind hookEventKind(QStringView name, const QString &agent)
{
    // Every wire name is ASCII: a name with anything else is no kind's.
    QByteArray latin1;
    latin1.reserve(name.size());
    for (QChar c : name) {
        if (c.unicode() >= 0x80)
            return HookEventKind::other;
        latin1.append(char(c.unicode()));
    }
    const QByteArray token = agent.toLatin1();
    return hookEventKindOf(std::string_view(token.constData(), size_t(token.size())),
                           std::string_view(latin1.constData(), size_t(latin1.size())));
}

QString hookEventName(HookEventKind kind)
{
    const HookEventKindRow *row = hookEventKindRow(kind);
    return row ? QString::fromLatin1(row->wireName) : QString();
}

QString hookEventLabel(HookEventKind kind)
{
    const HookEventKindRow *row = hookEventKindRow(kind);
    return row ? QString::fromLatin1(row->label) : QString();
}

NotificationType HookEvent::notificationKind() const
{
    const QString type = notificationType.value_or(details.value_or(QString()));
    if (type.contains(u"idle"))
        return NotificationType::idle;
    if (type == u"elicitation_dialog")
        return NotificationType::question;
    if (type == u"permission_prompt" || type == u"ToolPermission" || !notificationType)
        return NotificationType::permission;
    return NotificationType::other;
}

std::optional<qint64> parseProcessId(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;

    // Accumulate towards the negative side, which has room for the minimum.
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == min)
        return std::nullopt;
    return -value;
}

std::variant<HookEvent, HookRecordRejected>
decodeHookRecord(const QJsonObject &object, const QByteArray &record, qint64 ownPid)
{
    const QJsonValue event = object.value(u"event");
    const QJsonValue instance = object.value(u"instance");
    if (object.isEmpty() || !event.isString() || !instance.isString())
        return HookRecordRejected{
            QStringLiteral("⚠️ Invalid event format: missing required fields")};

    const QString pidText = instance.toString();
    std::optional<qint64> pid = parseProcessId(pidText);
    if (!pid && pidText == u"$PPID")
        pid = ownPid;
    if (!pid)
        return HookRecordRejected{QStringLiteral("⚠️ Invalid PID format: ") + pidText};

    const QString agent = object.value(u"agent").toString();
    if (agent.size() > 16 || !isAgentToken(agent.toLatin1().toStdString()))
        return HookRecordRejected{QStringLiteral("⚠️ Invalid event format: unknown agent")};

    HookEvent decoded;
    decoded.agent = agent;
    decoded.event = event.toString();
    decoded.kind = hookEventKind(decoded.event, agent);
    decoded.pid = *pid;
    decoded.tool = text(object, u"tool");
    decoded.details = text(object, u"details");
    decoded.workingDirectory = text(object, u"working_directory");
    decoded.notificationType = text(object, u"notification_type");
    decoded.message = text(object, u"message");
    decoded.source = text(object, u"source");
    decoded.reason = text(object, u"reason");
    decoded.error = text(object, u"error");
    decoded.reply = text(object, u"reply");
    decoded.transcriptPath = text(object, u"transcript_path");
    decoded.sessionId = text(object, u"session_id");
    decoded.terminal = object.value(u"terminal").toObject();
    decoded.permissionSuggestions = object.value(u"permission_suggestions").toArray();
    decoded.fromSubagent = !object.value(u"agent_id").toString().isEmpty();
    // Both or neither: an id is only of use with the process that waits on it.
    const std::optional<QString> requestId = text(object, u"request");
    const qint64 helperPid = object.value(u"helper_pid").toInteger();
    if (requestId && helperPid > 0 && PermissionHold::isRequestId(requestId->toStdString()) &&
        decoded.kind == HookEventKind::permissionRequest) {
        decoded.requestId = requestId;
        decoded.helperPid = helperPid;
    }
    const QJsonValue usage = object.value(u"usage");
    if (decoded.kind == HookEventKind::statusLine && usage.isObject())
        decoded.usage = sessionUsage(usage.toObject());
    decoded.record = record;
    return decoded;
}

std::variant<HookEvent, HookRecordRejected> decodeHookRecord(const QByteArray &record,
                                                             qint64 ownPid)
{
    const QJsonDocument document = QJsonDocument::fromJson(record);
    return decodeHookRecord(document.object(), record, ownPid);
}
