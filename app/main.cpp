#include "application.h"
#include "busservice.h"
#include "colorscheme.h"
#include "logging.h"
#include "namedpipelistener.h"
#include "remoterelays.h"
#include "shutdownsignals.h"
#include "singleinstance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QJsonDocument>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)

int main(int argc, char *argv[])
{
    Logging::install();
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Shows every Claude Code session on this computer in one window."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption hidden(
        QStringLiteral("hidden"),
        QStringLiteral(
            "Start in the system tray without showing the window (where there is a tray)."));
    options.addOption(hidden);
    QApplication::setApplicationName(QStringLiteral("Tolvo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tolvo"));
    QApplication::setApplicationVersion(QStringLiteral(TOLVO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral(TOLVO_APP_ID));
    options.process(app);

    // Before anything touches ~/.tolvo/events: a second Tolvo must never
    // replace the running one's pipe.
    SingleInstance single;
    switch (single.claim()) {
    case SingleInstance::Outcome::First:
        break;
    case SingleInstance::Outcome::HandedOver:
        return 0;
    case SingleInstance::Outcome::Refused:
        std::fprintf(stderr, "%s\n", qPrintable(single.message()));
        return 1;
    }

    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral(TOLVO_APP_ID), QIcon(QStringLiteral(":/TolvoLogo.svg"))));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    ColorScheme colorScheme;
    Application tolvo;
    if (!tolvo.start())
        return 1;
    ShutdownSignals shutdown;
    QObject::connect(&shutdown, &ShutdownSignals::received, &app, &QCoreApplication::quit);
    BusService service(tolvo.sessions(),
                       [&tolvo](const QVariantMap &data) { tolvo.showMainWindow(data); });
    service.setFocus([&tolvo](const QString &id, QString *problem) {
        return tolvo.goToTerminal(id, {}, problem);
    });
    service.setAnswer([&tolvo](const QString &id, const QString &answer, const QString &reason) {
        BusService::Answered answered;
        answered.ok = tolvo.answerRequest(id, answer, reason, &answered.message);
        return answered;
    });
    RemoteRelays &remotes = tolvo.remotes();
    service.setRemotes({
        [&remotes](const QString &name, const QString &transport) {
            QString problem;
            remotes.add({name, transport}, &problem);
            return problem;
        },
        [&remotes](const QString &name) { return remotes.remove(name); },
        [&remotes] {
            return QString::fromUtf8(
                QJsonDocument(remotes.describe()).toJson(QJsonDocument::Compact));
        },
    });
    service.setQuiet(&tolvo.quiet());
    service.setProblem(tolvo.listener().problem());
    QObject::connect(&tolvo.listener(), &NamedPipeListener::problemChanged, &service,
                     &BusService::setProblem);
    service.registerOn(QDBusConnection::sessionBus());
    // Without a tray there would be no way back to a hidden window.
    if (!options.isSet(hidden) || !tolvo.hasTrayIcon())
        tolvo.showMainWindow();
    return app.exec();
}
