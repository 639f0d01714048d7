#pragma once

#include <QHashFunctions>
#include <QString>
#include <array>
#include <optional>

// Coarse state of a Claude Code instance. Each case stands for a fixed text,
// which is what is written wherever a status must be shown as text.
enum class InstanceStatus { off, ready, working, waitingForInput, error };

inline constexpr std::array allInstanceStatuses{
    InstanceStatus::off, InstanceStatus::ready, InstanceStatus::working,
    InstanceStatus::waitingForInput, InstanceStatus::error};

QString statusText(InstanceStatus status);

// Exact, case-sensitive match on the whole text; anything else is no status.
std::optional<InstanceStatus> instanceStatusFromText(QStringView text);

inline size_t qHash(InstanceStatus status, size_t seed = 0) noexcept
{
    return qHash(statusText(status), seed);
}
