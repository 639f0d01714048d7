#pragma once

#include <QString>

class DefaultsStore;

// Preference keys of the three kinds of notification.
namespace NotificationKeys {
inline const QString permissionRequired = QStringLiteral("notifyOnPermissionRequired");
inline const QString taskComplete = QStringLiteral("notifyOnTaskComplete");
inline const QString idle = QStringLiteral("notifyOnIdle");
} // namespace NotificationKeys

// Places the defaults of the three preferences (on, on, off) in the store's
// registered-defaults layer; a value the user set always wins.
void registerNotificationDefaults(DefaultsStore &defaults);

// Desktop notification delivery, as the instance manager sees it. The desktop
// implementation lives in notify/; tests substitute their own.
class Notifier
{
public:
    virtual ~Notifier() = default;

    // Asks the platform whether notifications can be shown; the answer only
    // writes a console line.
    virtual void requestPermission() = 0;
    // Arranges for notifications to show while Tolvo is in front.
    virtual void installDelegate() = 0;
    // Returns at once; delivery happens a tenth of a second later.
    virtual void sendNotification(const QString &title, const QString &body,
                                  const QString &identifier) = 0;
};
