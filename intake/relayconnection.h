#pragma once

#include "hookevent.h"
#include "permissionhold.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

// One remote host's relay: the transport command (ssh, a container's exec)
// running `tolvo-hook --relay` over there, whose standard output brings the
// remote's hook records and whose standard input takes answers back. One
// compact JSON object per line in both directions.
//
// Everything that comes from the remote is untrusted: lines are bounded,
// anything malformed is dropped, records go through the same validation as
// local ones, and nothing in them is run or opened here. The relay keeps
// what happened while nobody was connected and replays it after each
// connect; items carry the relay's sequence numbers, so what was seen once
// is not applied again.
//
// When the command ends it is started again after a pause that doubles from
// firstRetryMs up to longestRetryMs, and starts over once a connection got
// as far as the relay's greeting.
class RelayConnection : public QObject
{
    Q_OBJECT
public:
    enum class State { connecting, connected, disconnected };
    Q_ENUM(State)

    static constexpr int firstRetryMs = 1000;
    static constexpr int longestRetryMs = 60000;
    // Lines beyond this are dropped whole, like records beyond the pipe's bound.
    static constexpr qsizetype lineLimit = 16 * 1024 * 1024;

    // `command`: the transport's argument list with the remote command last.
    RelayConnection(const QString &host, const QStringList &command, QObject *parent = nullptr);
    ~RelayConnection() override;

    QString host() const { return m_host; }
    State state() const { return m_state; }
    // Why it is not connected (the transport's last line of errors, the
    // relay's own message), empty while connected.
    QString message() const { return m_message; }

    void start();
    void stop();
    // Another way to the same host: reconnects that way, and what was taken
    // from the relay stays taken.
    void setCommand(const QStringList &command);

    // Sent now and after every connect: how long the remote's helpers wait.
    void setHold(const PermissionHold::Bound &bound);
    // False when the relay is not connected: nothing was sent.
    bool answer(const QString &requestId, const QByteArray &decision);
    void release(const QString &requestId);
    bool focus(qint64 pid);

Q_SIGNALS:
    void stateChanged();
    // A record, validated, with its host set.
    void eventReceived(const HookEvent &event);
    void exited(const QString &host, qint64 pid);
    void refused(const QString &host, qint64 pid);
    // The relay replayed what it kept; `live`: the sessions whose processes run.
    void replayed(const QString &host, const QList<qint64> &live);
    void requestEnded(const QString &host, const QString &requestId);
    void answered(const QString &host, const QString &requestId, bool delivered);
    void focused(const QString &host, qint64 pid, bool ok, const QString &message);

private:
    void launch();
    void readLines();
    void readErrors();
    void ended();
    void take(const QByteArray &line);
    void takeItem(qint64 seq, const QByteArray &line);
    void takeNotice(const QJsonObject &notice);
    void setState(State state, const QString &message = {});
    bool send(const QJsonObject &command);
    void sendHold();

    QString m_host;
    QStringList m_command;
    QProcess m_process;
    QTimer m_retry;
    int m_retryMs = firstRetryMs;
    bool m_stopped = true;
    State m_state = State::disconnected;
    QString m_message;
    QByteArray m_buffer;
    bool m_skipping = false; // inside a line over the bound
    QByteArray m_lastError;  // the transport's last line of errors
    QString m_relayProblem;  // what the relay itself said went wrong
    PermissionHold::Bound m_hold;
    bool m_replaying = false; // between the greeting and the end of the replay
    // The relay's run and the last item taken from it.
    QString m_epoch;
    qint64 m_lastSeq = 0;
};
