#include "hookrecord.h"

#include "hookeventkinds.h"
#include "hookjson.h"
#include "usagebounds.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace HookRecord {

namespace {

using namespace HookJson;

constexpr std::size_t replyCodePoints = 500;
// The member of an object; nullptr when either is missing.
const Json *memberOf(const Json *object, const char *name)
{
    if (!object || !object->is_object())
        return nullptr;
    const auto found = object->find(name);
    return found != object->end() ? &*found : nullptr;
}

std::optional<double> numberIn(const Json *value, UsageBounds::Range range)
{
    if (!value || !value->is_number())
        return std::nullopt;
    const double number = value->get<double>();
    return UsageBounds::admits(range, number) ? std::optional(number) : std::nullopt;
}

// Sets `name` when `value` is a number within `range`; whether it did.
bool putNumber(Json &usage, const char *name, const Json *value, UsageBounds::Range range)
{
    const std::optional<double> number = numberIn(value, range);
    if (!number)
        return false;
    if (range.whole)
        usage[name] = static_cast<std::int64_t>(*number);
    else
        usage[name] = *number;
    return true;
}

// A rate-limit window: {used_percent, resets_at}, or nothing without a valid used_percent.
Json usageWindow(const Json *window)
{
    Json shown = Json::object();
    if (!putNumber(shown, "used_percent", memberOf(window, "used_percentage"),
                   UsageBounds::percent))
        return nullptr;
    putNumber(shown, "resets_at", memberOf(window, "resets_at"), UsageBounds::resetsAt);
    return shown;
}

} // namespace

std::optional<std::string> reduce(std::string_view input, const std::string &instance,
                                  const Terminal &terminal, Summary *summary,
                                  std::string_view agent)
{
    const Json hook = parsedRepaired(input);
    if (!hook.is_object())
        return std::nullopt;

    // The older hook command reduced the input with jq before this program
    // and passed no process id: its record goes on as it is.
    const auto member = hook.find("instance");
    if (instance.empty() && member != hook.end() && member->is_string() &&
        !hook.contains("hook_event_name"))
        return compact(hook);

    const auto text = [&hook](const char *name) -> const std::string * {
        const auto found = hook.find(name);
        return found != hook.end() && found->is_string() ? found->get_ptr<const std::string *>()
                                                         : nullptr;
    };
    const auto textOrNull = [&text](const char *name) {
        const std::string *value = text(name);
        return value ? Json(*value) : Json(nullptr);
    };

    Json record = Json::object();
    record["instance"] = instance;
    if (!agent.empty())
        record["agent"] = std::string(agent);
    record["event"] = textOrNull("hook_event_name");
    record["tool"] = textOrNull("tool_name");

    // What the row shows next to the state.
    Json details;
    const std::string *event = text("hook_event_name");
    if (event && hookEventKindOf(agent, *event) == HookEventKind::notification) {
        details = textOrNull("notification_type");
        if (details.is_null())
            details = textOrNull("message");
    } else {
        for (const char *name : {"prompt", "compact_trigger", "trigger"}) {
            if (const std::string *value = text(name)) {
                details = *value;
                break;
            }
        }
        const auto toolInput = hook.find("tool_input");
        if (details.is_null() && toolInput != hook.end() && !toolInput->is_null())
            details = compact(*toolInput);
    }
    record["details"] = std::move(details);
    record["working_directory"] = textOrNull("cwd");

    for (const char *name :
         {"session_id", "notification_type", "message", "source", "reason", "error"}) {
        if (const std::string *value = text(name))
            record[name] = *value;
    }
    const auto error = hook.find("error");
    if (error != hook.end() && !error->is_null() && !error->is_string())
        record["error"] = compact(*error);
    const std::string *reply = text("last_assistant_message");
    if (!reply)
        reply = text("prompt_response"); // Gemini CLI's
    if (reply)
        record["reply"] = std::string(leadingCodePoints(*reply, replyCodePoints));
    if (const std::string *transcript = text("transcript_path"))
        record["transcript_path"] = *transcript;
    const bool permissionRequest =
        event && hookEventKindOf(agent, *event) == HookEventKind::permissionRequest;
    const std::string *subagent = text("agent_id");
    if (permissionRequest) {
        const auto suggestions = hook.find("permission_suggestions");
        if (suggestions != hook.end() && suggestions->is_array())
            record["permission_suggestions"] = *suggestions;
        if (subagent)
            record["agent_id"] = *subagent;
    }
    if (summary) {
        summary->event = event ? *event : std::string();
        const std::string *tool = text("tool_name");
        summary->tool = tool ? *tool : std::string();
        summary->fromSubagent = subagent && !subagent->empty();
    }

    if (!terminal.empty()) {
        Json where = Json::object();
        for (const auto &[name, value] : terminal)
            where[name] = value;
        record["terminal"] = std::move(where);
    }
    return compact(record);
}

std::optional<std::string> statusLine(std::string_view input, const std::string &instance,
                                      std::string *shown)
{
    const Json given = parsedRepaired(input);
    if (!given.is_object())
        return std::nullopt;
    const auto text = [](const Json *value) -> const std::string * {
        return value && value->is_string() ? value->get_ptr<const std::string *>() : nullptr;
    };

    Json record = Json::object();
    record["instance"] = instance;
    record["event"] = "StatusLine";
    for (const auto &[name, from] : {std::pair{"session_id", "session_id"},
                                     {"working_directory", "cwd"},
                                     {"transcript_path", "transcript_path"}}) {
        if (const std::string *value = text(memberOf(&given, from)))
            record[name] = *value;
    }

    Json usage = Json::object();
    const Json *model = memberOf(&given, "model");
    for (const auto &[name, from] : {std::pair{"model", "display_name"}, {"model_id", "id"}}) {
        const std::string *value = text(memberOf(model, from));
        if (value && value->size() <= UsageBounds::textBytes)
            usage[name] = *value;
    }
    const Json *context = memberOf(&given, "context_window");
    putNumber(usage, "context_percent", memberOf(context, "used_percentage"), UsageBounds::percent);
    putNumber(usage, "context_size", memberOf(context, "context_window_size"),
              UsageBounds::contextSize);
    const Json *cost = memberOf(&given, "cost");
    putNumber(usage, "cost_usd", memberOf(cost, "total_cost_usd"), UsageBounds::costUsd);
    putNumber(usage, "duration_ms", memberOf(cost, "total_duration_ms"), UsageBounds::durationMs);
    putNumber(usage, "lines_added", memberOf(cost, "total_lines_added"), UsageBounds::lines);
    putNumber(usage, "lines_removed", memberOf(cost, "total_lines_removed"), UsageBounds::lines);
    const Json *limits = memberOf(&given, "rate_limits");
    for (const char *name : {"five_hour", "seven_day"}) {
        Json window = usageWindow(memberOf(limits, name));
        if (!window.is_null())
            usage[name] = std::move(window);
    }

    if (shown) {
        std::string line;
        const auto add = [&line](std::string_view part) {
            line.append(line.empty() ? "" : " \xC2\xB7 ").append(part);
        };
        if (const auto found = usage.find("model"); found != usage.end())
            add(found->get<std::string>());
        char number[64];
        if (const auto found = usage.find("context_percent"); found != usage.end()) {
            std::snprintf(number, sizeof number, "%.0f%%", std::round(found->get<double>()));
            add(number);
        }
        if (const auto found = usage.find("cost_usd"); found != usage.end()) {
            std::snprintf(number, sizeof number, "$%.2f", found->get<double>());
            add(number);
        }
        *shown = std::move(line);
    }
    record["usage"] = std::move(usage);
    return compact(record);
}

std::string withRequest(std::string record, std::string_view id, long helperPid)
{
    // The record is one compact object: its last character is the "}".
    record.pop_back();
    record += ",\"request\":" + compact(Json(std::string(id))) +
              ",\"helper_pid\":" + std::to_string(helperPid) + '}';
    return record;
}

std::optional<std::string> decisionOutput(std::string_view answer)
{
    const Json given = Json::parse(answer, nullptr, false);
    if (!given.is_object())
        return std::nullopt;
    const auto behavior = given.find("behavior");
    if (behavior == given.end() || (*behavior != "allow" && *behavior != "deny"))
        return std::nullopt;
    Json decision = Json::object();
    decision["behavior"] = *behavior;
    for (const char *name : {"updatedPermissions", "updatedInput", "message", "interrupt"}) {
        if (const auto member = given.find(name); member != given.end())
            decision[name] = *member;
    }
    Json output = Json::object();
    output["hookSpecificOutput"] = {{"hookEventName", "PermissionRequest"},
                                    {"decision", std::move(decision)}};
    return compact(output);
}

} // namespace HookRecord
