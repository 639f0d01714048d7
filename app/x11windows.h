#pragma once

#include <QList>
#include <QtGlobal>
#include <memory>
#include <utility>

struct xcb_connection_t;

// The few window-manager conversations that bringing a terminal forward needs
// on X11: which top-level windows there are and whose process they belong to,
// which one is active, and asking for another one to become active.
class X11Windows
{
public:
    // Qt's own connection when Qt runs on xcb; otherwise a connection of its
    // own to $DISPLAY. Null on Wayland and where no X server answers.
    static std::unique_ptr<X11Windows> open();
    ~X11Windows();
    X11Windows(const X11Windows &) = delete;
    X11Windows &operator=(const X11Windows &) = delete;

    // The managed top-level window that holds `window` (itself, or the
    // nearest ancestor the window manager lists); 0 if there is none.
    quint32 managedWindowOf(quint32 window) const;
    // The managed windows in stacking order, bottom first, each with its
    // _NET_WM_PID; windows without one are left out.
    QList<std::pair<quint32, qint64>> windowPids() const;
    // _NET_ACTIVE_WINDOW of the root window; 0 if none.
    quint32 activeWindow() const;
    // Asks the window manager to activate `window` on behalf of the user
    // (source indication 2, as a pager or task bar does), which also raises
    // it and switches to its desktop. `timestamp` 0 means "now".
    bool requestActivation(quint32 window, quint32 timestamp) const;

private:
    X11Windows(xcb_connection_t *connection, int screen, bool owned);
    QList<quint32> windowList(quint32 property) const;

    xcb_connection_t *m_connection;
    bool m_owned;
    quint32 m_root = 0;
    quint32 m_clientList = 0;
    quint32 m_clientListStacking = 0;
    quint32 m_activeWindow = 0;
    quint32 m_wmPid = 0;
};
