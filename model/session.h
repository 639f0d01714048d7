#pragma once

#include "activityevent.h"
#include "hookevent.h"
#include "sessionstatus.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <optional>

// Colour of a session's status light: gray before any event, green when
// ready, yellow while working, red while it waits for the user, purple when
// its last turn failed.
enum class StatusColor { gray, green, yellow, red, purple };

// The coding agents whose sessions report to Tolvo.
enum class Agent : quint8 { claudeCode, codex, gemini };
// "claude-code": what scripts read.
QString agentToken(Agent agent);
// "Claude Code": what users read.
QString agentName(Agent agent);
// Whether the process an agent's hooks report tells its sessions apart.
// Claude Code's hooks give the session's own CLI process, which keeps its row
// when /clear starts a new session id in it; an agent whose sessions share a
// process goes by its session id instead.
bool identifiedByProcess(Agent agent);
// The agent of a record's "agent" token (hookeventkinds.h; empty: Claude Code).
Agent agentOfHook(const QString &token);
// A small mark for the agent on a session's row ("Claude", "Codex", "Gemini").
QString agentMark(Agent agent);
// Whether the agent's /clear starts its new session in the same process,
// whose row then goes on with the new session id.
bool clearKeepsRow(Agent agent);

// A permission request whose hook helper waits for the user's answer from
// Tolvo (the terminal shows the same request and may answer it first).
struct WaitingRequest
{
    QString id; // 128 random bits from the helper: only the user learns it
    qint64 helperPid = 0;
    QString tool;           // as the agent names it
    QString input;          // the tool input, compact JSON
    QJsonArray suggestions; // what "Yes, and always allow" would add
    WallClockTime since = 0;
    bool operator==(const WaitingRequest &) const = default;
};

// One tracked agent session, or a placeholder restored from an earlier
// run. Who a session is: the machine it runs on (`host`, empty for this one),
// its agent, and the agent's own id of the session, or its process where
// that tells sessions apart (identifiedByProcess). `id` names the row, and stays with a
// placeholder's directory across restarts. A plain value: copies are cheap (the activity log is
// implicitly shared) until one of them is changed.
struct Session
{
    // Logs keep this many entries; older ones are dropped as new ones come.
    static constexpr qsizetype logLimit = 10000;

    QString id;
    QString host;
    Agent agent = Agent::claudeCode;
    QString agentSessionId; // empty where the agent gives none
    qint64 pid = 0;         // below zero for a placeholder
    QString projectPath;
    QString projectName;
    std::optional<QString> customName;
    SessionStatus status = SessionStatus::off;
    WallClockTime statusSince = 0; // when the status last changed
    WallClockTime lastActivity = 0;
    std::optional<QString> currentTool;
    std::optional<QString> lastPrompt;
    QList<ActivityEvent> activityLog; // oldest first
    qint64 unreadEventCount = 0;
    std::optional<HookEventKind> lastEventType;
    std::optional<HookEventKind> lastNonNotificationEvent;
    // Why the last turn failed, while the status is failed.
    std::optional<QString> failure;
    // From the newest record that had them: where Claude Code keeps the
    // conversation, and what the hook's environment said about the terminal.
    std::optional<QString> transcriptPath;
    QJsonObject terminal;
    // Oldest first; parallel tool calls may ask at once.
    QList<WaitingRequest> requests;
    // The newest request is one only the terminal can show (permissionhold.h).
    bool asksInTerminal = false;
    // The process (pid > 0) is gone, or said it ended; the next event from the
    // same pid clears it. Never saved: a restart checks afresh.
    bool exited = false;
    // What its status line reported last, and when. Never saved.
    std::optional<SessionUsage> usage;
    WallClockTime usageAt = 0;
    bool contextWarned = false; // its context has passed the warning once
    // The relay of its host is not connected: what it does now is unknown.
    // Never saved; the host's next replay settles it.
    bool disconnected = false;

    // A fresh instance: status off, both dates `now`, everything else empty.
    static Session make(const QString &id, qint64 pid, const QString &projectPath,
                        const QString &projectName, const std::optional<QString> &customName,
                        WallClockTime now);

    bool isPlaceholder() const { return pid < 0; }
    QString displayName() const { return customName.value_or(projectName); }
    // What the row and notices call it: the name, and for a remote its host
    // ("webshop · devbox").
    QString shownName() const;
    // Whether the hooks told where the session's terminal is. Codex runs
    // every session's hooks in one shared server unless started with
    // --no-daemon; from there the helper reports no terminal, since the
    // server's would be that of whichever session started it.
    bool terminalIsKnown() const;
    // What custom names are kept under: the directory, and for a remote the
    // host before it ("devbox:/home/me/webshop").
    QString nameKey() const;
    StatusColor statusColor() const;

    bool operator==(const Session &) const = default;
};

// The project path of a session whose events carry no working directory.
inline const QString unknownProjectPath = QStringLiteral("Unknown");

// The last component of a directory path; a trailing slash is not a component.
QString lastPathComponent(const QString &path);
