#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Where a session's terminal is, as its hook process saw it: the members of
// the `terminal` object of the newest hook record. Only members that were set
// are non-empty. Nothing here is trusted: every value is checked by the
// functions below before it reaches a command line.
struct TerminalRecord
{
    QString tmux;           // TMUX: "<socket>,<server pid>,<session index>"
    QString tmuxPane;       // TMUX_PANE: "%3"
    QString termProgram;    // TERM_PROGRAM
    QString kittyWindowId;  // KITTY_WINDOW_ID
    QString kittyListenOn;  // KITTY_LISTEN_ON: "unix:/tmp/kitty-123"
    QString weztermPane;    // WEZTERM_PANE
    QString windowId;       // WINDOWID: decimal X11 window id
    QString konsoleService; // KONSOLE_DBUS_SERVICE: ":1.42" or "org.kde.konsole-1234"
    QString konsoleSession; // KONSOLE_DBUS_SESSION: "/Sessions/2"
    QString tty;            // "/dev/pts/5"

    static TerminalRecord fromJson(const QJsonObject &object);
    // The same members from a process's /proc/<pid>/environ (NUL-separated).
    static TerminalRecord fromEnvironment(const QByteArray &environ);
    bool operator==(const TerminalRecord &) const = default;
};

// One program run: never a shell string.
struct FocusCommand
{
    QString program;
    QStringList arguments;
    bool operator==(const FocusCommand &) const = default;
};

// A Konsole session as reached over the session bus.
struct KonsoleTarget
{
    QString service;
    int sessionId = 0;
    bool operator==(const KonsoleTarget &) const = default;
};

// A tmux client as `list-clients` reports it.
struct TmuxClient
{
    QString tty;
    qint64 pid = 0;
    bool operator==(const TmuxClient &) const = default;
};

namespace TerminalCommands {

// Whether `path` is a socket owned by this user (lstat, so a link to one is not).
bool isOwnSocket(const QString &path);

// The tmux server's socket (first field of TMUX), if it is an absolute path to
// a socket owned by this user.
std::optional<QString> tmuxSocket(const TerminalRecord &record);
// TMUX_PANE if it is a pane id ("%" and digits).
std::optional<QString> tmuxPane(const TerminalRecord &record);

// Asks the server for the id of the session that holds the pane (empty output
// when the pane is gone). Empty when the record's tmux members are unusable.
std::optional<FocusCommand> tmuxSessionQuery(const TerminalRecord &record);
// Lists the server's clients in the form pickTmuxClient() reads.
std::optional<FocusCommand> tmuxClientsQuery(const TerminalRecord &record);
// The most recently active client, preferring one attached to `sessionId`.
std::optional<TmuxClient> pickTmuxClient(const QString &listClientsOutput,
                                         const QString &sessionId);
// Selects the pane's window and the pane, then shows it on `clientTty` if one
// is given. Empty when the record's tmux members are unusable.
QList<FocusCommand> tmuxCommands(const TerminalRecord &record, const QString &clientTty);

// `kitty @ focus-window` for KITTY_WINDOW_ID, through KITTY_LISTEN_ON where set.
// An address that is neither a socket of this user nor an abstract one skips kitty.
std::optional<FocusCommand> kittyCommand(const TerminalRecord &record);
std::optional<FocusCommand> weztermCommand(const TerminalRecord &record);
std::optional<KonsoleTarget> konsoleTarget(const TerminalRecord &record);

// WINDOWID when it is a plain decimal X11 window id.
std::optional<quint32> windowId(const TerminalRecord &record);

// The parent pid from the text of /proc/<pid>/stat; its command field may
// hold anything, including ") 1 2".
std::optional<qint64> parentFromStat(const QByteArray &stat);

// The terminal window of a process: among (window, pid) pairs in stacking
// order, bottom first, the window of the nearest ancestor in `ancestors`
// (the process itself first); the topmost when that ancestor has several.
// 0 when none matches.
quint32 chooseWindow(const QList<qint64> &ancestors,
                     const QList<std::pair<quint32, qint64>> &windowPids);

} // namespace TerminalCommands
