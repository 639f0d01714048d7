#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>
#include <variant>

// One validated hook record.
struct HookEvent
{
    QString event;
    qint64 pid = 0;
    std::optional<QString> tool;
    std::optional<QString> details;
    std::optional<QString> workingDirectory;

    bool operator==(const HookEvent &) const = default;
};

// Why a record was dropped; the text is the console line to write.
struct HookRecordRejected
{
    QString consoleLine;
};

// Validates one decoded record. `ownPid` stands in for an "instance" that the
// shell left as the literal text $PPID.
std::variant<HookEvent, HookRecordRejected> decodeHookRecord(const QJsonObject &record,
                                                             qint64 ownPid);

// Base-10 signed 64-bit: an optional "+" or "-", then ASCII digits only.
std::optional<qint64> parseProcessId(QStringView text);

// The whole record again, pretty-printed, as it is kept in the activity log.
QString rawJsonText(const QJsonObject &record);
