// tolvoctl: asks the running Tolvo about its sessions, and installs or removes
// Tolvo's hooks in Claude Code's settings from the command line.

#include "hookinstaller.h"
#include "statustext.h"
#include "tolvointerface.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <cstdio>

namespace {

const QString usage =
    QStringLiteral("usage: tolvoctl status [--json | --waybar] [--watch]\n"
                   "       tolvoctl focus PID|NAME\n"
                   "       tolvoctl hooks status | install | remove [--settings PATH]\n"
                   "\n"
                   "status          one line about the sessions Tolvo shows\n"
                   "  --json        the sessions as a JSON array\n"
                   "  --waybar      a JSON object for a waybar custom module\n"
                   "  --watch       a line now and another whenever something changes\n"
                   "focus           takes you to the terminal of the session with that\n"
                   "                process id or name\n"
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

// Why Tolvo could not be asked, for stderr.
QString failure(const QDBusError &error)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return QStringLiteral("Tolvo is not running (no session bus: %1)")
            .arg(QDBusConnection::sessionBus().lastError().message());
    return error.type() == QDBusError::ServiceUnknown
               ? QStringLiteral("Tolvo is not running")
               : QStringLiteral("Tolvo did not answer: ") + error.message();
}

// What `status` prints for the running Tolvo, or an error for stderr.
struct Status
{
    QString text;
    QString error;
};

Status currentStatus(const QString &format)
{
    const QDBusReply<QString> reply = tolvo()->Instances();
    if (!reply.isValid())
        return {{}, failure(reply.error())};
    const QByteArray json = reply.value().toUtf8();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return {{}, QStringLiteral("Tolvo answered with something other than a list of sessions")};
    if (format == u"--json")
        return {QString::fromUtf8(json.trimmed()), {}};
    const QDBusReply<QString> problem = tolvo()->Problem();
    const QString why = problem.isValid() ? problem.value() : QString();
    if (format == u"--waybar")
        return {QString::fromUtf8(QJsonDocument(StatusText::waybarObject(document.array(), why))
                                      .toJson(QJsonDocument::Compact)),
                {}};
    return {StatusText::statusLine(document.array(), why), {}};
}

// Prints the status now and again whenever Tolvo says something changed, or
// comes or goes; never polls.
int watch(const QString &format)
{
    QString last;
    const auto show = [&] {
        const Status status = currentStatus(format);
        QString text = status.text;
        if (!status.error.isEmpty()) // while Tolvo is away, say so and wait
            text = format == u"--waybar"
                       ? QStringLiteral(R"({"text":"","tooltip":"%1","class":"none","alt":"none"})")
                             .arg(status.error.toHtmlEscaped())
                       : status.error;
        if (text != last)
            print(stdout, text);
        last = text;
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        print(stderr, QStringLiteral("tolvoctl: ") + failure({}));
        return 1;
    }
    QObject::connect(tolvo(), &ComTolvoTolvoInterface::Changed, qApp, show);
    QDBusServiceWatcher presence(QStringLiteral("com.tolvo.Tolvo"), bus,
                                 QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(&presence, &QDBusServiceWatcher::serviceOwnerChanged, qApp, show);
    show();
    return QCoreApplication::exec();
}

int status(QStringList options)
{
    const bool watching = options.removeAll(QStringLiteral("--watch")) > 0;
    if (options.size() > 1 ||
        (options.size() == 1 && options[0] != u"--json" && options[0] != u"--waybar"))
        return usageError(QStringLiteral("unknown option for status: ") + options.join(u' '));
    const QString format = options.value(0);
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

int focus(const QStringList &arguments)
{
    if (arguments.size() != 1 || arguments[0].isEmpty())
        return usageError(QStringLiteral("focus needs a process id or a session name"));
    const QDBusReply<QString> reply = tolvo()->Focus(arguments[0]);
    if (!reply.isValid()) {
        print(stderr, QStringLiteral("tolvoctl: ") + failure(reply.error()));
        return 1;
    }
    if (reply.value().isEmpty()) {
        print(stderr,
              QStringLiteral("tolvoctl: no running session is called or has the process id ") +
                  arguments[0]);
        return 1;
    }
    print(stdout, QStringLiteral("Going to the terminal of ") + reply.value());
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
    if (command == u"focus")
        return focus(arguments);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        print(stdout, usage.trimmed());
        return 0;
    }
    return usageError(command.isEmpty() ? QStringLiteral("no command given")
                                        : QStringLiteral("unknown command: ") + command);
}
