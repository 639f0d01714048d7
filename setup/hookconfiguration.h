#pragma once

#include <QString>

// The hooks configuration that the user pastes into ~/.claude/settings.json.
// `prefix` is the install prefix: the parent of the directory holding the
// executable (/usr when installed, the build directory in the build tree).
namespace HookConfiguration {

QString installPrefix();

QString hookScriptPath(const QString &prefix = installPrefix());
QString hookCommand(const QString &prefix = installPrefix());
QString hooksConfiguration(const QString &prefix = installPrefix());

} // namespace HookConfiguration
