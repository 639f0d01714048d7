#pragma once

#include "activityevent.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QSet>

class SessionListModel;

// The log section of one row: the newest entries of a session's activity
// log, oldest first, and which of them show their raw record.
//
// Only the number of entries seen and the id of the newest one are kept; the
// entries are read from the session list when the view asks. That way an
// append is recognised as one (and shown as inserted rows) without holding a
// copy of the log.
class ActivityLogModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    static constexpr int shownEntries = 250;

    enum Role {
        EntryIdRole = Qt::UserRole + 1,
        TimeTextRole,
        TitleRole,
        ToolTextRole,
        DetailsTextRole,
        FormattedJSONRole, // worked out when asked for
        JsonShownRole,     // writable
    };
    Q_ENUM(Role)

    ActivityLogModel(SessionListModel *sessions, const QString &sessionId);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return m_rows; }

    // The session list calls this after every change of the log.
    void logChanged();

Q_SIGNALS:
    void countChanged();

private:
    const QList<ActivityEvent> *log() const;
    const ActivityEvent *entry(int row) const;
    void resetToLog();

    QPointer<SessionListModel> m_sessions;
    QString m_sessionId;
    int m_rows = 0;       // rows shown: the last m_rows of the first m_seen entries
    qsizetype m_seen = 0; // entries in the log when last looked at
    quint64 m_newestSeen = 0;
    QSet<quint64> m_jsonShown;
};
