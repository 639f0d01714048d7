// tolvoctl: asks the running Tolvo about its sessions, and installs or removes
// Tolvo's hooks in Claude Code's settings from the command line.

#include "hookinstaller.h"
#include "statustext.h"
#include "tolvointerface.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <cstdio>

namespace {

const QString usage =
    QStringLiteral("usage: tolvoctl status [--json | --waybar]\n"
                   "       tolvoctl hooks status | install | remove [--settings PATH]\n"
                   "\n"
                   "status          one line about the sessions Tolvo shows\n"
                   "  --json        the sessions as a JSON array\n"
                   "  --waybar      a JSON object for a waybar custom module\n"
                   "hooks status    whether Claude Code's settings run Tolvo's hooks\n"
                   "hooks install   puts Tolvo's hooks into the settings\n"
                   "hooks remove    takes them out again\n"
                   "  --settings    the settings file (default ~/.claude/settings.json)\n");

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int usageError(const QString &problem)
{
    print(stderr, QStringLiteral("tolvoctl: ") + problem);
    print(stderr, usage.trimmed());
    return 2;
}

// The reply of Instances(), or an error message for stderr.
struct Sessions
{
    QByteArray json;
    QJsonArray list;
    QString error;
};

Sessions fetchSessions()
{
    Sessions sessions;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        sessions.error = QStringLiteral("Tolvo is not running (no session bus: %1)")
                             .arg(bus.lastError().message());
        return sessions;
    }
    ComTolvoTolvoInterface tolvo(QStringLiteral("com.tolvo.Tolvo"),
                                 QStringLiteral("/com/tolvo/Tolvo"), bus);
    tolvo.setTimeout(5000);
    const QDBusReply<QString> reply = tolvo.Instances();
    if (!reply.isValid()) {
        sessions.error = reply.error().type() == QDBusError::ServiceUnknown
                             ? QStringLiteral("Tolvo is not running")
                             : QStringLiteral("Tolvo did not answer: ") + reply.error().message();
        return sessions;
    }
    sessions.json = reply.value().toUtf8();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(sessions.json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        sessions.error = QStringLiteral("Tolvo answered with something other than a list of "
                                        "sessions");
    sessions.list = document.array();
    return sessions;
}

int status(const QStringList &options)
{
    if (options.size() > 1 ||
        (options.size() == 1 && options[0] != u"--json" && options[0] != u"--waybar"))
        return usageError(QStringLiteral("unknown option for status: ") + options.join(u' '));
    const Sessions sessions = fetchSessions();
    if (!sessions.error.isEmpty()) {
        print(stderr, QStringLiteral("tolvoctl: ") + sessions.error);
        return 1;
    }
    if (options.value(0) == u"--json")
        print(stdout, QString::fromUtf8(sessions.json.trimmed()));
    else if (options.value(0) == u"--waybar")
        print(stdout, QString::fromUtf8(QJsonDocument(StatusText::waybarObject(sessions.list))
                                            .toJson(QJsonDocument::Compact)));
    else
        print(stdout, StatusText::statusLine(sessions.list));
    return 0;
}

int hooks(QStringList arguments)
{
    QString path = HookInstaller::defaultSettingsPath();
    const qsizetype option = arguments.indexOf(QStringLiteral("--settings"));
    if (option >= 0) {
        if (option + 1 >= arguments.size())
            return usageError(QStringLiteral("--settings needs a path"));
        path = arguments[option + 1];
        arguments.remove(option, 2);
    }
    if (arguments.size() != 1)
        return usageError(QStringLiteral("hooks needs one of status, install, remove"));
    const QString action = arguments[0];
    if (action == u"status") {
        const HookInstaller::Inspection inspection = HookInstaller::inspectFile(path);
        const bool usable = inspection.state != HookInstaller::State::Invalid;
        print(usable ? stdout : stderr, HookInstaller::describe(inspection));
        return usable ? 0 : 1;
    }
    HookInstaller::FileOutcome outcome;
    if (action == u"install")
        outcome = HookInstaller::installFile(path);
    else if (action == u"remove")
        outcome = HookInstaller::removeFile(path);
    else
        return usageError(QStringLiteral("unknown hooks action: ") + action);
    print(outcome.ok ? stdout : stderr, outcome.message);
    return outcome.ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == u"status")
        return status(arguments);
    if (command == u"hooks")
        return hooks(arguments);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        print(stdout, usage.trimmed());
        return 0;
    }
    return usageError(command.isEmpty() ? QStringLiteral("no command given")
                                        : QStringLiteral("unknown command: ") + command);
}
