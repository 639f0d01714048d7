#include "eventrules.h"

#include "tooltable.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <utility>

namespace EventRules {

namespace {

using enum HookEventKind;

// A member taken as text: its string value, else the raw details.
QString memberText(const QJsonObject &input, QStringView key, const QString &raw)
{
    const QJsonValue value = input.value(key);
    return value.isString() ? value.toString() : raw;
}

QString filePathDetails(const QJsonObject &input, const QString &raw,
                        const std::optional<QString> &workingDirectory)
{
    const QJsonValue filePath = input.value(u"file_path");
    if (!filePath.isString())
        return raw;
    const QString file = filePath.toString();
    if (!workingDirectory || !file.startsWith(*workingDirectory))
        return file;

    const QString path = QDir::cleanPath(file);
    const QString directory = QDir::cleanPath(*workingDirectory);
    QString relative = path;
    relative.replace(directory + u'/', QString());
    relative.replace(directory, QStringLiteral("."));
    return relative;
}

// The status an event leaves its session in, judged on the session before
// it; nullopt for events that change nothing.
std::optional<InstanceStatus> nextStatus(const ClaudeCodeInstance &before, const HookEvent &event)
{
    switch (event.kind) {
    case userPromptSubmit:
    case preToolUse:
    case postToolUse:
    case preCompact:
    case subagentStop:
        return InstanceStatus::working;
    case stop:
        return InstanceStatus::ready;
    case notification:
        if (event.details && event.details->contains(u"idle"))
            return InstanceStatus::ready;
        if (before.lastEventType == preToolUse)
            return InstanceStatus::waitingForInput;
        if (before.lastEventType == stop)
            return InstanceStatus::ready;
        return InstanceStatus::working;
    case sessionStart:
    case sessionEnd:
    case permissionRequest:
    case stopFailure:
    case other:
        break;
    }
    return std::nullopt;
}

} // namespace

Shown describeTool(const std::optional<QString> &tool, const std::optional<QString> &details,
                   const std::optional<QString> &workingDirectory)
{
    if (!details)
        return {tool, details};
    const QJsonDocument document = QJsonDocument::fromJson(details->toUtf8());
    if (!document.isObject())
        return {tool, details};

    const QJsonObject input = document.object();
    const ToolTable::Tool *row = tool ? ToolTable::byHookName(*tool) : nullptr;
    if (!row)
        return {tool, filePathDetails(input, *details, workingDirectory)};
    std::optional<QString> detail;
    if (row->member == u"*")
        detail = *details;
    else if (!row->member.isEmpty())
        detail = memberText(input, row->member, *details);
    return {row->displayName.toString(), detail};
}

Shown shown(const HookEvent &event)
{
    switch (event.kind) {
    case userPromptSubmit:
        return {std::nullopt, event.details};
    case preToolUse:
    case postToolUse:
        return describeTool(event.tool, event.details, event.workingDirectory);
    case preCompact:
        return {std::nullopt, QStringLiteral("Compacting Context")};
    default:
        return {};
    }
}

EntryText entryText(const ActivityEvent &entry)
{
    EntryText text{hookEventName(entry.kind), std::nullopt, std::nullopt};
    const auto decoded = decodeHookRecord(entry.record, 0);
    if (const auto *event = std::get_if<HookEvent>(&decoded)) {
        const Shown what = shown(*event);
        text.toolName = what.tool;
        text.details = what.details;
    }
    return text;
}

Applied apply(ClaudeCodeInstance session, const HookEvent &event, WallClockTime now,
              const NotificationPolicy::Preferences &preferences, quint64 entryId)
{
    Applied applied;
    const bool revived = std::exchange(session.exited, false);
    const std::optional<InstanceStatus> status = nextStatus(session, event);
    if (!status) {
        applied.session = std::move(session);
        applied.changed = revived;
        return applied;
    }
    applied.effects.notice = NotificationPolicy::decide(session, event, preferences);

    const Shown what = shown(event);
    ClaudeCodeInstance &s = session;
    s.status = *status;
    s.lastActivity = now;
    s.previousEventType = std::exchange(s.lastEventType, event.kind);
    if (event.kind != notification)
        s.lastNonNotificationEvent = event.kind;
    if (what.tool)
        s.currentTool = what.tool;
    if (*status == InstanceStatus::ready)
        s.currentTool.reset();
    if (what.details)
        s.lastPrompt = what.details;
    if (s.activityLog.size() >= ClaudeCodeInstance::logLimit)
        s.activityLog.remove(0, s.activityLog.size() - ClaudeCodeInstance::logLimit + 1);
    s.activityLog.append(ActivityEvent{entryId, now, event.kind, event.record});
    s.unreadEventCount += 1;

    applied.session = std::move(session);
    applied.changed = true;
    return applied;
}

} // namespace EventRules
