#pragma once

#include "settingstable.h"

#include <QQmlPropertyMap>
#include <QtQml/qqmlregistration.h>

class DefaultsStore;

// The user's settings as QML sees them: one property for every row of the
// settings table, named by its key, read from and written straight to the
// defaults store, and told whenever the store changes. QML binds to
// App.preferences.<key> and assigns to it; a value the row cannot take is
// refused with a warning and the property keeps what it had.
class Preferences : public QQmlPropertyMap
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through App.preferences.")
    // Kept in the autostart entry rather than the store: the entry's presence
    // is the setting, whoever made or removed it.
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)

public:
    explicit Preferences(DefaultsStore &store, QObject *parent = nullptr);
    // Over other rows than the table's, for tests.
    Preferences(DefaultsStore &store, const QList<Settings::Row> &rows, QObject *parent = nullptr);

    bool startAtLogin() const;
    void setStartAtLogin(bool on);

    // <XDG_CONFIG_HOME or ~/.config>/autostart/<app id>.desktop
    static QString autostartPath();
    // The desktop entry that starts `program` (an absolute path) at login.
    static QString autostartEntry(const QString &program);

Q_SIGNALS:
    void startAtLoginChanged();

protected:
    QVariant updateValue(const QString &key, const QVariant &input) override;

private:
    DefaultsStore &m_store;
    QList<Settings::Row> m_rows;
};
