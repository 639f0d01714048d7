#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>

class ActivityLogModel;
class InstanceManager;

// The main window's list: one row per instance, in display order.
//
// Rows hold instance ids only and read everything else from the manager when
// asked, so the manager's instances (and their logs) are never shared with a
// copy here. Every manager change reaches the view as an insert, a remove, a
// move or a one-row dataChanged, never as a reset, so delegates (and their
// expanded or editing state) survive updates and reorders.
class InstanceListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY countChanged)
    // How many instances' processes have gone: the header's "Remove Exited".
    Q_PROPERTY(int exitedCount READ exitedCount NOTIFY exitedChanged)

public:
    enum Role {
        InstanceIdRole = Qt::UserRole + 1,
        DisplayNameRole,
        ProjectNameRole,
        ProjectPathRole,
        StatusLineRole,
        StatusColorRole,
        IsWorkingRole,
        UnreadCountRole,
        LogCountRole,
        IsExitedRole,
    };
    Q_ENUM(Role)

    explicit InstanceListModel(InstanceManager *manager, QObject *parent = nullptr);
    ~InstanceListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_ids.size()); }
    // "1 instance", "3 instances": the window's subtitle.
    QString subtitle() const;
    int exitedCount() const { return int(m_exited.size()); }

    // Live feedback while a row is dragged: moves one row in this model only.
    Q_INVOKABLE void moveRow(int from, int to);
    // The drop: hands the move to the manager in its display order as it was
    // before the drag. A move the manager refuses snaps the rows back.
    Q_INVOKABLE void commitMove(int originalIndex, int finalIndex);

    // The log of one instance, made on first use and kept until the instance
    // is removed; nullptr for an unknown id.
    Q_INVOKABLE QObject *activityLog(const QString &id);

Q_SIGNALS:
    void countChanged();
    void exitedChanged();

private:
    void instanceAdded(const QString &id);
    void instanceChanged(const QString &id);
    void instanceRemoved(const QString &id);
    // Brings the rows to the manager's display order with the fewest moves,
    // inserting and removing rows the manager has gained or lost.
    void synchronize();
    void moveOne(int from, int to);
    void updateExited(const QString &id);

    QPointer<InstanceManager> m_manager;
    QStringList m_ids;
    QHash<QString, ActivityLogModel *> m_logs;
    QSet<QString> m_exited;
};
