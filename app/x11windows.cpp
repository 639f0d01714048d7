#include "x11windows.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

template<typename T> struct FreeDeleter
{
    void operator()(T *p) const { std::free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A 32-bit property's values; empty when the window or the property is missing.
QList<quint32> cardinals(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                         xcb_atom_t type)
{
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, 4096), nullptr));
    QList<quint32> values;
    if (!reply || reply->format != 32 || reply->type != type)
        return values;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < count; ++i)
        values.append(data[i]);
    return values;
}

} // namespace

std::unique_ptr<X11Windows> X11Windows::open()
{
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return nullptr;
#if QT_CONFIG(xcb)
    // Only the xcb platform's connection is one to share; others (offscreen)
    // may answer the interface without a connection.
    auto *x11 = platform == QLatin1String("xcb") && qGuiApp
                    ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                    : nullptr;
    if (x11 && x11->connection()) {
        char *host = nullptr;
        int display = 0, screen = 0;
        if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
            screen = 0;
        std::free(host);
        return std::unique_ptr<X11Windows>(new X11Windows(x11->connection(), screen, false));
    }
#endif
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return nullptr;
    int screen = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11Windows>(new X11Windows(connection, screen, true));
}

X11Windows::X11Windows(xcb_connection_t *connection, int screen, bool owned)
    : m_connection(connection), m_owned(owned)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; it.rem > 0 && i < screen; ++i)
        xcb_screen_next(&it);
    if (it.rem > 0)
        m_root = it.data->root;
    m_clientList = internAtom(connection, "_NET_CLIENT_LIST");
    m_clientListStacking = internAtom(connection, "_NET_CLIENT_LIST_STACKING");
    m_activeWindow = internAtom(connection, "_NET_ACTIVE_WINDOW");
    m_wmPid = internAtom(connection, "_NET_WM_PID");
}

X11Windows::~X11Windows()
{
    if (m_owned)
        xcb_disconnect(m_connection);
}

QList<quint32> X11Windows::windowList(quint32 property) const
{
    return cardinals(m_connection, m_root, property, XCB_ATOM_WINDOW);
}

quint32 X11Windows::managedWindowOf(quint32 window) const
{
    const QList<quint32> managed = windowList(m_clientList);
    // Terminals hand out the id of an inner widget (xterm's WINDOWID is its
    // text area): walk up to the window that the window manager lists.
    for (int depth = 0; depth < 16 && window != 0 && window != m_root; ++depth) {
        if (managed.contains(window))
            return window;
        const Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
        if (!tree)
            return 0;
        window = tree->parent;
    }
    return 0;
}

QList<std::pair<quint32, qint64>> X11Windows::windowPids() const
{
    QList<quint32> windows = windowList(m_clientListStacking);
    if (windows.isEmpty())
        windows = windowList(m_clientList);
    QList<std::pair<quint32, qint64>> pids;
    for (quint32 window : windows) {
        const QList<quint32> pid = cardinals(m_connection, window, m_wmPid, XCB_ATOM_CARDINAL);
        if (!pid.isEmpty() && pid.first() > 0)
            pids.append({window, qint64(pid.first())});
    }
    return pids;
}

quint32 X11Windows::activeWindow() const
{
    const QList<quint32> active = windowList(m_activeWindow);
    return active.isEmpty() ? 0 : active.first();
}

bool X11Windows::requestActivation(quint32 window, quint32 timestamp) const
{
    if (m_root == 0 || m_activeWindow == XCB_ATOM_NONE)
        return false;
    // xcb_send_event copies 32 bytes whatever the event type.
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = m_activeWindow;
    event.data.data32[0] = 2; // source indication: a pager, that is, the user
    event.data.data32[1] = timestamp;
    event.data.data32[2] = activeWindow();
    const xcb_void_cookie_t cookie = xcb_send_event_checked(m_connection, 0, m_root,
                                                            XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                                                                XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                                                            reinterpret_cast<const char *>(&event));
    xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
    const bool sent = error == nullptr;
    std::free(error);
    return sent;
}
