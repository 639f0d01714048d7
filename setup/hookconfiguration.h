#pragma once

#include "permissionhold.h"

#include <QString>

// The hooks configuration that the user pastes into ~/.claude/settings.json.
// `prefix` is the install prefix: the parent of the directory holding the
// executable (/usr when installed, the build directory in the build tree).
namespace HookConfiguration {

QString installPrefix();

// Why hooks cannot point into `prefix`, as one line for the user without a final full
// stop; empty when they can. A relative path or one with a control character is refused:
// Claude Code runs the hooks from other folders, and a line feed or escape sequence in
// the configuration would hide what it runs.
QString prefixProblem(const QString &prefix = installPrefix());

// The hook helper, <prefix>/libexec/tolvo/tolvo-hook.
QString hookHelperPath(const QString &prefix = installPrefix());

// The shell command every hook runs: the helper's path in single quotes, then "$PPID",
// which is Claude Code's process id and tells its sessions apart. Whatever the path
// holds, sh runs exactly that program with that one argument. Empty when the prefix has
// a problem.
QString hookCommand(const QString &prefix = installPrefix());

// The "hooks" section (without the braces around it) as the user pastes it: one matcher
// group running hookCommand() on each event Tolvo listens to. The PermissionRequest
// hook's timeout is the longest hold, `holdMinutes`, plus a margin, so that Claude Code
// never ends a helper that waits for the user's answer. Empty when the prefix has a
// problem.
QString hooksConfiguration(const QString &prefix = installPrefix(),
                           int holdMinutes = PermissionHold::defaultMinutes);

} // namespace HookConfiguration
