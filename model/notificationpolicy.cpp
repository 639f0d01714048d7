#include "notificationpolicy.h"

#include "eventrules.h"
#include "textrules.h"
#include "tooltable.h"

namespace NotificationPolicy {

namespace {

// Claude's answer under a completion notice: its first line, shortened.
QString replyLine(const std::optional<QString> &reply)
{
    if (!reply)
        return {};
    const QString first = reply->section(u'\n', 0, 0).trimmed();
    return first.isEmpty() ? QString() : u'\n' + TextRules::shortened(first, 120);
}

std::optional<Notice> permissionNotice(const Session &before)
{
    using enum HookEventKind;
    // The CLI's own notice of a request already announced at PermissionRequest.
    if (before.lastEventType == permissionRequest)
        return std::nullopt;
    if (before.lastEventType == preToolUse) {
        return Notice{Kind::permission,
                      before.currentTool
                          ? QStringLiteral("Permission required for: ") + *before.currentTool
                          : QStringLiteral("Permission required")};
    }
    if (before.activityLog.isEmpty())
        return std::nullopt;
    const QString body = actionText(before.activityLog.constLast());
    if (body == u"Notification")
        return std::nullopt;
    return Notice{Kind::permission, body};
}

} // namespace

std::optional<Notice> decide(const Session &before, const HookEvent &event,
                             const Preferences &preferences)
{
    using enum HookEventKind;
    switch (event.kind) {
    case stop: {
        if (!preferences.taskComplete)
            return std::nullopt;
        // With Claude's answer below it, a long prompt is shortened so that
        // the answer still shows.
        const QString reply = replyLine(event.reply);
        const QString prompt = before.lastPrompt && !reply.isEmpty()
                                   ? TextRules::shortened(*before.lastPrompt, 120)
                                   : before.lastPrompt.value_or(QString());
        return Notice{Kind::completion, (before.lastPrompt ? QStringLiteral("Completed: ") + prompt
                                                           : QStringLiteral("Task completed")) +
                                            reply};
    }
    case stopFailure:
        if (!preferences.taskComplete)
            return std::nullopt;
        return Notice{Kind::failure, QStringLiteral("Failed: ") + event.error.value_or(QString())};
    case permissionRequest: {
        if (!preferences.permissionRequired)
            return std::nullopt;
        const EventRules::Shown what = EventRules::shown(event);
        const QString tool = what.tool.value_or(QStringLiteral("a tool"));
        return Notice{
            Kind::permission,
            QStringLiteral("Permission required for: ") + tool +
                (what.details ? ToolTable::statusSuffix(tool, *what.details) : QString())};
    }
    case notification:
        break;
    default:
        return std::nullopt;
    }
    switch (EventRules::notificationType(event)) {
    case EventRules::NotificationType::idle:
        if (!preferences.idle)
            return std::nullopt;
        return Notice{Kind::idle, QStringLiteral("Claude Code is now idle")};
    case EventRules::NotificationType::question:
        if (!preferences.permissionRequired)
            return std::nullopt;
        return Notice{Kind::question,
                      event.message.value_or(QStringLiteral("Claude Code has a question for you"))};
    case EventRules::NotificationType::permission:
        if (!preferences.permissionRequired)
            return std::nullopt;
        return permissionNotice(before);
    case EventRules::NotificationType::other:
        break;
    }
    return std::nullopt;
}

QString actionText(const ActivityEvent &last)
{
    const EventRules::EntryText entry = EventRules::entryText(last);
    if (last.kind == HookEventKind::userPromptSubmit && entry.details)
        return QStringLiteral("Working on: ") + *entry.details;
    if (!entry.toolName)
        return QStringLiteral("Notification");
    const QString &tool = *entry.toolName;
    if (!entry.details)
        return QStringLiteral("Action required: ") + tool;
    return QStringLiteral("Action required: ") + tool +
           ToolTable::actionSuffix(tool, *entry.details);
}

} // namespace NotificationPolicy
