#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Which session a name on the command line means (`tolvoctl focus`, the
// D-Bus Focus), out of the sessions as Sessions() lists them.
namespace SessionTarget {

// The D-Bus error Focus() answers with when a name fits more than one running
// session; its message is their candidateLine()s, one per line.
inline constexpr char ambiguousError[] = "com.tolvo.Tolvo.Error.Ambiguous";
// Nothing waits for an answer under the name given; the message says why.
inline constexpr char notWaitingError[] = "com.tolvo.Tolvo.Error.NotWaiting";
// Focus() found the session, but not which terminal runs it; the message says why.
inline constexpr char noTerminalError[] = "com.tolvo.Tolvo.Error.NoTerminal";

// The running sessions (a process that has not exited) that `target` names:
// the one whose "id", "agentSessionId" (either in any case) or process id it
// is, else every one whose name it is. More than one means the name is
// ambiguous, none that nothing running goes by it.
QJsonArray named(const QJsonArray &sessions, const QString &target);

// One line about a session that tells it apart from others of its name:
// "webshop (pid 4242, /home/me/webshop)".
QString candidateLine(const QJsonObject &session);

} // namespace SessionTarget
