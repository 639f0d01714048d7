#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// What `tolvoctl status` prints, worked out from the list of sessions that the
// running Tolvo reports (one JSON object per session, in on-screen order).
namespace StatusText {

// One line: "2 working · 1 waiting: webshop", "3 ready", "no sessions".
// Sessions whose process has exited are left out. `problem` is why Tolvo
// receives no events, if so: it ends the line.
// `usage` is what Tolvo's Usage() says, if anything: its "summary" ends the line.
// `quiet` is what Quiet() says: while quiet, its "text" comes last.
QString statusLine(const QJsonArray &sessions, const QString &problem = {},
                   const QJsonObject &usage = {}, const QJsonObject &quiet = {});

// The object a waybar custom module reads: "text" the status line, "tooltip"
// one line per session (after the problem, if any), "class" the worst state
// that applies (waiting, failed, error: Tolvo receives no events, working,
// idle, none), and "alt" the same. Waybar renders both texts as Pango markup,
// so they are escaped.
// The plan's "limits" of `usage` end the text, its "summary" the tooltip.
// While quiet, the text ends with "quiet" and the tooltip with why.
QJsonObject waybarObject(const QJsonArray &sessions, const QString &problem = {},
                         const QJsonObject &usage = {}, const QJsonObject &quiet = {});
// The same object while Tolvo cannot be asked: no text, `why` as the tooltip,
// class "none".
QJsonObject waybarAway(const QString &why);

// The name a session goes by on the command line: its display name, else its
// folder's, on one line.
QString nameOf(const QJsonObject &session);
// Text from prompts and paths on one line: control characters and line breaks
// become spaces.
QString oneLine(QString text);

} // namespace StatusText
