#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The scripts that RemoteSetup runs on a remote host, one per step, each for sh started
// in the remote user's home. They are constant text: what a step needs to know travels
// over its standard input, and what it finds out over its standard output.
namespace RemoteScripts {

// Claude Code's settings, relative to the home.
inline const QString settingsPath = QStringLiteral(".claude/settings.json");

// The lines a step prints to say what it found or did. Whatever the remote's shell
// startup files print comes before them, and is skipped.
inline constexpr char probeLine[] = "tolvo:probe";
inline constexpr char presentLine[] = "tolvo:present";
inline constexpr char missingLine[] = "tolvo:missing";
inline constexpr char backupLine[] = "tolvo:backup";
inline constexpr char deletedLine[] = "tolvo:deleted";

// What follows the first line of `out` that is `line`; unset when there is none.
std::optional<QByteArray> after(const QByteArray &out, const char *line);

// What the remote user's login shell, whichever shell it is, is given to run `script`
// with sh from the home.
QString shellCommand(const QString &script);

// Output: probeLine, then the remote's system (uname -s), machine (uname -m), the
// sha256sum line of its helper (an empty line when it has none) and its home, each on a
// line; then what readSettings() outputs.
QString probe();

// Input: the helper's sha256 in hex on a line, then the helper.
QString copyHelper();

// Output: presentLine and the settings, or missingLine.
QString readSettings();
// The same, after stopping the helper's relay.
QString stopRelayAndReadSettings();

// Input: the sha256 in hex of the settings as they were read ("missing" when there were
// none) on a line, then the new settings. Output: backupLine when it kept a copy of the
// old settings. Exits with `changedMeanwhile` when the settings are no longer as read.
QString writeSettings();
constexpr int changedMeanwhile = 3;

// Output: deletedLine when there was a helper.
QString deleteHelper();

} // namespace RemoteScripts
