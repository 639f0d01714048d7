#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <optional>

// Whether the user is away from the desk: the screen saver runs
// (org.freedesktop.ScreenSaver on the session bus), or logind marks the
// session idle or locked (IdleHint, LockedHint on the system bus). Each
// question goes out afresh and asynchronously; a service that is missing or
// slow counts as "not away".
class AwayWatch : public QObject
{
    Q_OBJECT
public:
    struct Answers
    {
        std::optional<bool> screenSaverActive;
        std::optional<bool> idle;
        std::optional<bool> locked;
    };
    // Away when any source says so; no answer says nothing.
    static bool isAway(const Answers &answers);

    explicit AwayWatch(QObject *parent = nullptr);
    // Tests pass private buses.
    AwayWatch(const QDBusConnection &sessionBus, const QDBusConnection &systemBus,
              QObject *parent = nullptr);

    // `done` runs on this thread within about a second; never before ask returns.
    void ask(std::function<void(bool away)> done);

private:
    QDBusConnection m_session;
    QDBusConnection m_system;
};
