#include "instancemanager.h"

#include "activitylogmodel.h"
#include "sessionstore.h"
#include "sessiontext.h"

#include <algorithm>

Q_LOGGING_CATEGORY(lcModel, "tolvo.model", QtInfoMsg)

InstanceManager::InstanceManager(SessionStore &store, QObject *parent)
    : QAbstractListModel(parent), m_store(store),
      m_preferences([] { return NotificationPolicy::Preferences(); })
{
    restore();
    connect(&m_transcripts, &TranscriptFollower::refused, this, &InstanceManager::refused);
    m_durationTimer.setInterval(durationRefreshMs);
    connect(&m_durationTimer, &QTimer::timeout, this, &InstanceManager::refreshDurations);
    m_durationTimer.start();
}

InstanceManager::~InstanceManager() = default;

void InstanceManager::setPreferences(std::function<NotificationPolicy::Preferences()> preferences)
{
    m_preferences = std::move(preferences);
}

void InstanceManager::restore()
{
    for (const ClaudeCodeInstance &placeholder :
         m_store.placeholders(restoredLimit, wallClockNow()))
        m_rows.append(Row{placeholder, false, false, {}, {}, nullptr});
    if (!m_rows.isEmpty())
        qCInfo(lcModel, "🔄 Restored %lld instances from saved data", qlonglong(m_rows.size()));
}

int InstanceManager::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QHash<int, QByteArray> InstanceManager::roleNames() const
{
    return {
        {InstanceIdRole, "instanceId"},   {DisplayNameRole, "displayName"},
        {ProjectPathRole, "projectPath"}, {StatusLineRole, "statusLine"},
        {StatusColorRole, "statusColor"}, {IsWorkingRole, "isWorking"},
        {IsExitedRole, "isExited"},       {UnreadCountRole, "unreadCount"},
        {ExpandedRole, "expanded"},       {EditingRole, "editing"},
        {EditedNameRole, "editedName"},   {CanGoToTerminalRole, "canGoToTerminal"},
        {NoticeRole, "notice"},
    };
}

QVariant InstanceManager::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    const ClaudeCodeInstance &s = row.session;
    switch (role) {
    case InstanceIdRole:
        return s.id;
    case Qt::DisplayRole:
    case DisplayNameRole:
        return s.displayName();
    case ProjectPathRole:
        return s.projectPath;
    case StatusLineRole:
        return SessionText::statusLine(s, wallClockNow());
    case StatusColorRole:
        return int(s.statusColor());
    case IsWorkingRole:
        return s.status == InstanceStatus::working;
    case IsExitedRole:
        return s.exited;
    case UnreadCountRole:
        return s.unreadEventCount;
    case CanGoToTerminalRole:
        return s.pid > 0 && !s.exited;
    case NoticeRole:
        return row.notice;
    case ExpandedRole:
        return row.expanded;
    case EditingRole:
        return row.editing;
    case EditedNameRole:
        return row.editedName;
    }
    return {};
}

bool InstanceManager::setData(const QModelIndex &index, const QVariant &value, int role)
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
    default:
        return false;
    }
    rowChanged(index.row());
    return true;
}

QString InstanceManager::subtitle() const
{
    return SessionText::subtitle(count());
}

int InstanceManager::exitedCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(),
                             [](const Row &row) { return row.session.exited; }));
}

int InstanceManager::rowOfId(const QString &id) const
{
    for (int row = 0; row < count(); ++row) {
        if (m_rows.at(row).session.id == id)
            return row;
    }
    return -1;
}

int InstanceManager::rowOfPid(qint64 pid) const
{
    for (int row = 0; row < count(); ++row) {
        if (m_rows.at(row).session.pid == pid)
            return row;
    }
    return -1;
}

void InstanceManager::countsChanged()
{
    const int exited = exitedCount();
    if (exited != m_exitedCount) {
        m_exitedCount = exited;
        Q_EMIT exitedCountChanged();
    }
    Q_EMIT changed();
}

void InstanceManager::rowChanged(int row, const QList<int> &roles)
{
    const QModelIndex changedIndex = index(row);
    Q_EMIT dataChanged(changedIndex, changedIndex, roles);
    countsChanged();
}

// The durations in the status lines grow by themselves.
void InstanceManager::refreshDurations()
{
    const WallClockTime now = wallClockNow();
    for (int row = 0; row < count(); ++row) {
        const ClaudeCodeInstance &session = m_rows.at(row).session;
        if (SessionText::showsDuration(session) &&
            now - session.statusSince >= 60 - durationRefreshMs / 1000.0) {
            const QModelIndex changedIndex = index(row);
            Q_EMIT dataChanged(changedIndex, changedIndex, {StatusLineRole});
        }
    }
}

void InstanceManager::saveOrder()
{
    QStringList ids;
    ids.reserve(m_rows.size());
    for (const Row &row : std::as_const(m_rows))
        ids.append(row.session.id);
    m_store.setOrder(ids);
}

// ---- List operations ------------------------------------------------------------

void InstanceManager::rename(int row, const QString &name)
{
    if (row < 0 || row >= count())
        return;
    ClaudeCodeInstance &session = m_rows[row].session;
    session.customName = name.isEmpty() ? std::nullopt : std::optional<QString>(name);
    m_rows[row].editing = false;
    m_rows[row].editedName = session.displayName();
    rowChanged(row);

    const QString &path = session.projectPath;
    if (path == unknownProjectPath)
        return;
    m_store.setCustomName(path, session.customName);
    const auto record = m_store.savedInstances().constFind(path);
    if (record != m_store.savedInstances().constEnd()) {
        SavedInstanceData renamed = *record;
        renamed.customName = session.customName;
        m_store.setRecord(renamed);
    }
}

void InstanceManager::updateCustomNames(const CustomNames &names)
{
    CustomNames kept;
    for (auto it = names.begin(); it != names.end(); ++it) {
        if (!it.value().isEmpty())
            kept.insert(it.key(), it.value());
    }
    m_store.replaceCustomNames(kept);
    for (int row = 0; row < count(); ++row) {
        ClaudeCodeInstance &session = m_rows[row].session;
        if (session.projectPath == unknownProjectPath)
            continue;
        const auto name = kept.constFind(session.projectPath);
        const std::optional<QString> customName =
            name == kept.constEnd() ? std::nullopt : std::optional<QString>(*name);
        if (session.customName != customName) {
            session.customName = customName;
            rowChanged(row);
        }
    }
}

void InstanceManager::clearLog(int row)
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

void InstanceManager::remove(int row)
{
    if (row < 0 || row >= count())
        return;
    m_store.removeRecord(m_rows.at(row).session.projectPath);
    removeRows({row});
}

void InstanceManager::removeExited()
{
    QList<int> rows;
    for (int row = 0; row < count(); ++row) {
        const ClaudeCodeInstance &session = m_rows.at(row).session;
        if (!session.exited)
            continue;
        rows.append(row);
        // A session started since in the same directory owns the record now.
        const auto record = m_store.savedInstances().constFind(session.projectPath);
        if (record != m_store.savedInstances().constEnd() && record->id == session.id)
            m_store.removeRecord(session.projectPath);
    }
    removeRows(rows);
}

void InstanceManager::removeRows(const QList<int> &rows)
{
    if (rows.isEmpty())
        return;
    for (auto row = rows.crbegin(); row != rows.crend(); ++row) {
        beginRemoveRows(QModelIndex(), *row, *row);
        delete m_rows.at(*row).log;
        m_rows.removeAt(*row);
        endRemoveRows();
    }
    Q_EMIT countChanged();
    saveOrder();
    countsChanged();
}

void InstanceManager::move(int from, int to)
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

void InstanceManager::setNotice(int row, const QString &notice)
{
    if (row < 0 || row >= count())
        return;
    m_rows[row].notice = notice;
    rowChanged(row, {NoticeRole});
}

void InstanceManager::markExited(int row)
{
    if (row < 0 || row >= count() || m_rows.at(row).session.exited)
        return;
    m_rows[row].session.exited = true;
    rowChanged(row);
}

// ---- Logs -----------------------------------------------------------------------

QObject *InstanceManager::activityLog(int row)
{
    if (row < 0 || row >= count())
        return nullptr;
    Row &target = m_rows[row];
    if (!target.log)
        target.log = new ActivityLogModel(this, target.session.id);
    return target.log;
}
