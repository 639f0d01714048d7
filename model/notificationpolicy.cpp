#include "notificationpolicy.h"

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

std::optional<Notice> permissionNotice(const EventRules::Before &before)
{
    using enum HookEventKind;
    // The CLI's own notice of a request already announced at PermissionRequest.
    if (before.lastEventType == permissionRequest)
        return std::nullopt;
    if (before.lastEventType == preToolUse) {
        return Notice{before.currentTool
                          ? QStringLiteral("Permission required for: ") + *before.currentTool
                          : QStringLiteral("Permission required")};
    }
    if (!before.lastEntry)
        return std::nullopt;
    const std::optional<QString> body = actionText(*before.lastEntry);
    if (!body)
        return std::nullopt;
    return Notice{*body};
}

std::optional<Notice> notificationNotice(const EventRules::Before &before, const HookEvent &event,
                                         const Preferences &preferences)
{
    switch (event.notificationKind()) {
    case NotificationType::idle:
        if (!preferences.idle)
            return std::nullopt;
        return Notice{QStringLiteral("Claude Code is now idle")};
    case NotificationType::question:
        if (!preferences.permissionRequired)
            return std::nullopt;
        return Notice{event.message.value_or(QStringLiteral("Claude Code has a question for you"))};
    case NotificationType::permission:
        if (!preferences.permissionRequired)
            return std::nullopt;
        return permissionNotice(before);
    case NotificationType::other:
        break;
    }
    return std::nullopt;
}

} // namespace

std::optional<Notice> decide(const EventRules::Applied &applied, const HookEvent &event,
                             const Preferences &preferences)
{
    using enum HookEventKind;
    if (!applied.shown)
        return std::nullopt;
    const EventRules::Before &before = applied.before;
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
        return Notice{(before.lastPrompt ? QStringLiteral("Completed: ") + prompt
                                         : QStringLiteral("Task completed")) +
                      reply};
    }
    case stopFailure:
        if (!preferences.taskComplete)
            return std::nullopt;
        return Notice{QStringLiteral("Failed: ") +
                      TextRules::failureText(event.error.value_or(QString()))};
    case permissionRequest: {
        if (!preferences.permissionRequired)
            return std::nullopt;
        const EventRules::Shown &what = *applied.shown;
        const QString tool = what.tool.value_or(QStringLiteral("a tool"));
        return Notice{QStringLiteral("Permission required for: ") + tool +
                      (what.details ? ToolTable::statusSuffix(tool, *what.details) : QString())};
    }
    case notification:
        return notificationNotice(before, event, preferences);
    case userPromptSubmit:
    case preToolUse:
    case postToolUse:
    case subagentStop:
    case preCompact:
    case sessionStart:
    case sessionEnd:
    case interrupt: // the user is at the terminal
    case statusLine:
    case other:
        break;
    }
    return std::nullopt;
}

std::optional<QString> actionText(const ActivityEvent &last)
{
    if (last.kind == HookEventKind::userPromptSubmit && last.details)
        return QStringLiteral("Working on: ") + *last.details;
    if (!last.tool)
        return std::nullopt;
    const QString &tool = *last.tool;
    if (!last.details)
        return QStringLiteral("Action required: ") + tool;
    return QStringLiteral("Action required: ") + tool +
           ToolTable::actionSuffix(tool, *last.details);
}

} // namespace NotificationPolicy
