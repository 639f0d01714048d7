#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <memory>
#include <utility>

class AnswerChannel;
class DefaultsStore;
class DesktopNotifier;
class SessionListModel;
class LivenessChecker;
class NoticeGate;
class QuietState;
class ServerQuiet;
class NamedPipeListener;
class NotificationSettingsLauncher;
class Preferences;
class ProjectNamesModel;
class PushNotifier;
class PushSettings;
class QMenu;
class QQuickWindow;
class QSystemTrayIcon;
class RemoteRelays;
class SessionStore;
class TerminalFocus;
class TerminalPresence;
struct FocusResult;
class UiBridge;
class UpdaterController;

// The application object: makes the session list and everything around it,
// connects them, starts listening for hook events and opens the main window.
//
// With a system tray, closing the main window only hides it and Tolvo keeps
// watching; the tray icon shows the worst state of all sessions. Without a
// tray, closing the main window quits.
class Application : public QObject
{
    Q_OBJECT
public:
    explicit Application(QObject *parent = nullptr);
    ~Application() override;

    // Start-up in order: the stores and the session list (restored from what
    // the last run saved), the updater, the windows, then the event pipe and
    // the liveness check. False when the windows could not be loaded.
    bool start();

    SessionListModel &sessions() const { return *m_sessions; }
    SessionStore &store() const { return *m_store; }
    NamedPipeListener &listener() const { return *m_listener; }
    UpdaterController &updaterController() const { return *m_updaterController; }
    DefaultsStore &defaults() const { return *m_defaults; }
    UiBridge &bridge() const { return *m_bridge; }
    RemoteRelays &remotes() const { return *m_remotes; }
    QuietState &quiet() const { return *m_quiet; }
    NoticeGate &noticeGate() const { return *m_gate; }
    QQmlApplicationEngine &engine() { return m_engine; }
    QQuickWindow *mainWindow() const;

    // Shows the main window and brings it to the front. `platformData` may
    // carry the caller's activation token (org.freedesktop.Application).
    void showMainWindow(const QVariantMap &platformData = {});
    // Shows the main window with this session's row in view and open.
    void revealSession(const QString &sessionId);
    // Takes the user to the session's terminal; `activationToken` comes from a
    // notification's action. Returns the session's name, or nothing when there
    // is no live session with that id.
    // `problem`, when given, says why the terminal cannot be told (the row
    // says so too).
    QString goToTerminal(const QString &sessionId, const QByteArray &activationToken = {},
                         QString *problem = nullptr);

    // Answers the waiting permission request with this id ("allow", "always",
    // "deny" with a reason). `message` says what was done, or why nothing was:
    // the request no longer waits (the terminal answered first) or never did.
    bool answerRequest(const QString &requestId, const QString &answer, const QString &reason,
                       QString *message = nullptr);

    bool hasTrayIcon() const { return m_tray != nullptr; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpTrayIcon();
    void setUpNotices();
    void updateTrayIcon();
    void focusFinished(const FocusResult &result);
    void setUpAnswers();
    void writeHoldBound();
    void requestsEnded(const QString &host, const QStringList &ids, const QString &how);
    void remoteFocused(const QString &host, qint64 pid, bool ok, const QString &message);

    std::unique_ptr<DefaultsStore> m_defaults;
    std::unique_ptr<SessionStore> m_store;
    std::unique_ptr<SessionListModel> m_sessions;
    std::unique_ptr<NamedPipeListener> m_listener;
    std::unique_ptr<LivenessChecker> m_liveness;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<QuietState> m_quiet;
    std::unique_ptr<ServerQuiet> m_serverQuiet;
    std::unique_ptr<NoticeGate> m_gate;
    std::unique_ptr<TerminalPresence> m_presence;
    std::unique_ptr<PushNotifier> m_push;
    std::unique_ptr<AnswerChannel> m_answers;
    std::unique_ptr<RemoteRelays> m_remotes;
    // Requests that stopped waiting lately, and how, to tell a late answer.
    QHash<QString, QString> m_endedRequests;
    // Answers sent to a remote, by request id: its host, and the session to
    // tell when that host says the answer came too late.
    QHash<QString, std::pair<QString, QString>> m_remoteAnswers;
    std::unique_ptr<TerminalFocus> m_terminalFocus;
    QString m_focusing; // the session Go to Terminal is busy with
    std::unique_ptr<UpdaterController> m_updaterController;
    std::unique_ptr<ProjectNamesModel> m_projectNames;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<NotificationSettingsLauncher> m_notificationSettings;
    std::unique_ptr<PushSettings> m_pushSettings;
    std::unique_ptr<UiBridge> m_bridge;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    int m_trayColor = -1; // the StatusColor the tray icon shows
    // Last, so that QML goes before the objects it refers to.
    QQmlApplicationEngine m_engine;
};
