#pragma once

// Claude Code's one status line per settings file, shared between Tolvo's
// helper and the user's own command: wrapped on install, given back on remove.

#include "hookinstaller.h"
#include "settingsjson.h"

namespace StatusLineSettings {

// Makes the status line Tolvo's, as far as it can be; returns the note for one it leaves.
QString share(SettingsJson::Json &root, const QString &prefix);
// Gives the user's status line back; returns the note for one it leaves.
QString unshare(SettingsJson::Json &root);
// Where the settings' status line stands.
HookInstaller::StatusLineInspection inspect(const SettingsJson::Json &root, const QString &prefix);

} // namespace StatusLineSettings
