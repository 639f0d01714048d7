#pragma once

#include "hookconfiguration.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Puts Tolvo's hooks into an agent's settings file (Claude Code's settings.json, Codex's
// hooks.json, Gemini CLI's settings.json: the same shape of "hooks") and takes them out
// again.
//
// The first half works on settings text only (no file access), so that it can be
// checked against any input. A hook entry is Tolvo's when its command runs a program
// named tolvo-hook, or a script named tolvo.sh (the command of older versions, which
// install rewrites); everything else in the settings belongs to the user and keeps its
// place, numbers with the text they were written in. Empty or whitespace-only text
// counts as settings without any keys. None of these functions throws, whatever the
// text.
namespace HookInstaller {

using HookConfiguration::Agent;

enum class State {
    Invalid,         // not valid JSON, or not shaped like settings; `reason` says why
    NotInstalled,    // no Tolvo entries at all
    Installed,       // installing would change nothing
    OtherScriptPath, // an entry runs Tolvo's helper elsewhere, e.g. from a moved build,
                     // or through an older version's command
    Incomplete,      // Tolvo's entries with this script, but not on every event, or doubled
};

struct Inspection
{
    State state = State::Invalid;
    // Invalid only: completes "The settings file ...", e.g. "is not valid JSON: ...".
    QString reason;
    // OtherScriptPath only: the other scripts' paths, each once, in file order.
    QStringList otherScriptPaths;
};

// The result of changing settings text.
struct Edit
{
    bool ok = false;      // false: refused, the text must not be written
    QString reason;       // why it was refused, as in Inspection::reason
    bool changed = false; // whether the settings differ in content from the input
    QByteArray text;      // the settings to write; the input itself when unchanged
    QString note;         // a sentence about what the edit left alone and why; mostly empty
};

// Claude Code's settings hold one "statusLine", which Tolvo shares with the user's own:
// Tolvo's command (HookConfiguration::statusLineCommand) runs the user's command as its
// last word.
enum class StatusLineState {
    Invalid,     // the settings are not valid
    Absent,      // no "statusLine"
    User,        // the user's own command alone
    Installed,   // Tolvo's, as install writes it for this prefix
    OtherHelper, // Tolvo's, for another prefix or written differently: install rewrites it
    Unreadable,  // runs Tolvo's helper, but its last word cannot be read back
    NotCommand,  // not an entry with a command: left alone
};

struct StatusLineInspection
{
    StatusLineState state = StatusLineState::Invalid;
    // User, Installed, OtherHelper: the user's own command, if there is one.
    std::optional<QString> userCommand;
    // NotCommand: completes "The status line ...", e.g. "is not an object".
    QString reason;
};

// Whether a hook command runs Tolvo's hook helper: this one, an older one piping jq's
// output into "/…/tolvo.sh", or any other command with a word naming a tolvo-hook or a
// tolvo.sh.
bool isTolvoCommand(QStringView command);

// `holdMinutes`: see HookConfiguration::hooksConfiguration.
Inspection inspect(const QByteArray &settings,
                   const QString &prefix = HookConfiguration::installPrefix(),
                   int holdMinutes = PermissionHold::defaultMinutes, Agent agent = Agent::claudeCode);

// With `shareStatusLine` (Claude Code only) install also makes Claude Code's status line
// Tolvo's: a new one when there is none, else its "command" becomes Tolvo's wrapped around
// the user's own, every other key of the entry kept in place. An entry of Tolvo's is
// rewritten for this prefix, keeping the user's command; an unreadable one, or one that
// is not a command entry, is left alone (the edit's note says so).
//
// Adds the hooks of HookConfiguration::hooksConfiguration(prefix). An event's existing
// Tolvo entry is rewritten in place; further Tolvo entries, also in other events, are
// dropped; an event without one gets Tolvo's group appended, a missing event or "hooks"
// object goes last. Output: two-space indent and a final newline. Refused for a prefix
// with a HookConfiguration::prefixProblem().
Edit install(const QByteArray &settings, const QString &prefix = HookConfiguration::installPrefix(),
             int holdMinutes = PermissionHold::defaultMinutes, Agent agent = Agent::claudeCode,
             bool shareStatusLine = false);

// Takes out every Tolvo entry. A matcher group, an event or the whole "hooks" object
// that is left empty by this is dropped; ones that were empty before stay. For Claude
// Code Tolvo's status line gives the user's command back, the rest of its entry as it
// is, or goes entirely when it wrapped none; one whose user's command cannot be read
// back stays, and the note says so.
Edit remove(const QByteArray &settings, Agent agent = Agent::claudeCode);

StatusLineInspection inspectStatusLine(const QByteArray &settings,
                                       const QString &prefix = HookConfiguration::installPrefix());
// One line for the user about Claude Code's status line; empty for Invalid.
QString describe(const StatusLineInspection &inspection);

// One line for the user about an inspection.
QString describe(const Inspection &inspection, Agent agent = Agent::claudeCode);

// --- The settings file ---

// ~/.claude/settings.json, $CODEX_HOME/hooks.json (~/.codex/hooks.json without it: Codex
// reads the same), ~/.gemini/settings.json
QString defaultSettingsPath(Agent agent = Agent::claudeCode);
// A path as the user reads it: ~/ for the home folder.
QString shownPath(const QString &path);
// The copy of the settings file made before Tolvo first changes it.
QString backupPath(const QString &settingsPath);

// A missing file reads as empty settings; an unreadable one is Invalid.
Inspection inspectFile(const QString &settingsPath,
                       const QString &prefix = HookConfiguration::installPrefix(),
                       int holdMinutes = PermissionHold::defaultMinutes,
                       Agent agent = Agent::claudeCode);

struct FileOutcome
{
    bool ok = false;      // false: nothing was written; `message` says why
    bool changed = false; // whether the file was written
    QString message;      // one line for the user about what happened
};

// Runs after the file was read and its new text prepared, just before the file is read
// again to see whether anything else changed it; lets a test change it at that moment.
using BeforeReplace = std::function<void()>;

// Write atomically, creating the file and its directory when missing. Before the
// first change of an existing file a copy is kept at backupPath(). A file that is
// not valid settings is never written, nor one that changes while Tolvo edits it
// (a change is redone once on the new content, then given up).
StatusLineInspection
inspectStatusLineFile(const QString &settingsPath,
                      const QString &prefix = HookConfiguration::installPrefix());

// An edit's note follows the message.
FileOutcome installFile(const QString &settingsPath,
                        const QString &prefix = HookConfiguration::installPrefix(),
                        const BeforeReplace &beforeReplace = {},
                        int holdMinutes = PermissionHold::defaultMinutes,
                        Agent agent = Agent::claudeCode, bool shareStatusLine = false);
FileOutcome removeFile(const QString &settingsPath, const BeforeReplace &beforeReplace = {},
                       Agent agent = Agent::claudeCode);

// Claude Code prefers a project's own status line, in .claude/settings.json or
// .claude/settings.local.json of the folder it runs in, to the user's. One line when
// `directory` has one that is not Tolvo's (its sessions report no usage); empty
// otherwise. `userSettings`, the file of the user's own settings, is not a project's
// even when `directory` is the home folder.
QString projectStatusLineNote(const QString &directory, const QString &userSettings,
                              const QString &prefix = HookConfiguration::installPrefix());

} // namespace HookInstaller
