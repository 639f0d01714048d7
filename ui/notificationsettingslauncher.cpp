#include "notificationsettingslauncher.h"

#include <QProcess>
#include <QStandardPaths>
#include <optional>

namespace {

struct DesktopSettings
{
    QStringView desktop;     // as XDG_CURRENT_DESKTOP names it
    QStringView displayName; // as the user knows it
    QStringView program;
    QStringView argument;
};

constexpr DesktopSettings knownDesktops[] = {
    {u"GNOME", u"GNOME", u"gnome-control-center", u"notifications"},
    {u"Unity", u"GNOME", u"gnome-control-center", u"notifications"},
    {u"KDE", u"KDE Plasma", u"systemsettings", u"kcm_notifications"},
    {u"XFCE", u"Xfce", u"xfce4-notifyd-config", u""},
};

} // namespace

NotificationSettingsLauncher::NotificationSettingsLauncher(QObject *parent)
    : QObject(parent),
      m_command(commandFor(qEnvironmentVariable("XDG_CURRENT_DESKTOP"), [](const QString &name) {
          return QStandardPaths::findExecutable(name);
      }))
{}

NotificationSettingsLauncher::Command
NotificationSettingsLauncher::commandFor(const QString &desktops, const ProgramFinder &findProgram)
{
    std::optional<Command> missing;
    for (const QString &name : desktops.split(u':', Qt::SkipEmptyParts)) {
        for (const DesktopSettings &known : knownDesktops) {
            if (name.compare(known.desktop, Qt::CaseInsensitive) != 0)
                continue;
            const QString program = known.program.toString();
            const QString path = findProgram(program);
            if (!path.isEmpty()) {
                QStringList arguments;
                if (!known.argument.isEmpty())
                    arguments.append(known.argument.toString());
                return {path, arguments, QString()};
            }
            if (!missing) {
                missing = Command{QString(),
                                  {},
                                  QStringLiteral("The %1 notification settings cannot be opened "
                                                 "because %2 is not installed.")
                                      .arg(known.displayName, program)};
            }
        }
    }
    if (missing)
        return *missing;
    if (desktops.trimmed().isEmpty()) {
        return {QString(),
                {},
                QStringLiteral("Tolvo cannot tell which desktop this is, so it does not know "
                               "where its notification settings are.")};
    }
    return {QString(),
            {},
            QStringLiteral("Tolvo can open the notification settings of GNOME, KDE Plasma and "
                           "Xfce only; use your desktop's own settings instead.")};
}

bool NotificationSettingsLauncher::open()
{
    if (!available())
        return false;
    return QProcess::startDetached(m_command.program, m_command.arguments);
}
