#include "remoterelays.h"

#include "defaultsstore.h"
#include "relayconnection.h"
#include "remotesetup.h"
#include "sessionlistmodel.h"
#include "settingstable.h"

#include <QJsonObject>

using namespace Qt::StringLiterals;

RemoteRelays::RemoteRelays(DefaultsStore &defaults, SessionListModel &sessions, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_sessions(sessions)
{}

RemoteRelays::~RemoteRelays()
{
    stop();
}

void RemoteRelays::stop()
{
    for (const auto &[name, relay] : m_connections) {
        relay->disconnect(this);
        relay->disconnect(&m_sessions);
        relay->stop();
    }
}

void RemoteRelays::start()
{
    m_hosts = RemoteHosts::read(m_defaults);
    for (const RemoteHost &host : std::as_const(m_hosts))
        connectTo(host);
    Q_EMIT hostsChanged();
}

QStringList RemoteRelays::commandFor(const RemoteHost &host)
{
    return RemoteHosts::commandLine(host.transport, RemoteHosts::remoteCommand({u"--relay"_s}));
}

void RemoteRelays::connectTo(const RemoteHost &host)
{
    auto connection = std::make_unique<RelayConnection>(host.name, commandFor(host));
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
    relay->setHold(m_hold);
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
    const std::optional<QString> why = RemoteHosts::problem(host);
    const auto known = std::find_if(m_hosts.begin(), m_hosts.end(),
                                    [&](const RemoteHost &h) { return h.name == host.name; });
    if (why || (known == m_hosts.end() && m_hosts.size() >= RemoteHosts::limit)) {
        if (problem)
            *problem = why.value_or(u"Tolvo follows at most %1 hosts"_s.arg(RemoteHosts::limit));
        return false;
    }
    if (known != m_hosts.end()) {
        // The same host by another way: its sessions and what was seen of them stay.
        if (known->transport != host.transport) {
            known->transport = host.transport;
            RemoteHosts::write(m_defaults, m_hosts);
            connection(host.name)->setCommand(commandFor(host));
            Q_EMIT hostsChanged();
        }
        return true;
    }
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
    QVariantList hosts;
    for (const QJsonValue &value : describe()) {
        QVariantMap host = value.toObject().toVariantMap();
        const QString state = host.value(u"state"_s).toString();
        const QString message = host.value(u"message"_s).toString();
        QString text = state == u"connected"    ? u"Connected"_s
                       : state == u"connecting" ? u"Connecting…"_s
                                                : u"Disconnected"_s;
        if (!message.isEmpty())
            text += u": "_s + message;
        host.insert(u"stateText"_s, text + u" · "_s + host.value(u"transport"_s).toString());
        hosts.append(host);
    }
    return hosts;
}

QString RemoteRelays::introduction() const
{
    return u"Sessions on other machines and in containers, reached with your own ssh (or "
           u"podman, docker exec). Setting a host up copies Tolvo's helper to "
           u"~/.local/libexec/tolvo there and adds its hooks to ~/.claude/settings.json there. "
           u"Nothing listens on a port."_s;
}

bool RemoteRelays::settingUp() const
{
    return m_setup && m_setup->isRunning();
}

void RemoteRelays::newSetup()
{
    m_setupLines.clear();
    m_setupFailed = false;
    m_setup = std::make_unique<RemoteSetup>();
    connect(m_setup.get(), &RemoteSetup::progress, this, [this](const QString &line) {
        m_setupLines.append(line);
        Q_EMIT setupChanged();
    });
}

void RemoteRelays::setUp(const QString &name, const QString &transport)
{
    if (settingUp())
        return;
    const RemoteHost host{name.trimmed(), transport.trimmed().isEmpty()
                                              ? RemoteHosts::defaultTransport(name.trimmed())
                                              : transport.trimmed()};
    if (const std::optional<QString> problem = RemoteHosts::problem(host)) {
        m_setupLines = {*problem};
        m_setupFailed = true;
        Q_EMIT setupChanged();
        return;
    }
    newSetup();
    m_setup->setHoldMinutes(Settings::holdBoundMinutes(m_defaults));
    connect(
        m_setup.get(), &RemoteSetup::finished, this,
        [this, host](const RemoteSetup::Result &result) {
            QString problem;
            if (result.ok && !add(host, &problem))
                m_setupLines.append(problem);
            if (!result.ok)
                m_setupLines.append(result.error);
            m_setupFailed = !result.ok || !problem.isEmpty();
            Q_EMIT setupChanged();
        },
        Qt::QueuedConnection);
    m_setup->add(host);
    Q_EMIT setupChanged();
}

void RemoteRelays::takeDown(const QString &name)
{
    const auto known = std::find_if(m_hosts.cbegin(), m_hosts.cend(),
                                    [&](const RemoteHost &h) { return h.name == name; });
    if (settingUp() || known == m_hosts.cend())
        return;
    const RemoteHost host = *known;
    // The relay goes first: it is what the remote's helper would be busy with.
    remove(host.name);
    newSetup();
    connect(
        m_setup.get(), &RemoteSetup::finished, this,
        [this, host](const RemoteSetup::Result &result) {
            if (!result.ok)
                m_setupLines.append(result.error + u" — "_s + host.name +
                                    u" was removed from Tolvo all the same"_s);
            m_setupFailed = !result.ok;
            Q_EMIT setupChanged();
        },
        Qt::QueuedConnection);
    m_setup->remove(host);
    Q_EMIT setupChanged();
}

void RemoteRelays::setHold(const PermissionHold::Bound &bound)
{
    m_hold = bound;
    for (const auto &[name, relay] : m_connections)
        relay->setHold(bound);
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
