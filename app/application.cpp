#include "application.h"

#include "answerchannel.h"
#include "answerslog.h"
#include "busservice.h"
#include "defaultsstore.h"
#include "desktopnotifier.h"
#include "hookinstaller.h"
#include "iconprovider.h"
#include "livenesschecker.h"
#include "namedpipelistener.h"
#include "notificationpolicy.h"
#include "notificationsettingslauncher.h"
#include "permissionanswers.h"
#include "permissionhold.h"
#include "preferences.h"
#include "quietmenu.h"
#include "quietstate.h"
#include "noticegate.h"
#include "serverquiet.h"
#include "privatedirectory.h"
#include "projectnamesmodel.h"
#include "pushnotifier.h"
#include "pushsettings.h"
#include "remoterelays.h"
#include "sessionlistmodel.h"
#include "sessionstore.h"
#include "settingstable.h"
#include "terminalfocus.h"
#include "terminalpresence.h"
#include "traystatus.h"
#include "uibridge.h"
#include "updatercontroller.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDBusConnection>
#include <QMenu>
#include <QQuickWindow>
#include <QSystemTrayIcon>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

Application::Application(QObject *parent) : QObject(parent) {}

Application::~Application()
{
    // Events stop arriving before the list they would change goes away.
    if (m_listener)
        m_listener->stop();
    // Waiting helpers see the socket end and return at once, here and on
    // every remote.
    if (m_remotes)
        m_remotes->stop();
    m_answers.reset();
    ::unlinkat(PrivateDirectory().fd(), PermissionHold::boundName, 0);
}

bool Application::start()
{
    m_defaults = std::make_unique<DefaultsStore>();
    m_store = std::make_unique<SessionStore>(SessionStore::defaultFilePath(), m_defaults.get());
    m_sessions = std::make_unique<SessionListModel>(*m_store);
    m_sessions->setPreferences([this] { return Settings::notificationPreferences(*m_defaults); });
    m_remotes = std::make_unique<RemoteRelays>(*m_defaults, *m_sessions);

    setUpNotices();
    m_terminalFocus = std::make_unique<TerminalFocus>();
    connect(m_terminalFocus.get(), &TerminalFocus::finished, this, &Application::focusFinished);

    m_updaterController = std::make_unique<UpdaterController>(*m_defaults);
    const auto open = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    connect(m_updaterController.get(), &UpdaterController::downloadRequested, this, open);
    connect(m_updaterController.get(), &UpdaterController::releaseNotesRequested, this, open);

    m_projectNames = std::make_unique<ProjectNamesModel>(m_store.get(), m_sessions.get());
    m_preferences = std::make_unique<Preferences>(*m_defaults);
    m_notificationSettings = std::make_unique<NotificationSettingsLauncher>();
    m_pushSettings = std::make_unique<PushSettings>(*m_push);
    m_bridge = std::make_unique<UiBridge>(UiBridge::Parts{
        m_sessions.get(), m_projectNames.get(), m_preferences.get(), m_notificationSettings.get(),
        m_updaterController.get(), m_remotes.get(), m_quiet.get(), m_pushSettings.get()});
    connect(m_bridge.get(), &UiBridge::mainWindowRequested, this, [this] { showMainWindow(); });
    connect(m_bridge.get(), &UiBridge::goToTerminalRequested, this,
            [this](const QString &id) { goToTerminal(id); });

    m_engine.addImageProvider(QStringLiteral("icon"), new TintedIconProvider);
    m_engine.load(QUrl(QStringLiteral("qrc:/Tolvo/Main.qml")));
    if (!mainWindow())
        return false;
    mainWindow()->installEventFilter(this);
    // Closing the main window decides alone whether Tolvo ends (see eventFilter).
    QApplication::setQuitOnLastWindowClosed(false);
    setUpTrayIcon();

    setUpAnswers();
    m_listener = std::make_unique<NamedPipeListener>();
    connect(m_listener.get(), &NamedPipeListener::eventReceived, m_sessions.get(),
            &SessionListModel::handle);
    connect(m_listener.get(), &NamedPipeListener::problemChanged, m_bridge.get(),
            &UiBridge::setReceivingProblem);
    connect(m_listener.get(), &NamedPipeListener::problemChanged, this,
            [this](const QString &problem) {
                if (problem.isEmpty() && !m_answers->isListening() && m_answers->listen())
                    writeHoldBound();
            });
    m_listener->start();
    m_liveness = std::make_unique<LivenessChecker>(*m_sessions);
    m_liveness->start();
    m_remotes->start();
    return true;
}

void Application::setUpAnswers()
{
    // While ~/.tolvo is unusable the window says so; the socket follows the pipe.
    m_answers = std::make_unique<AnswerChannel>(PrivateDirectory::defaultPath());
    if (!m_answers->listen())
        qCDebug(lcAnswers).noquote() << "Not answering yet:" << m_answers->problem();
    writeHoldBound();
    connect(m_defaults.get(), &DefaultsStore::valueChanged, this, [this](const QString &key) {
        if (key != Settings::holdPermissionRequests && key != Settings::holdMinutes &&
            key != Settings::holdCodexRequests)
            return;
        writeHoldBound();
        // Installed hooks get the PermissionRequest timeout of the new bound.
        const QString settings = HookInstaller::defaultSettingsPath();
        const QString prefix = HookConfiguration::installPrefix();
        const int minutes = Settings::holdBoundMinutes(*m_defaults);
        if (key == Settings::holdMinutes &&
            HookInstaller::inspectFile(settings, prefix, minutes).state ==
                HookInstaller::State::Incomplete)
            HookInstaller::installFile(settings, prefix, {}, minutes);
    });
    const QString inTheTerminal = QStringLiteral("it was answered in the terminal");
    connect(m_sessions.get(), &SessionListModel::requestsEnded, this,
            [this, inTheTerminal](const QString &host, const QStringList &ids) {
                requestsEnded(host, ids, inTheTerminal);
            });
    connect(m_answers.get(), &AnswerChannel::ended, this,
            [this, inTheTerminal](const QString &id) { requestsEnded({}, {id}, inTheTerminal); });
    connect(m_remotes.get(), &RemoteRelays::requestEnded, this,
            [this, inTheTerminal](const QString &host, const QString &id) {
                requestsEnded(host, {id}, inTheTerminal);
            });
    connect(m_remotes.get(), &RemoteRelays::answered, this,
            [this](const QString &host, const QString &id, bool delivered) {
                const auto [answeredHost, sessionId] = m_remoteAnswers.take(id);
                if (delivered || answeredHost != host)
                    return;
                qCInfo(lcAnswers, "Permission request: the answer came too late on its host");
                m_sessions->setNotice(sessionId, QStringLiteral("The answer came too late: the "
                                                                "request was answered in the "
                                                                "terminal"));
            });
    connect(m_remotes.get(), &RemoteRelays::focused, this, &Application::remoteFocused);
    connect(m_notifier.get(), &DesktopNotifier::answerRequested, this,
            [this](const QString &id, const QString &answer) { answerRequest(id, answer, {}); });
    connect(m_bridge.get(), &UiBridge::answerRequested, this,
            [this](const QString &id, const QString &answer, const QString &reason) {
                answerRequest(id, answer, reason);
            });
}

// The helpers read the bound from ~/.tolvo/hold; without the file they do not wait.
void Application::writeHoldBound()
{
    PrivateDirectory directory;
    const PermissionHold::Bound bound = Settings::hold(*m_defaults);
    m_remotes->setHold(bound);
    if (bound.seconds > 0)
        directory.replaceFile(PermissionHold::boundName,
                              QByteArray::fromStdString(PermissionHold::boundText(bound)));
    else if (directory.isOpen())
        ::unlinkat(directory.fd(), PermissionHold::boundName, 0);
}

void Application::requestsEnded(const QString &host, const QStringList &ids, const QString &how)
{
    for (const QString &id : ids) {
        // A host speaks for its own requests only.
        int row = -1;
        if (m_sessions->waitingRequest(id, &row) && m_sessions->session(row).host != host)
            continue;
        // A host's requests are let go by its own relay only.
        if (host.isEmpty())
            m_answers->release(id);
        else
            m_remotes->release(host, id);
        m_sessions->withdrawRequest(id);
        m_notifier->withdraw(id);
        m_push->cancel(id);
        if (m_endedRequests.size() >= 256)
            m_endedRequests.clear();
        m_endedRequests.insert(id, how);
    }
}

bool Application::answerRequest(const QString &requestId, const QString &answer,
                                const QString &reason, QString *message)
{
    QString said;
    const auto done = [&](bool ok) {
        qCInfo(lcAnswers).noquote() << "Permission request:" << said;
        if (message)
            *message = said;
        return ok;
    };
    const std::optional<PermissionAnswers::Answer> given = PermissionAnswers::answerOf(answer);
    int row = -1;
    const WaitingRequest *waiting = m_sessions->waitingRequest(requestId, &row);
    if (!given) {
        said = QStringLiteral("the answer is one of allow, always and deny");
        return done(false);
    }
    if (!waiting) {
        const QString how = m_endedRequests.value(requestId);
        said = how.isEmpty() ? QStringLiteral("no request waits under that id")
                             : QStringLiteral("the request no longer waits: ") + how;
        return done(false);
    }
    const WaitingRequest request = *waiting;
    const QString sessionId = m_sessions->session(row).id;
    const QString host = m_sessions->session(row).host;
    const QByteArray decision = PermissionAnswers::decision(request, *given, reason);
    const bool sent = host.isEmpty() ? m_answers->answer(request.id, request.helperPid, decision)
                                     : m_remotes->answer(host, request.id, decision);
    requestsEnded(host, {request.id}, QStringLiteral("it was answered from Tolvo"));
    if (!sent) {
        said = QStringLiteral("the request no longer waits: it was answered in the terminal");
        return done(false);
    }
    if (!host.isEmpty()) {
        if (m_remoteAnswers.size() >= 256)
            m_remoteAnswers.clear();
        m_remoteAnswers.insert(request.id, {host, sessionId});
    }
    said = PermissionAnswers::answeredText(request, *given);
    m_sessions->setNotice(sessionId, said);
    return done(true);
}

void Application::showMainWindow(const QVariantMap &platformData)
{
    QQuickWindow *window = mainWindow();
    if (!window)
        return;
    // Wayland lets a window take the focus only with the token of the launch
    // that asked for it; the platform plugin reads it from the environment.
    // One fixed entry holds it, so that no number of calls makes it grow.
    const QByteArray token = checkedActivationToken(platformData).toLatin1();
    if (!token.isEmpty()) {
        static char entry[sizeof("XDG_ACTIVATION_TOKEN=") + 256];
        std::snprintf(entry, sizeof entry, "XDG_ACTIVATION_TOKEN=%s", token.constData());
        ::putenv(entry);
    }
    if (window->visibility() == QWindow::Minimized)
        window->showNormal();
    else
        window->show();
    window->raise();
    window->requestActivate();
}

void Application::revealSession(const QString &sessionId)
{
    showMainWindow();
    m_bridge->reveal(sessionId);
}

QString Application::goToTerminal(const QString &sessionId, const QByteArray &activationToken,
                                  QString *problem)
{
    const int row = m_sessions->rowOfId(sessionId);
    if (row < 0 || m_sessions->session(row).pid <= 0)
        return {};
    const Session &session = m_sessions->session(row);
    m_focusing = session.id;
    // The environment of a shared process's hooks is not this session's: its
    // terminal would be a guess, and maybe another session's.
    if (!session.terminalIsKnown()) {
        const QString why = QStringLiteral("Tolvo cannot tell which terminal runs this %1 "
                                           "session: its hooks run in Codex's shared server "
                                           "(start codex with --no-daemon for Go to Terminal)")
                                .arg(agentName(session.agent));
        m_sessions->setNotice(session.id, why);
        if (problem)
            *problem = why;
        return session.shownName();
    }
    if (!session.host.isEmpty()) {
        // Only the relay can reach the remote's tmux; which window here shows
        // that connection, only the user knows.
        if (!m_remotes->focus(session.host, session.pid))
            m_sessions->setNotice(session.id,
                                  QStringLiteral("%1 is not connected").arg(session.host));
        return session.shownName();
    }
    m_terminalFocus->focus(
        {session.pid, TerminalRecord::fromJson(session.terminal), activationToken, 0});
    return session.displayName();
}

void Application::remoteFocused(const QString &host, qint64 pid, bool ok, const QString &message)
{
    const int row = m_sessions->rowOfRemote(host, pid);
    if (row < 0)
        return;
    m_sessions->setNotice(
        m_sessions->session(row).id,
        ok ? QStringLiteral("Selected its tmux pane on %1: bring forward the terminal connected "
                            "to %1")
                 .arg(host)
           : QStringLiteral("Could not select its pane on %1: %2").arg(host, message));
}

void Application::focusFinished(const FocusResult &result)
{
    const QString text = result.error.isEmpty() ? result.rowText : result.error;
    if (!text.isEmpty())
        m_sessions->setNotice(m_focusing, text);
}

bool Application::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Close || watched != mainWindow())
        return QObject::eventFilter(watched, event);
    if (m_tray && QSystemTrayIcon::isSystemTrayAvailable()) {
        // Hidden, not destroyed: monitoring and the window's state go on.
        event->ignore();
        mainWindow()->hide();
        return true;
    }
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    return false;
}

QQuickWindow *Application::mainWindow() const
{
    const auto roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
}

// Where the desktop has a tray, Tolvo keeps watching with its window closed.
void Application::setUpTrayIcon()
{
    QPointer<QQuickWindow> window = mainWindow();
    const auto show = [this] { showMainWindow(); };
    m_trayMenu = std::make_unique<QMenu>();
    QMenu *menu = m_trayMenu.get();
    menu->addAction(QStringLiteral("Show Tolvo"), this, show);
    menu->addAction(QStringLiteral("Settings…"), this, [window] {
        if (window)
            QMetaObject::invokeMethod(window, "showSettings");
    });
    QuietMenu::add(*menu, *m_quiet);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = std::make_unique<QSystemTrayIcon>();
    updateTrayIcon();
    connect(m_sessions.get(), &SessionListModel::changed, this, &Application::updateTrayIcon);
    connect(m_sessions.get(), &SessionListModel::usageChanged, this, &Application::updateTrayIcon);
    connect(m_quiet.get(), &QuietState::changed, this, &Application::updateTrayIcon);
    m_tray->setContextMenu(menu);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [window, show](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Trigger || !window)
                    return;
                if (window->isVisible() && window->isActive())
                    window->hide();
                else
                    show();
            });
    m_tray->show();
}

void Application::updateTrayIcon()
{
    const TrayStatus::Counts counts = TrayStatus::count(*m_sessions);
    QStringList tip{TrayStatus::toolTip(counts), m_sessions->usageSummary(), m_quiet->text()};
    tip.removeAll(QString());
    m_tray->setToolTip(tip.join(u'\n'));
    const StatusColor color = TrayStatus::color(counts);
    if (int(color) == m_trayColor)
        return;
    m_trayColor = int(color);
    m_tray->setIcon(TrayStatus::icon(color));
}
