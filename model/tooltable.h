#pragma once

#include <QString>
#include <QStringView>

// Claude Code's tools as Tolvo names and describes them: one table for the
// log, the status line and the notifications alike.
namespace ToolTable {

// How a tool's input is shown once it has been cut down to its details.
enum class Style {
    host,     // a web address: its host
    quoted,   // a pattern or query: in quotes, at most 30 characters
    cut,      // a command: at most 40 characters
    whole,    // shown as it is
    nameOnly, // the tool's name says it all
    path,     // the last piece of a path
};

struct Tool
{
    QStringView hookName;    // as Claude Code calls it
    QStringView displayName; // as Tolvo shows it
    // Which member of the tool input is its details: empty for none, "*" for
    // the whole input; tools not in the table show a file path.
    QStringView member;
    Style style;
};

// The row of a tool by the name in a hook record; nullptr for other tools.
const Tool *byHookName(QStringView hookName);
// How a tool is described, by the name Tolvo shows (other tools: path).
Style styleOf(QStringView displayName);

// What follows "Working: <tool>" in a status line, starting with the arrow;
// empty when the tool gets nothing.
QString statusSuffix(QStringView displayName, const QString &details);
// What follows "<tool>" in a notification that asks the user to act.
QString actionSuffix(QStringView displayName, const QString &details);

} // namespace ToolTable
