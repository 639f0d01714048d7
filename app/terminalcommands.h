#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QObject;
#include <functional>
#include <optional>
#include <variant>

// Where a session's terminal is, as its hook process saw it: the terminal
// variables (TerminalVariables::all) that were set, by name. Nothing here is
// trusted: each terminal's builder checks the values it reads before any of
// them reaches a command line.
struct TerminalRecord
{
    QHash<QString, QString> values;

    // The `terminal` object of a hook record.
    static TerminalRecord fromJson(const QJsonObject &object);
    // A process's /proc/<pid>/environ (NUL-separated).
    static TerminalRecord fromEnvironment(const QByteArray &environ);
};

// One program run: never a shell string.
struct FocusCommand
{
    QString program;
    QStringList arguments;
};

// A pane on a tmux server whose socket is this user's.
struct TmuxPane
{
    QString socket;
    QString pane; // "%3"
};

// A Konsole session as reached over the session bus.
struct KonsoleSession
{
    QString service;
    int sessionId = 0;
};

// The X11 window to bring forward; 0: the window of the session's process tree.
struct X11Window
{
    quint32 id = 0;
};

// What going to one terminal takes: tmux's conversation with its server, one
// program, Konsole's bus calls, or the window manager.
using FocusStep = std::variant<TmuxPane, FocusCommand, KonsoleSession, X11Window>;

struct FocusTarget
{
    FocusStep step;
    QString shown; // what the row text names: the pane, window or session
};

// One terminal Go to Terminal knows.
struct Terminal
{
    QString name;              // FocusResult::terminal
    QList<const char *> needs; // the record's variables the builder reads, in its order
    // From the values of `needs` (empty where not set): the step, or nothing when
    // they are missing, malformed or name a socket that is not this user's.
    std::optional<FocusTarget> (*build)(const QStringList &values);
    QString done; // the row text once the step worked; %1 is FocusTarget::shown
};

// A tmux client as `list-clients` reports it.
struct TmuxClient
{
    QString tty;
    qint64 pid = 0;
};

namespace TerminalCommands {

// The terminals in the order Go to Terminal tries them: the first whose target
// builds takes its step, then the last row, the X11 window, which always builds,
// brings the terminal forward. After tmux the walk goes on from the next row
// with the environment of the tmux client that shows the pane.
const QList<Terminal> &terminals();
std::optional<FocusTarget> target(const Terminal &terminal, const TerminalRecord &record);

// Whether `path` is a socket owned by this user (lstat, so a link to one is not).
bool isOwnSocket(const QString &path);

// Asks the server for the id of the session that holds the pane (empty output
// when the pane is gone).
FocusCommand tmuxSessionQuery(const TmuxPane &pane);
// Lists the server's clients in the form pickTmuxClient() reads.
FocusCommand tmuxClientsQuery(const TmuxPane &pane);
// The most recently active client, preferring one attached to `sessionId`.
std::optional<TmuxClient> pickTmuxClient(const QString &listClientsOutput,
                                         const QString &sessionId);
// Selects the pane's window and the pane, then shows it on `clientTty` if one
// is given.
QList<FocusCommand> tmuxCommands(const TmuxPane &pane, const QString &clientTty);

// The parent pid from the text of /proc/<pid>/stat; its command field may
// hold anything, including ") 1 2".
std::optional<qint64> parentFromStat(const QByteArray &stat);

// /proc/<pid>/<name>, at most 256 KiB of it; empty when it cannot be read.
QByteArray readProcFile(qint64 pid, const char *name);

// Runs `command` (found on PATH) as a child of `owner`, with no input and its
// errors dropped, and kills it after `timeoutMs`. `done` comes once, from the
// event loop or at once when the program is not found: ok for a normal exit
// with status 0, and its output then. `environment` empty: Tolvo's own.
using Done = std::function<void(bool ok, const QByteArray &output)>;
void runBounded(QObject *owner, const FocusCommand &command, int timeoutMs, Done done,
                const QProcessEnvironment &environment = {});
// The process itself, then its parent, and so on up to (but not including) init.
QList<qint64> processAncestors(qint64 pid);

// The terminal window of a process: among (window, pid) pairs in stacking
// order, bottom first, the window of the nearest ancestor in `ancestors`
// (the process itself first); the topmost when that ancestor has several.
// 0 when none matches.
quint32 chooseWindow(const QList<qint64> &ancestors,
                     const QList<std::pair<quint32, qint64>> &windowPids);

} // namespace TerminalCommands
