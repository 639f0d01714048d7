#include "relayhelpers.h"

#include "permissionhold.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Relay {

void WaitingHelpers::addTo(PollSet &set, bool holding)
{
    if (m_listener >= 0)
        set.add(m_listener, POLLIN, [this, holding](short) { accept(holding); });
    for (const auto &connection : m_connections) {
        Connection *raw = connection.get();
        set.add(raw->fd.get(), POLLIN, [this, raw, holding](short) {
            // It may have been let go in this turn: look it up.
            if (std::any_of(m_connections.begin(), m_connections.end(),
                            [raw](const auto &known) { return known.get() == raw; }))
                readFrom(raw, holding);
        });
    }
}

void WaitingHelpers::accept(bool holding)
{
    for (;;) {
        HookIo::Descriptor fd(
            ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd)
            return;
        ucred peer = {};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::getuid() || m_connections.size() >= mostConnections)
            continue;
        auto connection = std::make_unique<Connection>();
        connection->fd = std::move(fd);
        connection->namingDeadline = HookIo::nowUs() + namingUs;
        Connection *raw = connection.get();
        m_connections.push_back(std::move(connection));
        readFrom(raw, holding); // the id is usually there already
    }
}

void WaitingHelpers::readFrom(Connection *connection, bool holding)
{
    char chunk[512];
    const ssize_t count = ::recv(connection->fd.get(), chunk, sizeof chunk, 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        const std::string id = connection->id;
        drop(connection);
        if (!id.empty())
            m_ended(id);
        return;
    }
    if (!connection->id.empty())
        return; // nothing more is asked of a helper that has named its request
    connection->received.append(chunk, static_cast<std::size_t>(count));
    const std::size_t end = connection->received.find('\n');
    if (end == std::string::npos) {
        if (connection->received.size() > PermissionHold::idLength)
            drop(connection);
        return;
    }
    const std::string id = connection->received.substr(0, end);
    if (!holding || !PermissionHold::isRequestId(id) || m_waiting.contains(id) ||
        m_waiting.size() >= mostWaiting) {
        drop(connection);
        return;
    }
    connection->id = id;
    connection->received.clear();
    m_waiting.emplace(id, connection);
}

void WaitingHelpers::drop(Connection *connection)
{
    if (!connection->id.empty())
        m_waiting.erase(connection->id);
    std::erase_if(m_connections,
                  [connection](const auto &known) { return known.get() == connection; });
}

long long WaitingHelpers::nextDeadline() const
{
    long long nearest = 0;
    for (const auto &connection : m_connections) {
        if (connection->id.empty() && (nearest == 0 || connection->namingDeadline < nearest))
            nearest = connection->namingDeadline;
    }
    return nearest;
}

void WaitingHelpers::expire()
{
    const long long now = HookIo::nowUs();
    std::erase_if(m_connections, [now](const auto &connection) {
        return connection->id.empty() && connection->namingDeadline <= now;
    });
}

void WaitingHelpers::catchUp()
{
    accept(true);
    std::vector<Connection *> naming;
    for (const auto &connection : m_connections) {
        if (connection->id.empty())
            naming.push_back(connection.get());
    }
    for (Connection *connection : naming)
        readFrom(connection, true);
}

bool WaitingHelpers::answer(const std::string &id, const std::string &line)
{
    if (!m_waiting.contains(id))
        catchUp();
    const auto found = m_waiting.find(id);
    if (found == m_waiting.end())
        return false;
    const std::string sent = line + '\n';
    // A few kilobytes into an empty socket buffer: one send.
    const bool delivered = ::send(found->second->fd.get(), sent.data(), sent.size(),
                                  MSG_NOSIGNAL) == ssize_t(sent.size());
    drop(found->second);
    return delivered;
}

void WaitingHelpers::release(const std::string &id)
{
    if (!m_waiting.contains(id))
        catchUp();
    const auto found = m_waiting.find(id);
    if (found != m_waiting.end())
        drop(found->second);
}

void WaitingHelpers::releaseAll()
{
    for (const auto &[id, connection] : m_waiting)
        std::erase_if(m_connections,
                      [connection](const auto &known) { return known.get() == connection; });
    m_waiting.clear();
}

} // namespace Relay
