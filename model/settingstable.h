#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class DefaultsStore;
namespace PermissionHold {
struct Bound;
}
namespace NotificationPolicy {
struct Preferences;
}

// The user's settings that tolvo.ini keeps, one row each, read and written
// the same way whatever the setting. QML reaches every row as
// App.preferences.<key> (ui/preferences.h): a new setting is a row in
// settingstable.cpp and its control in QML.
namespace Settings {

struct Row
{
    QString key;              // in tolvo.ini, and the property's name in QML
    QVariant defaultValue;    // a bool, an int or a QString, which makes the row's type
    QStringList choices = {}; // what a text setting may hold; empty: any text
    int minimum = 0;          // what a number may hold, bounds included
    int maximum = 0;
};

// The keys that C++ reads.
inline const QString notifyOnPermissionRequired = QStringLiteral("notifyOnPermissionRequired");
inline const QString notifyOnTaskComplete = QStringLiteral("notifyOnTaskComplete");
inline const QString notifyOnIdle = QStringLiteral("notifyOnIdle");
inline const QString isPinnedToTop = QStringLiteral("isPinnedToTop");
// "auto" (compact once the rows do not fit), "comfortable" or "compact".
inline const QString rowDensity = QStringLiteral("rowDensity");
// Whether hook helpers wait for an answer to a permission request from
// Tolvo, and for at most how many minutes.
inline const QString holdPermissionRequests = QStringLiteral("holdPermissionRequests");
inline const QString holdMinutes = QStringLiteral("holdMinutes");
// Codex shows its own prompt only once the hook has returned: held, the
// request is answered in Tolvo and the terminal waits.
inline const QString holdCodexRequests = QStringLiteral("holdCodexRequests");
// Usage warnings, each a switch and its percent.
inline const QString warnPlanLimit = QStringLiteral("warnPlanLimit");
inline const QString planWarnPercent = QStringLiteral("planWarnPercent");
inline const QString planAlarmPercent = QStringLiteral("planAlarmPercent");
inline const QString warnContext = QStringLiteral("warnContext");
inline const QString contextWarnPercent = QStringLiteral("contextWarnPercent");
// Pushes to the phone through an ntfy server: the switch, the server's
// address and the topic (the token is in the keyring), and after how many
// minutes an unanswered permission request is pushed even at the desk.
inline const QString pushEnabled = QStringLiteral("pushEnabled");
inline const QString pushServer = QStringLiteral("pushServer");
inline const QString pushTopic = QStringLiteral("pushTopic");
inline const QString pushAfterMinutes = QStringLiteral("pushAfterMinutes");

// Quiet: no notice for the session in front of the user; "Completed" only
// after a turn of at least this many seconds; do not disturb until when
// (Quiet::untilOf).
inline const QString quietInFront = QStringLiteral("quietInFront");
inline const QString completedAfterSeconds = QStringLiteral("completedAfterSeconds");
inline const QString quietUntil = QStringLiteral("quietUntil");

const QList<Row> &table();
// nullptr for a key that is no row of them.
const Row *find(const QString &key, const QList<Row> &rows = table());

// The stored value as the row's type; the default when there is none, or
// when a text setting holds none of its choices. A switch reads as it always
// has: "true", "false", or what QVariant makes of a hand-typed value.
QVariant value(const DefaultsStore &store, const Row &row);
// Stores a value of the row's type that is one of its choices. Anything
// else: false, and the file keeps what it had.
bool setValue(DefaultsStore &store, const Row &row, const QVariant &value);

// The switches the notification policy decides by, as stored now.
NotificationPolicy::Preferences notificationPreferences(const DefaultsStore &store);

// How long a hook helper waits for an answer from Tolvo, and for which
// agents' requests; no seconds when holding is off for all.
PermissionHold::Bound hold(const DefaultsStore &store);
// The bound the user set, in minutes, whether holding is on or not.
int holdBoundMinutes(const DefaultsStore &store);

} // namespace Settings
