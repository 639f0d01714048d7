#pragma once

#include "wallclock.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

class DefaultsStore;
struct Session;

// What survives a restart of one project directory: enough to rebuild a
// placeholder session at the next launch.
struct SavedSession
{
    QString id;
    std::optional<QString> customName;
    QString projectPath;
    QString projectName;
    WallClockTime lastActive = 0; // when a session last started there; 0: unknown

    bool operator==(const SavedSession &) const = default;
};

using CustomNames = QMap<QString, QString>;        // project path -> name
using SavedSessions = QMap<QString, SavedSession>; // project path -> record

// The custom names, the order of the list and the saved sessions, in
// <config>/tolvo/sessions.json. Changes are written together a moment later
// (saveDelayMs), so a burst of new sessions costs one write, and at once by
// flush(), which the destructor calls.
//
// Before the file exists the three pieces are read from where older versions
// of Tolvo kept them, the keys "com.tolvo.customProjectNames",
// "com.tolvo.instanceOrder" and "com.tolvo.savedSessions" of tolvo.ini; the
// first save moves them into the file.
class SessionStore : public QObject
{
    Q_OBJECT
public:
    static constexpr int saveDelayMs = 500;

    // `legacy` is the defaults store that may hold the older keys.
    explicit SessionStore(const QString &filePath = defaultFilePath(),
                          DefaultsStore *legacy = nullptr, QObject *parent = nullptr);
    ~SessionStore() override;

    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    const CustomNames &customNames() const { return m_names; }
    const SavedSessions &savedSessions() const { return m_records; }
    // The session ids in the order the user arranged them.
    const QStringList &order() const { return m_order; }

    // Placeholder sessions for the saved directories, made at `now`: the
    // `limit` most recently active, in the order the user left them (others
    // last). Their pids are below zero, which no process has.
    QList<Session> placeholders(qsizetype limit, WallClockTime now) const;
    // The name a new session in this directory starts with: its saved
    // record's, else the directory's. A directory seen for the first time is
    // entered with its own name, so that the settings list every directory.
    std::optional<QString> nameForNewSession(const QString &path, const QString &projectName);

    // An absent name removes the directory's entry.
    void setCustomName(const QString &path, const std::optional<QString> &name);
    void replaceCustomNames(const CustomNames &names);
    // A name the user gave a session: the directory's name, and its saved
    // record's, if it has one.
    void rename(const QString &path, const std::optional<QString> &name);
    void setRecord(const SavedSession &record);
    // Saves the session's directory record, as active now.
    void record(const Session &session);
    void removeRecord(const QString &path);
    // Removes the session's directory record unless a session started there
    // since owns it.
    void forget(const Session &session);
    void setOrder(const QStringList &ids);
    // Projects whose sessions raise no notices, by Session::nameKey().
    const QSet<QString> &muted() const { return m_muted; }
    void setMuted(const QString &nameKey, bool muted);
    // What the sessions cost today (Usage::CostLedger's own form).
    const QJsonObject &costLedger() const { return m_costLedger; }
    void setCostLedger(const QJsonObject &ledger);

    // Writes what changed now; true when there was nothing to write or it was written.
    bool flush();
    bool hasUnsavedChanges() const { return m_dirty != 0; }

Q_SIGNALS:
    void customNamesChanged();
    void mutedChanged();

private:
    enum Piece { namesPiece = 1, orderPiece = 2, recordsPiece = 4, costPiece = 8, mutedPiece = 16 };
    void load(DefaultsStore *legacy);
    void changed(int pieces);

    QString m_filePath;
    DefaultsStore *m_legacy = nullptr; // still holds the older keys
    CustomNames m_names;
    QStringList m_order;
    SavedSessions m_records;
    QJsonObject m_costLedger;
    QSet<QString> m_muted;
    int m_dirty = 0;
    QTimer m_saveTimer;
};
