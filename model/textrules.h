#pragma once

#include <QString>
#include <optional>

// Small text rules shared by the notification texts and the row texts.
// Lengths count user-perceived characters (grapheme clusters).
namespace TextRules {

qsizetype characterCount(const QString &text);

// The first `limit` characters followed by "..." when the text is longer,
// else the text unchanged. Cutting keeps whole characters.
QString shortened(const QString &text, qsizetype limit);

// The last piece of the text split at "/", empty pieces dropped; nullopt when
// no piece is left.
std::optional<QString> lastSlashPiece(const QString &text);

// When the text parses as a URL: its host, or the whole text when the URL has
// no host. nullopt when it does not parse.
std::optional<QString> urlHostOrText(const QString &text);

// Why a turn failed, for a person: a short text for each error code the CLI
// reports at StopFailure ("rate_limit": "Rate limit reached"); a code it
// does not know comes back as it is.
QString failureText(const QString &code);

inline const QString arrow = QStringLiteral(" \u2192 ");

} // namespace TextRules
