// tolvoctl: asks the running Tolvo about its sessions, and installs or removes
// Tolvo's hooks in an agent's settings from the command line, here and (for Claude
// Code) on remote hosts.

#include "codextrust.h"
#include "console.h"
#include "defaultsstore.h"
#include "hookinstaller.h"
#include "remotecommand.h"
#include "sessiontarget.h"
#include "settingstable.h"
#include "statustext.h"
#include "tolvointerface.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <cstdio>

namespace {

const QString usage =
    QStringLiteral("usage: tolvoctl status [--json | --waybar] [--watch]\n"
                   "       tolvoctl focus PID|NAME|ID\n"
                   "       tolvoctl allow [--always] REQUEST-ID|SESSION\n"
                   "       tolvoctl deny [--reason TEXT] REQUEST-ID|SESSION\n"
                   "       tolvoctl hooks status | install | remove [--agent AGENT]\n"
                   "                      [--settings PATH] [--no-status-line]\n"
                   "       tolvoctl remote add | remove HOST [--transport CMD]\n"
                   "       tolvoctl remote list\n"
                   "       tolvoctl quiet [on | off | DURATION]\n"
                   "\n"
                   "status          one line about the sessions Tolvo shows\n"
                   "  --json        the sessions as a JSON array\n"
                   "  --waybar      a JSON object for a waybar custom module\n"
                   "  --watch       a line now and another whenever something changes\n"
                   "focus           takes you to the terminal of the running session with\n"
                   "                that process id, name or id\n"
                   "allow           answers a waiting permission request: the tool runs\n"
                   "  --always      and what the request suggests is allowed from now on\n"
                   "deny            refuses it; Claude Code is told the reason\n"
                   "  --reason      (default \"Denied from Tolvo\")\n"
                   "                SESSION: a name, process id or id with one request waiting\n"
                   "hooks status    whether the agent's settings run Tolvo's hooks\n"
                   "hooks install   puts Tolvo's hooks into the settings, and for Claude Code\n"
                   "                its status line, which runs yours after it\n"
                   "  --no-status-line  leaves Claude Code's status line as it is\n"
                   "hooks remove    takes them out again\n"
                   "  --agent       claude (default: ~/.claude/settings.json), codex\n"
                   "                (~/.codex/hooks.json) or gemini (~/.gemini/settings.json)\n"
                   "  --settings    another settings file of that agent\n"
                   "remote add      copies Tolvo's helper to HOST, installs the hooks in\n"
                   "                Claude Code's settings there, and has Tolvo follow HOST\n"
                   "remote remove   takes them off HOST again, and Tolvo stops following it\n"
                   "  --transport   the command that reaches HOST, e.g. 'podman exec -i box'\n"
                   "                (default: the one Tolvo knows, else \"ssh HOST\"; ssh\n"
                   "                must get in without asking for a password)\n"
                   "remote list     the hosts Tolvo follows, and whether they are connected\n"
                   "quiet           do not disturb: no notifications until you turn it off\n"
                   "                (on), now (off) or for DURATION (1h, 30m, 1h30m); without\n"
                   "                an argument, says whether Tolvo is quiet and why\n");

int usageError(const QString &problem)
{
    print(stderr, QStringLiteral("tolvoctl: ") + problem);
    print(stderr, usage.trimmed());
    return 2;
}

QString waybarText(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

ComTolvoTolvoInterface *tolvo()
{
    static ComTolvoTolvoInterface *const interface = [] {
        auto *created = new ComTolvoTolvoInterface(QStringLiteral("com.tolvo.Tolvo"),
                                                   QStringLiteral("/com/tolvo/Tolvo"),
                                                   QDBusConnection::sessionBus(), qApp);
        created->setTimeout(5000);
        return created;
    }();
    return interface;
}

// The status formats.
enum class Format { line, json, waybar };

// What `status` prints for the running Tolvo, or an error for stderr.
struct Status
{
    QString text;
    QString error;
};

Status currentStatus(Format format)
{
    const QDBusReply<QString> reply = tolvo()->Sessions();
    if (!reply.isValid())
        return {{}, busFailure(reply.error())};
    const QByteArray json = reply.value().toUtf8();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return {{}, QStringLiteral("Tolvo answered with something other than a list of sessions")};
    if (format == Format::json)
        return {QString::fromUtf8(json.trimmed()), {}};
    const QDBusReply<QString> problem = tolvo()->Problem();
    const QString why = problem.isValid() ? problem.value() : QString();
    // An older Tolvo has no Usage(): nothing to add then.
    const QDBusReply<QString> usageReply = tolvo()->Usage();
    const QJsonObject usage = usageReply.isValid()
                                  ? QJsonDocument::fromJson(usageReply.value().toUtf8()).object()
                                  : QJsonObject();
    const QDBusReply<QString> quietReply = tolvo()->Quiet();
    const QJsonObject quiet = quietReply.isValid()
                                  ? QJsonDocument::fromJson(quietReply.value().toUtf8()).object()
                                  : QJsonObject();
    if (format == Format::waybar)
        return {waybarText(StatusText::waybarObject(document.array(), why, usage, quiet)), {}};
    return {StatusText::statusLine(document.array(), why, usage, quiet), {}};
}

// Prints the status now and again whenever Tolvo says something changed, or
// comes or goes; never polls.
int watch(Format format)
{
    QString last;
    const auto show = [&] {
        const Status status = currentStatus(format);
        QString text = status.text;
        if (!status.error.isEmpty()) // while Tolvo is away, say so and wait
            text = format == Format::waybar ? waybarText(StatusText::waybarAway(status.error))
                                            : status.error;
        if (text != last)
            print(stdout, text);
        last = text;
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        print(stderr, QStringLiteral("tolvoctl: ") + busFailure({}));
        return 1;
    }
    QObject::connect(tolvo(), &ComTolvoTolvoInterface::Changed, qApp, show);
    QDBusServiceWatcher presence(QStringLiteral("com.tolvo.Tolvo"), bus,
                                 QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(&presence, &QDBusServiceWatcher::serviceOwnerChanged, qApp, show);
    show();
    return QCoreApplication::exec();
}

int status(Format format, bool watching)
{
    if (watching)
        return watch(format);
    const Status status = currentStatus(format);
    if (!status.error.isEmpty()) {
        print(stderr, QStringLiteral("tolvoctl: ") + status.error);
        return 1;
    }
    print(stdout, status.text);
    return 0;
}

int focus(const QString &target)
{
    const QDBusReply<QString> reply = tolvo()->Focus(target);
    if (reply.error().name() == QLatin1String(SessionTarget::ambiguousError)) {
        print(stderr, QStringLiteral("tolvoctl: more than one session is called %1; "
                                     "name one by its process id:\n%2")
                          .arg(target, reply.error().message()));
        return 1;
    }
    if (reply.error().name() == QLatin1String(SessionTarget::noTerminalError)) {
        print(stderr, QStringLiteral("tolvoctl: ") + reply.error().message());
        return 1;
    }
    if (!reply.isValid()) {
        print(stderr, QStringLiteral("tolvoctl: ") + busFailure(reply.error()));
        return 1;
    }
    if (reply.value().isEmpty()) {
        print(stderr, QStringLiteral("tolvoctl: no running session has the name, process id "
                                     "or id ") +
                          target);
        return 1;
    }
    print(stdout, QStringLiteral("Going to the terminal of ") + reply.value());
    return 0;
}

int quiet(const QString &what)
{
    if (what.isEmpty()) {
        const QDBusReply<QString> reply = tolvo()->Quiet();
        if (!reply.isValid()) {
            print(stderr, QStringLiteral("tolvoctl: ") + busFailure(reply.error()));
            return 1;
        }
        const QString text =
            QJsonDocument::fromJson(reply.value().toUtf8()).object().value(u"text").toString();
        print(stdout,
              text.isEmpty() ? QStringLiteral("Notifications on") : StatusText::oneLine(text));
        return 0;
    }
    const QDBusReply<QString> reply = tolvo()->SetQuiet(what);
    if (reply.error().type() == QDBusError::InvalidArgs)
        return usageError(reply.error().message());
    if (!reply.isValid()) {
        print(stderr, QStringLiteral("tolvoctl: ") + busFailure(reply.error()));
        return 1;
    }
    print(stdout, StatusText::oneLine(reply.value()));
    return 0;
}

int answer(const QString &target, const QString &word, const QString &reason)
{
    const QDBusReply<QString> reply = tolvo()->Answer(target, word, reason);
    const QString error = reply.error().name();
    if (error == QLatin1String(SessionTarget::ambiguousError)) {
        print(stderr, QStringLiteral("tolvoctl: %1 names more than one; name one by its id:\n%2")
                          .arg(target, reply.error().message()));
        return 1;
    }
    if (error == QLatin1String(SessionTarget::notWaitingError)) {
        print(stderr, QStringLiteral("tolvoctl: ") + reply.error().message());
        return 1;
    }
    if (!reply.isValid()) {
        print(stderr, QStringLiteral("tolvoctl: ") + busFailure(reply.error()));
        return 1;
    }
    print(stdout, reply.value());
    return 0;
}

int hooks(const QString &action, const QString &settings, HookInstaller::Agent agent,
          bool shareStatusLine)
{
    const QString path = settings.isEmpty() ? HookInstaller::defaultSettingsPath(agent) : settings;
    // Codex runs none of them before the user trusts them there.
    const auto trustNote = [&](bool justChanged) {
        const QString note =
            agent == HookInstaller::Agent::codex ? CodexTrust::note(path, justChanged) : QString();
        if (!note.isEmpty())
            print(stdout, note);
    };
    // The PermissionRequest hook's timeout follows the hold set in Tolvo.
    const int holdMinutes = Settings::holdBoundMinutes(DefaultsStore());
    const QString prefix = HookConfiguration::installPrefix();
    if (action == u"status") {
        const HookInstaller::Inspection inspection =
            HookInstaller::inspectFile(path, prefix, holdMinutes, agent);
        const bool usable = inspection.state != HookInstaller::State::Invalid;
        print(usable ? stdout : stderr, HookInstaller::describe(inspection, agent));
        if (inspection.state == HookInstaller::State::Installed)
            trustNote(false);
        if (usable && agent == HookInstaller::Agent::claudeCode) {
            print(stdout,
                  HookInstaller::describe(HookInstaller::inspectStatusLineFile(path, prefix)));
            const QString note =
                HookInstaller::projectStatusLineNote(QDir::currentPath(), path, prefix);
            if (!note.isEmpty())
                print(stdout, note);
        }
        return usable ? 0 : 1;
    }
    HookInstaller::FileOutcome outcome;
    if (action == u"install")
        outcome = HookInstaller::installFile(path, prefix, {}, holdMinutes, agent, shareStatusLine);
    else if (action == u"remove")
        outcome = HookInstaller::removeFile(path, {}, agent);
    else
        return usageError(QStringLiteral("unknown hooks action: ") + action);
    print(outcome.ok ? stdout : stderr, outcome.message);
    if (outcome.ok && action == u"install")
        trustNote(outcome.changed);
    return outcome.ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption json(QStringLiteral("json"), {});
    const QCommandLineOption waybar(QStringLiteral("waybar"), {});
    const QCommandLineOption watching(QStringLiteral("watch"), {});
    const QCommandLineOption settings(QStringLiteral("settings"), {}, QStringLiteral("PATH"));
    const QCommandLineOption always(QStringLiteral("always"), {});
    const QCommandLineOption reason(QStringLiteral("reason"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption transport(QStringLiteral("transport"), {}, QStringLiteral("CMD"));
    const QCommandLineOption agent(QStringLiteral("agent"), {}, QStringLiteral("AGENT"));
    const QCommandLineOption noStatusLine(QStringLiteral("no-status-line"), {});
    parser.addOptions(
        {help, json, waybar, watching, settings, always, reason, transport, agent, noStatusLine});
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    QStringList arguments = parser.positionalArguments();
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (parser.isSet(help) || command == u"help") {
        print(stdout, usage.trimmed());
        return 0;
    }
    // Each command's options; any other is a usage error.
    QStringList allowed;
    if (command == u"status")
        allowed = json.names() + waybar.names() + watching.names();
    else if (command == u"hooks")
        allowed = settings.names() + agent.names() + noStatusLine.names();
    else if (command == u"allow")
        allowed = always.names();
    else if (command == u"deny")
        allowed = reason.names();
    else if (command == u"remote")
        allowed = transport.names();
    for (const QString &name : parser.optionNames()) {
        if (!allowed.contains(name))
            return usageError(
                QStringLiteral("--%1 is not an option of %2")
                    .arg(name, command.isEmpty() ? QStringLiteral("tolvoctl") : command));
    }
    if (command == u"status") {
        if (!arguments.isEmpty() || (parser.isSet(json) && parser.isSet(waybar)))
            return usageError(
                QStringLiteral("status takes at most one of --json and --waybar, and --watch"));
        return status(parser.isSet(json)     ? Format::json
                      : parser.isSet(waybar) ? Format::waybar
                                             : Format::line,
                      parser.isSet(watching));
    }
    if (command == u"hooks") {
        if (arguments.size() != 1)
            return usageError(QStringLiteral("hooks needs one of status, install, remove"));
        const auto named = parser.isSet(agent) ? HookConfiguration::agentNamed(parser.value(agent))
                                               : std::optional(HookInstaller::Agent::claudeCode);
        if (!named)
            return usageError(QStringLiteral("--agent is one of claude, codex, gemini"));
        if (parser.isSet(noStatusLine) && arguments[0] != u"install")
            return usageError(QStringLiteral("--no-status-line goes with hooks install"));
        return hooks(arguments[0], parser.value(settings), *named, !parser.isSet(noStatusLine));
    }
    if (command == u"remote") {
        const RemoteCommand::Arguments remote{
            arguments.value(0), arguments.value(1),
            parser.isSet(transport) ? std::optional(parser.value(transport)) : std::nullopt};
        if (arguments.size() > 2)
            return usageError(QStringLiteral("remote takes one host"));
        if (const auto problem = RemoteCommand::problem(remote))
            return usageError(*problem);
        return RemoteCommand::run(*tolvo(), remote);
    }
    if (command == u"quiet") {
        if (arguments.size() > 1)
            return usageError(QStringLiteral("quiet takes one of on, off or a duration"));
        return quiet(arguments.value(0));
    }
    if (command == u"focus") {
        if (arguments.size() != 1 || arguments[0].isEmpty())
            return usageError(QStringLiteral("focus needs a process id, a session name or an id"));
        return focus(arguments[0]);
    }
    if (command == u"allow" || command == u"deny") {
        if (arguments.size() != 1 || arguments[0].isEmpty())
            return usageError(command + QStringLiteral(" needs a request id or a session"));
        const QString word = command == u"deny"     ? QStringLiteral("deny")
                             : parser.isSet(always) ? QStringLiteral("always")
                                                    : QStringLiteral("allow");
        return answer(arguments[0], word, parser.value(reason));
    }
    return usageError(command.isEmpty() ? QStringLiteral("no command given")
                                        : QStringLiteral("unknown command: ") + command);
}
