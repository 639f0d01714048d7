#pragma once

#include <QObject>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <functional>

// "Open System Settings…": starts the desktop's own notification settings.
// Only GNOME, KDE Plasma and Xfce have a known page; elsewhere the button is
// disabled and its tooltip says why.
class NotificationSettingsLauncher : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through App.notificationSettings.")
    Q_PROPERTY(bool available READ available CONSTANT)
    Q_PROPERTY(QString unavailableReason READ unavailableReason CONSTANT)

public:
    struct Command
    {
        QString program; // empty: nothing to start
        QStringList arguments;
        QString unavailableReason;

        bool operator==(const Command &) const = default;
    };

    // The program path for a name, empty when it is not installed.
    using ProgramFinder = std::function<QString(const QString &)>;

    // Reads XDG_CURRENT_DESKTOP and looks the program up on PATH.
    explicit NotificationSettingsLauncher(QObject *parent = nullptr);

    // `desktops` is XDG_CURRENT_DESKTOP: names separated by colons, most
    // specific first. The first known desktop whose program is installed wins.
    static Command commandFor(const QString &desktops, const ProgramFinder &findProgram);

    bool available() const { return !m_command.program.isEmpty(); }
    QString unavailableReason() const { return m_command.unavailableReason; }

    // Starts the settings program detached; false when that failed or there
    // is none.
    Q_INVOKABLE bool open();

private:
    Command m_command;
};
