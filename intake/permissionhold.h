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
// longest wait in seconds, then the words of the agents whose requests are
// held ("claude", "codex"; none: Claude Code's only); without it the helper
// does not wait at all.

#include <algorithm>
#include <array>
#include <string>
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

// The agents whose requests may be held, by the words the hold file names
// them with: Claude Code and Codex wait for the hook before they ask, but
// Codex shows no prompt until it has returned, so holding is its own choice.
inline constexpr std::string_view claudeWord = "claude";
inline constexpr std::string_view codexWord = "codex";

// How long helpers wait, and whose requests they hold.
struct Bound
{
    long seconds = 0; // 0: no helper waits
    bool claude = false;
    bool codex = false;
    bool operator==(const Bound &) const = default;
};

// The hold file's text for a bound: the seconds and the words of the agents held.
inline std::string boundText(const Bound &bound)
{
    std::string text = std::to_string(bound.seconds);
    if (bound.claude)
        text.append(" ").append(claudeWord);
    if (bound.codex)
        text.append(" ").append(codexWord);
    return text + '\n';
}

// Whether the hold file's text holds requests of the agent with that word.
constexpr bool holds(std::string_view text, std::string_view word)
{
    const std::size_t number = text.find_first_not_of("0123456789");
    if (number == 0)
        return false;
    text.remove_prefix(number == std::string_view::npos ? text.size() : number);
    bool named = false;
    while (!text.empty()) {
        const std::size_t start = text.find_first_not_of(" \t\n");
        if (start == std::string_view::npos)
            break;
        text.remove_prefix(start);
        const std::string_view token = text.substr(0, text.find_first_of(" \t\n"));
        if (token == word)
            return true;
        named = true;
        text.remove_prefix(token.size());
    }
    return !named && word == claudeWord;
}

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
