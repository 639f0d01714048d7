#pragma once

#include "claudecodeinstance.h"

#include <QColor>
#include <QLocale>
#include <QPointF>
#include <QString>
#include <array>

// The texts, colours and shapes the windows show, derived from the model.
// QML binds to them through the list models' roles; it decides none of them.
namespace RowText {

// The line under an instance's name: its status, or for a working instance
// what it is doing right now.
QString statusLineText(const ClaudeCodeInstance &instance);

// A hook event name as the status line says it ("PreToolUse" -> "Starting Tool").
QString eventTypeLabel(const QString &eventType);

// The bold label of a log line; unlike eventTypeLabel it looks at the tool.
QString eventTitle(const ActivityEvent &event);

// The raw record pretty-printed with every object's keys sorted. Anything
// that is not a JSON object or array comes back unchanged.
QString formattedJSON(const QString &rawJSON);

// What follows "Working: <tool>" for the newest entry's details, starting
// with the arrow; empty when the tool gets no suffix.
QString toolSuffix(const QString &tool, const QString &details);

// "• <tool>" beside a log line's title; empty without a tool and for agents,
// whose title already names them.
QString logToolText(const ActivityEvent &event);

// The detail line under a log line's title; empty when there is nothing to show.
QString logDetailsText(const ActivityEvent &event);

// Time of day with seconds in the locale's style; no date, no time zone.
QString timeOfDayText(WallClockTime time, const QLocale &locale = QLocale());

// The main window's subtitle: "1 instance", "0 instances", "3 instances".
QString subtitle(qint64 count);

// The chevron's three points in a w x h box: pointing down for progress 0 up
// to 0.5, flattening through a straight line at 0.75, pointing up at 1.
std::array<QPointF, 3> chevronPoints(double w, double h, double progress);

// Fixed shades that read on light and on dark window backgrounds alike.
QColor statusColor(StatusColor color);

} // namespace RowText
