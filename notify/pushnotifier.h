#pragma once

#include "pushsender.h"
#include "pushtoken.h"
#include "sessionlistmodel.h"

#include <QHash>
#include <QObject>
#include <functional>

class DefaultsStore;
class QTimer;

// Reaches the user on the phone when the desk is left: every notice is
// offered here, and is pushed at once while the desktop is idle or locked.
// A permission request waiting for an answer is pushed, away or not, once it
// has waited the set minutes; one answered or ended before is not pushed.
// The token comes from the keyring the first time a push goes out.
class PushNotifier : public QObject
{
    Q_OBJECT
public:
    struct Config
    {
        bool enabled = false;
        QString server;
        QString topic;
        int afterMinutes = 3;
    };
    using ConfigSource = std::function<Config()>;
    // Asks whether the user is away; the answer comes later, on this thread.
    using AwayQuestion = std::function<void(std::function<void(bool away)>)>;
    using StillWaiting = std::function<bool(const QString &requestId)>;

    // The push settings as the store holds them now.
    static Config config(const DefaultsStore &store);
    // What a notice pushes: its title and body, the project path as the
    // last line; a permission request urgent.
    static Push pushOf(const SessionListModel::Notification &notification);

    // Settings from the store, the desktop's idle and lock state, the
    // keyring's token; `stillWaiting` tells whether a request still waits.
    PushNotifier(const DefaultsStore &store, StillWaiting stillWaiting, QObject *parent = nullptr);
    PushNotifier(ConfigSource config, AwayQuestion away, StillWaiting stillWaiting,
                 QObject *parent = nullptr);

    // Tests make a minute shorter.
    void setMinuteMs(int ms) { m_minuteMs = ms; }
    PushSender &sender() { return m_sender; }

    void offer(const SessionListModel::Notification &notification);
    // The request no longer waits: nothing is pushed for it any more.
    void cancel(const QString &requestId);
    int armedCount() const { return int(m_armed.size()); }

    // A push to the set server and topic, whether pushing is on or not.
    void sendTest();
    // Into the keyring; the pushes after it carry the new token.
    void saveToken(const QString &token);
    void removeToken();

Q_SIGNALS:
    void delivered(const QString &status);
    void failed(const QString &message);
    // `problem` empty when the keyring took it.
    void tokenSaved(const QString &problem);
    void tokenRemoved(const QString &problem);

private:
    void deliver(const Push &push);
    void fire(const QString &requestId);

    enum class TokenState { Unknown, Reading, Known };

    ConfigSource m_config;
    AwayQuestion m_away;
    StillWaiting m_stillWaiting;
    PushSender m_sender;
    PushToken m_token;
    TokenState m_tokenState = TokenState::Unknown;
    QString m_savingToken;
    QHash<QString, QTimer *> m_armed; // request id -> its timer
    QHash<QString, Push> m_armedPushes;
    int m_minuteMs = 60'000;
};
