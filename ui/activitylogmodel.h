#pragma once

#include <QAbstractListModel>
#include <QPointer>
#include <QUuid>

class InstanceManager;

// The log section of one row: the newest entries of an instance's activity
// log, oldest first.
//
// Only the number of entries seen and the id of the newest one are kept; the
// entries are read from the manager when the view asks. That way an append is
// recognised as one (and shown as inserted rows) without holding a copy of the
// log, which would make the manager's next append copy the whole log.
class ActivityLogModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString instanceId READ instanceId CONSTANT)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    static constexpr int shownEntries = 250;

    enum Role {
        EntryIdRole = Qt::UserRole + 1,
        TimeTextRole,
        TitleRole,
        ToolTextRole,
        DetailsTextRole,
        HasRawJSONRole,
        FormattedJSONRole,
    };
    Q_ENUM(Role)

    ActivityLogModel(InstanceManager *manager, const QString &instanceId,
                     QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString instanceId() const { return m_instanceId; }
    int count() const { return m_rows; }

Q_SIGNALS:
    void countChanged();

private:
    void instanceChanged(const QString &id);
    void resetToLog();

    QPointer<InstanceManager> m_manager;
    QString m_instanceId;
    int m_rows = 0;       // rows shown: the last m_rows of the first m_seen entries
    qsizetype m_seen = 0; // entries in the log when last looked at
    QUuid m_newestSeen;   // id of the newest of them
};
