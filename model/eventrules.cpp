#include "eventrules.h"

#include "permissionhold.h"
#include "tooltable.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
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
    if (!workingDirectory || workingDirectory->isEmpty())
        return file;
    // Inside the working directory (not merely starting with its name): relative.
    const QString path = QDir::cleanPath(file);
    const QString directory = QDir::cleanPath(*workingDirectory);
    if (path == directory)
        return QStringLiteral(".");
    if (!path.startsWith(directory.endsWith(u'/') ? directory : directory + u'/'))
        return file;
    return QDir(directory).relativeFilePath(path);
}

} // namespace

bool describesWork(HookEventKind kind)
{
    return kind == userPromptSubmit || kind == preToolUse || kind == postToolUse ||
           kind == preCompact || kind == permissionRequest;
}

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
    case permissionRequest:
        return describeTool(event.tool, event.details, event.workingDirectory);
    case preCompact:
        return {std::nullopt, QStringLiteral("Compacting Context")};
    case sessionStart:
        // A fresh start says nothing; a resumed, cleared or compacted one does.
        if (event.source == u"startup")
            return {};
        return {std::nullopt, event.source};
    case sessionEnd:
        return {std::nullopt, event.reason};
    case stopFailure:
        return {std::nullopt, event.error};
    case notification:
        if (event.notificationKind() == NotificationType::question)
            return {QStringLiteral("Question"), std::nullopt};
        return {};
    case stop:
    case subagentStop:
    case interrupt:
    case statusLine:
    case other:
        break;
    }
    return {};
}

namespace {

struct Step
{
    bool logged = true;
    std::optional<SessionStatus> status; // nullopt: the status stays
};

// What an event does to a session, judged on the session before it.
Step stepFor(const Session &before, const HookEvent &event)
{
    switch (event.kind) {
    case userPromptSubmit:
    case preToolUse:
    case postToolUse:
    case preCompact:
    case subagentStop:
        return {true, SessionStatus::working};
    case stop:
    case interrupt:
        return {true, SessionStatus::ready};
    case sessionStart:
        // Compaction restarts the conversation in the middle of a turn.
        if (event.source == u"compact")
            return {};
        return {true, SessionStatus::ready};
    case sessionEnd:
        return {true, SessionStatus::ready};
    case permissionRequest:
        return {true, SessionStatus::waitingForInput};
    case stopFailure:
        return {true, SessionStatus::failed};
    case notification:
        switch (event.notificationKind()) {
        case NotificationType::idle:
            return {true, SessionStatus::ready};
        case NotificationType::question:
            return {true, SessionStatus::waitingForInput};
        case NotificationType::permission:
            // The CLI's own notice of a request Tolvo has already shown.
            if (before.lastEventType == permissionRequest)
                return {false, std::nullopt};
            if (before.lastEventType == preToolUse)
                return {true, SessionStatus::waitingForInput};
            if (before.lastEventType == stop)
                return {true, SessionStatus::ready};
            return {true, SessionStatus::working};
        case NotificationType::other:
            return {};
        }
        break;
    case statusLine: // usage, not activity
    case other:
        break;
    }
    return {false, std::nullopt};
}

// Approving in the terminal fires no hook: the tool's PostToolUse tells, and
// the end of the turn or of the session settles every request.
QStringList settleRequests(Session &session, const HookEvent &event, WallClockTime now)
{
    QStringList released;
    if (event.kind != notification && event.kind != statusLine)
        session.asksInTerminal =
            event.kind == permissionRequest &&
            PermissionHold::handling(event.tool.value_or(QString()).toStdString(),
                                     event.fromSubagent) ==
                PermissionHold::Handling::answerInTerminal;
    const auto release = [&](qsizetype at) {
        released.append(session.requests.at(at).id);
        session.requests.removeAt(at);
    };
    switch (event.kind) {
    case permissionRequest:
        if (!event.requestId)
            break;
        if (session.requests.size() >= waitingRequestLimit)
            release(0);
        session.requests.append({*event.requestId, event.helperPid, event.tool.value_or(QString()),
                                 event.details.value_or(QString()), event.permissionSuggestions,
                                 now});
        break;
    case postToolUse: {
        // The request for this very call; else the oldest for the same tool
        // (a hook may have changed the input).
        const auto &requests = session.requests;
        const auto sameTool = [&](const WaitingRequest &r) { return r.tool == event.tool; };
        auto found = std::find_if(requests.cbegin(), requests.cend(), [&](const WaitingRequest &r) {
            return sameTool(r) && r.input == event.details;
        });
        if (found == requests.cend())
            found = std::find_if(requests.cbegin(), requests.cend(), sameTool);
        if (found != requests.cend())
            release(found - requests.cbegin());
        break;
    }
    case userPromptSubmit:
    case stop:
    case stopFailure:
    case interrupt:
    case sessionStart:
    case sessionEnd:
        while (!session.requests.isEmpty())
            release(0);
        break;
    case preToolUse:
    case subagentStop:
    case notification:
    case preCompact:
    case statusLine:
    case other:
        break;
    }
    return released;
}

void setStatus(Session &session, SessionStatus status, WallClockTime now)
{
    if (session.status != status)
        session.statusSince = now;
    session.status = status;
    if (status != SessionStatus::failed)
        session.failure.reset();
    if (status == SessionStatus::ready)
        session.currentTool.reset();
}

} // namespace

Applied apply(Session session, const HookEvent &event, WallClockTime now, quint64 entryId)
{
    Applied applied;
    Session &s = session;
    bool changed = std::exchange(s.exited, false);
    if (event.transcriptPath && s.transcriptPath != event.transcriptPath) {
        s.transcriptPath = event.transcriptPath;
        changed = true;
    }
    if (!event.terminal.isEmpty() && s.terminal != event.terminal) {
        s.terminal = event.terminal;
        changed = true;
    }
    // A status line's report: the numbers, and nothing else about the session.
    if (event.kind == statusLine) {
        if (event.sessionId && !event.sessionId->isEmpty() && s.agentSessionId != *event.sessionId) {
            s.agentSessionId = *event.sessionId;
            changed = true;
        }
        if (event.usage) {
            changed = changed || s.usage != event.usage;
            s.usage = event.usage;
            s.usageAt = now;
        }
        applied.session = std::move(session);
        applied.changed = changed;
        return applied;
    }
    applied.released = settleRequests(s, event, now);
    changed = changed || !applied.released.isEmpty();
    const Step step = stepFor(s, event);
    if (!step.logged) {
        applied.session = std::move(session);
        applied.changed = changed;
        return applied;
    }
    applied.before = {s.lastEventType, s.currentTool, s.lastPrompt,
                      s.activityLog.isEmpty() ? std::nullopt
                                              : std::optional(s.activityLog.constLast())};
    const SessionStatus from = s.status;
    const Shown what = shown(event);
    applied.shown = what;
    if (event.sessionId && !event.sessionId->isEmpty())
        s.agentSessionId = *event.sessionId;
    s.lastActivity = now;
    s.lastEventType = event.kind;
    if (event.kind != notification)
        s.lastNonNotificationEvent = event.kind;
    if (what.tool)
        s.currentTool = what.tool;
    if (step.status)
        setStatus(s, *step.status, now);
    else if (s.status == SessionStatus::ready)
        s.currentTool.reset();
    if (event.kind == stopFailure)
        s.failure = event.error.value_or(QString());
    if (what.details && describesWork(event.kind))
        s.lastPrompt = what.details;
    if (event.kind == sessionEnd)
        s.exited = true;
    if (s.activityLog.size() >= Session::logLimit)
        s.activityLog.remove(0, s.activityLog.size() - Session::logLimit + 1);
    s.activityLog.append(
        ActivityEvent{entryId, now, event.kind, what.tool, what.details, event.record});
    s.unreadEventCount += 1;
    if (s.status != from)
        applied.statusChange = StatusChange{from, s.status};

    // The refusal of a permission dialog shows only in the transcript.
    if (step.status == SessionStatus::waitingForInput && s.transcriptPath && !s.exited)
        applied.followTranscript = s.transcriptPath;
    else if (s.status != SessionStatus::waitingForInput || s.exited)
        applied.stopFollowing = true;

    applied.session = std::move(session);
    applied.changed = true;
    return applied;
}

Session refused(Session session, WallClockTime now)
{
    if (session.status != SessionStatus::waitingForInput)
        return session;
    setStatus(session, SessionStatus::ready, now);
    session.lastActivity = now;
    return session;
}

} // namespace EventRules
