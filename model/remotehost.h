#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class DefaultsStore;

// A machine (or container) whose sessions Tolvo follows through a relay: the
// name its rows show ("webshop · devbox") and the command that reaches it.
// The command is the user's own (`ssh devbox`, `podman exec -i box`): split
// into arguments, never given to a shell on this side.
struct RemoteHost
{
    QString name;
    QString transport;
    bool operator==(const RemoteHost &) const = default;
};

namespace RemoteHosts {

// tolvo.ini's key: a JSON array of {"name", "transport"}.
inline const QString key = QStringLiteral("remoteHosts");
// At most this many hosts are kept.
constexpr int limit = 32;

// The hosts as stored; entries with a bad name or an empty transport are skipped.
QList<RemoteHost> read(const DefaultsStore &store);
void write(DefaultsStore &store, const QList<RemoteHost> &hosts);

// Why a name cannot name a host (letters, digits, ".", "_", "-", "@", at most
// 64, not starting with "-"); nothing when it can.
std::optional<QString> nameProblem(const QString &name);
// `ssh NAME`: what reaches a host the user names without a transport.
QString defaultTransport(const QString &name);
// Why a transport cannot be used (empty, or not splittable); nothing when it can.
std::optional<QString> transportProblem(const QString &transport);

// The first of the name's and the transport's problems.
std::optional<QString> problem(const RemoteHost &host);

// Where the helper lives on the remote, relative to the remote user's home.
inline const QString helperPath = QStringLiteral(".local/libexec/tolvo/tolvo-hook");
// One command line for the remote's shell, from its home directory:
// `cd && exec '.local/libexec/tolvo/tolvo-hook' '--relay'` for {"--relay"}.
// Every word is single-quoted.
QString remoteCommand(const QStringList &helperArguments);
// A shell script for the remote's shell, run from its home directory.
QString remoteScript(const QString &script);

// The argument list that runs `remoteShellCommand` over the transport. For
// ssh (the program's name is "ssh") the options "-T -o BatchMode=yes" come
// first and the command is ssh's last argument, for the remote's login shell;
// any other transport (container exec) gets "sh -c COMMAND" appended. Empty
// when the transport has no program.
QStringList commandLine(const QString &transport, const QString &remoteShellCommand);

// A single-quoted word for a POSIX shell.
QString shellQuoted(const QString &word);

} // namespace RemoteHosts
