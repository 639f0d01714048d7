#include "activitylogmodel.h"

#include "sessionlistmodel.h"
#include "sessiontext.h"

#include <algorithm>

ActivityLogModel::ActivityLogModel(SessionListModel *sessions, const QString &sessionId)
    : QAbstractListModel(sessions), m_sessions(sessions), m_sessionId(sessionId)
{
    if (const QList<ActivityEvent> *entries = log()) {
        m_seen = entries->size();
        m_rows = int(std::min<qsizetype>(m_seen, shownEntries));
        m_newestSeen = m_seen > 0 ? entries->constLast().id : 0;
    }
}

const QList<ActivityEvent> *ActivityLogModel::log() const
{
    const int row = m_sessions ? m_sessions->rowOfId(m_sessionId) : -1;
    return row < 0 ? nullptr : &m_sessions->session(row).activityLog;
}

const ActivityEvent *ActivityLogModel::entry(int row) const
{
    const QList<ActivityEvent> *entries = log();
    const qsizetype at = m_seen - m_rows + row;
    if (!entries || row < 0 || row >= m_rows || at < 0 || at >= entries->size())
        return nullptr;
    return &entries->at(at);
}

int ActivityLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QHash<int, QByteArray> ActivityLogModel::roleNames() const
{
    return {
        {EntryIdRole, "entryId"},
        {TimeTextRole, "timeText"},
        {TitleRole, "title"},
        {ToolTextRole, "toolText"},
        {DetailsTextRole, "detailsText"},
        {FormattedJSONRole, "formattedJSON"},
        {JsonShownRole, "jsonShown"},
    };
}

QVariant ActivityLogModel::data(const QModelIndex &index, int role) const
{
    const ActivityEvent *event = entry(index.row());
    if (!event || !index.isValid())
        return {};
    switch (role) {
    case EntryIdRole:
        return event->id;
    case TimeTextRole:
        return SessionText::timeOfDay(event->timestamp);
    case FormattedJSONRole:
        return SessionText::formattedJSON(event->record);
    case JsonShownRole:
        return m_jsonShown.contains(event->id);
    case Qt::DisplayRole:
    case TitleRole:
        return SessionText::eventTitle(*event);
    case ToolTextRole:
        return SessionText::logToolText(*event);
    case DetailsTextRole:
        return SessionText::logDetailsText(*event);
    }
    return {};
}

bool ActivityLogModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    const ActivityEvent *event = entry(index.row());
    if (!event || role != JsonShownRole)
        return false;
    if (value.toBool())
        m_jsonShown.insert(event->id);
    else
        m_jsonShown.remove(event->id);
    Q_EMIT dataChanged(index, index, {JsonShownRole});
    return true;
}

void ActivityLogModel::logChanged()
{
    const QList<ActivityEvent> *entries = log();
    const qsizetype size = entries ? entries->size() : 0;
    if (size == 0) {
        // Cleared.
        m_jsonShown.clear();
        if (m_rows == 0)
            return;
        beginRemoveRows(QModelIndex(), 0, m_rows - 1);
        m_rows = 0;
        m_seen = 0;
        m_newestSeen = 0;
        endRemoveRows();
        Q_EMIT countChanged();
        return;
    }
    if (entries->constLast().id == m_newestSeen)
        return; // nothing new
    // Entries newer than the newest seen: the log only grows at its end (and
    // loses its oldest entries beyond its limit), so they are the last ones.
    qsizetype added = 0;
    for (auto e = entries->crbegin(); e != entries->crend() && e->id > m_newestSeen; ++e)
        ++added;
    if (m_seen == 0 || added == size) {
        resetToLog();
        return;
    }
    const int before = m_rows;
    const int inserted = int(std::min<qsizetype>(added, shownEntries));
    const int dropped = std::max(0, m_rows + inserted - shownEntries);
    if (dropped > 0) {
        beginRemoveRows(QModelIndex(), 0, dropped - 1);
        m_rows -= dropped;
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), m_rows, m_rows + inserted - 1);
    m_rows += inserted;
    m_seen = size;
    m_newestSeen = entries->constLast().id;
    endInsertRows();
    if (m_rows != before)
        Q_EMIT countChanged();
}

void ActivityLogModel::resetToLog()
{
    const int before = m_rows;
    beginResetModel();
    const QList<ActivityEvent> *entries = log();
    m_seen = entries ? entries->size() : 0;
    m_rows = int(std::min<qsizetype>(m_seen, shownEntries));
    m_newestSeen = m_seen > 0 ? entries->constLast().id : 0;
    endResetModel();
    if (m_rows != before)
        Q_EMIT countChanged();
}
