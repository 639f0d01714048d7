// The session list's operations on its rows: names, logs, removal, order.

#include "activitylogmodel.h"
#include "eventslog.h"
#include "sessionlistmodel.h"
#include "sessionstore.h"

void SessionListModel::rename(int row, const QString &name)
{
    if (row < 0 || row >= count())
        return;
    Session &session = m_rows[row].session;
    session.customName = name.isEmpty() ? std::nullopt : std::optional<QString>(name);
    m_rows[row].editing = false;
    m_rows[row].editedName = session.displayName();
    rowChanged(row);

    if (session.projectPath != unknownProjectPath)
        m_store.rename(session.nameKey(), session.customName);
}

void SessionListModel::updateCustomNames(const CustomNames &names)
{
    CustomNames kept;
    for (auto it = names.begin(); it != names.end(); ++it) {
        if (!it.value().isEmpty())
            kept.insert(it.key(), it.value());
    }
    m_store.replaceCustomNames(kept);
    for (int row = 0; row < count(); ++row) {
        Session &session = m_rows[row].session;
        if (session.projectPath == unknownProjectPath)
            continue;
        const auto name = kept.constFind(session.nameKey());
        const std::optional<QString> customName =
            name == kept.constEnd() ? std::nullopt : std::optional<QString>(*name);
        if (session.customName != customName) {
            session.customName = customName;
            rowChanged(row);
        }
    }
}

void SessionListModel::clearLog(int row)
{
    if (row < 0 || row >= count())
        return;
    Row &target = m_rows[row];
    target.session.activityLog.clear();
    qCDebug(lcEvents).noquote() << "🗑️ Cleared activity log for instance"
                                << target.session.displayName();
    if (target.log)
        target.log->logChanged();
    rowChanged(row);
}

void SessionListModel::remove(int row)
{
    if (row < 0 || row >= count())
        return;
    if (m_rows.at(row).session.host.isEmpty())
        m_store.removeRecord(m_rows.at(row).session.projectPath);
    removeRows({row});
}

void SessionListModel::removeExited()
{
    QList<int> rows;
    for (int row = 0; row < count(); ++row) {
        const Session &session = m_rows.at(row).session;
        if (!session.exited)
            continue;
        rows.append(row);
        if (session.host.isEmpty())
            m_store.forget(session);
    }
    removeRows(rows);
}

void SessionListModel::removeRows(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    for (auto row = rows.crbegin(); row != rows.crend(); ++row) {
        endRequests(m_rows[*row].session);
        beginRemoveRows(QModelIndex(), *row, *row);
        delete m_rows.at(*row).log;
        m_rows.removeAt(*row);
        endRemoveRows();
    }
    Q_EMIT countChanged();
    saveOrder();
    countsChanged();
}

void SessionListModel::move(int from, int to)
{
    if (from < 0 || from >= count() || to < 0 || to >= count() || from == to)
        return;
    // beginMoveRows wants the row the moved one will stand before, counted
    // before the move: one past the final place when moving down.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    m_rows.move(from, to);
    endMoveRows();
    saveOrder();
    Q_EMIT changed();
}

void SessionListModel::setNotice(const QString &id, const QString &notice)
{
    const int row = rowOfId(id);
    if (row < 0)
        return;
    m_rows[row].notice = notice;
    rowChanged(row, {NoticeRole});
}

void SessionListModel::markExited(int row)
{
    if (row < 0 || row >= count() || m_rows.at(row).session.exited)
        return;
    m_rows[row].session.exited = true;
    m_rows[row].session.disconnected = false;
    endRequests(m_rows[row].session);
    rowChanged(row);
}

SessionListModel::Notification SessionListModel::notificationOf(const Session &session,
                                                                const QString &body,
                                                                Quiet::NoticeKind kind) const
{
    // Claude Code's notices keep the title they always had.
    const QString separator =
        session.agent == Agent::claudeCode ? QStringLiteral(" - ") : QStringLiteral(" — ");
    Notification notification{session.id,
                              session.projectPath,
                              agentName(session.agent) + separator + session.shownName(),
                              {body},
                              {},
                              {},
                              kind,
                              std::nullopt,
                              m_store.muted().contains(session.nameKey())};
    if (kind == Quiet::NoticeKind::completed) {
        // From the turn's prompt, where the log still has it.
        const auto &log = session.activityLog;
        for (auto entry = log.crbegin(); entry != log.crend(); ++entry) {
            if (entry->kind == HookEventKind::userPromptSubmit)
                notification.turnSeconds = wallClockNow() - entry->timestamp;
            else if (entry == log.crbegin() || (entry->kind != HookEventKind::stop &&
                                                entry->kind != HookEventKind::stopFailure))
                continue;
            break; // the turn's prompt, or an earlier turn's end: no prompt known
        }
    }
    return notification;
}

void SessionListModel::setProjectMuted(const QString &project, bool muted)
{
    m_store.setMuted(project, muted);
}

QStringList SessionListModel::mutedProjects() const
{
    QStringList projects(m_store.muted().begin(), m_store.muted().end());
    projects.sort();
    return projects;
}

QStringList SessionListModel::knownProjects() const
{
    QStringList projects = m_store.customNames().keys();
    for (const Row &row : m_rows) {
        if (row.session.projectPath != unknownProjectPath &&
            !projects.contains(row.session.nameKey()))
            projects.append(row.session.nameKey());
    }
    projects.sort();
    return projects;
}

bool SessionListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    Row &row = m_rows[index.row()];
    switch (role) {
    case ExpandedRole:
        row.expanded = value.toBool();
        if (row.expanded)
            row.session.unreadEventCount = 0;
        break;
    case EditingRole:
        row.editing = value.toBool();
        row.editedName = row.session.displayName();
        break;
    case EditedNameRole:
        row.editedName = value.toString();
        break;
    case MutedRole: // the store tells every row of the project
        m_store.setMuted(row.session.nameKey(), value.toBool());
        return true;
    default:
        return false;
    }
    rowChanged(index.row());
    return true;
}
