#include "activitylogmodel.h"

#include "instancemanager.h"
#include "rowtext.h"

#include <algorithm>

ActivityLogModel::ActivityLogModel(InstanceManager *manager, const QString &instanceId,
                                   QObject *parent)
    : QAbstractListModel(parent), m_manager(manager), m_instanceId(instanceId)
{
    if (!m_manager)
        return;
    connect(m_manager, &InstanceManager::instanceChanged, this, &ActivityLogModel::instanceChanged);
    connect(m_manager, &InstanceManager::instanceRemoved, this, &ActivityLogModel::instanceChanged);
    if (const ClaudeCodeInstance *instance = m_manager->instance(m_instanceId)) {
        const QList<ActivityEvent> &log = instance->activityLog;
        m_seen = log.size();
        m_rows = int(std::min<qsizetype>(m_seen, shownEntries));
        if (m_seen > 0)
            m_newestSeen = log.constLast().id;
    }
}

int ActivityLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant ActivityLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || !m_manager)
        return {};
    const ClaudeCodeInstance *instance = m_manager->instance(m_instanceId);
    if (!instance)
        return {};
    const QList<ActivityEvent> &log = instance->activityLog;
    const qsizetype at = m_seen - m_rows + index.row();
    if (at < 0 || at >= log.size())
        return {};
    const ActivityEvent &entry = log.at(at);
    switch (role) {
    case EntryIdRole:
        return entry.id.toString(QUuid::WithoutBraces);
    case TimeTextRole:
        return RowText::timeOfDayText(entry.timestamp);
    case Qt::DisplayRole:
    case TitleRole:
        return RowText::eventTitle(entry);
    case ToolTextRole:
        return RowText::logToolText(entry);
    case DetailsTextRole:
        return RowText::logDetailsText(entry);
    case HasRawJSONRole:
        return entry.rawJSON.has_value();
    case FormattedJSONRole:
        return entry.rawJSON ? RowText::formattedJSON(*entry.rawJSON) : QString();
    }
    return {};
}

QHash<int, QByteArray> ActivityLogModel::roleNames() const
{
    return {
        {EntryIdRole, "entryId"},
        {TimeTextRole, "timeText"},
        {TitleRole, "title"},
        {ToolTextRole, "toolText"},
        {DetailsTextRole, "detailsText"},
        {HasRawJSONRole, "hasRawJSON"},
        {FormattedJSONRole, "formattedJSON"},
    };
}

void ActivityLogModel::instanceChanged(const QString &id)
{
    if (id != m_instanceId || !m_manager)
        return;
    const ClaudeCodeInstance *instance = m_manager->instance(m_instanceId);
    const qsizetype size = instance ? instance->activityLog.size() : 0;

    if (size == 0) {
        // Cleared, or the instance is gone.
        const int before = m_rows;
        if (m_rows > 0)
            beginRemoveRows(QModelIndex(), 0, m_rows - 1);
        m_rows = 0;
        m_seen = 0;
        m_newestSeen = QUuid();
        if (before > 0) {
            endRemoveRows();
            Q_EMIT countChanged();
        }
        return;
    }

    const QList<ActivityEvent> &log = instance->activityLog;
    if (size == m_seen && log.at(size - 1).id == m_newestSeen)
        return; // a change elsewhere in the instance
    const bool appended = size > m_seen && (m_seen == 0 || log.at(m_seen - 1).id == m_newestSeen);
    if (!appended) {
        resetToLog();
        return;
    }

    const int before = m_rows;
    const int added = int(std::min<qsizetype>(size - m_seen, shownEntries));
    const int dropped = std::max(0, m_rows + added - shownEntries);
    if (dropped > 0) {
        // The rows left still map onto the same entries: m_seen is unchanged.
        beginRemoveRows(QModelIndex(), 0, dropped - 1);
        m_rows -= dropped;
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), m_rows, m_rows + added - 1);
    m_rows += added;
    m_seen = size;
    m_newestSeen = log.at(size - 1).id;
    endInsertRows();
    if (m_rows != before)
        Q_EMIT countChanged();
}

void ActivityLogModel::resetToLog()
{
    const int before = m_rows;
    beginResetModel();
    const ClaudeCodeInstance *instance = m_manager->instance(m_instanceId);
    m_seen = instance ? instance->activityLog.size() : 0;
    m_rows = int(std::min<qsizetype>(m_seen, shownEntries));
    m_newestSeen = m_seen > 0 ? instance->activityLog.constLast().id : QUuid();
    endResetModel();
    if (m_rows != before)
        Q_EMIT countChanged();
}
