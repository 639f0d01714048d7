#include "remotehost.h"

#include "defaultsstore.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace RemoteHosts {

QList<RemoteHost> read(const DefaultsStore &store)
{
    QList<RemoteHost> hosts;
    const QJsonArray entries =
        QJsonDocument::fromJson(store.text(key).value_or(QString()).toUtf8()).array();
    for (const QJsonValue &entry : entries) {
        const RemoteHost host{entry[u"name"].toString(), entry[u"transport"].toString()};
        const bool known = std::any_of(hosts.cbegin(), hosts.cend(),
                                       [&](const RemoteHost &h) { return h.name == host.name; });
        if (!known && !problem(host) && hosts.size() < limit)
            hosts.append(host);
    }
    return hosts;
}

void write(DefaultsStore &store, const QList<RemoteHost> &hosts)
{
    QJsonArray entries;
    for (const RemoteHost &host : hosts)
        entries.append(QJsonObject{{u"name"_s, host.name}, {u"transport"_s, host.transport}});
    store.setText(key, QString::fromUtf8(QJsonDocument(entries).toJson(QJsonDocument::Compact)));
}

std::optional<QString> nameProblem(const QString &name)
{
    static const QRegularExpression allowed(u"^[A-Za-z0-9_.@][A-Za-z0-9_.@-]{0,63}$"_s);
    if (name.isEmpty())
        return u"a host needs a name"_s;
    if (!allowed.match(name).hasMatch())
        return u"a host's name has at most 64 letters, digits, \".\", \"_\", \"-\" and \"@\", "
               u"and does not start with \"-\""_s;
    return std::nullopt;
}

QString defaultTransport(const QString &name)
{
    return u"ssh "_s + name;
}

std::optional<QString> transportProblem(const QString &transport)
{
    if (QProcess::splitCommand(transport).isEmpty())
        return u"the transport names no command"_s;
    if (transport.contains(u'\n') || transport.contains(QChar(0)))
        return u"the transport is one line"_s;
    return std::nullopt;
}

std::optional<QString> problem(const RemoteHost &host)
{
    if (const std::optional<QString> why = nameProblem(host.name))
        return why;
    return transportProblem(host.transport);
}

QString shellQuoted(const QString &word)
{
    QString quoted = word;
    quoted.replace(u"'"_s, u"'\\''"_s);
    return u'\'' + quoted + u'\'';
}

QString remoteCommand(const QStringList &helperArguments)
{
    QString command = u"cd && exec "_s + shellQuoted(helperPath);
    for (const QString &argument : helperArguments)
        command += u' ' + shellQuoted(argument);
    return command;
}

QString remoteScript(const QString &script)
{
    return u"cd && "_s + script;
}

QStringList commandLine(const QString &transport, const QString &remoteShellCommand)
{
    QStringList arguments = QProcess::splitCommand(transport);
    if (arguments.isEmpty())
        return {};
    if (QFileInfo(arguments.first()).fileName() == u"ssh") {
        arguments.insert(1, u"-T"_s);
        arguments.insert(2, u"-o"_s);
        arguments.insert(3, u"BatchMode=yes"_s);
        arguments.append(remoteShellCommand);
    } else {
        arguments << u"sh"_s << u"-c"_s << remoteShellCommand;
    }
    return arguments;
}

} // namespace RemoteHosts
