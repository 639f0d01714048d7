#include "remotecommand.h"

#include "console.h"
#include "defaultsstore.h"
#include "remotehost.h"
#include "remotesetup.h"
#include "settingstable.h"
#include "tolvointerface.h"

#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace RemoteCommand {

namespace {

int failed(const QString &why)
{
    print(stderr, u"tolvoctl: "_s + why);
    return 1;
}

// The hosts Tolvo knows, as its RemoteHosts() gives them; with the state "Tolvo is not
// running" when they come from the stored list. Unset when the running Tolvo failed,
// after saying so.
std::optional<QJsonArray> knownHosts(ComTolvoTolvoInterface &tolvo)
{
    const QDBusReply<QString> reply = tolvo.RemoteHosts();
    if (reply.isValid())
        return QJsonDocument::fromJson(reply.value().toUtf8()).array();
    if (!tolvoAbsent(reply.error())) {
        failed(busFailure(reply.error()));
        return std::nullopt;
    }
    QJsonArray hosts;
    for (const RemoteHost &host : RemoteHosts::read(DefaultsStore()))
        hosts.append(QJsonObject{{u"name"_s, host.name},
                                 {u"transport"_s, host.transport},
                                 {u"state"_s, u"Tolvo is not running"_s}});
    return hosts;
}

int list(ComTolvoTolvoInterface &tolvo)
{
    const std::optional<QJsonArray> hosts = knownHosts(tolvo);
    if (!hosts)
        return 1;
    if (hosts->isEmpty())
        print(stdout, u"no remote hosts"_s);
    for (const QJsonValue &host : *hosts) {
        const QString message = host[u"message"].toString();
        print(stdout,
              u"%1 (%2): %3%4"_s.arg(host[u"name"].toString(), host[u"transport"].toString(),
                                     host[u"state"].toString(),
                                     message.isEmpty() ? QString() : u": "_s + message));
    }
    return 0;
}

// Adds the host to Tolvo's list, or takes it out when `transport` is unset.
int enlist(ComTolvoTolvoInterface &tolvo, const QString &name,
           const std::optional<QString> &transport)
{
    const QDBusError error = transport
                                 ? QDBusReply<void>(tolvo.AddRemoteHost(name, *transport)).error()
                                 : QDBusReply<void>(tolvo.RemoveRemoteHost(name)).error();
    if (error.isValid() && !tolvoAbsent(error))
        return failed(busFailure(error));
    if (error.isValid()) {
        DefaultsStore store;
        QList<RemoteHost> hosts = RemoteHosts::read(store);
        const auto known = std::find_if(hosts.begin(), hosts.end(),
                                        [&](const RemoteHost &h) { return h.name == name; });
        if (!transport && known != hosts.end())
            hosts.erase(known);
        else if (transport && known != hosts.end())
            known->transport = *transport;
        else if (transport && hosts.size() >= RemoteHosts::limit)
            return failed(u"Tolvo follows at most %1 hosts"_s.arg(RemoteHosts::limit));
        else if (transport)
            hosts.append({name, *transport});
        RemoteHosts::write(store, hosts);
    }
    print(stdout,
          (transport ? u"Tolvo follows %1 now"_s : u"Tolvo no longer follows %1"_s).arg(name) +
              (error.isValid() ? u" (from when it starts)"_s : QString()));
    return 0;
}

} // namespace

std::optional<QString> problem(const Arguments &arguments)
{
    if (arguments.action == u"list")
        return arguments.host.isEmpty() && !arguments.transport
                   ? std::nullopt
                   : std::optional(u"remote list takes no host and no --transport"_s);
    if (arguments.action != u"add" && arguments.action != u"remove")
        return u"remote needs one of add, remove, list"_s;
    if (const auto name = RemoteHosts::nameProblem(arguments.host))
        return *name;
    if (arguments.transport)
        return RemoteHosts::transportProblem(*arguments.transport);
    return std::nullopt;
}

int run(ComTolvoTolvoInterface &tolvo, const Arguments &arguments)
{
    if (arguments.action == u"list")
        return list(tolvo);
    const QString &name = arguments.host;
    QString transport = arguments.transport.value_or(RemoteHosts::defaultTransport(name));
    if (!arguments.transport) {
        // The transport that reached the host so far.
        const std::optional<QJsonArray> hosts = knownHosts(tolvo);
        if (!hosts)
            return 1;
        for (const QJsonValue &host : *hosts) {
            if (host[u"name"].toString() == name)
                transport = host[u"transport"].toString();
        }
    }

    RemoteSetup setup;
    // The PermissionRequest hook's timeout follows the hold set in Tolvo.
    setup.setHoldMinutes(Settings::holdBoundMinutes(DefaultsStore()));
    QObject::connect(&setup, &RemoteSetup::progress,
                     [](const QString &line) { print(stdout, line); });
    if (arguments.action == u"add") {
        const RemoteSetup::Result result = setup.addAndWait({name, transport});
        if (!result.ok)
            return failed(result.error);
        return enlist(tolvo, name, transport);
    }
    const RemoteSetup::Result result = setup.removeAndWait({name, transport});
    if (result.ok)
        return enlist(tolvo, name, std::nullopt);
    // A host that cannot be reached any more can still be forgotten; one that answered
    // stays listed, so that removing it can be tried again the same way.
    failed(result.error + (result.reached ? QString() : u"; its hooks and helper stay there"_s));
    if (!result.reached)
        enlist(tolvo, name, std::nullopt);
    return 1;
}

} // namespace RemoteCommand
