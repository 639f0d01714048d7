#pragma once

// The environment variables that say where a session runs, each set by a
// terminal (or tmux) for the programs it runs. tolvo-hook copies those that are
// set into the record's "terminal" object, beside the "tty" it finds itself;
// Go to Terminal reads them from there, or from a tmux client's
// /proc/<pid>/environ. Plain C++: the helper links no Qt.
namespace TerminalVariables {

inline constexpr char tmux[] = "TMUX";          // "<socket>,<server pid>,<session index>"
inline constexpr char tmuxPane[] = "TMUX_PANE"; // "%3"
inline constexpr char termProgram[] = "TERM_PROGRAM";
inline constexpr char kittyWindowId[] = "KITTY_WINDOW_ID";
inline constexpr char kittyListenOn[] = "KITTY_LISTEN_ON"; // "unix:/tmp/kitty-1" or "unix:@kitty-1"
inline constexpr char weztermPane[] = "WEZTERM_PANE";
inline constexpr char windowId[] = "WINDOWID";                   // a decimal X11 window id
inline constexpr char konsoleService[] = "KONSOLE_DBUS_SERVICE"; // ":1.42", "org.kde.konsole-1234"
inline constexpr char konsoleSession[] = "KONSOLE_DBUS_SESSION"; // "/Sessions/2"

// Every one of them, in the order the record lists them.
inline constexpr const char *all[] = {tmux,          tmuxPane,       termProgram,
                                      kittyWindowId, kittyListenOn,  weztermPane,
                                      windowId,      konsoleService, konsoleSession};

// The record's member beside them: the session's terminal device, "/dev/pts/5".
inline constexpr char tty[] = "tty";

} // namespace TerminalVariables
