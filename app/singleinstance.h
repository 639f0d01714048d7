#pragma once

#include <QDBusConnection>
#include <QString>

// One Tolvo per user: a second listener on ~/.tolvo/events would replace the
// first one's pipe and silently take its events. Two guards decide who runs:
//
// - the session-bus name com.tolvo.Tolvo, so that a second launch in the same
//   session hands over to the running Tolvo (Activate) and leaves quietly;
// - an flock on ~/.tolvo/tolvo.lock, which also holds where there is no
//   session bus, or where two sessions of the same user have different buses.
//
// Both are claimed before anything touches the event pipe, and are held until
// the object goes away (the lock's descriptor is closed on exec).
class SingleInstance
{
public:
    enum class Outcome {
        // This process is the one Tolvo: it holds the name (if there is a bus) and the lock.
        First,
        // Another Tolvo in this session has been asked to show itself.
        HandedOver,
        // Another Tolvo holds the lock; message() says why this one stops.
        Refused,
    };

    static inline const QString serviceName = QStringLiteral("com.tolvo.Tolvo");
    static inline const QString objectPath = QStringLiteral("/com/tolvo/Tolvo");

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // `lockPath` is ~/.tolvo/tolvo.lock in the application; its directory is
    // made if missing.
    Outcome claim(const QDBusConnection &bus, const QString &lockPath);
    Outcome claim();

    // One line for standard error after HandedOver or Refused; may be empty.
    QString message() const { return m_message; }

    static QString defaultLockPath();

private:
    bool takeLock(const QString &lockPath);

    int m_lockFd = -1;
    QDBusConnection m_bus{QString()};
    bool m_ownsName = false;
    QString m_message;
};
