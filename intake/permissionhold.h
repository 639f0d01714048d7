#pragma once

// How a permission request is answered from Tolvo, shared by the hook helper
// (plain C++, no Qt) and Tolvo itself.
//
// While Tolvo runs and holding is on, the helper that reports a
// PermissionRequest connects to the stream socket ~/.tolvo/answers, sends
// the request's id and a line feed, writes its record (which carries the id
// as "request" and its own process id as "helper_pid") and waits. Tolvo
// sends back one line: the decision object to print, or an empty line for
// none; either side closing ends the wait. The file ~/.tolvo/hold holds the
// longest wait in seconds; without it the helper does not wait at all.

#include <algorithm>
#include <array>
#include <string_view>

namespace PermissionHold {

inline constexpr const char *socketName = "answers";
inline constexpr const char *boundName = "hold";

// The bound the user may set, in minutes, and the margin the hook's timeout
// in the agent's settings keeps above it, so that the agent never ends the
// helper first.
inline constexpr int shortestMinutes = 1;
inline constexpr int longestMinutes = 60;
inline constexpr int defaultMinutes = 9;
inline constexpr int timeoutMarginSeconds = 60;

// An id is 128 random bits as 32 lowercase hexadecimal digits.
inline constexpr std::size_t idLength = 32;

constexpr bool isRequestId(std::string_view id)
{
    return id.size() == idLength && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

enum class Handling {
    held,             // the helper waits for Tolvo's answer
    answerInTerminal, // the terminal shows what only it can ask; no decision is given
    notHeld,          // the agent waits for the hook before it asks: holding would hide the dialog
};

// Tools whose dialog is itself the question (a choice, a plan to accept):
// an allow from outside would answer without the user having read it.
inline constexpr std::array<std::string_view, 2> interactiveTools{"AskUserQuestion",
                                                                  "ExitPlanMode"};

// `fromSubagent`: the request's input names the subagent that asks.
constexpr Handling handling(std::string_view tool, bool fromSubagent)
{
    if (std::find(interactiveTools.begin(), interactiveTools.end(), tool) != interactiveTools.end())
        return Handling::answerInTerminal;
    return fromSubagent ? Handling::notHeld : Handling::held;
}

} // namespace PermissionHold
