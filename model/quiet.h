#pragma once

#include "wallclock.h"

#include <QString>
#include <optional>

// When Tolvo keeps a notice to itself: the user asked for quiet (do not
// disturb), the notification server is paused, the project is muted, the
// turn was too short to be worth telling, or the session is the one in front
// of the user. Pure; the session list, the rows and the lights go on as ever.
namespace Quiet {

// What a notice is about: requests and failures always count, a completion
// only after a turn worth telling.
enum class NoticeKind { request, completed, failed, idle, usage };

enum class Reason { none, doNotDisturb, inhibited, muted, shortTurn, inFront };

// Do not disturb: until this instant; 0 is off, `forever` until turned off.
inline constexpr WallClockTime forever = 1e300;

struct Facts
{
    NoticeKind kind = NoticeKind::request;
    std::optional<double> turnSeconds; // how long the turn took, where known
    bool muted = false;                // the session's project
};

struct State
{
    WallClockTime until = 0;
    bool inhibited = false; // the notification server says it is paused
    int completedAfterSeconds = 15;
};

// Why the notice is not shown, before anyone asks which terminal is in front.
Reason silencedBy(const Facts &facts, const State &state, WallClockTime now);

// The stored form of `until` (tolvo.ini): "" off, "on" until turned off, or
// the instant in whole seconds; anything else is off.
WallClockTime untilOf(const QString &stored);
QString storedUntil(WallClockTime until);

// Do not disturb as the menus offer it: "hour", "tomorrow" (8:00 the next
// morning, local time), "on", "off"; nullopt for anything else.
std::optional<WallClockTime> untilFor(const QString &choice, WallClockTime now);
// A span as scripts write it: "1h", "30m", "90s", "1h30m", "2d"; nullopt
// for anything else, or a span of 0 or above a year.
std::optional<double> durationSeconds(const QString &text);

// "Do not disturb until 15:10", "… until tomorrow, 08:00", "Do not
// disturb", "Notifications paused by the desktop"; empty when not quiet.
QString describe(const State &state, WallClockTime now);
// A word for scripts: "doNotDisturb", "inhibited" or "".
QString reasonToken(const State &state, WallClockTime now);

} // namespace Quiet
