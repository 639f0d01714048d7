#include "notificationpolicy.h"

#include "defaultsstore.h"
#include "eventrules.h"
#include "tooltable.h"

namespace NotificationPolicy {

void registerDefaults(DefaultsStore &store)
{
    const Preferences defaults;
    store.registerDefaults({{permissionRequiredKey, defaults.permissionRequired},
                            {taskCompleteKey, defaults.taskComplete},
                            {idleKey, defaults.idle}});
}

Preferences read(const DefaultsStore &store)
{
    return {store.boolValue(permissionRequiredKey), store.boolValue(taskCompleteKey),
            store.boolValue(idleKey)};
}

std::optional<Notice> decide(const ClaudeCodeInstance &before, const HookEvent &event,
                             const Preferences &preferences)
{
    using enum HookEventKind;
    if (event.kind == stop) {
        if (!preferences.taskComplete)
            return std::nullopt;
        return Notice{Kind::completion, before.lastPrompt
                                            ? QStringLiteral("Completed: ") + *before.lastPrompt
                                            : QStringLiteral("Task completed")};
    }
    if (event.kind != notification)
        return std::nullopt;

    if (event.details && event.details->contains(u"idle")) {
        if (!preferences.idle)
            return std::nullopt;
        return Notice{Kind::idle, QStringLiteral("Claude Code is now idle")};
    }
    if (!preferences.permissionRequired)
        return std::nullopt;
    if (before.lastEventType == preToolUse) {
        return Notice{Kind::permission,
                      before.currentTool
                          ? QStringLiteral("Permission required for: ") + *before.currentTool
                          : QStringLiteral("Permission required")};
    }
    if (before.activityLog.isEmpty())
        return std::nullopt;
    return Notice{Kind::permission, actionText(before.activityLog.constLast())};
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
