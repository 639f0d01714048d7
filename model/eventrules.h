#pragma once

#include "session.h"
#include "hookevent.h"
#include "notificationpolicy.h"

#include <QString>
#include <optional>

// The rules by which one hook event changes one session. Pure: the session
// list finds or creates the session and carries out the effects.
namespace EventRules {

// A tool and the details shown for it.
struct Shown
{
    std::optional<QString> tool;
    std::optional<QString> details;
    bool operator==(const Shown &) const = default;
};

// Rewrites a tool event's tool name and JSON input into what the log shows:
// "Bash" shows its command, a file inside the working directory its relative
// path, and so on. Details that are not a JSON object stay as they are.
Shown describeTool(const std::optional<QString> &tool, const std::optional<QString> &details,
                   const std::optional<QString> &workingDirectory);

// Whether an event's details are what the user asked or what a tool does,
// which the status line and completion notices quote.
bool describesWork(HookEventKind kind);

// What an event puts into the session's current tool, last prompt and log.
Shown shown(const HookEvent &event);

// What a log line shows, worked out from the entry's record.
struct EntryText
{
    QString eventType;
    std::optional<QString> toolName;
    std::optional<QString> details;
    bool operator==(const EntryText &) const = default;
};
EntryText entryText(const ActivityEvent &entry);

// What the session list does besides keeping the new session value.
struct Effects
{
    std::optional<NotificationPolicy::Notice> notice;
    // While a session waits for permission, Claude Code writes a refusal
    // (Escape, "No") only into its transcript: follow the transcript from
    // here on, or stop following it.
    std::optional<QString> followTranscript;
    bool stopFollowing = false;
    bool operator==(const Effects &) const = default;
};

struct Applied
{
    Session session;
    Effects effects;
    bool changed = false; // whether `session` differs from the one given
};

// One event applied to the session of its process. `entryId` numbers the log
// entry the event adds, if it adds one.
//
// Besides the events of the prompt-and-tool cycle: SessionStart makes a
// session ready, SessionEnd marks it exited, PermissionRequest makes it wait
// at once (the CLI's own permission notice comes seconds later and then
// changes nothing), StopFailure makes it failed. A notification follows its
// type: idle (ready), a question (waiting), a permission prompt (waiting
// after a tool; the older rule), anything else is only logged.
Applied apply(Session session, const HookEvent &event, WallClockTime now,
              const NotificationPolicy::Preferences &preferences, quint64 entryId);

// A session whose permission dialog the user refused: ready again.
Session refused(Session session, WallClockTime now);

// How a notification event counts.
enum class NotificationType { idle, question, permission, other };
NotificationType notificationType(const HookEvent &event);

} // namespace EventRules
