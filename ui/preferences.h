#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class DefaultsStore;

// The user's switches, read from and written straight to the defaults store.
// The notification defaults (on, on, off) come from the store's registered
// layer, set up by registerNotificationDefaults, so they are written down once.
class Preferences : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through App.preferences.")
    Q_PROPERTY(bool notifyOnPermissionRequired READ notifyOnPermissionRequired WRITE
                   setNotifyOnPermissionRequired NOTIFY notifyOnPermissionRequiredChanged)
    Q_PROPERTY(bool notifyOnTaskComplete READ notifyOnTaskComplete WRITE setNotifyOnTaskComplete
                   NOTIFY notifyOnTaskCompleteChanged)
    Q_PROPERTY(bool notifyOnIdle READ notifyOnIdle WRITE setNotifyOnIdle NOTIFY notifyOnIdleChanged)
    Q_PROPERTY(
        bool isPinnedToTop READ isPinnedToTop WRITE setIsPinnedToTop NOTIFY isPinnedToTopChanged)
    // Kept in the autostart entry rather than the store: the entry's presence
    // is the setting, whoever made or removed it.
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)
    // "auto", "comfortable" or "compact"; anything else in the file reads as "auto".
    Q_PROPERTY(QString rowDensity READ rowDensity WRITE setRowDensity NOTIFY rowDensityChanged)

public:
    static inline const QString isPinnedToTopKey = QStringLiteral("isPinnedToTop");
    static inline const QString rowDensityKey = QStringLiteral("rowDensity");

    explicit Preferences(DefaultsStore &store, QObject *parent = nullptr);

    bool notifyOnPermissionRequired() const;
    void setNotifyOnPermissionRequired(bool on);
    bool notifyOnTaskComplete() const;
    void setNotifyOnTaskComplete(bool on);
    bool notifyOnIdle() const;
    void setNotifyOnIdle(bool on);
    bool isPinnedToTop() const;
    void setIsPinnedToTop(bool pinned);
    bool startAtLogin() const;
    void setStartAtLogin(bool on);
    QString rowDensity() const;
    void setRowDensity(const QString &density);

    // <XDG_CONFIG_HOME or ~/.config>/autostart/<app id>.desktop
    static QString autostartPath();
    // The desktop entry that starts `program` (an absolute path) at login.
    static QString autostartEntry(const QString &program);

Q_SIGNALS:
    void notifyOnPermissionRequiredChanged();
    void notifyOnTaskCompleteChanged();
    void notifyOnIdleChanged();
    void isPinnedToTopChanged();
    void startAtLoginChanged();
    void rowDensityChanged();

private:
    void valueChanged(const QString &key);

    DefaultsStore &m_store;
};
