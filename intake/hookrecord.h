#pragma once

// The reduction of one Claude Code hook input to the record that travels
// through the event pipe. Plain C++ and nlohmann-json: tolvo-hook runs once
// per hook and must start quickly, so nothing here needs Qt.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace HookRecord {

// Where the session runs: environment variables of the terminal and the
// controlling terminal, as member name and value, in the order they appear
// in the record's "terminal" object.
using Terminal = std::vector<std::pair<std::string, std::string>>;

// One compact JSON line (without its line feed) for a hook input, or nothing
// when the input is not a JSON object. `instance` is the text the hook
// command passes for Claude Code's process id.
//
// Members: instance, event, tool, details, working_directory (always there,
// null when unknown), then session_id, notification_type, message, source,
// reason, error, reply and transcript_path where the input has them, then
// terminal unless it is empty.
//
// Text that is not valid UTF-8, and \u escapes of lone surrogates, become
// U+FFFD instead of costing the record.
//
// A PermissionRequest's record also keeps its permission_suggestions and,
// when a subagent asks, its agent_id.
struct Summary
{
    std::string event; // hook_event_name, empty when there is none
    std::string tool;
    bool fromSubagent = false;
};
// `agent`: the token of an agent other than Claude Code (hookeventkinds.h),
// which the record then carries as "agent" after "instance"; empty for Claude Code.
std::optional<std::string> reduce(std::string_view input, const std::string &instance,
                                  const Terminal &terminal, Summary *summary = nullptr,
                                  std::string_view agent = {});

// The record of a status-line input (Claude Code's statusLine command): instance,
// event "StatusLine", session_id, working_directory and transcript_path where
// the input has them as text, then "usage" with each member the input has
// within the bounds of usagebounds.h (model, model_id, context_percent,
// context_size, cost_usd, duration_ms, lines_added, lines_removed, five_hour
// and seven_day as {used_percent, resets_at}). Nothing when the input is not a
// JSON object. `shown`, when given, gets the short line the helper prints
// without a command of the user's: "Opus 5.5 · 42% · $1.23", leaving out what
// is missing, empty when all is.
std::optional<std::string> statusLine(std::string_view input, const std::string &instance,
                                      std::string *shown = nullptr);

// The record with the id of the request its helper waits on and the
// helper's process id ("request", "helper_pid") added last.
std::string withRequest(std::string record, std::string_view id, long helperPid);

// What the helper prints for the agent from Tolvo's answer line (a decision
// object): the decision, with only the members a decision may have, inside
// hookSpecificOutput. Nothing for a line that is no allow or deny.
std::optional<std::string> decisionOutput(std::string_view answer);

} // namespace HookRecord
