#pragma once

#include "terminalcommands.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <memory>

class X11Windows;

// What "Go to Terminal" knows about a session.
struct FocusRequest
{
    qint64 pid = 0;             // the Claude Code process
    TerminalRecord terminal;    // from the session's newest hook record
    QByteArray activationToken; // XDG activation token from a notification, if any
    quint32 userTime = 0;       // X11 time of the user's click; 0 if unknown
};

struct FocusResult
{
    // The terminal that took the user there (Terminal::name: "tmux", "X11 window");
    // empty when nothing could be done, see error.
    QString terminal;
    // The window manager made the terminal's window the active one.
    bool windowRaised = false;
    // For the session's row when the user has to do the rest themselves,
    // e.g. "Selected tmux pane %3 — switch to its window yourself".
    QString rowText;
    // Why nothing could be done, e.g. "Its terminal could not be found".
    QString error;
};
Q_DECLARE_METATYPE(FocusResult)

// Takes the user to a session's terminal, walking TerminalCommands::terminals():
// the terminal's own step first (the tmux pane, the kitty window, the WezTerm
// pane, the Konsole session), then its window on X11. Runs asynchronously:
// each program it starts and each bus call is given about a second, and
// finished() reports what was done.
class TerminalFocus : public QObject
{
    Q_OBJECT
public:
    enum class WindowSystem {
        automatic, // X11 when Qt runs on xcb or $DISPLAY answers; nothing on Wayland
        none,      // never raise a window, as on Wayland
    };

    explicit TerminalFocus(QObject *parent = nullptr);
    ~TerminalFocus() override;

    void setWindowSystem(WindowSystem windowSystem) { m_windowSystem = windowSystem; }

    // Starts going to the request's terminal; finished() follows once. A new
    // request abandons one still running, which then reports nothing.
    void focus(const FocusRequest &request);

    // The top-level window of a session's terminal as Go to Terminal finds it:
    // the one the record's WINDOWID names, else that of the nearest ancestor
    // of `pid` that has one; 0 when there is none.
    static quint32 terminalWindow(const X11Windows &x11, const TerminalRecord &record, qint64 pid);

Q_SIGNALS:
    void finished(const FocusResult &result);

private:
    friend class FocusJob;
    X11Windows *x11();

    WindowSystem m_windowSystem = WindowSystem::automatic;
    std::unique_ptr<X11Windows> m_x11;
    bool m_x11Tried = false;
    QPointer<QObject> m_job;
};
