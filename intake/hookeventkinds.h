#pragma once

// The hook event kinds Tolvo knows, defined once for the hook helper (which
// must not link Qt), the decoder, the hooks configuration and the session
// rules. A new kind is one enumerator and one row below; the compiler then
// names every switch in model/ that has to decide what the kind does.

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

enum class HookEventKind : unsigned char {
    userPromptSubmit,
    preToolUse,
    postToolUse,
    stop,
    subagentStop,
    notification,
    preCompact,
    sessionStart,
    sessionEnd,
    permissionRequest,
    stopFailure,
    // The user interrupted the turn (Codex: Escape, also at its approval
    // prompt); no Stop follows.
    interrupt,
    // Usage reported by Claude Code's status-line command (model, context,
    // cost, rate limits); no hook.
    statusLine,
    // Any other name: it still finds or creates its session (and so revives an
    // exited one), and changes nothing else.
    other,
};

struct HookEventKindRow
{
    HookEventKind kind;
    std::string_view wireName; // as the agent writes it; exact and case-sensitive
    std::string_view label;    // what a row's status line and log say for it
    bool installed;            // whether Tolvo's hooks configuration asks for it
};

// In the order of the enumeration, which is also the order of the sections
// in the hooks configuration.
inline constexpr std::array hookEventKinds{
    HookEventKindRow{HookEventKind::userPromptSubmit, "UserPromptSubmit", "Prompted", true},
    HookEventKindRow{HookEventKind::preToolUse, "PreToolUse", "Starting Tool", true},
    HookEventKindRow{HookEventKind::postToolUse, "PostToolUse", "Finished Tool", true},
    HookEventKindRow{HookEventKind::stop, "Stop", "Completed", true},
    HookEventKindRow{HookEventKind::subagentStop, "SubagentStop", "Agent Completed", true},
    HookEventKindRow{HookEventKind::notification, "Notification", "Notification", true},
    HookEventKindRow{HookEventKind::preCompact, "PreCompact", "Compacting Context", true},
    HookEventKindRow{HookEventKind::sessionStart, "SessionStart", "Session started", true},
    HookEventKindRow{HookEventKind::sessionEnd, "SessionEnd", "Session ended", true},
    HookEventKindRow{HookEventKind::permissionRequest, "PermissionRequest", "Permission requested",
                     true},
    HookEventKindRow{HookEventKind::stopFailure, "StopFailure", "Turn failed", true},
    HookEventKindRow{HookEventKind::interrupt, "Interrupt", "Interrupted", false},
    HookEventKindRow{HookEventKind::statusLine, "StatusLine", "Status line", false},
};

static_assert(hookEventKinds.size() == std::size_t(HookEventKind::other),
              "one row per kind, `other` has none");
static_assert(
    [] {
        for (std::size_t i = 0; i < hookEventKinds.size(); ++i) {
            if (hookEventKinds[i].kind != HookEventKind(i))
                return false;
        }
        return true;
    }(),
    "rows in the order of the enumeration");

// The kind of a wire name; `other` for any name not in the table.
constexpr HookEventKind hookEventKindOf(std::string_view wireName)
{
    for (const HookEventKindRow &row : hookEventKinds) {
        if (row.wireName == wireName)
            return row.kind;
    }
    return HookEventKind::other;
}

// The agents whose hooks report to Tolvo, by the token their hook command
// passes after "$PPID" (none for Claude Code) and their records carry as
// "agent". Other agents name their events differently, or have their own;
// each maps its names onto the same kinds, so that a state means the same for
// every agent.
inline constexpr std::array<std::string_view, 2> otherAgentTokens{"codex", "gemini"};

constexpr bool isAgentToken(std::string_view token)
{
    return token.empty() || std::find(otherAgentTokens.begin(), otherAgentTokens.end(), token) !=
                                otherAgentTokens.end();
}

struct HookEventAlias
{
    std::string_view agent;
    std::string_view wireName;
    HookEventKind kind;
};

// Codex names its events as Claude Code does; Gemini CLI has names of its own.
// Names not here and not Claude Code's are `other` (Gemini's PreCompress comes
// before every model request, compressing or not).
inline constexpr std::array hookEventAliases{
    HookEventAlias{"gemini", "BeforeAgent", HookEventKind::userPromptSubmit},
    HookEventAlias{"gemini", "BeforeTool", HookEventKind::preToolUse},
    HookEventAlias{"gemini", "AfterTool", HookEventKind::postToolUse},
    HookEventAlias{"gemini", "AfterAgent", HookEventKind::stop},
    HookEventAlias{"gemini", "Notification", HookEventKind::notification},
    HookEventAlias{"gemini", "SessionStart", HookEventKind::sessionStart},
    HookEventAlias{"gemini", "SessionEnd", HookEventKind::sessionEnd},
};

// The kind of an agent's event name (agent "" is Claude Code).
constexpr HookEventKind hookEventKindOf(std::string_view agent, std::string_view wireName)
{
    if (agent == "gemini") {
        for (const HookEventAlias &alias : hookEventAliases) {
            if (alias.agent == agent && alias.wireName == wireName)
                return alias.kind;
        }
        return HookEventKind::other;
    }
    return hookEventKindOf(wireName);
}

// The row of a kind; nullptr for `other`.
constexpr const HookEventKindRow *hookEventKindRow(HookEventKind kind)
{
    return kind == HookEventKind::other ? nullptr : &hookEventKinds[std::size_t(kind)];
}
