#pragma once

#include "session.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>

class SessionListModel;
class NotificationSettingsLauncher;
class Preferences;
class ProjectNamesModel;
class QAbstractItemModel;

// What the QML windows see of the application: the session list, the
// settings models and the few actions that need the platform (clipboard,
// browser, window flags). One per run, handed to QML as the singleton `App`.
class UiBridge : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(App)
    QML_SINGLETON
    Q_PROPERTY(QAbstractItemModel *sessions READ sessions CONSTANT)
    Q_PROPERTY(ProjectNamesModel *projectNames READ projectNames CONSTANT)
    Q_PROPERTY(Preferences *preferences READ preferences CONSTANT)
    Q_PROPERTY(
        NotificationSettingsLauncher *notificationSettings READ notificationSettings CONSTANT)
    Q_PROPERTY(QObject *updater READ updater CONSTANT)
    Q_PROPERTY(QObject *remotes READ remotes CONSTANT)
    // Do not disturb and the server's pause (QuietState): "text", "doNotDisturb", choose().
    Q_PROPERTY(QObject *quiet READ quiet CONSTANT)
    Q_PROPERTY(QObject *push READ push CONSTANT)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString contentState READ contentState NOTIFY contentStateChanged)
    // One line above the list while hook events cannot arrive; empty otherwise.
    Q_PROPERTY(QString banner READ banner NOTIFY bannerChanged)
    // The row densities as stored: "auto", "comfortable", "compact".
    Q_PROPERTY(QStringList rowDensities READ rowDensities CONSTANT)

public:
    struct Parts
    {
        SessionListModel *sessions = nullptr;
        ProjectNamesModel *projectNames = nullptr;
        Preferences *preferences = nullptr;
        NotificationSettingsLauncher *notificationSettings = nullptr;
        QObject *updater = nullptr;
        QObject *remotes = nullptr;
        QObject *quiet = nullptr;
        QObject *push = nullptr; // PushSettings
    };
    explicit UiBridge(const Parts &parts, QObject *parent = nullptr);
    ~UiBridge() override;

    // The QML engine asks for the singleton here; the bridge must exist first.
    static UiBridge *create(QQmlEngine *engine, QJSEngine *);

    QAbstractItemModel *sessions() const;
    ProjectNamesModel *projectNames() const { return m_parts.projectNames; }
    Preferences *preferences() const { return m_parts.preferences; }
    NotificationSettingsLauncher *notificationSettings() const
    {
        return m_parts.notificationSettings;
    }
    QObject *updater() const { return m_parts.updater; }
    QObject *remotes() const { return m_parts.remotes; }
    QObject *quiet() const { return m_parts.quiet; }
    QObject *push() const { return m_parts.push; }
    QString version() const;

    // "welcome" before any event or session, "empty" once events came but no
    // session is listed, else "list".
    QString contentState() const;
    static QString contentState(bool hasReceivedFirstEvent, int sessionCount);

    // Fixed shades that read on light and on dark window backgrounds alike.
    Q_INVOKABLE static QColor statusColor(int color);
    static QColor statusColor(StatusColor color) { return statusColor(int(color)); }

    // The pin control: symbol and tooltip for the pinned state.
    Q_INVOKABLE static QString pinIcon(bool pinned);
    Q_INVOKABLE static QString pinToolTip(bool pinned);

    static QStringList rowDensities();
    // What the View menu and Settings call a density.
    Q_INVOKABLE static QString rowDensityLabel(const QString &density);
    // Whether the list shows compact rows: as chosen, or with "auto" when
    // `count` comfortable rows do not fit into `availableHeight` (not yet
    // known while zero or less).
    Q_INVOKABLE static bool compactRows(const QString &density, int count, qreal availableHeight,
                                        qreal comfortableRowHeight);

    Q_INVOKABLE void openUrl(const QString &url) const;

    // Keeps the first window with content above other windows, or not, as
    // the "isPinnedToTop" preference says.
    Q_INVOKABLE void applyPinPreference() const;

    // "New Window" is offered only while no Tolvo window is on screen; it
    // brings the main window back.
    Q_INVOKABLE bool newWindowEnabled() const;
    Q_INVOKABLE void newWindow();

    // Shows a session's row open and in view.
    void reveal(const QString &sessionId);
    // The row's "Go to Terminal" (button, or Return on the selected row).
    Q_INVOKABLE void goToTerminal(int row);
    // "allow", "always" or "deny" for the waiting request with this id.
    Q_INVOKABLE void answer(const QString &requestId, const QString &answer,
                            const QString &reason = {});
    // What Deny says when no reason is typed.
    Q_INVOKABLE static QString defaultDenyReason();

    QString banner() const;
    // Why events cannot arrive (the listener's problem), empty when they can.
    void setReceivingProblem(const QString &problem);

Q_SIGNALS:
    void contentStateChanged();
    void bannerChanged();
    // The application shows the main window on this.
    void mainWindowRequested();
    // The list scrolls this row into view.
    void revealRow(int row);
    // The application takes the user to this session's terminal.
    void goToTerminalRequested(const QString &sessionId);
    // The application answers the waiting request with this id.
    void answerRequested(const QString &requestId, const QString &answer, const QString &reason);

private:
    Parts m_parts;
    QString m_receivingProblem;
    static inline QPointer<UiBridge> s_instance;
};
