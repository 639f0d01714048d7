#pragma once

#include "updater.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <optional>

// Owns the updater, starts the updater with daily automatic
// checks, and holds what the update dialog shows. The dialog itself lives in
// QML: it binds to the properties below, opens when `state` leaves Idle and
// answers through the invokables. Opening addresses in the browser is left to
// the application (downloadRequested, releaseNotesRequested), which keeps this
// library free of GUI code. Main thread only.
class UpdaterController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    // Whether this build checks for updates at all: "Check for Updates..." is
    // offered only then.
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
    Q_PROPERTY(bool checking READ isChecking NOTIFY checkingChanged)
    Q_PROPERTY(QString title READ title NOTIFY stateChanged)
    Q_PROPERTY(QString message READ message NOTIFY stateChanged)
    Q_PROPERTY(QString offeredVersion READ offeredVersion NOTIFY stateChanged)
    Q_PROPERTY(QString offeredBuildVersion READ offeredBuildVersion NOTIFY stateChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(QUrl releaseNotesUrl READ releaseNotesUrl NOTIFY stateChanged)
    Q_PROPERTY(QUrl downloadUrl READ downloadUrl NOTIFY stateChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY stateChanged)

public:
    // What the dialog shows. UpToDate and CheckFailed come only from checks
    // the user asked for.
    enum class State { Idle, UpdateAvailable, UpToDate, CheckFailed };
    Q_ENUM(State)

    explicit UpdaterController(DefaultsStore &defaults, QObject *parent = nullptr);
    // builtInFeedUrl stands in for the compiled-in feed address.
    UpdaterController(DefaultsStore &defaults, const QString &builtInFeedUrl,
                      QObject *parent = nullptr);

    Updater &updater() { return m_updater; }

    bool isAvailable() const { return !m_updater.feedAddress().isEmpty(); }
    State state() const { return m_state; }
    bool isChecking() const { return m_updater.isChecking(); }
    QString title() const;
    QString message() const;
    QString offeredVersion() const;
    QString offeredBuildVersion() const;
    QString currentVersion() const { return m_updater.runningVersion(); }
    QUrl releaseNotesUrl() const;
    QUrl downloadUrl() const;
    QString errorText() const { return m_error; }

    // "Tolvo 0.2.0 is now available — you have 0.1.0." The build version is
    // added when the shown versions alone would look the same.
    static QString availableMessage(const QString &offeredDisplay, const QString &offeredBuild,
                                    const QString &running);

    // The "Check for Updates..." command.
    Q_INVOKABLE void checkForUpdates();
    // "Download": asks for the offered download address to be opened, and closes the offer.
    Q_INVOKABLE void download();
    // The release notes link: asks for it to be opened; the offer stays.
    Q_INVOKABLE void showReleaseNotes();
    // "Remind Me Later": closes the offer; the next scheduled check offers it again.
    Q_INVOKABLE void remindLater();
    // "Skip This Version": background checks stop offering this version (and
    // older ones); a check the user asks for still offers it.
    Q_INVOKABLE void skipThisVersion();
    // Closes whatever the dialog shows (for an offer, the same as remindLater).
    Q_INVOKABLE void dismiss();

Q_SIGNALS:
    void stateChanged();
    void checkingChanged();
    void updateAvailable();
    void upToDate();
    void checkFailed(const QString &error);
    // The application opens these addresses in the browser.
    void downloadRequested(const QUrl &url);
    void releaseNotesRequested(const QUrl &url);

private:
    void setState(State state);

    Updater m_updater;
    State m_state = State::Idle;
    std::optional<AppcastItem> m_offered;
    QString m_error;
};
