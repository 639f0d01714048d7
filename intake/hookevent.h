#pragma once

#include "hookeventkinds.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <optional>
#include <variant>

// Exact, case-sensitive: "stop" is `other`. `agent`: the record's agent token
// (empty: Claude Code), whose names the kind is looked up in.
HookEventKind hookEventKind(QStringView name, const QString &agent = {});
// The name the agent uses; empty for `other`.
QString hookEventName(HookEventKind kind);
// What a row says for the kind ("PreToolUse": "Starting Tool"); empty for `other`.
QString hookEventLabel(HookEventKind kind);

// How a notification event counts: the session is idle, asks a question,
// asks for permission, or says something that changes nothing.
enum class NotificationType : quint8 { idle, question, permission, other };

// A rate-limit window of the user's plan: how much of it is used, in percent,
// and when it starts afresh (Unix seconds).
struct UsageWindow
{
    double usedPercent = 0;
    std::optional<qint64> resetsAt;
    bool operator==(const UsageWindow &) const = default;
};

// What a status-line record says about the session's usage; each member only
// when the record has it within the bounds of usagebounds.h.
struct SessionUsage
{
    std::optional<QString> model, modelId; // display name, id
    std::optional<double> contextPercent;
    std::optional<qint64> contextSize; // tokens
    std::optional<double> costUsd;
    std::optional<qint64> durationMs, linesAdded, linesRemoved;
    std::optional<UsageWindow> fiveHour, sevenDay;
    bool operator==(const SessionUsage &) const = default;
};

// One validated hook record, as the hook helper (or the older jq command)
// wrote it into the event pipe.
struct HookEvent
{
    HookEventKind kind = HookEventKind::other;
    QString event; // the name as written
    QString agent; // the agent's token (hookeventkinds.h), empty for Claude Code
    qint64 pid = 0;
    std::optional<QString> tool;
    // The prompt, the compaction trigger, the tool input as JSON text, or for
    // a notification its type.
    std::optional<QString> details;
    std::optional<QString> workingDirectory;

    // Members of newer records; absent in records of the jq command.
    std::optional<QString> notificationType;
    std::optional<QString> message;
    std::optional<QString> source; // why a session started: startup, resume, clear, compact
    std::optional<QString> reason; // why it ended
    std::optional<QString> error;  // why a turn failed
    std::optional<QString> reply;  // the start of Claude's last answer
    std::optional<QString> transcriptPath;
    std::optional<QString> sessionId; // the agent's own id of the session
    QJsonObject terminal;             // what the hook's environment said about its terminal
    // The remote host whose relay brought the record; empty for this machine.
    // Set by the receiver, never read from the record.
    QString host;

    // A permission request: what "Yes, and always allow" would add, and, when
    // its helper waits for Tolvo's answer, the request's id and the helper.
    QJsonArray permissionSuggestions;
    std::optional<QString> requestId;
    qint64 helperPid = 0;
    bool fromSubagent = false;

    // A status-line record's usage.
    std::optional<SessionUsage> usage;

    // The record exactly as it arrived: compact UTF-8 JSON, kept once.
    QByteArray record;

    // For a notification, what it asks of the user. Records of the older jq
    // command carry no type; their details decide.
    NotificationType notificationKind() const;

    bool operator==(const HookEvent &) const = default;
};
Q_DECLARE_METATYPE(HookEvent)

// Why a record was dropped.
struct HookRecordRejected
{
    QString consoleLine; // what the log says about it
};

// Validates one decoded record. `ownPid` stands in for an "instance" that the
// shell left as the literal text $PPID.
std::variant<HookEvent, HookRecordRejected>
decodeHookRecord(const QJsonObject &object, const QByteArray &record, qint64 ownPid);
// The same from the record's bytes; not an object is rejected as well.
std::variant<HookEvent, HookRecordRejected> decodeHookRecord(const QByteArray &record,
                                                             qint64 ownPid);

// Base-10 signed 64-bit: an optional "+" or "-", then ASCII digits only.
std::optional<qint64> parseProcessId(QStringView text);
