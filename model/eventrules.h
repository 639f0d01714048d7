#pragma once

#include "hookevent.h"
#include "session.h"

#include <QString>
#include <QStringList>
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

// How a status changed.
struct StatusChange
{
    SessionStatus from;
    SessionStatus to;
    bool operator==(const StatusChange &) const = default;
};

// What the session was before the event, as far as a notice about the event
// depends on it.
struct Before
{
    std::optional<HookEventKind> lastEventType;
    std::optional<QString> currentTool;
    std::optional<QString> lastPrompt;
    std::optional<ActivityEvent> lastEntry;
    bool operator==(const Before &) const = default;
};

struct Applied
{
    Session session;
    Before before;
    // What the event shows; nullopt when it does not count (is not logged),
    // as the CLI's own notice of a permission request Tolvo has shown.
    std::optional<Shown> shown;
    std::optional<StatusChange> statusChange;
    // While a session waits for permission, Claude Code writes a refusal
    // (Escape, "No") only into its transcript: follow the transcript from
    // here on, or stop following it.
    std::optional<QString> followTranscript;
    bool stopFollowing = false;
    // Waiting requests the event shows were answered in the terminal (or
    // are moot): their helpers are to be let go.
    QStringList released;
    bool changed = false; // whether `session` differs from the one given
};

// A session holds at most this many waiting requests; the oldest goes first.
inline constexpr qsizetype waitingRequestLimit = 16;

// One event applied to the session of its process. `entryId` numbers the log
// entry the event adds, if it adds one.
//
// Besides the events of the prompt-and-tool cycle: SessionStart makes a
// session ready, SessionEnd marks it exited, PermissionRequest makes it wait
// at once (the CLI's own permission notice comes seconds later and then
// changes nothing), StopFailure makes it failed. A notification follows its
// type: idle (ready), a question (waiting), a permission prompt (waiting
// after a tool; the older rule), anything else is only logged.
Applied apply(Session session, const HookEvent &event, WallClockTime now, quint64 entryId);

// A session whose permission dialog the user refused: ready again.
Session refused(Session session, WallClockTime now);

} // namespace EventRules
