#pragma once

#include <QString>
#include <QtGlobal>

// Every log line of Tolvo goes through one handler: Qt's logging categories
// (tolvo.intake, tolvo.model, tolvo.events, ...) choose what is written, the
// handler decides how. Each message is laid out by the message pattern
// (QT_MESSAGE_PATTERN; without it the message alone) and becomes exactly one
// line of at most lineLimit characters with control characters escaped, so
// that no record can forge a line or flood the log. Informational lines go
// to standard output, warnings and errors to standard error.
namespace Logging {

inline constexpr qsizetype lineLimit = 300;

// The message as one bounded line: "\n" becomes the two characters \n, other
// control characters \xNN or \u{NNNN}; a longer text is cut and ends in "…".
QString boundedLine(const QString &message);

// The pattern in force unless QT_MESSAGE_PATTERN sets another.
inline const QString plainPattern = QStringLiteral("%{message}");

// One message as the handler writes it, without the line feed: the message
// pattern applied, then bounded.
QString formatLine(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Sets plainPattern and the handler.
void install();

} // namespace Logging
