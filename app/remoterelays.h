#pragma once

#include "permissionhold.h"
#include "remotehost.h"

#include <QJsonArray>
#include <QObject>
#include <QVariantList>
#include <map>
#include <memory>

class DefaultsStore;
class RelayConnection;
class RemoteSetup;
class SessionListModel;

// The relays of the remote hosts the user added: one connection each, kept
// up while Tolvo runs, and their sessions in the session list with their
// host. What a remote says can only reach the rows of that host; answers and
// Go to Terminal for a remote session go back through its host's relay only.
class RemoteRelays : public QObject
{
    Q_OBJECT
    // For Settings: each host's "name", "transport", "state", "message" and
    // "stateText" (the state as Settings says it).
    Q_PROPERTY(QVariantList hosts READ hostsForView NOTIFY hostsChanged)
    Q_PROPERTY(QString introduction READ introduction CONSTANT)
    // Settings' set-up of a host, and what it said so far.
    Q_PROPERTY(bool settingUp READ settingUp NOTIFY setupChanged)
    Q_PROPERTY(QString setupText READ setupText NOTIFY setupChanged)
    Q_PROPERTY(bool setupFailed READ setupFailed NOTIFY setupChanged)

public:
    RemoteRelays(DefaultsStore &defaults, SessionListModel &sessions, QObject *parent = nullptr);
    ~RemoteRelays() override;

    // Connects to every stored host.
    void start();
    // Ends every relay quietly: the list and the rows stay as they are.
    void stop();

    // Stores the host (a known name gets the new transport) and connects.
    bool add(const RemoteHost &host, QString *problem = nullptr);
    // Disconnects and forgets the host; its rows stay, exited.
    bool remove(const QString &name);
    QList<RemoteHost> hosts() const;

    // "connected", "connecting" or "disconnected", with the message of why not.
    static QString stateWord(int state);
    // {"name", "transport", "state", "message"} per host, as tolvoctl reads it.
    QJsonArray describe() const;
    QVariantList hostsForView() const;

    // Sets the host up over its transport (RemoteSetup), then adds it; an
    // empty transport is `ssh NAME`. The setup's lines show in setupText.
    Q_INVOKABLE void setUp(const QString &name, const QString &transport);
    // Takes Tolvo off the host (as far as it can be reached) and removes it.
    Q_INVOKABLE void takeDown(const QString &name);
    QString introduction() const;
    bool settingUp() const;
    QString setupText() const { return m_setupLines.join(u'\n'); }
    bool setupFailed() const { return m_setupFailed; }

    void setHold(const PermissionHold::Bound &bound);
    bool answer(const QString &host, const QString &requestId, const QByteArray &decision);
    void release(const QString &host, const QString &requestId);
    bool focus(const QString &host, qint64 pid);

Q_SIGNALS:
    void hostsChanged();
    void setupChanged();
    void requestEnded(const QString &host, const QString &requestId);
    void answered(const QString &host, const QString &requestId, bool delivered);
    void focused(const QString &host, qint64 pid, bool ok, const QString &message);

private:
    static QStringList commandFor(const RemoteHost &host);
    // A new set-up, its lines shown as they come.
    void newSetup();
    void connectTo(const RemoteHost &host);
    RelayConnection *connection(const QString &host) const;

    DefaultsStore &m_defaults;
    SessionListModel &m_sessions;
    QList<RemoteHost> m_hosts;
    std::map<QString, std::unique_ptr<RelayConnection>> m_connections;
    PermissionHold::Bound m_hold;
    std::unique_ptr<RemoteSetup> m_setup;
    QStringList m_setupLines;
    bool m_setupFailed = false;
};
