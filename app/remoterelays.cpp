#include "remoterelays.h"

#include "defaultsstore.h"
#include "relayconnection.h"
#include "sessionlistmodel.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

RemoteRelays::RemoteRelays(DefaultsStore &defaults, SessionListModel &sessions, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_sessions(sessions)
{}

RemoteRelays::~RemoteRelays() = default;

void RemoteRelays::start()
{
    m_hosts = RemoteHosts::read(m_defaults);
    for (const RemoteHost &host : std::as_const(m_hosts))
        connectTo(host);
    Q_EMIT hostsChanged();
}

void RemoteRelays::connectTo(const RemoteHost &host)
{
    const QStringList command =
        RemoteHosts::commandLine(host.transport, RemoteHosts::remoteCommand({u"--relay"_s}));
    auto connection = std::make_unique<RelayConnection>(host.name, command);
    RelayConnection *relay = connection.get();
    connect(relay, &RelayConnection::stateChanged, this, [this, relay] {
        if (relay->state() == RelayConnection::State::disconnected)
            m_sessions.hostDisconnected(relay->host());
        Q_EMIT hostsChanged();
    });
    connect(relay, &RelayConnection::eventReceived, &m_sessions, &SessionListModel::handle);
    connect(relay, &RelayConnection::exited, &m_sessions,
            qOverload<const QString &, qint64>(&SessionListModel::markExited));
    connect(relay, &RelayConnection::refused, &m_sessions, &SessionListModel::refusedIn);
    connect(relay, &RelayConnection::replayed, &m_sessions, &SessionListModel::hostReplayed);
    connect(relay, &RelayConnection::requestEnded, this, &RemoteRelays::requestEnded);
    connect(relay, &RelayConnection::answered, this, &RemoteRelays::answered);
    connect(relay, &RelayConnection::focused, this, &RemoteRelays::focused);
    relay->setHoldSeconds(m_holdSeconds);
    m_connections[host.name] = std::move(connection);
    relay->start();
}

RelayConnection *RemoteRelays::connection(const QString &host) const
{
    const auto found = m_connections.find(host);
    return found == m_connections.end() ? nullptr : found->second.get();
}

bool RemoteRelays::add(const RemoteHost &host, QString *problem)
{
    const std::optional<QString> why = RemoteHosts::nameProblem(host.name)
                                           ? RemoteHosts::nameProblem(host.name)
                                           : RemoteHosts::transportProblem(host.transport);
    const bool known = std::any_of(m_hosts.cbegin(), m_hosts.cend(),
                                   [&](const RemoteHost &h) { return h.name == host.name; });
    if (why || (!known && m_hosts.size() >= RemoteHosts::limit)) {
        if (problem)
            *problem = why.value_or(u"Tolvo follows at most %1 hosts"_s.arg(RemoteHosts::limit));
        return false;
    }
    remove(host.name);
    m_hosts.append(host);
    RemoteHosts::write(m_defaults, m_hosts);
    connectTo(host);
    Q_EMIT hostsChanged();
    return true;
}

bool RemoteRelays::remove(const QString &name)
{
    const auto removed = m_hosts.removeIf([&](const RemoteHost &h) { return h.name == name; });
    if (removed == 0)
        return false;
    RemoteHosts::write(m_defaults, m_hosts);
    if (auto node = m_connections.extract(name)) {
        node.mapped()->disconnect(this);
        node.mapped()->disconnect(&m_sessions);
        node.mapped()->stop();
    }
    for (int row = 0; row < m_sessions.count(); ++row) {
        if (m_sessions.session(row).host == name)
            m_sessions.markExited(row);
    }
    Q_EMIT hostsChanged();
    return true;
}

QList<RemoteHost> RemoteRelays::hosts() const
{
    return m_hosts;
}

QString RemoteRelays::stateWord(int state)
{
    switch (RelayConnection::State(state)) {
    case RelayConnection::State::connected:
        return u"connected"_s;
    case RelayConnection::State::connecting:
        return u"connecting"_s;
    case RelayConnection::State::disconnected:
        break;
    }
    return u"disconnected"_s;
}

QJsonArray RemoteRelays::describe() const
{
    QJsonArray described;
    for (const RemoteHost &host : m_hosts) {
        const RelayConnection *relay = connection(host.name);
        described.append(QJsonObject{
            {u"name"_s, host.name},
            {u"transport"_s, host.transport},
            {u"state"_s,
             stateWord(int(relay ? relay->state() : RelayConnection::State::disconnected))},
            {u"message"_s, relay ? relay->message() : QString()},
        });
    }
    return described;
}

QVariantList RemoteRelays::hostsForView() const
{
    return describe().toVariantList();
}

void RemoteRelays::setHoldSeconds(int seconds)
{
    m_holdSeconds = seconds;
    for (const auto &[name, relay] : m_connections)
        relay->setHoldSeconds(seconds);
}

bool RemoteRelays::answer(const QString &host, const QString &requestId, const QByteArray &decision)
{
    RelayConnection *relay = connection(host);
    return relay && relay->answer(requestId, decision);
}

void RemoteRelays::release(const QString &host, const QString &requestId)
{
    if (RelayConnection *relay = connection(host))
        relay->release(requestId);
}

bool RemoteRelays::focus(const QString &host, qint64 pid)
{
    RelayConnection *relay = connection(host);
    return relay && relay->focus(pid);
}
