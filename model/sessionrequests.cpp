// The session list's waiting permission requests.

#include "permissionanswers.h"
#include "sessionlistmodel.h"

const WaitingRequest *SessionListModel::waitingRequest(const QString &id, int *row) const
{
    for (int at = 0; at < count(); ++at) {
        for (const WaitingRequest &request : m_rows.at(at).session.requests) {
            if (request.id != id)
                continue;
            if (row)
                *row = at;
            return &request;
        }
    }
    return nullptr;
}

void SessionListModel::withdrawRequest(const QString &id)
{
    int row = -1;
    if (!waitingRequest(id, &row))
        return;
    m_rows[row].session.requests.removeIf(
        [&id](const WaitingRequest &request) { return request.id == id; });
    rowChanged(row, {RequestRole});
}

void SessionListModel::endRequests(Session &session)
{
    QStringList ids;
    for (const WaitingRequest &request : std::as_const(session.requests))
        ids.append(request.id);
    session.requests.clear();
    if (!ids.isEmpty())
        Q_EMIT requestsEnded(session.host, ids);
}

QVariantMap SessionListModel::requestData(const Session &session) const
{
    if (session.requests.isEmpty() || session.exited)
        return {};
    const WaitingRequest &oldest = session.requests.constFirst();
    return {
        {QStringLiteral("id"), oldest.id},
        {QStringLiteral("text"), PermissionAnswers::requestText(oldest, session.projectPath)},
        {QStringLiteral("alwaysText"), PermissionAnswers::alwaysAllowText(oldest.suggestions)},
        {QStringLiteral("count"), int(session.requests.size())},
    };
}
