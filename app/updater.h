#pragma once

#include "appcast.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

class DefaultsStore;
class QNetworkAccessManager;
class QNetworkReply;

// Checks an appcast feed for a newer version of the application. It decides
// what to offer; showing the offer is the business of whoever listens to its
// signals. Main thread only.
//
// The feed address is the build option TOLVO_UPDATE_FEED_URL unless the
// defaults key "SUFeedURL" holds one. Background checks run while automatic
// checks are on and the last check ("SULastCheckTime") is older than the
// check interval. A background check never reports "nothing new" or a
// failure, and does not offer a version at or below the skipped one
// ("SUSkippedVersion"); a user-initiated check reports every outcome and
// offers a skipped version again.
class Updater : public QObject
{
    Q_OBJECT
public:
    explicit Updater(DefaultsStore &defaults, QObject *parent = nullptr);
    Updater(DefaultsStore &defaults, const QString &builtInFeedUrl, QObject *parent = nullptr);
    ~Updater() override;

    // The address compiled in with TOLVO_UPDATE_FEED_URL (may be empty).
    static QString compiledFeedUrl();
    // Why an address cannot serve as the feed; empty when it can.
    static QString feedUrlProblem(const QUrl &url);

    // The feed address: the "SUFeedURL" value, else the one built in; empty
    // when there is none, as in builds that distributions update.
    QString feedAddress() const;

    // Settles the feed address and starts scheduling. False, with the reason
    // in *error, when there is no usable feed address.
    bool start(QString *error);
    bool isStarted() const { return m_started; }
    QUrl feedUrl() const { return m_feedUrl; }
    QString runningVersion() const;

    void setAutomaticallyChecksForUpdates(bool on);
    // Seconds between background checks; other than positive finite values are ignored.
    void setUpdateCheckInterval(double seconds);

    QDateTime lastUpdateCheckDate() const;
    QString skippedVersion() const;
    void skipVersion(const QString &version);

    bool isChecking() const { return m_reply != nullptr; }

public Q_SLOTS:
    // A user-initiated check: every outcome is reported.
    void checkForUpdates();

Q_SIGNALS:
    void updateFound(const AppcastItem &item, bool userInitiated);
    void noUpdateFound();                   // user-initiated checks only
    void checkFailed(const QString &error); // user-initiated checks only
    void checkingChanged(bool checking);
    void checkFinished(); // after every check, background ones included

private:
    void scheduleNextCheck();
    void scheduledCheckDue();
    qint64 msUntilDue() const;
    void beginCheck(bool userInitiated);
    void replyFinished();

    DefaultsStore &m_defaults;
    QString m_builtInFeedUrl;
    QNetworkAccessManager *m_network;
    QTimer m_timer;
    QNetworkReply *m_reply = nullptr; // the check in flight
    QUrl m_feedUrl;
    QString m_startError;
    QString m_abortReason; // why we cut the current request off
    bool m_started = false;
    bool m_automatic = false;
    bool m_userInitiated = false;
    double m_interval = 86400.0;
};
