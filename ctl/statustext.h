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
QString statusLine(const QJsonArray &instances, const QString &problem = {});

// The object a waybar custom module reads: "text", "tooltip", "class" and "alt".
// The texts are Pango markup, which waybar renders by default, so names are
// escaped. A problem makes the class "error" unless a session waits.
QJsonObject waybarObject(const QJsonArray &instances, const QString &problem = {});

} // namespace StatusText
