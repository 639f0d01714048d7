// The session list's rows of remote hosts, as their relays report them.

#include "eventrules.h"
#include "sessionlistmodel.h"

int SessionListModel::rowOfRemote(const QString &host, qint64 pid) const
{
    if (host.isEmpty())
        return -1;
    return rowWhere(
        [&](const Session &session) { return session.host == host && session.pid == pid; });
}

void SessionListModel::markExited(const QString &host, qint64 pid)
{
    markExited(rowOfRemote(host, pid));
}

void SessionListModel::refusedIn(const QString &host, qint64 pid)
{
    const int row = rowOfRemote(host, pid);
    if (row >= 0)
        refused(m_rows.at(row).session.id);
}

void SessionListModel::hostDisconnected(const QString &host)
{
    for (int row = 0; !host.isEmpty() && row < count(); ++row) {
        Session &session = m_rows[row].session;
        if (session.host != host || session.exited || session.disconnected)
            continue;
        session.disconnected = true;
        endRequests(session);
        rowChanged(row);
    }
}

void SessionListModel::hostReplayed(const QString &host, const QList<qint64> &live)
{
    for (int row = 0; !host.isEmpty() && row < count(); ++row) {
        Session &session = m_rows[row].session;
        if (session.host != host || session.exited)
            continue;
        if (!live.contains(session.pid)) {
            markExited(row);
        } else if (session.disconnected) {
            session.disconnected = false;
            rowChanged(row);
        }
    }
}
