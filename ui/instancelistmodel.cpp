#include "instancelistmodel.h"

#include "activitylogmodel.h"
#include "instancemanager.h"
#include "rowtext.h"

#include <QQmlEngine>
#include <algorithm>

namespace {

// Indices into `sequence` of one longest strictly increasing subsequence.
QList<int> longestIncreasingRun(const QList<int> &sequence)
{
    QList<int> tails; // tails[k]: index ending the best run of length k + 1
    QList<int> previous(sequence.size(), -1);
    for (int i = 0; i < sequence.size(); ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), i, [&](int a, int b) {
            return sequence.at(a) < sequence.at(b);
        });
        if (at != tails.begin())
            previous[i] = *(at - 1);
        if (at == tails.end())
            tails.append(i);
        else
            *at = i;
    }
    QList<int> run;
    for (int i = tails.isEmpty() ? -1 : tails.constLast(); i >= 0; i = previous.at(i))
        run.prepend(i);
    return run;
}

} // namespace

InstanceListModel::InstanceListModel(InstanceManager *manager, QObject *parent)
    : QAbstractListModel(parent), m_manager(manager)
{
    if (!m_manager)
        return;
    for (const ClaudeCodeInstance &instance : m_manager->sortedInstances()) {
        m_ids.append(instance.id);
        if (instance.exited)
            m_exited.insert(instance.id);
    }
    connect(m_manager, &InstanceManager::instanceAdded, this, &InstanceListModel::instanceAdded);
    connect(m_manager, &InstanceManager::instanceChanged, this,
            &InstanceListModel::instanceChanged);
    connect(m_manager, &InstanceManager::instanceRemoved, this,
            &InstanceListModel::instanceRemoved);
    connect(m_manager, &InstanceManager::orderChanged, this, &InstanceListModel::synchronize);
}

InstanceListModel::~InstanceListModel() = default;

int InstanceListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_ids.size());
}

QVariant InstanceListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_ids.size() || !m_manager)
        return {};
    const ClaudeCodeInstance *instance = m_manager->instance(m_ids.at(index.row()));
    if (!instance)
        return {};
    switch (role) {
    case InstanceIdRole:
        return instance->id;
    case Qt::DisplayRole:
    case DisplayNameRole:
        return instance->displayName();
    case ProjectNameRole:
        return instance->projectName;
    case ProjectPathRole:
        return instance->projectPath;
    case StatusLineRole:
        return RowText::statusLineText(*instance);
    case StatusColorRole:
        return RowText::statusColor(instance->statusColor());
    case IsWorkingRole:
        return instance->status == InstanceStatus::working;
    case UnreadCountRole:
        return instance->unreadEventCount;
    case LogCountRole:
        return int(instance->activityLog.size());
    case IsExitedRole:
        return instance->exited;
    }
    return {};
}

QHash<int, QByteArray> InstanceListModel::roleNames() const
{
    return {
        {InstanceIdRole, "instanceId"},   {DisplayNameRole, "displayName"},
        {ProjectNameRole, "projectName"}, {ProjectPathRole, "projectPath"},
        {StatusLineRole, "statusLine"},   {StatusColorRole, "statusColor"},
        {IsWorkingRole, "isWorking"},     {UnreadCountRole, "unreadCount"},
        {LogCountRole, "logCount"},       {IsExitedRole, "isExited"},
    };
}

QString InstanceListModel::subtitle() const
{
    return RowText::subtitle(count());
}

void InstanceListModel::moveRow(int from, int to)
{
    const int rows = count();
    if (from < 0 || from >= rows || to < 0 || to >= rows || from == to)
        return;
    moveOne(from, to);
}

void InstanceListModel::commitMove(int originalIndex, int finalIndex)
{
    if (!m_manager)
        return;
    if (originalIndex != finalIndex) {
        const int destination = finalIndex > originalIndex ? finalIndex + 1 : finalIndex;
        m_manager->moveInstances({originalIndex}, destination);
    }
    // An accepted move has already arrived through orderChanged; after a
    // refused one this puts the dragged row back.
    synchronize();
}

QObject *InstanceListModel::activityLog(const QString &id)
{
    if (!m_manager || !m_manager->instance(id))
        return nullptr;
    ActivityLogModel *&log = m_logs[id];
    if (!log) {
        log = new ActivityLogModel(m_manager, id, this);
        QQmlEngine::setObjectOwnership(log, QQmlEngine::CppOwnership);
    }
    return log;
}

void InstanceListModel::instanceAdded(const QString &id)
{
    synchronize();
    updateExited(id);
}

void InstanceListModel::instanceChanged(const QString &id)
{
    const int row = int(m_ids.indexOf(id));
    if (row < 0) {
        synchronize();
    } else {
        const QModelIndex changed = index(row);
        Q_EMIT dataChanged(changed, changed);
    }
    updateExited(id);
}

void InstanceListModel::instanceRemoved(const QString &id)
{
    const int row = int(m_ids.indexOf(id));
    if (row >= 0) {
        beginRemoveRows(QModelIndex(), row, row);
        m_ids.removeAt(row);
        endRemoveRows();
        Q_EMIT countChanged();
    }
    if (ActivityLogModel *log = m_logs.take(id))
        log->deleteLater();
    updateExited(id);
}

void InstanceListModel::updateExited(const QString &id)
{
    const ClaudeCodeInstance *instance = m_manager ? m_manager->instance(id) : nullptr;
    const bool exited = instance && instance->exited;
    if (exited == m_exited.contains(id))
        return;
    if (exited)
        m_exited.insert(id);
    else
        m_exited.remove(id);
    Q_EMIT exitedChanged();
}

void InstanceListModel::moveOne(int from, int to)
{
    // beginMoveRows wants the row the moved one will stand before, counted
    // before the move: one past the final place when moving down.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    m_ids.move(from, to);
    endMoveRows();
}

void InstanceListModel::synchronize()
{
    if (!m_manager)
        return;
    QStringList target;
    for (const ClaudeCodeInstance &instance : m_manager->sortedInstances())
        target.append(instance.id);

    const int before = count();
    for (int row = count() - 1; row >= 0; --row) {
        if (target.contains(m_ids.at(row)))
            continue;
        const QString id = m_ids.at(row);
        beginRemoveRows(QModelIndex(), row, row);
        m_ids.removeAt(row);
        endRemoveRows();
        if (ActivityLogModel *log = m_logs.take(id))
            log->deleteLater();
        updateExited(id);
    }

    // Rows already shown: keep the longest run that is in order where it is
    // and move each other row right behind its predecessor in the new order.
    QStringList present;
    QHash<QString, int> position;
    for (const QString &id : std::as_const(target)) {
        if (m_ids.contains(id)) {
            position.insert(id, int(present.size()));
            present.append(id);
        }
    }
    QList<int> sequence;
    for (const QString &id : std::as_const(m_ids))
        sequence.append(position.value(id));
    QSet<QString> staying;
    for (int i : longestIncreasingRun(sequence))
        staying.insert(m_ids.at(i));
    for (int k = 0; k < present.size(); ++k) {
        const QString &id = present.at(k);
        if (staying.contains(id))
            continue;
        const int from = int(m_ids.indexOf(id));
        int to = 0;
        if (k > 0) {
            const int predecessor = int(m_ids.indexOf(present.at(k - 1)));
            to = from < predecessor ? predecessor : predecessor + 1;
        }
        if (from != to)
            moveOne(from, to);
    }

    // New rows, front to back: everything before each one is in place by then.
    for (int row = 0; row < target.size(); ++row) {
        if (row < m_ids.size() && m_ids.at(row) == target.at(row))
            continue;
        beginInsertRows(QModelIndex(), row, row);
        m_ids.insert(row, target.at(row));
        endInsertRows();
    }

    if (count() != before)
        Q_EMIT countChanged();
}
