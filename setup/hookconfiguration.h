#pragma once

#include "permissionhold.h"
#include "session.h"

#include <QString>
#include <optional>

// The hooks configuration that the user pastes into ~/.claude/settings.json, and the ones
// Tolvo installs for the other agents it follows.
// `prefix` is the install prefix: the parent of the directory holding the
// executable (/usr when installed, the build directory in the build tree).
namespace HookConfiguration {

// The agents whose hooks report to Tolvo.
using Agent = ::Agent; // model/session.h

// The word naming the agent on tolvoctl's command line and after "$PPID" in the hook
// command: claude, codex, gemini.
QString agentWord(Agent agent);
std::optional<Agent> agentNamed(QStringView token);

QString installPrefix();

// Why hooks cannot point into `prefix`, as one line for the user without a final full
// stop; empty when they can. A relative path or one with a control character is refused:
// Claude Code runs the hooks from other folders, and a line feed or escape sequence in
// the configuration would hide what it runs.
QString prefixProblem(const QString &prefix = installPrefix());

// The hook helper, <prefix>/libexec/tolvo/tolvo-hook.
QString hookHelperPath(const QString &prefix = installPrefix());

// The shell command every hook runs: the helper's path in single quotes, then "$PPID",
// which is the agent's process id and tells its sessions apart, and for an agent other
// than Claude Code its token. Whatever the path holds, sh runs exactly that program with
// those arguments. Empty when the prefix has a problem.
QString hookCommand(const QString &prefix = installPrefix(), Agent agent = Agent::claudeCode);

// The command of Claude Code's status line that reports usage to Tolvo: the helper with
// --status-line and "$PPID", then, when the user has a status line of their own, its
// command as one more word in single quotes, which the helper runs for what the line
// shows. Empty when the prefix has a problem.
QString statusLineCommand(const QString &prefix = installPrefix(),
                          const std::optional<QString> &userCommand = std::nullopt);

// The "hooks" section (without the braces around it) as the user pastes it: one matcher
// group running hookCommand() on each event Tolvo listens to, in the shape the agent
// reads. The hook that holds the agent's permission prompt gets the longest hold,
// `holdMinutes`, plus a margin as its timeout (in the agent's unit), so that the agent
// never ends a helper that waits for the user's answer. Empty when the prefix has a
// problem.
QString hooksConfiguration(const QString &prefix = installPrefix(),
                           int holdMinutes = PermissionHold::defaultMinutes,
                           Agent agent = Agent::claudeCode);

} // namespace HookConfiguration
