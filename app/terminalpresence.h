#pragma once

#include "terminalcommands.h"
#include "terminalfocus.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class X11Windows;

// Whether the user has a session's terminal in front of them.
enum class Presence {
    inFront,    // its pane (tab, window) is the one shown, in the active window
    notInFront, // something else is shown or active
    unknown,    // Tolvo cannot tell: no window system to ask, no terminal known,
                // a program that failed or took too long
};

// What is known about a session's terminal: as for Go to Terminal, without
// anything of the user's click.
struct PresenceRequest
{
    qint64 pid = 0;          // the agent's process
    TerminalRecord terminal; // from the session's newest hook record
};

// Tells whether a session's terminal is in front of the user, walking the
// terminals as Go to Terminal does (TerminalCommands::terminals()):
// - tmux: the pane must be the one the most recently active client shows (the
//   active pane of the active window of that client's session); the walk goes
//   on with that client's terminal, from its environment and process.
// - kitty: its remote control's `ls` says whether the window is focused in a
//   focused OS window; that answer is whole, the window system is not asked.
// - WezTerm: the most recently active client must focus the pane, and its
//   window must be active.
// - Konsole: its tabs cannot be told apart, so its window being active leaves
//   the answer unknown; its window not being active is notInFront.
// - Last, unless kitty answered: the X11 window (TerminalFocus::terminalWindow)
//   must be _NET_ACTIVE_WINDOW of the root. A terminal with tabs that Tolvo cannot
//   ask (GNOME Terminal, say) thus counts as in front whenever its window is.
// Any step that says notInFront decides; inFront needs every step to say so;
// anything else is unknown.
//
// A session of another host (Session::host) is not asked: its pid and record
// are that machine's.
//
// Usage, on the main thread:
//     TerminalPresence presence; // lives as long as its questions matter
//     presence.ask({session.pid, TerminalRecord::fromJson(session.terminal)},
//                  [](Presence p) { if (p != Presence::inFront) notify(); });
// Each question is answered exactly once, from the event loop (never from
// inside ask()), within about 1.5 s: every program gets at most a second and
// is killed after that. Questions run side by side; none abandons another.
// Answers still running when the object is destroyed are dropped, and their
// programs killed. Programs get argument lists, never a shell string.
class TerminalPresence : public QObject
{
    Q_OBJECT
public:
    using Answer = std::function<void(Presence)>;

    explicit TerminalPresence(QObject *parent = nullptr);
    ~TerminalPresence() override;

    // TerminalFocus::WindowSystem::none: never ask the X server, as on Wayland.
    void setWindowSystem(TerminalFocus::WindowSystem windowSystem)
    {
        m_windowSystem = windowSystem;
    }

    void ask(const PresenceRequest &request, Answer answer);

private:
    friend class PresenceJob;
    X11Windows *x11();

    TerminalFocus::WindowSystem m_windowSystem = TerminalFocus::WindowSystem::automatic;
    std::unique_ptr<X11Windows> m_x11;
    bool m_x11Tried = false;
};

// What the programs printed, read into an answer. Pure.
namespace PresenceRules {

// inFront only if both are; notInFront if either is; else unknown.
Presence both(Presence a, Presence b);

// tmux list-clients in the form of tmuxClientsQuery(): the client that counts is
// the most recently active one (of those tied, one that shows the pane).
struct TmuxView
{
    Presence presence = Presence::unknown; // inFront: that client shows the pane
    std::optional<TmuxClient> client;      // the client, whose terminal is asked next
};
FocusCommand tmuxClientsQuery(const TmuxPane &pane);
TmuxView tmuxView(const QString &listClientsOutput, const QString &pane);

// kitty's focus-window command (TerminalCommands::terminals()) turned into `ls`
// through the same address; the window id as its target shows it.
FocusCommand kittyLsQuery(const FocusCommand &focusWindow);
Presence kittyWindow(const QByteArray &lsJson, const QString &windowId);

// `wezterm cli list-clients --format json`: the client idle the shortest time
// must focus the pane.
FocusCommand weztermClientsQuery();
Presence weztermPane(const QByteArray &listClientsJson, const QString &paneId);

// _NET_ACTIVE_WINDOW against the terminal's window (0: not found).
Presence window(quint32 activeWindow, quint32 terminalWindow);

} // namespace PresenceRules
