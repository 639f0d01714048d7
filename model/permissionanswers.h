#pragma once

#include "session.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The user's answers to a waiting permission request, and what each says
// and sends. Pure.
namespace PermissionAnswers {

enum class Answer { allow, allowAlways, deny };

// "allow", "always", "deny": the words of tolvoctl, D-Bus and QML.
std::optional<Answer> answerOf(QStringView word);
QString word(Answer answer);

// What Deny tells the agent when the user typed no reason.
inline const QString defaultDenyReason = QStringLiteral("Denied from Tolvo");

// The decision object the hook helper prints for the agent, compact JSON.
// Always allow echoes every suggestion, as the terminal's own "Yes, and
// always allow" does.
QByteArray decision(const WaitingRequest &request, Answer answer, const QString &reason = {});

// What Always allow would allow, for its button and menu: "Always allow:
// edits in this session"; empty when the request makes no suggestion (and
// Always allow is not offered).
QString alwaysAllowText(const QJsonArray &suggestions);

// The request as the row shows it: "Bash: rm -f notes.txt".
QString requestText(const WaitingRequest &request, const QString &workingDirectory);

// What the user reads after answering: "Allowed: Bash", "Denied: Bash".
QString answeredText(const WaitingRequest &request, Answer answer);

// Whether the session waits on a question that only its terminal can show
// (a choice, a plan to accept): Tolvo offers Go to Terminal instead.
bool answersInTerminal(const Session &session);

} // namespace PermissionAnswers
