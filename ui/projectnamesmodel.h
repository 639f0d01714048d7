#pragma once

#include "sessionstore.h"

#include <QAbstractListModel>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

class SessionListModel;
class SessionStore;

// The General settings tab: one row per stored project name, sorted by path.
// Typing changes only the edited names; apply() hands them to the manager.
class ProjectNamesModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through App.projectNames.")
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool canApply READ canApply NOTIFY canApplyChanged)
    Q_PROPERTY(bool isEmpty READ isEmpty NOTIFY isEmptyChanged)

public:
    enum Role { PathRole = Qt::UserRole + 1, NameRole };
    Q_ENUM(Role)

    // Starts with the edited names equal to the stored ones; apply() hands
    // them to the session list.
    ProjectNamesModel(SessionStore *store, SessionListModel *sessions, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_paths.size()); }
    // False while the edited names equal the stored ones.
    bool canApply() const { return m_canApply; }
    // No stored names at all: the tab says "No projects yet".
    bool isEmpty() const { return m_isEmpty; }

    Q_INVOKABLE void setName(int row, const QString &name);
    Q_INVOKABLE void clearName(int row);
    // Every stored path with an empty name; nothing is stored yet.
    Q_INVOKABLE void clearAll();
    // Stores the edited names; they stay as they are here.
    Q_INVOKABLE void apply();
    // Drops unapplied edits: the tab calls this each time it comes on screen.
    Q_INVOKABLE void reset();

    // Path order of the rows: by Unicode code point, which for text outside
    // the Basic Multilingual Plane differs from comparing UTF-16 units.
    static bool pathLessThan(QStringView a, QStringView b);

Q_SIGNALS:
    void countChanged();
    void canApplyChanged();
    void isEmptyChanged();

private:
    const CustomNames &stored() const;
    void storedNamesChanged();
    void allNamesChanged();
    void updateFlags();

    QPointer<SessionStore> m_store;
    QPointer<SessionListModel> m_sessions;
    QStringList m_paths;
    CustomNames m_shown; // the stored names the rows were last drawn from
    CustomNames m_edited;
    bool m_canApply = false;
    bool m_isEmpty = true;
};
