#pragma once

#include "eventrules.h"
#include "session.h"

#include <QLocale>
#include <QString>

// The texts the windows, the tray and tolvoctl show about sessions, worked
// out from the model. Views bind to them; they decide none of them.
namespace SessionText {

// The line under a session's name: its status, or for a working session
// what it is doing right now; from a minute on, how long it has been so
// ("Waiting for Input: Bash · 4 min"), judged at `now`.
QString statusLine(const Session &instance, WallClockTime now);

// " · 4 min", " · 2 h 5 min" for a state that began at `since`; empty below a minute.
QString durationSuffix(WallClockTime since, WallClockTime now);
// Whether the status line says how long the session has been as it is: not
// for placeholders and exited sessions.
bool showsDuration(const Session &instance);

// The bold label of a log line; unlike the kind's label it looks at the tool.
QString eventTitle(const ActivityEvent &entry);
// "• <tool>" beside a log line's title; empty without a tool and for agents,
// whose title already names them.
QString logToolText(const ActivityEvent &entry);
// The detail line under a log line's title; empty when there is nothing to show.
QString logDetailsText(const ActivityEvent &entry);

// A raw record pretty-printed with every object's keys sorted. Anything that
// is not a JSON object or array comes back unchanged.
QString formattedJSON(const QByteArray &rawJSON);

// Time of day with seconds in the locale's style; no date, no time zone.
QString timeOfDay(WallClockTime time, const QLocale &locale = QLocale());

// The main window's subtitle: "1 session", "0 sessions", "3 sessions".
QString subtitle(qint64 count);

} // namespace SessionText
